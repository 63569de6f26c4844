#include "client/settings_document.h"

#include <algorithm>
#include <ctime>

#include "client/commands.h"
#include "protocol/protocol.h"

namespace ifc_client {

namespace {

namespace cmd = commands;

constexpr value_range colour_limits{protocol::first_colour, protocol::last_colour};

// The range of every key of a line, as the typed writes check them.
std::optional<setting> setting_of(section s) {
    switch (s) {
        case section::status:
            return setting::status;
        case section::selection:
            return setting::selection;
        case section::targets:
            return setting::targets;
        case section::valves:
            return setting::valves;
        case section::histogram_selection:
            break;
    }
    return std::nullopt;
}

std::string quoted_list(std::span<const std::string_view> words) {
    return join(words, ", ");
}

// The problems of one token line: every key of the section exactly once and in order, each
// value inside its range.
void check_line(std::vector<std::string>& problems, section s, std::size_t block,
                const token_line& line) {
    const auto keys = keys_of(s);
    const std::string where = value_path(s, block, "");
    const std::string line_path = where.substr(0, where.size() - 1);  // without the dot
    if (line.size() != keys.size() ||
        !std::equal(line.begin(), line.end(), keys.begin(), keys.end(),
                    [](const token& t, std::string_view key) { return t.key == key; })) {
        problems.push_back(line_path + ": not the keys " + quoted_list(keys) + " in this order");
        return;
    }
    for (const token& t : line) {
        const auto range = document_range(s, t.key);
        if (range && !range->contains(t.value)) {
            problems.push_back(value_path(s, block, t.key) + ": " + std::to_string(t.value) +
                               " is outside " + describe(*range));
        }
    }
}

void check_side(std::vector<std::string>& problems, std::string_view side, const side_choice& c) {
    const std::string base = "histogram_selection." + std::string(side);
    if (!colour_limits.contains(c.colour)) {
        problems.push_back(base + "_colour: " + std::to_string(c.colour) + " is outside " +
                           describe(colour_limits));
    }
    const auto& items = cmd::histogram_items;
    if (std::find(items.begin(), items.end(), c.item) == items.end()) {
        problems.push_back(base + "_item: \"" + c.item + "\" is not a histogram item (" +
                           quoted_list(items) + ")");
    }
}

}  // namespace

std::string_view section_name(section s) {
    switch (s) {
        case section::status:
            return "status";
        case section::selection:
            return "selection";
        case section::targets:
            return "targets";
        case section::valves:
            return "valves";
        case section::histogram_selection:
            return "histogram_selection";
    }
    return "";
}

std::string_view section_word(section s) {
    return s == section::histogram_selection ? "histogram-selection" : section_name(s);
}

std::optional<section> section_of_word(std::string_view word) {
    for (section s : all_sections) {
        if (section_word(s) == word) return s;
    }
    return std::nullopt;
}

bool per_colour(section s) {
    return s == section::targets || s == section::valves;
}

std::span<const std::string_view> keys_of(section s) {
    switch (s) {
        case section::status:
            return cmd::status_keys;
        case section::selection:
            return cmd::selection_keys;
        case section::targets:
            return cmd::target_keys;
        case section::valves:
            return cmd::valve_keys;
        case section::histogram_selection:
            return histogram_selection_keys;
    }
    return {};
}

const colour_settings* settings_document::colour(int n) const {
    for (const colour_settings& c : colours) {
        if (c.colour == n) return &c;
    }
    return nullptr;
}

colour_settings& settings_document::colour_block(int n) {
    auto place = std::find_if(colours.begin(), colours.end(),
                              [n](const colour_settings& c) { return c.colour >= n; });
    if (place != colours.end() && place->colour == n) return *place;
    return *colours.insert(place, colour_settings{n, std::nullopt, std::nullopt});
}

const token_line* settings_document::line(section s, int n) const {
    const std::optional<token_line>* found = nullptr;
    switch (s) {
        case section::status:
            found = &status;
            break;
        case section::selection:
            found = &selection;
            break;
        case section::targets:
        case section::valves: {
            const colour_settings* block = colour(n);
            if (block == nullptr) return nullptr;
            found = s == section::targets ? &block->targets : &block->valves;
            break;
        }
        case section::histogram_selection:
            return nullptr;
    }
    return found != nullptr && found->has_value() ? &found->value() : nullptr;
}

bool document_scope::covers(section s) const {
    return sections.empty() || std::find(sections.begin(), sections.end(), s) != sections.end();
}

bool document_scope::covers_colour(int colour) const {
    return colours.empty() || std::find(colours.begin(), colours.end(), colour) != colours.end();
}

result<document_scope> parse_scope(std::string_view sections, std::string_view colours) {
    // Comma-separated items, none of them empty.
    const auto items = [](std::string_view text) {
        std::vector<std::string_view> list;
        if (text.empty()) return list;
        std::size_t pos = 0;
        for (;;) {
            const std::size_t comma = text.find(',', pos);
            list.push_back(text.substr(pos, comma - pos));
            if (comma == std::string_view::npos) break;
            pos = comma + 1;
        }
        return list;
    };
    std::vector<std::string_view> words;
    for (section s : all_sections)
        words.push_back(section_word(s));
    document_scope scope;
    for (std::string_view word : items(sections)) {
        const auto s = section_of_word(word);
        if (!s) {
            return error{errc::bad_request, "unknown section '" + std::string(word) +
                                                "' (sections: " + join(words) + ")"};
        }
        if (std::find(scope.sections.begin(), scope.sections.end(), *s) == scope.sections.end())
            scope.sections.push_back(*s);
    }
    for (std::string_view word : items(colours)) {
        const auto n = parse_int32(word);
        if (!n) {
            return error{errc::bad_request, "'" + std::string(word) + "' is not a weft colour " +
                                                cmd::colour_range_text()};
        }
        if (!cmd::is_colour(*n)) return cmd::not_a_colour(*n);
        if (std::find(scope.colours.begin(), scope.colours.end(), *n) == scope.colours.end())
            scope.colours.push_back(*n);
    }
    return scope;
}

std::optional<value_range> document_range(section s, std::string_view key) {
    if (s == section::histogram_selection) {
        if (key == histogram_selection_keys[0] || key == histogram_selection_keys[2]) {
            return colour_limits;
        }
        return std::nullopt;
    }
    return range_of(*setting_of(s), key);
}

std::vector<std::string> check_document(const settings_document& doc) {
    std::vector<std::string> problems;
    if (doc.status) check_line(problems, section::status, 0, *doc.status);
    if (doc.selection) check_line(problems, section::selection, 0, *doc.selection);
    int previous = 0;
    for (std::size_t i = 0; i < doc.colours.size(); ++i) {
        const colour_settings& block = doc.colours[i];
        const std::string path = "colours[" + std::to_string(i) + "].colour: ";
        if (!cmd::is_colour(block.colour)) {
            problems.push_back(path + std::to_string(block.colour) + " is outside " +
                               describe(colour_limits));
        } else if (block.colour <= previous) {
            problems.push_back(path + std::to_string(block.colour) + " comes after colour " +
                               std::to_string(previous) +
                               " (one block per colour, in ascending order)");
        }
        previous = std::max(previous, block.colour);
        if (block.targets) check_line(problems, section::targets, i, *block.targets);
        if (block.valves) check_line(problems, section::valves, i, *block.valves);
    }
    if (doc.histogram_selection) {
        check_side(problems, "left", doc.histogram_selection->left);
        check_side(problems, "right", doc.histogram_selection->right);
    }
    return problems;
}

std::string value_path(section s, std::size_t block_index, std::string_view key) {
    std::string path = per_colour(s) ? "colours[" + std::to_string(block_index) + "]." : "";
    path += std::string(section_name(s)) + ".";
    return path + std::string(key);
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

}  // namespace ifc_client
