#include "client/document_diff.h"

#include "client/commands.h"

namespace ifc_client {

namespace {

using value_list = std::vector<std::pair<std::string, setting_value>>;

void diff_section(std::vector<difference>& out, const settings_document& a,
                  const settings_document& b, section s, int colour) {
    const auto old_values = values_of(a, s, colour);
    const auto new_values = values_of(b, s, colour);
    if (!old_values && !new_values) return;
    if (!old_values || !new_values) {
        const auto side = old_values ? document_side::first : document_side::second;
        out.push_back(difference{s, colour, "", std::nullopt, std::nullopt, side});
        return;
    }
    for (std::size_t i = 0; i < old_values->size() && i < new_values->size(); ++i) {
        const auto& [key, was] = (*old_values)[i];
        const setting_value& is = (*new_values)[i].second;
        if (was != is) out.push_back(difference{s, colour, key, was, is, std::nullopt});
    }
}

}  // namespace

std::string value_text(const setting_value& value) {
    if (const auto* n = std::get_if<std::int32_t>(&value)) return std::to_string(*n);
    return std::get<std::string>(value);
}

std::optional<value_list> values_of(const settings_document& doc, section s, int colour) {
    value_list values;
    if (s == section::histogram_selection) {
        if (!doc.histogram_selection) return std::nullopt;
        const histogram_choice& c = *doc.histogram_selection;
        const std::array<setting_value, 4> items{c.left.colour, c.left.item, c.right.colour,
                                                 c.right.item};
        for (std::size_t k = 0; k < items.size(); ++k)
            values.emplace_back(std::string(histogram_selection_keys[k]), items[k]);
        return values;
    }
    const token_line* line = doc.line(s, colour);
    if (line == nullptr) return std::nullopt;
    for (const token& t : *line)
        values.emplace_back(t.key, t.value);
    return values;
}

std::vector<difference> diff_documents(const settings_document& a, const settings_document& b,
                                       const document_scope& scope) {
    std::vector<difference> out;
    for (section s : {section::status, section::selection}) {
        if (scope.covers(s)) diff_section(out, a, b, s, 0);
    }
    for (int colour = commands::first_colour; colour <= commands::last_colour; ++colour) {
        if (!scope.covers_colour(colour)) continue;
        for (section s : {section::targets, section::valves}) {
            if (scope.covers(s)) diff_section(out, a, b, s, colour);
        }
    }
    if (scope.covers(section::histogram_selection)) {
        diff_section(out, a, b, section::histogram_selection, 0);
    }
    return out;
}

std::string describe(const difference& d, std::string_view a_name, std::string_view b_name) {
    std::string where;
    switch (d.where) {
        case section::status:
        case section::selection:
            where = section_name(d.where);
            break;
        case section::targets:
        case section::valves:
            where = "colour " + std::to_string(d.colour);
            break;
        case section::histogram_selection:
            where = "histogram";
            break;
    }
    if (d.key.empty()) {
        // A whole section: name it after the place unless that already says it.
        const std::string what = per_colour(d.where) ? "  " + std::string(section_name(d.where))
                                 : d.where == section::histogram_selection ? "  selection"
                                                                           : "";
        return where + what + "  only in " +
               std::string(d.only_in == document_side::second ? b_name : a_name);
    }
    const auto text = [](const std::optional<setting_value>& v) {
        return v ? value_text(*v) : std::string("-");
    };
    return where + "  " + d.key + "  " + text(d.old_value) + " -> " + text(d.new_value);
}

}  // namespace ifc_client
