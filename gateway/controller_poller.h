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
#include "gateway/controller_view.h"
#include "gateway/poll_settings.h"
#include "gateway/snapshot.h"
#include "gateway/writes.h"

namespace gateway {

// The outcome of one connect-read-disconnect against a controller.
struct poll_outcome {
    ifc_client::result<machine_snapshot> snapshot = ifc_client::error{ifc_client::errc::io, ""};
    bool connected = false;
    double poll_seconds = 0;  // from the start of the connect to the end of the disconnect
};
poll_outcome poll_controller(const ifc_client::endpoint& where, std::chrono::milliseconds budget);

// "busy or not answering: time-out (...)", "unreachable: connection refused (...)"
std::string describe_failure(const ifc_client::error& failure);

class controller_poller {
  public:
    controller_poller(controller_address address, poll_settings settings);
    ~controller_poller();
    controller_poller(const controller_poller&) = delete;
    controller_poller& operator=(const controller_poller&) = delete;

    // The first poll comes first_poll_after the start.
    void start(std::chrono::milliseconds first_poll_after = {});
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

    void run(std::chrono::milliseconds first_poll_after);
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
