// Prometheus metrics in the text exposition format: per controller (label `controller`) its
// reachability, polls, writes, drift and the values of its snapshot, as much as the chosen
// metrics_detail carries; for /probe the same for one controller polled on request, labelled
// the same way, so that dashboards and alerts work on both.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/controller_poller.h"
#include "gateway/metrics_detail.h"

namespace gateway {

inline constexpr std::string_view metrics_content_type = "text/plain; version=0.0.4; charset=utf-8";

// Every controller of the fleet, then the gateway's own build and process metrics.
std::string fleet_metrics(const std::vector<controller_view>& views, steady_clock::time_point now,
                          metrics_detail detail);

// One probed controller, with controller="name".
std::string probe_metrics(const poll_outcome& outcome, std::string_view name,
                          metrics_detail detail);

}  // namespace gateway
