// The settings of the gateway's HTTP side, and the largest request body it reads. The defaults
// here are the command line's defaults too.
#pragma once

#include <cstddef>
#include <string>

namespace gateway {

struct http_settings {
    bool read_only = false;
    std::string token;  // empty: writes need no token
    int threads = 32;
    // The listener is on loopback: writes without a token must name a loopback host.
    bool loopback = true;
};

// The largest request body the API reads; larger ones are answered 413.
inline constexpr std::size_t max_body_bytes = 64 * 1024;

}  // namespace gateway
