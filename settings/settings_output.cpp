#include "settings/settings_output.h"

#include "tools/text_table.h"

namespace settings_tool {

namespace {

using row = ifc_tool::text_row;

// A damaged file can have a problem in every record: the text shows the first few, the JSON
// form all of them.
constexpr std::size_t listed_entries = 5;
constexpr std::size_t listed_differences = 20;
using ifc_tool::render_table;

// "state/ifc_set.set: the interface table, 800 bytes": the file and its table, once.
std::string heading(std::string_view path, std::size_t size,
                    const std::optional<table_kind>& table) {
    std::string text = std::string(path) + ": ";
    if (!table) return text + std::to_string(size) + " bytes, not the size of either table\n";
    text += "the " + std::string(table->label) + " table, " + std::to_string(size) + " bytes";
    if (size != table->image_size()) text += " of " + std::to_string(table->image_size());
    return text + "\n";
}

// The first entries of a list, then how many more there are.
std::string first_of(std::string_view label, std::string_view plural,
                     const std::vector<std::string>& entries, std::size_t shown) {
    std::string text;
    for (std::size_t i = 0; i < entries.size() && i < shown; ++i)
        text += std::string(label) + ": " + entries[i] + "\n";
    if (entries.size() > shown) {
        text += "... and " + std::to_string(entries.size() - shown) + " more " +
                std::string(plural) + " (--json lists them all)\n";
    }
    return text;
}

std::string difference_line(const record_differences& d) {
    std::string text = "  " + std::to_string(d.index) + " " + d.name + ":";
    for (const auto& f : d.fields)
        text += " " + f.field + " " + f.value + " (default " + f.default_value + ")";
    return text + "\n";
}

std::string table_name(const std::optional<table_kind>& table) {
    return table ? std::string(table->label) : std::string();
}

}  // namespace

std::string dump_text(std::string_view path, std::string_view bytes,
                      const std::optional<table_kind>& table) {
    const auto records = records_of(bytes);
    const auto end = terminator_of(records);
    std::vector<row> rows{row{"index", "type", "name", "slot0", "slot1", "slot2", "slot3", "slot4",
                              "slot5", "slot6", "min", "max", "group"}};
    for (std::size_t i = 0; i < records.size(); ++i) {
        const i4_item& r = records[i];
        row cells{std::to_string(i), std::to_string(r.type), field_text(r.name, sizeof r.name)};
        for (std::int32_t v : r.value)
            cells.push_back(std::to_string(v));
        cells.push_back(std::to_string(r.min));
        cells.push_back(std::to_string(r.max));
        std::string group = field_text(r.group, sizeof r.group);
        if (end && i == *end) group += "  (terminator)";
        if (end && i > *end) group += "  (after the terminator: never read)";
        cells.push_back(std::move(group));
        rows.push_back(std::move(cells));
    }
    std::string text = heading(path, bytes.size(), table) + render_table(rows);
    if (const std::size_t rest = bytes.size() % sizeof(i4_item); rest != 0) {
        text += std::to_string(rest) + " bytes at the end do not make a whole record\n";
    }
    return text;
}

nlohmann::ordered_json dump_json(std::string_view path, std::string_view bytes,
                                 const std::optional<table_kind>& table) {
    const auto records = records_of(bytes);
    const auto end = terminator_of(records);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < records.size(); ++i) {
        const i4_item& r = records[i];
        list.push_back({{"index", i},
                        {"type", r.type},
                        {"name", field_text(r.name, sizeof r.name)},
                        {"name_terminated", has_nul(r.name, sizeof r.name)},
                        {"slots", r.value},
                        {"min", r.min},
                        {"max", r.max},
                        {"group", field_text(r.group, sizeof r.group)},
                        {"in_use", !end || i < *end}});
    }
    return {{"file", path},
            {"size", bytes.size()},
            {"table", table_name(table)},
            {"records", list},
            {"trailing_bytes", bytes.size() % sizeof(i4_item)}};
}

std::string check_text(std::string_view path, const check_report& report) {
    std::string text = heading(path, report.size, report.table);
    if (!report.sound()) {
        text += "NOT SOUND: " + std::to_string(report.problems.size()) +
                (report.problems.size() == 1 ? " problem" : " problems") +
                "; the server cannot use this file as it is\n";
        text += first_of("problem", "problems", report.problems, listed_entries);
    } else {
        text += "sound: the server can use this file as it is\n";
    }
    text += first_of("note", "notes", report.notes, listed_entries);
    const auto& differences = report.differences;
    if (differences.empty()) {
        // Only a sound file holds its defaults: a damaged one may simply lack the records.
        if (report.sound()) text += "every record holds its default values\n";
        return text;
    }
    text += std::to_string(differences.size()) + " records differ from the defaults:\n";
    for (std::size_t i = 0; i < differences.size() && i < listed_differences; ++i)
        text += difference_line(differences[i]);
    if (differences.size() > listed_differences) {
        text += "... and " + std::to_string(differences.size() - listed_differences) +
                " more (--json lists them all)\n";
    }
    return text;
}

nlohmann::ordered_json check_json(std::string_view path, const check_report& report) {
    nlohmann::ordered_json differences = nlohmann::ordered_json::array();
    for (const auto& d : report.differences) {
        nlohmann::ordered_json fields = nlohmann::ordered_json::array();
        for (const auto& f : d.fields) {
            fields.push_back(
                {{"field", f.field}, {"value", f.value}, {"default", f.default_value}});
        }
        differences.push_back({{"index", d.index}, {"name", d.name}, {"fields", fields}});
    }
    return {{"file", path},
            {"table", report.table.label},
            {"size", report.size},
            {"expected_size", report.table.image_size()},
            {"sound", report.sound()},
            {"problems", report.problems},
            {"notes", report.notes},
            {"differences", differences}};
}

}  // namespace settings_tool
