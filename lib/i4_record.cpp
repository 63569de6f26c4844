// Record operations of module lib_data2. Every lookup stays inside the table's capacity and
// inside the 28-byte name field, so a damaged table (no terminator, a name without a NUL)
// read from a full-size settings file can make a lookup fail but never overrun anything.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "lib/i4_record.h"

namespace {

bool valid_slot(int slot) {
    return slot >= 0 && slot < i4_slot_count;
}

// Byte-for-byte, case-sensitive equality of the whole text, its NUL included; name_len is
// strlen(name) and less than i4_name_len. A field without a NUL in its 28 bytes holds no valid
// name and so matches nothing. One memcmp per record: a lookup scans up to a few hundred
// records, 45 of them for a valve line.
bool name_matches(const char (&field)[i4_name_len], const char* name, std::size_t name_len) {
    return std::memcmp(field, name, name_len + 1) == 0;
}

// The first record named name before the terminator, or nullptr. A table without a
// terminator ends at its capacity.
template <class Item>
Item* find_record(std::span<Item> table, const char* name) {
    if (name == nullptr) return nullptr;
    const std::size_t name_len = ::strnlen(name, i4_name_len);
    if (name_len >= i4_name_len) return nullptr;  // 28 characters or more fit no field
    for (Item& record : table) {
        if (record.type == 0) return nullptr;
        if (name_matches(record.name, name, name_len)) return &record;
    }
    return nullptr;
}

// The record when it exists, has a usable type and the slot is in range.
template <class Item>
Item* find_usable(std::span<Item> table, const char* name, int slot) {
    if (!valid_slot(slot)) return nullptr;
    Item* record = find_record(table, name);
    if (record == nullptr || !usable_type(record->type)) return nullptr;
    return record;
}

}  // namespace

int fp_main_read(const char* name, std::int32_t* out, int slot, std::span<const i4_item> table) {
    const i4_item* record = find_usable(table, name, slot);
    if (record == nullptr || out == nullptr) return -1;
    *out = record->value[slot];
    return 0;
}

int fp_main_write(const char* name, std::int32_t value, int slot, std::span<i4_item> table) {
    i4_item* record = find_usable(table, name, slot);
    if (record == nullptr) return -1;
    record->value[slot] = value;
    return 0;
}

int fp_main_compare(const char* name, std::int32_t value, int slot,
                    std::span<const i4_item> table) {
    const i4_item* record = find_usable(table, name, slot);
    if (record == nullptr) return -1;
    return record->value[slot] == value ? 0 : -1;
}

void change_i4_min_max(std::span<i4_item> table, const char* name, std::int32_t min,
                       std::int32_t max) {
    i4_item* record = find_record(table, name);
    if (record == nullptr) return;
    record->min = min;
    record->max = max;
    // Slot 0 is never clamped; max is applied last, so min > max leaves every slot at max.
    for (int slot = 1; slot < i4_slot_count; ++slot) {
        std::int32_t& v = record->value[slot];
        if (v < min) v = min;
        if (v > max) v = max;
    }
}

void change_i4_type(std::span<i4_item> table, const char* name, std::int32_t type) {
    if (!usable_type(type)) return;
    i4_item* record = find_record(table, name);
    if (record != nullptr) record->type = type;
}
