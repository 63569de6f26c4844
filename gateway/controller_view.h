// A consistent copy of a poller's state: what the API, the metrics and the pages read of one
// controller.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "gateway/addresses.h"
#include "gateway/controller_json.h"
#include "gateway/drift_summary.h"
#include "gateway/duration_histogram.h"
#include "gateway/snapshot.h"
#include "gateway/writes.h"

namespace gateway {

using steady_clock = std::chrono::steady_clock;

struct controller_view {
    controller_address address;
    bool polled = false;     // at least one poll has ended
    bool reachable = false;  // the last poll succeeded
    std::optional<steady_clock::time_point> last_good;
    std::optional<std::chrono::system_clock::time_point> last_good_wall;
    std::shared_ptr<const machine_snapshot> snapshot;
    // The snapshot's JSON, rendered once per snapshot for every viewer; set with snapshot.
    std::shared_ptr<const controller_json> json;
    std::string last_error;
    std::uint64_t polls = 0;
    std::uint64_t poll_failures = 0;
    std::uint64_t consecutive_failures = 0;
    std::uint64_t connections = 0;      // connections opened to the controller, polls and writes
    double last_poll_seconds = 0;       // the last poll, from connect to disconnect
    duration_histogram poll_durations;  // every poll, from connect to disconnect
    // Every time a poll or a write session held the controller's single client slot.
    duration_histogram slot_holds;
    std::array<std::uint64_t, all_write_results.size()> writes{};
    // Set by the settings library's drift check; none while no version is assigned.
    std::optional<drift_summary> drift;

    // Seconds since the last good snapshot; nullopt when there is none.
    std::optional<double> age_seconds(steady_clock::time_point now) const;
    // No good snapshot within three poll intervals.
    bool stale(steady_clock::time_point now, std::chrono::milliseconds interval) const;
    // What the JSON forms tell of the controller besides its snapshot, now.
    controller_header header(steady_clock::time_point now,
                             std::chrono::milliseconds interval) const;
};

}  // namespace gateway
