// What a rule may say besides which requests it matches and its action's name: the settings of
// the fault actions. Each action reads, uses and reports those it has (proxy/faults/); the
// journal reports them as drawn or found for the request.
#pragma once

#include <any>
#include <cstdint>
#include <optional>

namespace proxy {

// A point in an exchange, where a stall or a cut happens.
enum class point : std::uint8_t {
    none,
    before_len,   // GET: before the controller's length header reaches the terminal
    after_chunk,  // GET: after answer chunk k reached the terminal; PUT: after payload chunk k
                  // reached the controller
    before_fin,   // PUT: before the controller's FIN reaches the terminal
};

struct fault_settings {
    point at = point::none;
    int chunk = 0;                      // after_chunk: 1 for the first chunk
    double seconds = 0;                 // how long (a range's lower end)
    double seconds_max = 0;             // a range's upper end (= seconds: no range)
    bool reset = false;                 // a reset instead of a close
    std::optional<long long> position;  // a byte of the answer; none: drawn from the seed
    double bytes_per_second = 0;
    // A setting of a kind none of the above is: a type of the action's own file, which only
    // that action reads (std::any_cast), so that a new fault needs no change here.
    std::any own;
};

}  // namespace proxy
