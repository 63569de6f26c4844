// The gateway's HTTP side set up on a cpp-httplib server: its limits, time-outs and headers,
// the write guard in front of every route, JSON bodies for errors, and the routes of the API
// (api_routes.h), the metrics (metrics_routes.h) and the pages (page_routes.h).
#pragma once

#include <httplib.h>

#include "gateway/fleet.h"
#include "gateway/http_settings.h"

namespace gateway {

// Limits and time-outs of the server, and its worker threads.
void configure_server(httplib::Server& server, const http_settings& settings);
// Every route, answering from the fleet's snapshots.
void add_routes(httplib::Server& server, fleet& machines, const http_settings& settings);

}  // namespace gateway
