// The 80-byte parameter record and the operations on tables built of it.
// A table is a fixed-capacity array of records, ended by the first record of type 0.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

// Tables are stored as raw images, so the in-memory layout is the file layout: little-endian
// 32-bit integers. A big-endian host would write other bytes, so it is refused outright.
static_assert(std::endian::native == std::endian::little,
              "settings files are little-endian images of the record tables");

inline constexpr int i4_name_len = 28;
inline constexpr int i4_slot_count = 7;
inline constexpr int i4_group_len = 12;

struct i4_item {
    std::int32_t type;                  // 0 ends a table; 1..5 usable; anything else unusable
    char name[i4_name_len];             // NUL-terminated, NUL-filled
    std::int32_t value[i4_slot_count];  // slot n holds colour n for per-colour records
    std::int32_t min;
    std::int32_t max;
    char group[i4_group_len];  // NUL-padded group tag
};
static_assert(sizeof(i4_item) == 80, "i4_item is the 80-byte file record");

// Types 1 to 5 mark a record that holds a setting; 0 ends a table, anything else is unusable.
constexpr bool usable_type(std::int32_t type) {
    return type >= 1 && type <= 5;
}
static_assert(offsetof(i4_item, name) == 4 && offsetof(i4_item, value) == 32 &&
              offsetof(i4_item, min) == 60 && offsetof(i4_item, max) == 64 &&
              offsetof(i4_item, group) == 68);

// 0 with the slot value stored through out; -1 when the name is missing, the type is not 1..5
// or the slot is outside 0..6 (out untouched).
int fp_main_read(const char* name, std::int32_t* out, int slot, std::span<const i4_item> table);
// 0 when stored; -1 as for fp_main_read, with the table unchanged.
int fp_main_write(const char* name, std::int32_t value, int slot, std::span<i4_item> table);
// 0 when the record is usable and the slot holds value; -1 otherwise.
int fp_main_compare(const char* name, std::int32_t value, int slot, std::span<const i4_item> table);
// Sets min and max (unchecked) and clamps slots 1..6 into them, max last.
void change_i4_min_max(std::span<i4_item> table, const char* name, std::int32_t min,
                       std::int32_t max);
// Sets the type when the new type is 1..5; otherwise changes nothing.
void change_i4_type(std::span<i4_item> table, const char* name, std::int32_t type);
