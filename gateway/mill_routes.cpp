#include "gateway/mill_routes.h"

#include "client/document_json.h"
#include "gateway/http_replies.h"
#include "gateway/json_text.h"
#include "gateway/mill/change_json.h"
#include "gateway/mill/snapshot_document.h"
#include "gateway/mill/state_json.h"

namespace gateway {

namespace {

// GET /api/state: answered on the server's thread (it reads no database), 200 whenever the
// gateway has a state directory, so that the pages know to link to the mill's pages.
void add_state_route(http_router& router, mill_wiring* mill) {
    router.get("/api/state", [mill](const http_request&, const path_parts&, http_response& res) {
        if (mill == nullptr) return send_error(res, 404, std::string(no_state_message));
        mill_json answer = mill::health_json(mill->context().health());
        answer["state_dir"] = mill->state_dir();
        answer["logbook_days"] = mill->logbook_days();
        send_mill_json(res, 200, answer);
    });
}

// One side of a comparison: its label and document, or nullopt after answering.
struct compared {
    std::string label;
    ifc_client::settings_document document;
};

std::optional<compared> side_of(const std::string& name, const std::optional<std::string>& side,
                                fleet& machines, mill_wiring& mill, http_response& res) {
    if (!side || side->empty()) {
        send_error(res, 400, "give ?a=SIDE&b=SIDE, SIDE being STYLE/VERSION or @CONTROLLER");
        return std::nullopt;
    }
    if (side->starts_with('@')) {
        const std::string controller = side->substr(1);
        const controller_poller* poller = machines.find(controller);
        if (poller == nullptr) {
            send_error(res, 404, "no controller named \"" + controller + "\"");
            return std::nullopt;
        }
        const controller_view view = poller->view();
        if (!view.snapshot) {
            send_error(res, 409,
                       controller + " has not been read yet: " +
                           (view.last_error.empty() ? "no poll so far" : view.last_error));
            return std::nullopt;
        }
        return compared{controller, mill::document_of(*view.snapshot,
                                                      {controller, view.address.text(), {}}, "")};
    }
    const auto slash = side->rfind('/');
    if (slash == std::string::npos) {
        send_error(res, 400, name + "=" + *side + " is neither STYLE/VERSION nor @CONTROLLER");
        return std::nullopt;
    }
    const auto ref = version_of(side->substr(0, slash), side->substr(slash + 1), res);
    if (!ref) return std::nullopt;
    auto doc = mill.context().library().document(*ref);
    if (store_failed(doc, res)) return std::nullopt;
    return compared{state::version_label(*ref), std::move(doc.value())};
}

mill_json document_value(const ifc_client::settings_document& doc) {
    return mill_json::parse(ifc_client::format_document(doc), nullptr, false);
}

void add_compare_route(mill_router& routes, fleet& machines) {
    routes.get("/api/compare", [&machines](const http_request& req, const path_parts&,
                                           mill_wiring& mill, http_response& res) {
        const auto a = side_of("a", req.param("a"), machines, mill, res);
        if (!a) return;
        const auto b = side_of("b", req.param("b"), machines, mill, res);
        if (!b) return;
        const auto differences = mill::compare_documents(a->document, b->document);
        send_mill_json(res, 200,
                       {{"a", {{"label", a->label}, {"document", document_value(a->document)}}},
                        {"b", {{"label", b->label}, {"document", document_value(b->document)}}},
                        {"differences", mill::changes_json(differences)},
                        {"equal", differences.empty()}});
    });
}

mill_json assignments_of(const std::vector<state::assignment>& all,
                         const std::vector<std::string>* only) {
    mill_json list = mill_json::array();
    for (const auto& a : all) {
        if (only && std::find(only->begin(), only->end(), a.controller) == only->end()) continue;
        list.push_back(mill::assignment_json(a));
    }
    return list;
}

void add_assignment_routes(mill_router& routes, fleet& machines) {
    routes.get("/api/assignments", [](const http_request&, const path_parts&, mill_wiring& mill,
                                      http_response& res) {
        auto all = mill.context().store().list_assignments();
        if (store_failed(all, res)) return;
        send_mill_json(res, 200, {{"assignments", assignments_of(all.value(), nullptr)}});
    });
    routes.post("/api/assignments", [&machines](const http_request& req, const path_parts&,
                                                mill_wiring& mill, http_response& res) {
        std::string reason;
        const auto body = write_body(req, res, reason);
        if (!body) return;
        const auto names = chosen_controllers(*body, machines, res);
        if (!names) return;
        const auto style = body->value("style", mill_json());
        const auto version = body->value("version", mill_json());
        std::optional<state::version_ref> ref;
        if (!style.is_null() || !version.is_null()) {
            if (!style.is_string() || !version.is_number_integer() ||
                version.get<long long>() < 1 ||
                version.get<long long>() > std::numeric_limits<int>::max()) {
                return send_error(res, 400,
                                  "give \"style\" (a text) and \"version\" (a number from 1), or "
                                  "both null to remove the assignment");
            }
            ref = state::version_ref{style.get<std::string>(), version.get<int>()};
        }
        const auto assigned = mill.context().drift().assign(*names, ref, actor_of(req), reason);
        if (store_failed(assigned, res)) return;
        mill.refresh_drift(*names);
        auto all = mill.context().store().list_assignments();
        if (store_failed(all, res)) return;
        send_mill_json(res, 200, {{"assignments", assignments_of(all.value(), &*names)}});
    });
}

void add_drift_route(mill_router& routes, fleet& machines) {
    routes.get("/api/controllers/{name}/drift", [&machines](const http_request&,
                                                            const path_parts& parts,
                                                            mill_wiring& mill, http_response& res) {
        const std::string& name = parts[0];
        const controller_poller* poller = machines.find(name);
        if (poller == nullptr) return send_error(res, 404, "no controller named \"" + name + "\"");
        auto drift = mill.context().drift().last(name);
        if (!drift && mill.context().drift().assigned(name)) {
            // Assigned since the last poll: compared now with what that poll read.
            const controller_view view = poller->view();
            if (view.snapshot) {
                drift = mill.context().drift().check(
                    name, mill::document_of(*view.snapshot, {name, view.address.text(), {}}, ""));
            }
        }
        send_mill_json(res, 200, drift ? mill::drift_json(*drift) : mill_json());
    });
}

}  // namespace

void add_mill_routes(http_router& router, fleet& machines, mill_wiring* mill,
                     std::shared_ptr<task_pool> work) {
    add_state_route(router, mill);
    mill_router routes(router, mill, std::move(work));
    add_compare_route(routes, machines);
    add_assignment_routes(routes, machines);
    add_drift_route(routes, machines);
    add_library_routes(routes, machines);
    add_rollout_routes(routes, machines);
    add_logbook_routes(routes);
}

}  // namespace gateway
