// One poller per controller: a thread that connects every poll interval, reads a whole
// snapshot, disconnects, and keeps the last good snapshot with its age. Writes queued from the
// API are applied between polls, each with its read-back, and so is other work that needs the
// controller's single client slot (the mill's reads and roll-out writes). Readers (any number
// of HTTP threads) only copy the poller's state: viewers cause no controller traffic.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "client/connection.h"
#include "gateway/addresses.h"
#include "gateway/controller_view.h"
#include "gateway/poll_hooks.h"
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
// The whole poll, connection included, ends within budget.
poll_outcome poll_controller(ifc_client::endpoint where, std::chrono::milliseconds budget);

// "busy or not answering: time-out (...)", "unreachable: connection refused (...)"
std::string describe_failure(const ifc_client::error& failure);

class controller_poller {
  public:
    // Gets a write's outcome, once.
    using write_done = std::function<void(write_outcome)>;
    // Work in the controller's slot: it reaches the controller at where (connections of its
    // own), whose waits end at the work's deadline.
    using slot_task = std::function<void(const ifc_client::endpoint& where)>;

    controller_poller(controller_address address, poll_settings settings);
    ~controller_poller();
    controller_poller(const controller_poller&) = delete;
    controller_poller& operator=(const controller_poller&) = delete;

    // The first poll comes first_poll_after the start.
    void start(std::chrono::milliseconds first_poll_after = {});
    // Tells the poller to stop: it starts nothing new (a write still waiting is answered 503).
    void request_stop();
    // Stops the poller and waits for it. Quick once the fleet has cancelled the waits for
    // controllers (poll_settings::cancel_fd).
    void stop();

    const controller_address& address() const { return address_; }
    const poll_settings& settings() const { return settings_; }
    controller_view view() const;

    // Queues a write for the poller thread; done gets the outcome after the read-back, within
    // the write deadline (poll_settings::write_deadline) of now. Refused at once (429) when
    // max_queued_writes wait already, 503 when stopping.
    void submit(write_request request, write_done done);
    // Counts a write the API refused before it reached the queue.
    void count_refused();
    // Answers (504, not sent) the waiting writes that can no longer be sent within their
    // deadline; returns when the next waiting one will come to that, if any is waiting.
    std::optional<steady_clock::time_point> expire_writes(steady_clock::time_point now);
    // Called after a write is queued (the fleet's watch over write deadlines).
    void on_queued(std::function<void()> notify) { on_queued_ = std::move(notify); }
    // Told of every good poll and every write (before start; may be null).
    void set_hooks(poll_hooks* hooks) { hooks_ = hooks; }
    // Sets the drift the view shows at once (after an assignment), until the next poll.
    void set_drift(std::optional<drift_summary> drift);

    // Queues task as a write is queued, to run on the poller's thread between polls with no
    // connection of the poller's open meanwhile; done gets 200 once it ran, or why it did not
    // (429, 503, 504, as a write's). A poll follows it at once. Not counted as a write.
    void submit_task(slot_task task, write_done done);

  private:
    struct write_job {
        write_request request;
        write_done done;
        steady_clock::time_point queued;
        steady_clock::time_point deadline;
        slot_task task{};  // set: work in the slot instead of a write
        // The last moment to start sending it: its deadline less the room for a read-back.
        steady_clock::time_point send_by(const poll_settings& settings) const {
            return deadline - settings.read_back_reserve();
        }
    };
    // A write session's connection, opened for the first write that needs it.
    struct write_session {
        std::optional<ifc_client::connection> conn;
        std::optional<ifc_client::error> broken;  // a write failed: the rest are not sent
        bool connected = false;
        int connections = 0;
    };

    void run(std::chrono::milliseconds first_poll_after);
    void enqueue(write_job job);
    write_outcome run_task(const write_job& job, write_session& session);
    bool poll_once();
    void record_internal_failure(const std::string& what);
    void log_change(const std::string& what) const;
    // Runs the queued writes one by one, each answered when it is done; true when the
    // controller could be connected to.
    bool run_writes();
    std::optional<write_job> next_job();
    bool stopping() const;
    write_outcome run_job(const write_job& job, write_session& session, machine_snapshot* snapshot);
    // Records an outcome (and the snapshot a read-back changed) and answers the write.
    void finish_job(write_job job, write_outcome outcome, std::optional<machine_snapshot> updated);
    // Gives a write its outcome; a failure to answer ends no thread.
    static void answer(write_job& job, write_outcome outcome);
    std::chrono::milliseconds backoff() const;

    const controller_address address_;
    const poll_settings settings_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<write_job> queue_;
    controller_view view_;
    bool stopping_ = false;
    std::function<void()> on_queued_;
    poll_hooks* hooks_ = nullptr;
    bool poll_now_ = false;  // a task ran: the next poll comes at once
    std::thread thread_;
};

}  // namespace gateway
