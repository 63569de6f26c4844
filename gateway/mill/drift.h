// Assignment and drift: a machine is assigned a library version, and at every poll its
// settings are compared with the version's: "matches denim-12 v3", or "4 values differ from
// denim-12 v3" with the list. A machine with no assignment has no drift.
//
// The comparison needs no database: the assigned versions' documents are held in memory
// (loaded at start and at every assignment), so check() costs a comparison of two documents
// and is safe to call from every poller thread at once.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <vector>

#include "client/document_diff.h"
#include "client/settings_document.h"
#include "gateway/state/store.h"

namespace gateway::mill {

struct drift_status {
    state::version_ref version;
    // The values that differ, over the parts of the machine the version holds (old: the
    // version's, new: the machine's); a part the version holds and the machine's document
    // lacks is one difference with only_in first.
    std::vector<ifc_client::difference> differences;
    std::size_t values = 0;  // the values that differ (a missing part counts all of its values)
    bool matches() const { return values == 0; }
    // "matches denim-12 v3", "1 value differs from denim-12 v3", "4 values differ from ..."
    std::string summary() const;
};

// Compares a machine's settings with a version's.
drift_status check_drift(const state::version_ref& ref,
                         const ifc_client::settings_document& version,
                         const ifc_client::settings_document& machine);

class drift_monitor {
  public:
    explicit drift_monitor(state::store& store) : store_(store) {}

    // Reads every assignment and its version from the store: at start, and again when the
    // store was unavailable then. The assignments held so far stay when it fails.
    state::store_status load();
    // Assigns ref to the machines (nullopt: removes their assignment), in the store and here;
    // the logbook's entries keep reason.
    state::store_status assign(std::span<const std::string> controllers,
                               const std::optional<state::version_ref>& ref, const state::actor& by,
                               const std::string& reason);

    // At every good poll, from the controller's poller thread: compares its settings with the
    // version assigned and keeps the outcome for last(). nullopt when it has no assignment.
    std::optional<drift_status> check(const std::string& controller,
                                      const ifc_client::settings_document& machine);
    // The outcome of the last check since the machine's assignment; nullopt before the first
    // check or without an assignment.
    std::optional<drift_status> last(const std::string& controller) const;
    std::optional<state::version_ref> assigned(const std::string& controller) const;
    std::map<std::string, state::version_ref> assignments() const;

  private:
    struct assigned_version {
        state::version_ref ref;
        ifc_client::settings_document document;
    };
    using assignment_map = std::map<std::string, std::shared_ptr<const assigned_version>>;

    state::store& store_;
    mutable std::shared_mutex assignments_mutex_;
    assignment_map assignments_;
    mutable std::mutex last_mutex_;
    std::map<std::string, drift_status> last_;
};

}  // namespace gateway::mill
