// What the gateway tells of itself in /metrics: its build, and the standard process metrics
// (CPU time, memory, file descriptors, start time, as Prometheus' client libraries name them),
// read from /proc.
#pragma once

#include <string>

namespace gateway {

// Appends the families to an exposition. A figure that /proc does not give is left out.
void append_gateway_metrics(std::string& out);

}  // namespace gateway
