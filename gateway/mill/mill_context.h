// The gateway's mill in one object, for the gateway to hold when it runs with a state
// directory: the store (gateway.db in the state directory), the settings library, assignment
// and drift, the logbook with its writer and its watch for outside changes, and the roll-outs.
// Without a state directory the gateway makes none and keeps no state.
//
// The gateway calls on_poll() from each poller thread after every good poll, and on_write()
// after each write it made between two polls. Everything else it reaches through the
// accessors (each documented in its own header). Nothing here throws; a store that cannot be
// used answers store_errc::unavailable with the reason, and health() says why.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/settings_document.h"
#include "gateway/mill/change_watch.h"
#include "gateway/mill/drift.h"
#include "gateway/mill/logbook.h"
#include "gateway/mill/machine_access.h"
#include "gateway/mill/rollout_runner.h"
#include "gateway/mill/settings_library.h"
#include "gateway/snapshot.h"
#include "gateway/state/sqlite_store.h"

namespace gateway::mill {

struct mill_options {
    std::string state_dir{};
    int logbook_days = default_logbook_days;
    // Called when the store becomes unavailable or available again (sqlite_store.h): the
    // gateway says it once on stderr.
    std::function<void(const state::store_health&)> on_health_change{};
    // How often a poll tries again to load the state when the store was unavailable, and the
    // store to open its database.
    std::chrono::milliseconds reload_interval{std::chrono::seconds(5)};
};

// What one poll found.
struct poll_findings {
    std::optional<drift_status> drift;  // none without an assignment
    std::vector<state::log_entry> outside_changes;
};

class mill_context {
  public:
    // Opens the store and loads the assignments, the machines' last seen values and marks the
    // roll-outs a previous run left unfinished as interrupted. When the store is unavailable
    // then, a later poll does it (at most every options.reload_interval).
    mill_context(mill_options options, machine_access& machines);
    // Stops the roll-outs (those under way end interrupted), writes what the logbook holds.
    ~mill_context();
    mill_context(const mill_context&) = delete;
    mill_context& operator=(const mill_context&) = delete;

    // After every good poll, from the controller's poller thread: the snapshot's settings are
    // compared with the machine's assigned version (drift) and with the last poll (outside
    // changes, queued for the logbook). Costs tens of microseconds; never waits for the
    // database, except the one poll that loads the state after the store was unavailable at
    // start.
    poll_findings on_poll(const std::string& controller, const std::string& address,
                          const machine_snapshot& snapshot, state::instant at);
    // After a write the gateway made from the poller's thread (between two polls): before and
    // after are the written lines as the write read them first and read them back (documents
    // holding only those lines will do). Their differences go to the logbook with who made the
    // write, from where and why, and the watch takes them as the gateway's own.
    void on_write(const std::string& controller, const ifc_client::settings_document& before,
                  const ifc_client::settings_document& after, const state::actor& by,
                  const std::string& reason);

    state::store_health health() const { return store_.health(); }
    state::store& store() { return store_; }
    settings_library& library() { return library_; }
    drift_monitor& drift() { return drift_; }
    logbook& log() { return log_; }
    change_watch& watch() { return watch_; }
    rollout_runner& rollouts() { return rollouts_; }

  private:
    // Loads what the state holds, unless done; at most every reload_interval.
    void load_if_due();

    state::sqlite_store store_;
    settings_library library_{store_};
    drift_monitor drift_{store_};
    logbook log_;
    change_watch watch_{log_};
    rollout_runner rollouts_;

    const std::chrono::milliseconds reload_interval_;
    std::atomic<bool> loaded_{false};
    std::mutex load_mutex_;
    std::chrono::steady_clock::time_point next_load_{};
};

}  // namespace gateway::mill
