// Random choices of the fault rules, derived from the seed and the position of a request in
// the traffic (the rule and its match count), never from the clock or thread timing: the same
// traffic with the same seed draws the same numbers, request by request.
#pragma once

#include <cstdint>

namespace proxy {

// What a draw is for, so that one request's draws are independent of each other.
enum class draw_purpose : std::uint64_t { fires = 1, delay = 2, position = 3 };

// A number in [0, 1) that depends on its arguments only.
double seeded_draw(std::uint64_t seed, std::uint64_t rule, std::uint64_t match,
                   draw_purpose purpose);

}  // namespace proxy
