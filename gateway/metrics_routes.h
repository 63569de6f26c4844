// GET /metrics (the whole fleet, for a Prometheus scrape) and
// GET /probe?target=HOST[:PORT][&name=NAME] (one controller polled on request, for a Prometheus
// probe job: a configured controller, or an address that --probe-allow opens; its samples are
// labelled controller=NAME, or the target as written). Both take ?metrics=basic|settings|full
// (the gateway's --metrics when not given).
#pragma once

#include <memory>

#include "gateway/fleet.h"
#include "gateway/http_router.h"
#include "gateway/http_settings.h"
#include "gateway/task_pool.h"

namespace gateway {

// The probes run on probes' threads; more at once than it has are answered 503.
void add_metrics_routes(http_router& router, fleet& machines, const http_settings& settings,
                        std::shared_ptr<task_pool> probes);

// Whether /probe may reach host:port: a configured controller's address, or an address in
// one of settings.probe_allow.
bool probe_allowed(const fleet& machines, const http_settings& settings, const std::string& host,
                   std::uint16_t port);

}  // namespace gateway
