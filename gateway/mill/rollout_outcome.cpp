#include "gateway/mill/rollout_outcome.h"

#include "gateway/json_text.h"
#include "gateway/mill/change_json.h"
#include "gateway/mill/document_values.h"

namespace gateway::mill {

using ifc_client::apply_report;
using ifc_client::apply_step;
using state::machine_state;

namespace {

constexpr std::string_view restore_reason = "written back after a failed write";

std::string place_text(const apply_step& step) {
    std::string text(ifc_client::section_name(step.what));
    if (ifc_client::per_colour(step.what)) text += " of colour " + std::to_string(step.colour);
    return text;
}

// "valves of colour 2: not applied (main_on=90 (asked for 100))"
std::string failed_step_text(const apply_step& step) {
    std::string text =
        place_text(step) + ": " + std::string(ifc_client::outcome_text(step.outcome));
    if (step.failure) {
        text += " (" + error_text(*step.failure) + ")";
    } else if (const std::string missing = step.not_applied_text(); !missing.empty()) {
        text += " (" + missing + ")";
    }
    return text;
}

state::log_entry entry_for(const write_author& author, ifc_client::section where, int colour,
                           const std::string& key, const ifc_client::setting_value& from,
                           const ifc_client::setting_value& to, std::string_view reason) {
    state::log_entry e;
    e.at = author.at;
    e.controller = author.controller;
    e.section = std::string(ifc_client::section_name(where));
    e.colour = ifc_client::per_colour(where) ? colour : 0;
    e.key = key;
    e.old_value = ifc_client::value_text(from);
    e.new_value = ifc_client::value_text(to);
    e.origin = state::change_origin::gateway;
    e.who = author.by.who;
    e.address = author.by.address;
    e.reason = std::string(reason);
    return e;
}

void add_entries(std::vector<state::log_entry>& out, const apply_step& step,
                 const write_author& author, std::string_view reason) {
    for (const ifc_client::value_change& c : step.changes) {
        if (c.now != c.to) continue;  // did not land (or is not known to have)
        out.push_back(entry_for(author, step.what, step.colour, c.key, c.from, c.to, reason));
    }
}

// The values after an apply whose every step was read back: what it read first, with the
// values written.
ifc_client::settings_document values_after(const apply_report& report) {
    ifc_client::settings_document now = report.before;
    for (const apply_step& step : report.steps) {
        for (const auto& c : step.changes)
            set_value(now, setting_key{step.what, step.colour, c.key}, c.to);
    }
    return now;
}

}  // namespace

std::string error_text(const ifc_client::error& failure) {
    std::string text(ifc_client::errc_name(failure.code));
    if (!failure.detail.empty()) text += ": " + failure.detail;
    return text;
}

std::vector<state::log_entry> entries_of(const apply_report& report, const write_author& author) {
    std::vector<state::log_entry> entries;
    for (const apply_step& step : report.steps)
        add_entries(entries, step, author, author.reason);
    for (const apply_step& step : report.restore)
        add_entries(entries, step, author, restore_reason);
    return entries;
}

std::vector<state::log_entry> entries_of(std::span<const ifc_client::difference> changed,
                                         const write_author& author) {
    std::vector<state::log_entry> entries;
    for (const ifc_client::difference& d : changed) {
        if (!d.old_value || !d.new_value) continue;  // a whole part, not a value
        entries.push_back(
            entry_for(author, d.where, d.colour, d.key, *d.old_value, *d.new_value, author.reason));
    }
    return entries;
}

machine_outcome outcome_of(const ifc_client::result<apply_report>& applied,
                           const write_author& author) {
    machine_outcome out;
    if (!applied) {
        out.state = machine_state::failed;
        out.reason = "nothing written: " + error_text(applied.failure());
        return out;
    }
    const apply_report& report = applied.value();
    out.changes = json_text(apply_json(report));
    out.entries = entries_of(report, author);
    const apply_step* failed = report.failed_step();
    if (failed == nullptr) {
        out.state = machine_state::applied;
        out.values_written = static_cast<int>(report.values());
        out.now = values_after(report);
        return out;
    }
    out.reason = failed_step_text(*failed);
    if (!report.now) {
        out.state = machine_state::unknown;
        out.reason +=
            "; the machine could not be read afterwards (" +
            (report.now_error ? error_text(*report.now_error) : std::string("no answer")) +
            "): it may hold some of the new values";
        return out;
    }
    out.now = report.now;
    out.values_written = static_cast<int>(report.not_restored.size());
    if (report.not_restored.empty()) {
        out.state = machine_state::restored;
        out.reason += "; every value changed was written back";
    } else {
        out.state = machine_state::failed;
        out.reason += "; " + std::to_string(report.not_restored.size()) +
                      (report.not_restored.size() == 1 ? " value differs" : " values differ") +
                      " from before and could not be written back";
    }
    return out;
}

}  // namespace gateway::mill
