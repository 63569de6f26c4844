// The range of every value a typed write can change: the min..max of the record behind the
// key, as a sound settings image holds it. The server stores any value it is sent, so the
// client refuses what lies outside (unless the caller forces it), and a read that shows a
// value outside tells of a damaged settings file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "client/result.h"
#include "client/token_line.h"

namespace ifc_client {

struct value_range {
    std::int32_t min = 0;
    std::int32_t max = 0;
    constexpr bool contains(std::int32_t value) const { return value >= min && value <= max; }
};

// The settings a typed write changes.
enum class setting { status, selection, targets, valves };

// The range of key in setting; empty when the setting has no such writable key.
std::optional<value_range> range_of(setting what, std::string_view key);

// "min..max"
std::string describe(value_range range);

// What a write does with values outside their range.
enum class range_rule {
    enforce,  // refuse them (errc::bad_request) before anything is sent
    ignore,   // send them anyway (the operator's --force)
};

// errc::bad_request for the first change whose value lies outside its key's range, naming
// the key, the value and the range ("to=99999 is outside 50..150"). Keys without a range
// pass (check_keys refuses unknown keys).
status check_ranges(setting what, std::span<const change> changes);

// The items of an answer whose values lie outside their range: such a value cannot come from
// a sound settings image.
std::vector<token> out_of_range(setting what, std::span<const token> line);

}  // namespace ifc_client
