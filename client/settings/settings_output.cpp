#include "client/settings/settings_output.h"

#include "client/tool/text_table.h"

namespace settings_tool {

namespace {

using row = ifc_tool::text_row;
using ifc_tool::render_table;

std::string heading(std::string_view path, std::size_t size,
                    const std::optional<table_kind>& table) {
    std::string text = std::string(path) + ": " + std::to_string(size) + " bytes, ";
    if (table) {
        text += std::string(table->label) + " table (" + std::string(table->file_name) + ", " +
                std::to_string(table->image_size()) + " bytes)";
    } else {
        text += "not a size of either table";
    }
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
    for (const std::string& p : report.problems)
        text += "problem: " + p + "\n";
    for (const std::string& n : report.notes)
        text += "note: " + n + "\n";
    if (report.differences.empty()) {
        text += "every record holds its default values\n";
    } else {
        text += std::to_string(report.differences.size()) + " records differ from the defaults:\n";
        for (const auto& d : report.differences) {
            text += "  " + std::to_string(d.index) + " " + d.name + ":";
            for (const auto& f : d.fields) {
                text += " " + f.field + " " + f.value + " (default " + f.default_value + ")";
            }
            text += "\n";
        }
    }
    text += report.sound()
                ? "sound: the server can use this file as it is\n"
                : "NOT SOUND: " + std::to_string(report.problems.size()) + " problem(s)\n";
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
