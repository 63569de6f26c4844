#include "client/document_json.h"

#include <nlohmann/json.hpp>
#include <set>

#include "client/commands.h"
#include "tools/suggest.h"

namespace ifc_client {

namespace {

using json = nlohmann::json;

// No document nests deeper than a colour block's line: root, colours, block, line.
constexpr std::size_t deepest_nesting = 8;

// The members a document may have, in the order the writer writes them.
constexpr std::array<std::string_view, 10> document_members{
    "format",     "name",   "note",      "source",  "taken_at",
    "written_by", "status", "selection", "colours", "histogram_selection"};
constexpr std::array<std::string_view, 2> format_members{"name", "version"};
constexpr std::array<std::string_view, 3> source_members{"controller", "address", "files"};
constexpr std::array<std::string_view, 2> written_by_members{"program", "version"};
constexpr std::array<std::string_view, 3> colour_members{"colour", "targets", "valves"};

// Walks the text once before it is read: the parser keeps the last of two equal keys without a
// word, and a document must not say two things of one value. Tracks the path of every value.
class duplicate_check : public nlohmann::json_sax<json> {
  public:
    std::string problem;

    bool null() override { return element(); }
    bool boolean(bool) override { return element(); }
    bool number_integer(number_integer_t) override { return element(); }
    bool number_unsigned(number_unsigned_t) override { return element(); }
    bool number_float(number_float_t, const string_t&) override { return element(); }
    bool string(string_t&) override { return element(); }
    bool binary(binary_t&) override { return element(); }
    bool start_object(std::size_t) override { return open(false); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        frame& top = frames_.back();
        if (!top.keys.insert(name).second) {
            problem = (top.path.empty() ? "" : top.path + ": ") + "the key \"" + name +
                      "\" is given twice";
            return false;
        }
        top.key = name;
        return true;
    }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& failure) override {
        // "[json.exception.parse_error.101] parse error at line 3, ...": the part for people.
        std::string what = failure.what();
        if (const std::size_t end = what.find("] "); end != std::string::npos) {
            what = what.substr(end + 2);
        }
        problem = "not JSON: " + what;
        return false;
    }

  private:
    struct frame {
        bool array = false;
        std::string path;
        std::set<std::string> keys;
        std::string key;
        std::size_t index = 0;
    };

    // The path of the value that starts now.
    std::string next_path() {
        if (frames_.empty()) return "";
        frame& top = frames_.back();
        if (top.array) return top.path + "[" + std::to_string(top.index++) + "]";
        return top.path.empty() ? top.key : top.path + "." + top.key;
    }
    bool element() {
        next_path();
        return true;
    }
    bool open(bool array) {
        std::string path = next_path();
        if (frames_.size() >= deepest_nesting) {
            problem = path + ": nested deeper than any settings document";
            return false;
        }
        frames_.push_back(frame{array, std::move(path), {}, {}, 0});
        return true;
    }
    bool close() {
        frames_.pop_back();
        return true;
    }

