// Fault rules: which requests a rule matches (kind, command name, occurrence) and what the
// proxy then does to the exchange. Read from a JSON file; see docs/proxy.md for the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/exchange.h"

namespace proxy {

enum class occurrence : std::uint8_t {
    every,        // every matching request
    nth,          // only the nth
    every_kth,    // the kth, the 2kth, ...
    probability,  // each with probability p, drawn from the seed
};

enum class action : std::uint8_t {
    delay,     // hold the request for some seconds before it reaches the controller
    stall,     // forward nothing either way for some seconds at a point
    cut,       // end the connection at a point, with a close or a reset
    err,       // answer a PUT with ERR! in place of its first NEXT
    corrupt,   // change one byte of a GET answer
    drop_fin,  // the FIN of a PUT never reaches the terminal
    throttle,  // relay the exchange at a number of bytes per second
    refuse,    // refuse new terminal connections for some seconds
};
std::string_view action_name(action a);

// Where in an exchange a stall or cut happens.
enum class point : std::uint8_t {
    none,
    before_len,   // GET: before the controller's length header reaches the terminal
    after_chunk,  // GET: after answer chunk k reached the terminal; PUT: after payload chunk k
                  // reached the controller
    before_fin,   // PUT: before the controller's FIN reaches the terminal
};
std::string_view point_name(point p);

struct rule {
    std::string label;
    std::optional<request_kind> kind;  // none: every kind
    std::string command;               // a glob over the command name; empty: every name
    occurrence when = occurrence::every;
    long long n = 0;      // nth, every_kth
    double p = 0;         // probability
    long long limit = 0;  // fires at most this many times; 0: no limit

    action what = action::delay;
    point at = point::none;
    int chunk = 0;                      // after_chunk: 1 for the first chunk
    double seconds = 0;                 // delay (the lower end of a range), stall, refuse
    double seconds_max = 0;             // delay: the upper end of the range (= seconds: fixed)
    bool reset = false;                 // cut: a reset instead of a close
    std::optional<long long> position;  // corrupt: the answer byte; none: drawn from the seed
    double bytes_per_second = 0;        // throttle
};

struct parsed_rules {
    std::vector<rule> rules;
    // Empty when the rules are sound; else "SOURCE: rules[I]: field 'F': expected ..., got ...".
    std::string error;
    bool ok() const { return error.empty(); }
};

// source names the text in error messages (the file name).
parsed_rules parse_rules(std::string_view json_text, std::string_view source);
// Reads and parses the file at path.
parsed_rules load_rules(const std::string& path);

// One line per rule in words, for --check-rules.
std::string describe(const rule& r);

}  // namespace proxy
