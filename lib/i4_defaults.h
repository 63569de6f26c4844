// Compile-time construction and checks of default record tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "lib/i4_record.h"

using i4_slots = std::array<std::int32_t, i4_slot_count - 1>;  // slots 1..6

// Slots 1..6 all holding value.
constexpr i4_slots same_slots(std::int32_t value) {
    return {value, value, value, value, value, value};
}

// A record with slot 0 at 0, the name and the group NUL-filled to their field sizes.
constexpr i4_item make_i4_item(std::int32_t type, std::string_view name, const i4_slots& slots,
                               std::int32_t min, std::int32_t max, std::string_view group = {}) {
    if (name.empty() || name.size() >= i4_name_len) throw "a name has 1 to 27 characters";
    if (group.size() >= i4_group_len) throw "a group tag has at most 11 characters";
    i4_item item{};
    item.type = type;
    for (std::size_t k = 0; k < name.size(); ++k)
        item.name[k] = name[k];
    for (std::size_t n = 0; n < slots.size(); ++n)
        item.value[n + 1] = slots[n];
    item.min = min;
    item.max = max;
    for (std::size_t k = 0; k < group.size(); ++k)
        item.group[k] = group[k];
    return item;
}

constexpr bool i4_item_is_zero(const i4_item& item) {
    if (item.type != 0 || item.min != 0 || item.max != 0) return false;
    for (char c : item.name) {
        if (c != 0) return false;
    }
    for (std::int32_t v : item.value) {
        if (v != 0) return false;
    }
    for (char c : item.group) {
        if (c != 0) return false;
    }
    return true;
}

// A default image: every record before the last is usable, the last is the all-zero
// terminator, names are unique, and slot 0 holds 0 everywhere.
constexpr bool is_default_image(std::span<const i4_item> image) {
    if (image.empty() || !i4_item_is_zero(image.back())) return false;
    const auto records = image.first(image.size() - 1);
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].type < 1 || records[i].type > 5 || records[i].value[0] != 0) return false;
        const std::string_view name(records[i].name);
        for (std::size_t j = 0; j < i; ++j) {
            if (name == std::string_view(records[j].name)) return false;
        }
    }
    return true;
}
