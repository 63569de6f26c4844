#include "gateway/mill/state_json.h"

#include "gateway/mill/change_json.h"

namespace gateway::mill {

using json = nlohmann::ordered_json;

namespace {

json time_json(const std::optional<state::instant>& t) {
    return t ? json(state::instant_text(*t)) : json(nullptr);
}

// A JSON text the state keeps (a plan, a list of changes, a document) as a value; null when
// there is none or it cannot be read.
json embedded(const std::string& text) {
    if (text.empty()) return nullptr;
    json value = json::parse(text, nullptr, false);
    return value.is_discarded() ? json(nullptr) : value;
}

void add_version_ref(json& out, const state::version_ref& ref) {
    out["style"] = ref.style;
    out["version"] = ref.number;
    out["label"] = state::version_label(ref);
}

}  // namespace

json version_json(const state::library_version& v, bool with_document) {
    json out = json::object();
    add_version_ref(out, v.ref);
    out["note"] = v.note;
    out["source"] = v.source;
    out["saved_at"] = state::instant_text(v.saved_at);
    out["saved_by"] = v.saved_by.who;
    out["saved_from"] = v.saved_by.address;
    out["hidden"] = v.hidden();
    out["hidden_at"] = time_json(v.hidden_at);
    out["hidden_by"] = v.hidden() ? json(v.hidden_by) : json(nullptr);
    if (with_document) out["document"] = embedded(v.document);
    return out;
}

json assignment_json(const state::assignment& a) {
    json out{{"controller", a.controller}};
    add_version_ref(out, a.version);
    out["hidden"] = a.hidden;
    out["assigned_at"] = state::instant_text(a.at);
    out["assigned_by"] = a.by.who;
    return out;
}

json rollout_json(const state::rollout& r) {
    json out{{"id", r.id}};
    add_version_ref(out, r.version);
    out["state"] = std::string(state::state_name(r.state));
    out["parallel"] = r.options.parallel;
    out["pause_after_first"] = r.options.pause_after_first;
    out["created_at"] = state::instant_text(r.created_at);
    out["created_by"] = r.by.who;
    out["created_from"] = r.by.address;
    out["reason"] = r.reason;
    out["started_at"] = time_json(r.started_at);
    out["ended_at"] = time_json(r.ended_at);
    out["end_reason"] = r.end_reason;
    json counts = json::object();
    for (const state::machine_state s : state::all_machine_states)
        counts[std::string(state::state_name(s))] = r.count(s);
    out["counts"] = std::move(counts);
    if (r.machines.empty()) return out;
    json machines = json::array();
    for (const state::rollout_machine& m : r.machines) {
        machines.push_back(
            json{{"position", m.position},
                 {"controller", m.controller},
                 {"state", std::string(state::state_name(m.state))},
                 {"planned_values", m.planned_values ? json(*m.planned_values) : json(nullptr)},
                 {"plan", embedded(m.plan)},
                 {"values_written", m.values_written},
                 {"changes", embedded(m.changes)},
                 {"reason", m.reason},
                 {"started_at", time_json(m.started_at)},
                 {"ended_at", time_json(m.ended_at)},
                 {"apply_ms", m.apply_ms}});
    }
    out["machines"] = std::move(machines);
    return out;
}

json drift_json(const drift_status& d) {
    json out = json::object();
    add_version_ref(out, d.version);
    out["matches"] = d.matches();
    out["values"] = d.values;
    out["summary"] = d.summary();
    out["differences"] = changes_json(d.differences);
    return out;
}

json health_json(const state::store_health& h) {
    return json{{"available", h.available()},
                {"readable", h.readable},
                {"writable", h.writable},
                {"reason", h.reason}};
}

}  // namespace gateway::mill
