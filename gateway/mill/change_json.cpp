#include "gateway/mill/change_json.h"

namespace gateway::mill {

using json = nlohmann::ordered_json;

namespace {

json value_json(const ifc_client::setting_value& value) {
    if (const auto* n = std::get_if<std::int32_t>(&value)) return *n;
    return std::get<std::string>(value);
}

json place_json(ifc_client::section where, int colour) {
    json place = json::object();
    place["section"] = std::string(ifc_client::section_name(where));
    if (ifc_client::per_colour(where)) place["colour"] = colour;
    return place;
}

json step_json(const ifc_client::apply_step& step) {
    json out = place_json(step.what, step.colour);
    out["outcome"] = std::string(ifc_client::outcome_text(step.outcome));
    json changes = json::array();
    for (const auto& c : step.changes) {
        json change{{"key", c.key}, {"from", value_json(c.from)}, {"to", value_json(c.to)}};
        change["now"] = c.now ? value_json(*c.now) : json(nullptr);
        changes.push_back(std::move(change));
    }
    out["changes"] = std::move(changes);
    if (step.failure) out["failure"] = step.failure->detail;
    return out;
}

}  // namespace

json change_json(const ifc_client::difference& d) {
    json out = place_json(d.where, d.colour);
    if (d.only_in) {
        out["only_in"] = *d.only_in == ifc_client::document_side::first ? "first" : "second";
        return out;
    }
    out["key"] = d.key;
    out["from"] = d.old_value ? value_json(*d.old_value) : json(nullptr);
    out["to"] = d.new_value ? value_json(*d.new_value) : json(nullptr);
    return out;
}

json changes_json(std::span<const ifc_client::difference> differences) {
    json out = json::array();
    for (const auto& d : differences)
        out.push_back(change_json(d));
    return out;
}

json apply_json(const ifc_client::apply_report& report) {
    json steps = json::array();
    for (const auto& step : report.steps)
        steps.push_back(step_json(step));
    json restore = json::array();
    for (const auto& step : report.restore)
        restore.push_back(step_json(step));
    return json{{"steps", std::move(steps)},
                {"restore", std::move(restore)},
                {"not_restored", changes_json(report.not_restored)}};
}

json plan_json(std::span<const ifc_client::apply_step> steps) {
    json out = json::array();
    for (const auto& step : steps) {
        for (const auto& c : step.changes) {
            json change = place_json(step.what, step.colour);
            change["key"] = c.key;
            change["from"] = value_json(c.from);
            change["to"] = value_json(c.to);
            out.push_back(std::move(change));
        }
    }
    return out;
}

}  // namespace gateway::mill
