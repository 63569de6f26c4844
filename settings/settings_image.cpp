#include "settings/settings_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ifc/ifc_net.h"
#include "valve/vfp_ifc.h"

namespace settings_tool {

namespace {

constexpr std::size_t record_size = sizeof(i4_item);
constexpr int first_value_slot = 1;  // slot 0 belongs to no colour and has no range

std::string name_of(const i4_item& r) {
    return field_text(r.name, sizeof r.name);
}

std::string base_name(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool all_zero(const i4_item& r) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    return std::all_of(bytes, bytes + record_size, [](unsigned char b) { return b == 0; });
}

// "record 3 (STAT_2)"; of a garbled name only the first bytes, as the rest tells nothing.
std::string record_label(std::size_t index, const i4_item& r) {
    constexpr std::size_t longest = 32;
    constexpr std::size_t garbled_shown = 8;
    std::string name = name_of(r);
    if (name.size() > longest) name = field_text(r.name, garbled_shown) + "...";
    return "record " + std::to_string(index) + " (" + name + ")";
}

// The usable part of the file: the records the server looks at, up to the terminator or the
// table's capacity.
std::span<const i4_item> live_records(std::span<const i4_item> records, std::size_t capacity) {
    const auto in_table = records.first(std::min(records.size(), capacity));
    const auto end = terminator_of(in_table);
    return end ? in_table.first(*end) : in_table;
}

void check_size(std::size_t size, const table_kind& table, check_report& report) {
    const std::size_t image = table.image_size();
    if (size < image) {
        report.problems.push_back("short file: " + std::to_string(size) + " of " +
                                  std::to_string(image) +
                                  " bytes; the server replaces it with the defaults at its next "
                                  "access, and every setting in it is lost");
    } else if (size > image) {
        report.notes.push_back(std::to_string(size) + " bytes, " + std::to_string(image) +
                               " expected: the server reads the first " + std::to_string(image) +
                               " and drops the rest at the next change");
    }
}

void check_terminator(std::span<const i4_item> records, std::size_t capacity,
                      check_report& report) {
    const auto in_table = records.first(std::min(records.size(), capacity));
    const auto end = terminator_of(in_table);
    if (!end) {
        if (records.size() >= capacity) {
            report.problems.push_back("no terminator: none of the " + std::to_string(capacity) +
                                      " records has type 0");
        }
        return;
    }
    if (!all_zero(in_table[*end])) {
        report.notes.push_back("the terminator, record " + std::to_string(*end) +
                               ", is not all zero bytes");
    }
    if (*end + 1 < in_table.size()) {
        report.notes.push_back("records " + std::to_string(*end + 1) + " to " +
                               std::to_string(in_table.size() - 1) +
                               " follow the terminator and are never read");
    }
}

void check_records(std::span<const i4_item> live, check_report& report) {
    for (std::size_t i = 0; i < live.size(); ++i) {
        const i4_item& r = live[i];
        if (!has_nul(r.name, sizeof r.name)) {
            report.problems.push_back(record_label(i, r) +
                                      ": the name has no NUL byte; no command can find it");
        }
        if (!usable_type(r.type)) {
            report.problems.push_back(record_label(i, r) + ": type " + std::to_string(r.type) +
                                      " is not 1..5; the record cannot be read or written");
        }
        if (!has_nul(r.group, sizeof r.group)) {
            report.notes.push_back(record_label(i, r) + ": the group tag has no NUL byte");
        }
        if (r.min > r.max) {
            report.notes.push_back(record_label(i, r) + ": min " + std::to_string(r.min) +
                                   " is above max " + std::to_string(r.max));
        }
        for (int slot = first_value_slot; slot < i4_slot_count; ++slot) {
            const std::int32_t v = r.value[slot];
            if (v < r.min || v > r.max) {
                report.notes.push_back(record_label(i, r) + ": slot " + std::to_string(slot) +
                                       " = " + std::to_string(v) + " is outside " +
                                       std::to_string(r.min) + ".." + std::to_string(r.max));
            }
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (std::memcmp(live[j].name, r.name, sizeof r.name) == 0) {
                report.notes.push_back(record_label(i, r) + " is hidden by record " +
                                       std::to_string(j) + " of the same name");
                break;
            }
        }
    }
}

std::vector<difference> differences_of(const i4_item& r, std::size_t index, const i4_item& d,
                                       std::size_t default_index) {
    std::vector<difference> fields;
    auto add = [&](std::string field, std::int64_t value, std::int64_t wanted) {
        if (value != wanted) {
            fields.push_back({std::move(field), std::to_string(value), std::to_string(wanted)});
        }
    };
    add("index", static_cast<std::int64_t>(index), static_cast<std::int64_t>(default_index));
    add("type", r.type, d.type);
    for (int slot = 0; slot < i4_slot_count; ++slot) {
        add("slot " + std::to_string(slot), r.value[slot], d.value[slot]);
    }
    add("min", r.min, d.min);
    add("max", r.max, d.max);
    if (std::memcmp(r.group, d.group, sizeof r.group) != 0) {
        fields.push_back(
            {"group", field_text(r.group, sizeof r.group), field_text(d.group, sizeof d.group)});
    }
    return fields;
}

void compare_with_defaults(std::span<const i4_item> live, const table_kind& table, bool whole_file,
                           check_report& report) {
    const auto defaults = live_records(table.defaults, table.defaults.size());
    for (std::size_t k = 0; k < defaults.size(); ++k) {
        const i4_item& d = defaults[k];
        const auto found = std::find_if(live.begin(), live.end(), [&](const i4_item& r) {
            return std::memcmp(r.name, d.name, sizeof r.name) == 0;
        });
        if (found == live.end()) {
            // In a short file the record may simply lie beyond its end.
            if (whole_file) {
                report.problems.push_back("record " + name_of(d) +
                                          " is missing; the commands that use it fail");
            }
            continue;
        }
        const auto index = static_cast<std::size_t>(found - live.begin());
        auto fields = differences_of(*found, index, d, k);
        if (!fields.empty()) report.differences.push_back({index, name_of(d), std::move(fields)});
    }
    for (std::size_t i = 0; i < live.size(); ++i) {
        const bool known = std::any_of(defaults.begin(), defaults.end(), [&](const i4_item& d) {
            return std::memcmp(live[i].name, d.name, sizeof d.name) == 0;
        });
        if (!known) {
            report.notes.push_back(record_label(i, live[i]) +
                                   " is not a record of the default table");
        }
    }
}

}  // namespace

table_kind interface_table() {
    return {"interface", ifc_net::settings_file, ifc_net::i4_init};
}

table_kind valve_table() {
    return {"valve", vfp_ifc::settings_file, vfp_ifc::i4_init};
}

std::optional<table_kind> table_by_label(std::string_view label) {
    for (const table_kind& t : {interface_table(), valve_table()}) {
        if (label == t.label) return t;
    }
    return std::nullopt;
}

std::optional<table_kind> recognise(std::string_view path, std::size_t size) {
    const std::string name = base_name(path);
    for (const table_kind& t : {interface_table(), valve_table()}) {
        if (name == t.file_name) return t;
    }
    for (const table_kind& t : {interface_table(), valve_table()}) {
        if (size == t.image_size()) return t;
    }
    return std::nullopt;
}

std::vector<i4_item> records_of(std::string_view bytes) {
    std::vector<i4_item> records(bytes.size() / record_size);
    if (!records.empty()) std::memcpy(records.data(), bytes.data(), records.size() * record_size);
    return records;
}

bool has_nul(const char* field, std::size_t size) {
    return std::memchr(field, '\0', size) != nullptr;
}

std::string field_text(const char* field, std::size_t size) {
    std::string text;
    for (std::size_t k = 0; k < size && field[k] != '\0'; ++k) {
        const auto c = static_cast<unsigned char>(field[k]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

std::optional<std::size_t> terminator_of(std::span<const i4_item> records) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].type == 0) return i;
    }
    return std::nullopt;
}

check_report check_image(std::string_view bytes, const table_kind& table) {
    check_report report{table, bytes.size(), {}, {}, {}};
    const std::size_t capacity = table.defaults.size();
    const auto records = records_of(bytes);
    check_size(bytes.size(), table, report);
    check_terminator(records, capacity, report);
    const auto live = live_records(records, capacity);
    check_records(live, report);
    compare_with_defaults(live, table, bytes.size() >= table.image_size(), report);
    return report;
}

}  // namespace settings_tool
