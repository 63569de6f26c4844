// Applying a settings document to a controller with proof that it landed.
//
// The controller is read first (in one connection, as read_document does); then every settings
// line whose values differ from the document's is written, one step per line: the typed
// read-modify-write of settings_access.h, one PUT per line (the selection, whose write command
// takes one item, one PUT per item; the histogram selection one per side), each followed by a
// read-back. Lines that already hold the document's values are not written.
//
// When a step fails (its read-back does not show a value, the controller refuses it, the
// connection fails, or the outcome is unknown), no further step runs: the lines already changed,
// the failing one included, are written back to the values read first, newest first, and the
// controller is read again (on a new connection when the first one is lost) to tell what it
// holds now and what could not be restored.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/document_diff.h"
#include "client/settings_document.h"

namespace ifc_client {

enum class step_outcome {
    applied,      // the read-back shows every value written
    not_applied,  // the read-back does not show a value: the controller does not keep it
    unknown,      // the request went out whole, but its confirmation or the read-back did not
                  // come: the controller may or may not hold the values
    failed,       // the exchange failed before the step was done (the step's earlier writes,
                  // if any, may have landed: the restore finds out)
};
// "applied", "not applied", "outcome unknown", "failed"
std::string_view outcome_text(step_outcome outcome);

struct value_change {
    std::string key;
    setting_value from;  // the controller's value before the step
    setting_value to;    // the value written
    // As read back; for the step that failed, as read again before the restore (on a new
    // connection when the first was lost). Empty when it could not be read.
    std::optional<setting_value> now;
};

// One settings line (of a colour) brought to the document's values.
struct apply_step {
    section what = section::status;
    int colour = 0;  // targets and valves
    std::vector<value_change> changes;
    int puts = 0;  // PUT requests sent; in a plan, those it will send
    step_outcome outcome = step_outcome::applied;
    std::optional<error> failure;  // outcome unknown or failed: why
    // The values the read-back does not show: "main_on=90 (asked for 100)".
    std::string not_applied_text() const;
};

struct apply_report {
    settings_document before;  // what the controller held, read first
    bool dry_run = false;
    // The plan (dry run), or the steps run in order: none runs after a step that failed.
    std::vector<apply_step> steps;
    // After a failed step: the writes of the values read first back to the lines changed,
    // newest first (outcome applied: restored; a step with no changes had nothing to restore).
    std::vector<apply_step> restore;
    // After a failed step: what the controller holds now, read at the end; empty when it could
    // not be read (now_error says why).
    std::optional<settings_document> now;
    std::optional<error> now_error;
    // After a failed step: the values of the lines changed that still differ from before
    // (old: before the apply, new: now). Not known when now is empty.
    std::vector<difference> not_restored;

    // The first step that did not apply, or nullptr when every one did.
    const apply_step* failed_step() const;
    int puts() const;  // of the steps (the restore not counted)
    std::size_t values() const;
};

// The steps that bring the lines of scope from before to wanted, none sent. Lines wanted does
// not hold are left as they are.
std::vector<apply_step> plan_apply(const settings_document& before, const settings_document& wanted,
                                   const document_scope& scope = {});

// A new connection to the controller.
using connector = std::function<result<connection>()>;

struct apply_options {
    document_scope scope;
    bool dry_run = false;  // read and plan only
};

// Applies wanted to the controller connect reaches. An error only when nothing was written:
// the document does not pass check_document (errc::bad_request), or the controller cannot be
// reached or read at the start. Every other outcome, failures of steps included, is in the
// report.
result<apply_report> apply_document(const connector& connect, const settings_document& wanted,
                                    const apply_options& options = {});

}  // namespace ifc_client
