// The logbook's writer: entries and the machines' last seen settings are queued by whoever
// finds them (a poller, a write) and written to the store by one thread of its own, in batches,
// so a poll never waits for the database. The same thread removes entries older than the
// retention, a couple of hundred at a time with pauses between, so that no step holds the database
// for long.
//
// When the store cannot be written, the queue keeps the entries (up to max_queued) and the
// writer tries again every retry_interval; entries past the bound are dropped and counted, and
// once the store takes entries again one entry says how many were lost and between which times.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "gateway/state/store.h"

namespace gateway::mill {

// How long the logbook keeps an entry unless the gateway is told otherwise (--logbook-days).
inline constexpr int default_logbook_days = 365;
inline constexpr int max_logbook_days = 36500;

struct logbook_options {
    int retention_days = default_logbook_days;  // 1 to max_logbook_days
    std::size_t max_queued = 50000;             // entries waiting for the database
    std::size_t batch = 2000;                   // entries per transaction at most
    std::size_t prune_step = 200;               // entries removed per step
    std::chrono::milliseconds prune_pause{20};  // between two steps
    std::chrono::milliseconds prune_interval{std::chrono::hours(1)};
    std::chrono::milliseconds retry_interval{std::chrono::seconds(2)};
    std::function<state::instant()> clock = state::now;  // the time retention counts from
};

class logbook {
  public:
    explicit logbook(state::store& store, logbook_options options = {});
    // Writes what is queued (when the store takes it), then stops its thread.
    ~logbook();
    logbook(const logbook&) = delete;
    logbook& operator=(const logbook&) = delete;

    // Queues entries; never waits for the database. From any thread.
    void record(std::vector<state::log_entry> entries);
    // Queues a machine's last seen settings; a newer one of the same machine replaces it.
    void keep_baseline(state::machine_baseline baseline);
    // Waits until everything queued before the call is written, at most limit; true when it is.
    bool flush(std::chrono::milliseconds limit);

    std::size_t queued() const;
    std::uint64_t dropped() const;  // entries lost since the start
    const logbook_options& options() const { return options_; }

    // A page of the logbook (store.h's query_log).
    state::store_result<state::log_page> page(const state::log_query& query) {
        return store_.query_log(query);
    }

  private:
    using clock = std::chrono::steady_clock;
    void run();
    // Under mutex_, with lock: writes one batch; false when the store refused it.
    bool write_batch(std::unique_lock<std::mutex>& lock);
    void prune_step(std::unique_lock<std::mutex>& lock);
    // Under mutex_: an entry dropped for want of room.
    void count_drop(state::instant at);

    state::store& store_;
    const logbook_options options_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::deque<state::log_entry> queue_;
    std::map<std::string, state::machine_baseline> baselines_;
    std::size_t in_flight_ = 0;  // entries and baselines being written now
    std::uint64_t dropped_ = 0;
    std::uint64_t unreported_drops_ = 0;
    state::instant first_drop_{}, last_drop_{};
    clock::time_point retry_at_{};
    clock::time_point prune_at_{};
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace gateway::mill
