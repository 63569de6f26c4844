// Prometheus metrics in the text exposition format: per controller its reachability, polls,
// writes and every value of its snapshot; for /probe the same for one controller polled on
// request, without the controller label (Prometheus adds the target's own labels).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "gateway/controller_poller.h"

namespace gateway {

inline constexpr std::string_view metrics_content_type = "text/plain; version=0.0.4; charset=utf-8";

std::string fleet_metrics(const std::vector<controller_view>& views, steady_clock::time_point now);

std::string probe_metrics(const poll_outcome& outcome);

}  // namespace gateway
