// What a roll-out keeps of one machine's write: its state (applied, restored, failed, unknown),
// the reason in words, the changes, the logbook entries of every value that landed on the
// machine (the writes, and the writes back after a failure), and the values the machine holds
// afterwards when they are known.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/document_apply.h"
#include "gateway/state/records.h"

namespace gateway::mill {

struct machine_outcome {
    state::machine_state state = state::machine_state::failed;
    std::string reason;
    int values_written = 0;  // values that differ from before the write now
    std::string changes;     // mill/change_json.h's apply_json, as text
    std::vector<state::log_entry> entries;
    std::optional<ifc_client::settings_document> now;  // the machine's values afterwards
};

// Who wrote, for the logbook entries.
struct write_author {
    std::string controller;
    state::actor by;
    std::string reason;
    state::instant at{};
};

machine_outcome outcome_of(const ifc_client::result<ifc_client::apply_report>& applied,
                           const write_author& author);

// "refused: connection refused (...)": an error of the client library in words.
std::string error_text(const ifc_client::error& failure);

// The logbook entries of the values a report's steps and restore steps changed on the machine.
std::vector<state::log_entry> entries_of(const ifc_client::apply_report& report,
                                         const write_author& author);
// The logbook entries of values a write changed (old: before, new: after).
std::vector<state::log_entry> entries_of(std::span<const ifc_client::difference> changed,
                                         const write_author& author);

}  // namespace gateway::mill
