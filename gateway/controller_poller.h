// One poller per controller: a thread that connects every poll interval, reads a whole
// snapshot, disconnects, and keeps the last good snapshot with its age. Writes queued from the
// API are applied between polls, each with its read-back. Readers (any number of HTTP
// threads) only copy the poller's state: viewers cause no controller traffic.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "client/connection.h"
#include "gateway/addresses.h"
#include "gateway/poll_settings.h"
#include "gateway/snapshot.h"
#include "gateway/writes.h"

namespace gateway {

using steady_clock = std::chrono::steady_clock;

// The outcome of one connect-read-disconnect against a controller.
struct poll_outcome {
    ifc_client::result<machine_snapshot> snapshot = ifc_client::error{ifc_client::errc::io, ""};
    bool connected = false;
    double poll_seconds = 0;  // from the start of the connect to the end of the disconnect
};
poll_outcome poll_controller(const ifc_client::endpoint& where, std::chrono::milliseconds budget);

// "busy or not answering: time-out (...)", "unreachable: connection refused (...)"
std::string describe_failure(const ifc_client::error& failure);

// A consistent copy of a poller's state.
struct controller_view {
    controller_address address;
    bool polled = false;     // at least one poll has ended
    bool reachable = false;  // the last poll succeeded
    std::optional<steady_clock::time_point> last_good;
    std::optional<std::chrono::system_clock::time_point> last_good_wall;
    std::shared_ptr<const machine_snapshot> snapshot;
    // The snapshot's JSON members, rendered once per change for every viewer.
    std::shared_ptr<const std::string> snapshot_members;
    std::string last_error;
    std::uint64_t polls = 0;
    std::uint64_t poll_failures = 0;
    std::uint64_t consecutive_failures = 0;
    std::uint64_t connections = 0;  // connections opened to the controller, polls and writes
    double last_poll_seconds = 0;   // the last poll, from connect to disconnect
    double max_hold_seconds = 0;    // the longest a poll or write session held the controller
    std::array<std::uint64_t, all_write_results.size()> writes{};

    // Seconds since the last good snapshot; nullopt when there is none.
    std::optional<double> age_seconds(steady_clock::time_point now) const;
    // No good snapshot within three poll intervals.
    bool stale(steady_clock::time_point now, std::chrono::milliseconds interval) const;
};

class controller_poller {
  public:
    controller_poller(controller_address address, poll_settings settings);
    ~controller_poller();
    controller_poller(const controller_poller&) = delete;
    controller_poller& operator=(const controller_poller&) = delete;

    void start();
    void stop();

    const controller_address& address() const { return address_; }
    const poll_settings& settings() const { return settings_; }
    controller_view view() const;

    // Queues a write for the poller thread; the future holds the outcome after the read-back.
    // Refused at once (an outcome in the future) when too many writes are waiting.
    std::future<write_outcome> submit(write_request request);
    // Counts a write the API refused before it reached the queue.
    void count_refused();

    static constexpr std::size_t max_queued_writes = 32;

  private:
    struct write_job {
        write_request request;
        std::promise<write_outcome> done;
    };

    void run();
    bool poll_once();
    void log_change(const std::string& what) const;
    // true when the controller could be connected to.
    bool run_writes(std::deque<write_job> jobs);
    std::chrono::milliseconds backoff() const;

    const controller_address address_;
    const poll_settings settings_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<write_job> queue_;
    controller_view view_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace gateway
