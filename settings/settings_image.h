// A settings file as the store sees it: which table it holds, its records, and whether the
// server can use it as it is. Nothing here writes a file.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/i4_record.h"

namespace settings_tool {

struct table_kind {
    std::string_view label;      // "interface" or "valve"
    std::string_view file_name;  // "ifc_set.set" or "valve_fp.set"
    std::span<const i4_item> defaults;
    std::size_t image_size() const { return defaults.size_bytes(); }
};

// The two tables of the store.
table_kind interface_table();
table_kind valve_table();
// By the file's own name first (a short or long file still says which table it is), then by
// its size. label is "interface" or "valve" for a choice made by the operator.
std::optional<table_kind> table_by_label(std::string_view label);
std::optional<table_kind> recognise(std::string_view path, std::size_t size);

// The whole 80-byte records in bytes (a trailing partial record is left out).
std::vector<i4_item> records_of(std::string_view bytes);

// A name or group field as text: up to its first NUL, other bytes than printable ASCII as
// \xNN; a field without a NUL is shown whole.
std::string field_text(const char* field, std::size_t size);
bool has_nul(const char* field, std::size_t size);

// Index of the terminator (the first record of type 0), or nullopt.
std::optional<std::size_t> terminator_of(std::span<const i4_item> records);

struct difference {
    std::string field;  // "type", "slot 3", "min", "max", "group", "index"
    std::string value;
    std::string default_value;
};
struct record_differences {
    std::size_t index = 0;  // in the file
    std::string name;
    std::vector<difference> fields;
};

struct check_report {
    table_kind table;
    std::size_t size = 0;
    std::vector<std::string> problems;            // the server cannot use the file as it is
    std::vector<std::string> notes;               // worth knowing, but the file works
    std::vector<record_differences> differences;  // records that differ from the defaults
    bool sound() const { return problems.empty(); }
};

check_report check_image(std::string_view bytes, const table_kind& table);

}  // namespace settings_tool
