// GET /metrics (the whole fleet, for a Prometheus scrape) and GET /probe?target=HOST[:PORT]
// (one controller polled on request, for a Prometheus probe job).
#pragma once

#include <httplib.h>

#include "gateway/fleet.h"
#include "gateway/http_settings.h"

namespace gateway {

void add_metrics_routes(httplib::Server& server, fleet& machines, const http_settings& settings);

}  // namespace gateway
