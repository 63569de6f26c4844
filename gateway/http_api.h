// The gateway's HTTP side: the JSON API, the pages, /metrics and /probe on a cpp-httplib
// server, with its limits and the checks every write passes.
#pragma once

#include <string>

#include <httplib.h>

#include "gateway/fleet.h"

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

// Limits and time-outs of the server, and its worker threads.
void configure_server(httplib::Server& server, const http_settings& settings);
// Every route, answering from the fleet's snapshots.
void add_routes(httplib::Server& server, fleet& machines, const http_settings& settings);

}  // namespace gateway
