// Lists of changes as JSON, as the roll-outs keep them (the dry run's plan, what a write did)
// and the API shows them (drift, comparisons): one shape everywhere. A change:
//   {"section": "valves", "colour": 2, "key": "main_on", "from": 90, "to": 100}
// ("colour" for targets and valves only; "from" and "to" are numbers, or an item's name in the
// histogram selection); a section in one document only:
//   {"section": "valves", "colour": 4, "only_in": "first"}.
// Settings documents themselves are written only by client/document_json.h.
#pragma once

#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "client/document_apply.h"
#include "client/document_diff.h"

namespace gateway::mill {

nlohmann::ordered_json change_json(const ifc_client::difference& d);
nlohmann::ordered_json changes_json(std::span<const ifc_client::difference> differences);

// What an apply did: {"steps": [...], "restore": [...], "not_restored": [...]}, each step
// {"section", "colour", "outcome", "changes": [{"key", "from", "to", "now"}], "failure"}.
nlohmann::ordered_json apply_json(const ifc_client::apply_report& report);

// The changes a plan (a dry run) would make, as a list of changes.
nlohmann::ordered_json plan_json(std::span<const ifc_client::apply_step> steps);

}  // namespace gateway::mill
