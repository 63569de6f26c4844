// The gateway's lines on standard output (its journal: listening, a controller reachable or
// not, stopped). Nothing that prints one waits for the reader: a stalled log collector or a
// pipe nobody reads must not hold up a poller, and through it every reader of that
// controller. The lines wait in a bounded buffer (64 KiB) for a thread of their own that
// writes them; when it is full, lines are dropped and counted, and "N journal lines dropped"
// follows once there is room again.
#pragma once

#include <chrono>
#include <string>

namespace gateway {

// Queues one line (a line end is added). Never waits.
void journal_line(std::string line);

// Waits at most limit until every queued line is written; true when they are. For the exit:
// a reader that takes nothing keeps the last lines, not the gateway.
bool journal_flush(std::chrono::milliseconds limit);

}  // namespace gateway
