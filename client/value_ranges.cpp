#include "client/value_ranges.h"

#include <array>

#include "client/commands.h"
#include "protocol/protocol.h"

namespace ifc_client {

namespace {

namespace cmd = commands;

// The records' limits in the default images: "STAT_1" (color, mode, totw_sw), "V" and
// "S1".."S4" (selection flags), "Tot" and "Twt" (targets), and every valve angle record.
// The colour is a weft colour number besides: "STAT_1" would hold 0, which is none.
constexpr value_range status_limits{0, 6};
constexpr value_range colour_limits{protocol::first_colour, protocol::last_colour};
constexpr value_range flag_limits{0, 1};
constexpr value_range to_limits{50, 150};
constexpr value_range tw_limits{190, 290};
constexpr value_range angle_limits{0, 359};

template <std::size_t N>
bool has_key(const std::array<std::string_view, N>& keys, std::string_view key) {
    for (std::string_view k : keys) {
        if (k == key) return true;
    }
    return false;
}

}  // namespace

std::optional<value_range> range_of(setting what, std::string_view key) {
    switch (what) {
        case setting::status:
            if (key == cmd::status_keys[0]) return colour_limits;
            if (has_key(cmd::status_keys, key)) return status_limits;
            break;
        case setting::selection:
            if (has_key(cmd::selection_keys, key)) return flag_limits;
            break;
        case setting::targets:
            if (key == cmd::target_keys[0]) return to_limits;
            if (key == cmd::target_keys[1]) return tw_limits;
            break;
        case setting::valves:
            if (has_key(cmd::valve_keys, key)) return angle_limits;
            break;
    }
    return std::nullopt;
}

std::string describe(value_range range) {
    return std::to_string(range.min) + ".." + std::to_string(range.max);
}

status check_ranges(setting what, std::span<const change> changes) {
    for (const change& c : changes) {
        const auto range = range_of(what, c.key);
        if (range && !range->contains(c.value)) {
            return error{errc::bad_request,
                         c.key + "=" + std::to_string(c.value) + " is outside " + describe(*range)};
        }
    }
    return done{};
}

std::vector<token> out_of_range(setting what, std::span<const token> line) {
    std::vector<token> outside;
    for (const token& t : line) {
        const auto range = range_of(what, t.key);
        if (range && !range->contains(t.value)) outside.push_back(t);
    }
    return outside;
}

}  // namespace ifc_client
