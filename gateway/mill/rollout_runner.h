// Roll-outs with proof: a library version applied to a chosen set of machines.
//
// plan() creates the roll-out and runs its dry run in the background: every machine is read and
// its changes listed (state planning, then planned). start() then writes the first machine
// alone, and after it the rest, one after another or options.parallel at a time, each with
// client/document_apply.h's apply through machine_access.h (the machine is read right before it
// is written, only what differs is written, every line is read back, and a failed line is
// written back). The first machine that is not applied stops the roll-out: the machines not
// started are left untouched (skipped); with parallel > 1 the machines already under way finish.
// cancel() stops it between machines. Every machine's record (running before its write, its
// outcome with the logbook entries of what it changed after) is in the store before the next
// step, so a gateway that stops anywhere leaves a roll-out that recover() marks interrupted at
// the next start, with the machine that was being written of unknown outcome.
//
// Every member may be called from any thread; each roll-out runs on a thread of the runner.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/mill/change_watch.h"
#include "gateway/mill/machine_access.h"
#include "gateway/state/store.h"

namespace gateway::mill {

struct rollout_request {
    state::version_ref version;
    std::vector<std::string> controllers;  // in the order they are written; the first alone
    state::rollout_options options;
    state::actor by;
    std::string reason;  // copied into the logbook entries of the roll-out's writes
};

class rollout_runner {
  public:
    // watch: told of the roll-out's writes, so that polls meanwhile do not take them for
    // outside changes; may be null.
    rollout_runner(state::store& store, machine_access& machines, change_watch* watch = nullptr);
    // Stops: a roll-out under way ends as interrupted once the machines being written are done.
    ~rollout_runner();
    rollout_runner(const rollout_runner&) = delete;
    rollout_runner& operator=(const rollout_runner&) = delete;

    // The roll-outs the last run of the gateway left planning or running are marked
    // interrupted; how many. Done once: at start, or (when the store is unavailable then) by
    // the first of plan, start, resume and cancel that finds it available.
    state::store_result<int> recover();

    // Creates a roll-out and starts its dry run. Refused: an unknown machine, an unknown or
    // hidden version (store.h), too many roll-outs at work at once.
    state::store_result<state::rollout> plan(const rollout_request& request);
    // A planned roll-out starts; refused while another one runs.
    state::store_status start(std::int64_t id);
    // A roll-out paused after its first machine goes on.
    state::store_status resume(std::int64_t id);
    // Planning, planned or paused: cancelled at once. Running: after the machines being written.
    state::store_status cancel(std::int64_t id);

    state::store_result<state::rollout> find(std::int64_t id) { return store_.find_rollout(id); }
    // Waits until the roll-out's dry run or run is over (or it paused), at most limit; true
    // when it is.
    bool wait(std::int64_t id, std::chrono::milliseconds limit);

    // Roll-outs being planned or run at once, at most.
    static constexpr std::size_t max_busy = 4;
    // Machines read at once by a dry run.
    static constexpr int planning_parallel = 4;

  private:
    struct job {
        std::thread thread;
        bool busy = true;
        bool running = false;  // a run, not a dry run
        std::atomic<bool> cancel{false};
    };

    // The job threads.
    void dry_run(std::int64_t id, job& work);
    void run(std::int64_t id, job& work);
    // Writes one machine; its state afterwards (failed when its record cannot be kept).
    state::machine_state write_machine(const state::rollout& r, state::rollout_machine m,
                                       const ifc_client::settings_document& wanted,
                                       std::string& halt_reason);
    // Ends a job's roll-out in state (pending machines skipped with why) and marks the job idle.
    void finish(std::int64_t id, job& work, std::optional<state::rollout_state> state,
                const std::string& why);
    // Under mutex_: a new job thread for id.
    state::store_status spawn(std::int64_t id, bool running);
    void reap_locked();
    // Under mutex_: recover() unless done.
    state::store_result<int> recover_locked();

    state::store& store_;
    machine_access& machines_;
    change_watch* watch_;

    std::mutex mutex_;
    std::condition_variable idle_;
    std::map<std::int64_t, std::unique_ptr<job>> jobs_;
    bool recovered_ = false;
    std::atomic<bool> stopping_{false};
};

}  // namespace gateway::mill