    std::vector<frame> frames_;
};

std::string joined_path(const std::string& base, std::string_view member) {
    return base.empty() ? std::string(member) : base + "." + std::string(member);
}

// The JSON value as people read it in a message, shortened.
std::string shown(const json& value) {
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

// Collects the problems of one document while it is read.
class reader {
  public:
    std::vector<std::string> problems;

    void fail(const std::string& path, const std::string& what) {
        problems.push_back(path.empty() ? what : path + ": " + what);
    }

    // Members of object that are not in known, each named with the likely intent.
    void refuse_unknown(const json& object, const std::string& path,
                        std::span<const std::string_view> known) {
        for (const auto& [name, value] : object.items()) {
            if (std::find(known.begin(), known.end(), name) != known.end()) continue;
            fail(joined_path(path, name), "unknown key" + ifc_tool::did_you_mean(name, known));
        }
    }

    bool is_object(const json& value, const std::string& path) {
        if (value.is_object()) return true;
        fail(path, shown(value) + " is not an object");
        return false;
    }

    std::optional<std::string> text(const json& value, const std::string& path) {
        if (value.is_string()) return value.get<std::string>();
        fail(path, shown(value) + " is not a text");
        return std::nullopt;
    }

    // A whole number inside int32; one beyond it is named with range, the key's range when it
    // has one.
    std::optional<std::int32_t> number(const json& value, const std::string& path,
                                       std::optional<value_range> range = std::nullopt) {
        if (!value.is_number_integer()) {
            fail(path, shown(value) +
                           (value.is_number() ? " is not a whole number" : " is not a number"));
            return std::nullopt;
        }
        const bool fits = value.is_number_unsigned() ? value.get<std::uint64_t>() <= INT32_MAX
                                                     : value.get<std::int64_t>() >= INT32_MIN &&
                                                           value.get<std::int64_t>() <= INT32_MAX;
        if (!fits) {
            fail(path, shown(value) + " is outside " +
                           (range ? describe(*range) : std::string("the range of whole numbers")));
            return std::nullopt;
        }
        return static_cast<std::int32_t>(value.get<std::int64_t>());
    }

    // A line: exactly the keys of the section, each a whole number (check_document then checks
    // the ranges).
    std::optional<token_line> line(const json& value, const std::string& path, section s) {
        if (!is_object(value, path)) return std::nullopt;
        const auto keys = keys_of(s);
        refuse_unknown(value, path, keys);
        token_line items;
        bool whole = true;
        for (std::string_view key : keys) {
            const auto found = value.find(std::string(key));
            if (found == value.end()) {
                fail(path, "the key \"" + std::string(key) + "\" is missing");
                whole = false;
                continue;
            }
            const auto n = number(*found, joined_path(path, key), document_range(s, key));
            if (!n) {
                whole = false;
                continue;
            }
            items.push_back(token{std::string(key), *n});
        }
        if (!whole) return std::nullopt;
        return items;
    }

    void format(const json& root) {
        const auto found = root.find("format");
        if (found == root.end()) {
            fail("", "not a settings document: it has no \"format\" member");
            return;
        }
        if (!is_object(*found, "format")) return;
        refuse_unknown(*found, "format", format_members);
        const auto name = found->find("name");
        const auto version = found->find("version");
        if (name == found->end() || version == found->end()) {
            fail("format", "needs \"name\" and \"version\"");
            return;
        }
        if (!name->is_string() || name->get<std::string>() != document_format_name) {
            fail("format.name", shown(*name) + " is not " + std::string(document_format_name) +
                                    ": not a settings document");
            return;
        }
        const auto n = number(*version, "format.version");
        if (!n) return;
        if (*n > document_format_version) {
            fail("format.version", std::to_string(*n) +
                                       " is newer than this program reads: it reads version " +
                                       std::to_string(document_format_version) +
                                       " (a newer program wrote the document)");
        } else if (*n < 1) {
            fail("format.version", std::to_string(*n) + " is no version of the format");
        }
    }
};

void read_source(reader& r, const json& value, settings_document& doc) {
    if (!r.is_object(value, "source")) return;
    r.refuse_unknown(value, "source", source_members);
    if (const auto c = value.find("controller"); c != value.end()) {
        doc.source.controller = r.text(*c, "source.controller").value_or("");
    }
    if (const auto a = value.find("address"); a != value.end()) {
        doc.source.address = r.text(*a, "source.address").value_or("");
    }
    if (const auto f = value.find("files"); f != value.end()) {
        if (!f->is_array()) {
            r.fail("source.files", shown(*f) + " is not a list of file names");
            return;
        }
        for (std::size_t i = 0; i < f->size(); ++i) {
            if (auto name = r.text((*f)[i], "source.files[" + std::to_string(i) + "]")) {
                doc.source.files.push_back(std::move(*name));
            }
        }
    }
}

void read_written_by(reader& r, const json& value, settings_document& doc) {
    if (!r.is_object(value, "written_by")) return;
    r.refuse_unknown(value, "written_by", written_by_members);
    if (const auto p = value.find("program"); p != value.end()) {
        doc.program = r.text(*p, "written_by.program").value_or("");
    }
    if (const auto v = value.find("version"); v != value.end()) {
        doc.program_version = r.text(*v, "written_by.version").value_or("");
    }
}

// "2026-12-10T08:15:00Z"
bool looks_like_utc_time(std::string_view text) {
    constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
    }
    return true;
}

void read_colours(reader& r, const json& value, settings_document& doc) {
    if (!value.is_array()) {
        r.fail("colours", shown(value) + " is not a list of colour blocks");
        return;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::string path = "colours[" + std::to_string(i) + "]";
        const json& block = value[i];
        if (!r.is_object(block, path)) continue;
        r.refuse_unknown(block, path, colour_members);
        const auto number = block.find("colour");
        if (number == block.end()) {
            r.fail(path, "the key \"colour\" is missing");
            continue;
        }
        const auto colour = r.number(*number, path + ".colour");
        if (!colour) continue;
        // Kept in document order, whatever the numbers: check_document names a block out of
        // order or outside 1..6 by its place.
        colour_settings settings{*colour, std::nullopt, std::nullopt};
        if (const auto t = block.find("targets"); t != block.end()) {
            settings.targets = r.line(*t, path + ".targets", section::targets);
        }
        if (const auto v = block.find("valves"); v != block.end()) {
            settings.valves = r.line(*v, path + ".valves", section::valves);
        }
        doc.colours.push_back(std::move(settings));
    }
}

void read_histogram_selection(reader& r, const json& value, settings_document& doc) {
    const std::string path(section_name(section::histogram_selection));
    if (!r.is_object(value, path)) return;
    r.refuse_unknown(value, path, histogram_selection_keys);
    histogram_choice choice;
    bool whole = true;
    for (std::size_t k = 0; k < histogram_selection_keys.size(); ++k) {
        const std::string key(histogram_selection_keys[k]);
        side_choice& side = k < 2 ? choice.left : choice.right;
        const auto found = value.find(key);
        if (found == value.end()) {
            r.fail(path, "the key \"" + key + "\" is missing");
            whole = false;
        } else if (k % 2 == 0) {
            const auto n = r.number(*found, path + "." + key,
                                    document_range(section::histogram_selection, key));
            whole = whole && n.has_value();
            side.colour = n.value_or(0);
        } else {
            const auto item = r.text(*found, path + "." + key);
            whole = whole && item.has_value();
            side.item = item.value_or("");
        }
    }
    if (whole) doc.histogram_selection = std::move(choice);
}

settings_document read_document_json(reader& r, const json& root) {
    settings_document doc;
    r.refuse_unknown(root, "", document_members);
    const auto text_member = [&](const char* name, std::string& into) {
        if (const auto m = root.find(name); m != root.end()) into = r.text(*m, name).value_or("");
    };
    text_member("name", doc.name);
    text_member("note", doc.note);
    text_member("taken_at", doc.taken_at);
    if (!doc.taken_at.empty() && !looks_like_utc_time(doc.taken_at)) {
        r.fail("taken_at", "\"" + doc.taken_at + "\" is not a UTC time like 2026-12-10T08:15:00Z");
    }
    if (const auto m = root.find("source"); m != root.end()) read_source(r, *m, doc);
    if (const auto m = root.find("written_by"); m != root.end()) read_written_by(r, *m, doc);
    if (const auto m = root.find("status"); m != root.end()) {
        doc.status = r.line(*m, "status", section::status);
    }
    if (const auto m = root.find("selection"); m != root.end()) {
        doc.selection = r.line(*m, "selection", section::selection);
    }
    if (const auto m = root.find("colours"); m != root.end()) read_colours(r, *m, doc);
    if (const auto m = root.find("histogram_selection"); m != root.end()) {
        read_histogram_selection(r, *m, doc);
    }
    return doc;
}

// --- the writer ---

std::string json_text(std::string_view text) {
    return json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string member(std::string_view key, const std::string& value_text) {
    return json_text(key) + ": " + value_text;
}

// The items of a line on one row: "\"to\": 90, \"tw\": 240".
std::string items_text(std::span<const token> items) {
    std::string text;
    for (const token& t : items) {
        if (!text.empty()) text += ", ";
        text += member(t.key, std::to_string(t.value));
    }
    return text;
}

// A line in rows: a new row starts where starts_row says so.
template <class StartsRow>
std::string rows_text(const token_line& line, const std::string& indent, StartsRow starts_row) {
    std::string text = "{\n";
    std::vector<token> row;
    const auto flush = [&](bool last) {
        text += indent + "  " + items_text(row) + (last ? "\n" : ",\n");
        row.clear();
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (!row.empty() && starts_row(i)) flush(false);
        row.push_back(line[i]);
    }
    if (!row.empty()) flush(true);
    return text + indent + "}";
}

// The selection in the rows of the records behind it: the devices, then six sub nozzles a row.
bool selection_row_starts(std::size_t index) {
    return index == 5 || (index > 5 && (index - 5) % 6 == 0);
}

// One row per valve: its on and off angle.
std::string valves_text(const token_line& line, const std::string& indent) {
    return rows_text(line, indent, [&](std::size_t i) {
        const auto valve = [](std::string_view key) { return key.substr(0, key.rfind('_')); };
        return valve(line[i].key) != valve(line[i - 1].key);
    });
}

std::string histogram_text(const histogram_choice& c) {
    return "{" + member("left_colour", std::to_string(c.left.colour)) + ", " +
           member("left_item", json_text(c.left.item)) + ", " +
           member("right_colour", std::to_string(c.right.colour)) + ", " +
           member("right_item", json_text(c.right.item)) + "}";
}

std::string source_text(const document_source& s) {
    if (!s.files.empty()) {
        std::string files;
        for (const std::string& f : s.files)
            files += (files.empty() ? "" : ", ") + json_text(f);
        return "{" + member("files", "[" + files + "]") + "}";
    }
    return "{" + member("controller", json_text(s.controller)) + ", " +
           member("address", json_text(s.address)) + "}";
}

}  // namespace

result<settings_document> parse_document(std::string_view text) {
    if (text.size() > largest_document) {
        return error{errc::bad_request, "larger than any settings document (" +
                                            std::to_string(text.size()) + " bytes)"};
    }
    duplicate_check check;
    if (!json::sax_parse(text, &check) || !check.problem.empty()) {
        return error{errc::bad_request, check.problem.empty() ? "not JSON" : check.problem};
    }
    const json root = json::parse(text, nullptr, false);
    reader r;
    if (!root.is_object()) {
        return error{errc::bad_request, "not a settings document: not a JSON object"};
    }
    r.format(root);
    if (!r.problems.empty()) return error{errc::bad_request, r.problems.front()};
    settings_document doc = read_document_json(r, root);
    if (r.problems.empty()) r.problems = check_document(doc);
    if (r.problems.empty()) return doc;
    std::string detail = r.problems.front();
    if (r.problems.size() > 1) {
        const std::size_t more = r.problems.size() - 1;
        detail += " (and " + std::to_string(more) + " more problem" + (more > 1 ? "s" : "") + ")";
    }
    return error{errc::bad_request, std::move(detail)};
}

std::string format_document(const settings_document& doc) {
    std::vector<std::string> members{
        member("format", "{" + member("name", json_text(document_format_name)) + ", " +
                             member("version", std::to_string(document_format_version)) + "}"),
        member("name", json_text(doc.name)),
        member("note", json_text(doc.note)),
        member("source", source_text(doc.source)),
        member("taken_at", json_text(doc.taken_at)),
        member("written_by", "{" + member("program", json_text(doc.program)) + ", " +
                                 member("version", json_text(doc.program_version)) + "}")};
    if (doc.status) members.push_back(member("status", "{" + items_text(*doc.status) + "}"));
    if (doc.selection) {
        members.push_back(
            member("selection", rows_text(*doc.selection, "  ", selection_row_starts)));
    }
    if (!doc.colours.empty()) {
        std::string blocks;
        for (const colour_settings& c : doc.colours) {
            blocks += blocks.empty() ? "\n" : ",\n";
            blocks += "    {\n      " + member("colour", std::to_string(c.colour));
            if (c.targets)
                blocks += ",\n      " + member("targets", "{" + items_text(*c.targets) + "}");
            if (c.valves)
                blocks += ",\n      " + member("valves", valves_text(*c.valves, "      "));
            blocks += "\n    }";
        }
        members.push_back(member("colours", "[" + blocks + "\n  ]"));
    }
    if (doc.histogram_selection) {
        members.push_back(member("histogram_selection", histogram_text(*doc.histogram_selection)));
    }
    std::string text = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i)
        text += "  " + members[i] + (i + 1 < members.size() ? ",\n" : "\n");
    return text + "}\n";
}

}  // namespace ifc_client
