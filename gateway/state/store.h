// The one interface to the gateway's state: the settings library, assignments, roll-outs, the
// logbook and the machines' last seen settings. sqlite_store.h keeps it in one SQLite file in
// the gateway's state directory; a central database for several gateways would be another
// implementation of this interface.
//
// Every member may be called from any thread; none throws. A store that cannot read or write
// its database answers store_errc::unavailable with the reason at once (or after a short wait
// for a lock, at most a quarter of a second), and health() says so; it recovers by itself when
// a later call succeeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gateway/state/records.h"
#include "gateway/state/store_result.h"

namespace gateway::state {

struct store_health {
    bool readable = false;
    bool writable = false;
    // Why it is not readable or writable: "cannot write /var/lib/ifc-gateway/gateway.db: No
    // space left on device". Empty when both are true.
    std::string reason;
    bool available() const { return readable && writable; }
};

class store {
  public:
    virtual ~store() = default;

    virtual store_health health() const = 0;
    // Tries now to open a database that could not be opened (a call otherwise tries again at
    // most every few seconds).
    virtual void retry() = 0;

    // The settings library. A version is never changed once saved (the database refuses it);
    // saving or hiding one records that in the logbook, with the reason given, in the same
    // transaction.
    // The next version of the style (1 for a new one).
    virtual store_result<library_version> add_version(const new_version& version) = 0;
    // Newest first, without the documents.
    virtual store_result<std::vector<library_version>> list_versions(
        const version_query& query) = 0;
    // With its document; hidden versions too.
    virtual store_result<library_version> find_version(const version_ref& ref) = 0;
    virtual store_result<library_version> find_version(std::int64_t id) = 0;
    virtual store_result<library_version> hide_version(const version_ref& ref, const actor& by,
                                                       const std::string& reason, instant at) = 0;

    // Assignments of versions to machines by controller name. ref empty: the machines lose
    // their assignment. A hidden or unknown version is refused. One logbook entry per machine
    // whose assignment changes, with the reason given, in the same transaction.
    virtual store_result<std::vector<assignment>> list_assignments() = 0;
    virtual store_status assign(std::span<const std::string> controllers,
                                const std::optional<version_ref>& ref, const actor& by,
                                const std::string& reason, instant at) = 0;

    // Roll-outs. create_rollout keeps the machines in the order given, all pending, and the
    // roll-out in state planning; a hidden or unknown version is refused.
    virtual store_result<rollout> create_rollout(const version_ref& ref,
                                                 std::span<const std::string> controllers,
                                                 const rollout_options& options, const actor& by,
                                                 const std::string& reason, instant at) = 0;
    // Sets the roll-out's state (started_at when it first runs, ended_at and end_reason when it
    // ends). A final state is never left.
    virtual store_status set_rollout_state(std::int64_t id, rollout_state state,
                                           const std::string& end_reason, instant at) = 0;
    // Writes one machine's record (found by its position), with the logbook entries of what
    // its write changed, in one transaction.
    virtual store_status set_rollout_machine(std::int64_t id, const rollout_machine& machine,
                                             std::span<const log_entry> entries) = 0;
    // Every machine still pending becomes skipped with reason, in one transaction.
    virtual store_status skip_pending(std::int64_t id, const std::string& reason, instant at) = 0;
    virtual store_result<rollout> find_rollout(std::int64_t id) = 0;
    // Newest first, without their machines (with the counts); before_id pages on.
    virtual store_result<std::vector<rollout>> list_rollouts(
        std::size_t limit, std::optional<std::int64_t> before_id) = 0;
    // After a restart: every roll-out left planning or running is interrupted, its machine
    // being written is of unknown outcome and its pending machines are skipped. The number of
    // roll-outs so marked.
    virtual store_result<int> interrupt_unfinished(instant at) = 0;

    // The logbook.
    virtual store_status append_log(std::span<const log_entry> entries) = 0;
    virtual store_result<log_page> query_log(const log_query& query) = 0;
    // Removes at most at_most of the oldest entries older than before; the number removed.
    virtual store_result<std::size_t> prune_log(instant before, std::size_t at_most) = 0;

    // The machines' last seen settings.
    virtual store_result<std::vector<machine_baseline>> list_baselines() = 0;
    virtual store_status save_baselines(std::span<const machine_baseline> baselines) = 0;
};

}  // namespace gateway::state
