// The records of the state as the API shows them, in one place: a library version, an
// assignment, a roll-out with its machines, a drift status, the store's health. Logbook
// entries are in logbook_export.h (entry_json), lists of changes in change_json.h. Times are
// UTC texts ("2026-12-10T08:15:00.123Z"); members that are absent are null.
#pragma once

#include <nlohmann/json.hpp>

#include "gateway/mill/drift.h"
#include "gateway/state/store.h"

namespace gateway::mill {

// {"style", "version", "label", "note", "source", "saved_at", "saved_by", "saved_from",
//  "hidden", "hidden_at", "hidden_by"}; with_document adds "document", the settings document
// as a JSON value.
nlohmann::ordered_json version_json(const state::library_version& v, bool with_document = false);
// {"controller", "style", "version", "label", "hidden", "assigned_at", "assigned_by"}
nlohmann::ordered_json assignment_json(const state::assignment& a);
// {"id", "style", "version", "label", "state", "parallel", "pause_after_first", "created_at",
//  "created_by", "created_from", "reason", "started_at", "ended_at", "end_reason", "counts":
//  {"pending": n, ...}, "machines": [{"position", "controller", "state", "planned_values",
//  "plan", "values_written", "changes", "reason", "started_at", "ended_at", "apply_ms"}]}
// (no "machines" in a list of roll-outs).
nlohmann::ordered_json rollout_json(const state::rollout& r);
// {"style", "version", "label", "matches", "values", "summary", "differences": [...]}
nlohmann::ordered_json drift_json(const drift_status& d);
// {"available", "readable", "writable", "reason"}
nlohmann::ordered_json health_json(const state::store_health& h);

}  // namespace gateway::mill
