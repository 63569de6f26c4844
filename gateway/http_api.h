// The gateway's HTTP side: the JSON API, the pages, /metrics and /probe on a cpp-httplib
// server, with its limits and the checks every write passes.
#pragma once

#include <string>

#include <httplib.h>

#include "gateway/fleet.h"
#include "gateway/http_settings.h"

namespace gateway {

// Limits and time-outs of the server, and its worker threads.
void configure_server(httplib::Server& server, const http_settings& settings);
// Every route, answering from the fleet's snapshots.
void add_routes(httplib::Server& server, fleet& machines, const http_settings& settings);

}  // namespace gateway
