// Changes made elsewhere (a terminal, ifc-client, a technician at the machine), found by
// comparing each poll of a machine with the one before, minus the changes the gateway made
// itself. Each becomes a logbook entry: old value, new value, the two polls between which it
// happened, origin "outside".
//
// The values a machine was last seen with are kept in the store as well (at most once a
// minute, and at every change), so that a change made while the gateway was not running is
// found at its first poll, dated between the last poll before and that one.
//
// The gateway's own writes are told apart in two ways:
// - a write made between two polls on the poller's own thread (a write from the API, in the
//   controller's slot): note_own_changes() after it, before the next poll;
// - a write made from another thread (a roll-out): begin_own_write() before it, naming the
//   keys it may change, and end_own_write() after it with what the machine holds then. A poll
//   meanwhile that finds those keys changed takes the change for the gateway's. When the
//   outcome is unknown, the next poll's changes of those keys are recorded as the gateway's,
//   with a note.
// The writes themselves are recorded by whoever makes them (rollout_outcome.h, entries_of).
//
// Every member may be called from any thread.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/document_diff.h"
#include "client/settings_document.h"
#include "gateway/mill/document_values.h"
#include "gateway/mill/logbook.h"

namespace gateway::mill {

// Who makes a write the watch should know of.
struct own_write_author {
    state::actor by;
    std::string reason;
    std::optional<std::int64_t> rollout;
};

class change_watch {
  public:
    explicit change_watch(logbook& log) : log_(log) {}

    // Reads the machines' last seen values from the store (at start, before the first poll).
    state::store_status load(state::store& store);

    // At every good poll of controller: the outside changes since the last poll, recorded in
    // the logbook and returned. The first poll of a machine never seen before finds none.
    std::vector<state::log_entry> observe(const std::string& controller,
                                          const ifc_client::settings_document& now,
                                          state::instant at);

    void begin_own_write(const std::string& controller, const std::vector<setting_key>& keys,
                         const own_write_author& author);
    // now: the machine's values after the write; nullptr when they are not known.
    void end_own_write(const std::string& controller, const ifc_client::settings_document* now);
    // Values the gateway has just written from the poller's thread (new_value: the value now).
    void note_own_changes(const std::string& controller,
                          std::span<const ifc_client::difference> changed);

    // How often a machine's unchanged values are kept in the store again.
    static constexpr std::chrono::minutes keep_interval{1};

  private:
    struct own_mark {
        own_write_author author;
        bool open = true;  // the write is under way; closed: its outcome is unknown
    };
    struct machine {
        std::mutex mutex;
        std::optional<ifc_client::settings_document> baseline;
        state::instant seen_at{};
        state::instant kept_at{};
        std::map<setting_key, own_mark> own;
    };

    machine& machine_of(const std::string& controller);

    logbook& log_;
    std::mutex machines_mutex_;
    std::map<std::string, std::unique_ptr<machine>> machines_;
};

}  // namespace gateway::mill
