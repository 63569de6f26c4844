// The settings library: list, show, export, save from a machine, import, hide.
#include "gateway/http_replies.h"
#include "gateway/mill/state_json.h"
#include "gateway/mill_routes.h"

namespace gateway {

namespace {

bool hidden_asked(const http_request& req) {
    const auto hidden = req.param("hidden");
    return hidden && (*hidden == "1" || *hidden == "true");
}

mill_json versions_json(const std::vector<state::library_version>& versions, bool hidden) {
    mill_json list = mill_json::array();
    for (const auto& v : versions) {
        if (hidden || !v.hidden()) list.push_back(mill::version_json(v));
    }
    return {{"versions", list}};
}

void add_reads(mill_router& routes) {
    routes.get("/api/library", [](const http_request& req, const path_parts&, mill_wiring& mill,
                                  http_response& res) {
        auto versions = mill.context().library().list({"", hidden_asked(req)});
        if (store_failed(versions, res)) return;
        send_mill_json(res, 200, versions_json(versions.value(), true));
    });
    routes.get("/api/library/{name}", [](const http_request& req, const path_parts& parts,
                                         mill_wiring& mill, http_response& res) {
        // Hidden versions are read too, so that a style whose versions are all hidden is no
        // unknown style.
        auto versions = mill.context().library().list({parts[0], true});
        if (store_failed(versions, res)) return;
        if (versions->empty()) {
            return send_error(res, 404, "the library holds no style \"" + parts[0] + "\"");
        }
        send_mill_json(res, 200, versions_json(versions.value(), hidden_asked(req)));
    });
    routes.get("/api/library/{name}/{any}", [](const http_request&, const path_parts& parts,
                                               mill_wiring& mill, http_response& res) {
        const auto ref = version_of(parts[0], parts[1], res);
        if (!ref) return;
        auto version = mill.context().library().show(*ref);
        if (store_failed(version, res)) return;
        send_mill_json(res, 200, mill::version_json(version.value(), true));
    });
    routes.get(
        "/api/library/{name}/{any}/document",
        [](const http_request&, const path_parts& parts, mill_wiring& mill, http_response& res) {
            const auto ref = version_of(parts[0], parts[1], res);
            if (!ref) return;
            auto text = mill.context().library().export_text(*ref);
            if (store_failed(text, res)) return;
            res.status = 200;
            res.set_header("Cache-Control", "no-store");
            // The style's name and the number are of letters, digits, '-', '_' and '.' only.
            res.set_header("Content-Disposition", "attachment; filename=\"" + ref->style + "-v" +
                                                      std::to_string(ref->number) + ".json\"");
            res.set_text(std::move(text.value()), json_type);
        });
}

void add_writes(mill_router& routes, fleet& machines) {
    routes.post("/api/library", [&machines](const http_request& req, const path_parts&,
                                            mill_wiring& mill, http_response& res) {
        std::string reason;
        const auto body = write_body(req, res, reason);
        if (!body) return;
        const auto controller = text_member(*body, "controller", res);
        const auto style = text_member(*body, "style", res);
        const auto note = text_member(*body, "note", res);
        if (!controller || !style || !note) return;
        if (controller->empty() || style->empty()) {
            return send_error(res, 400, "give \"controller\" and \"style\"");
        }
        if (!state::is_style_name(*style)) {
            return send_error(
                res, 400, "style \"" + *style + "\": use 1 to 64 letters, digits, '-', '_' or '.'");
        }
        if (machines.find(*controller) == nullptr) {
            return send_error(res, 404, "no controller named \"" + *controller + "\"");
        }
        // Read fresh, in the controller's slot: the last poll may be a poll interval old.
        auto doc = mill.machines().read(*controller);
        if (!doc) {
            return send_error(res, 502, "cannot read " + *controller + ": " + doc.failure().detail);
        }
        auto saved = mill.context().library().save(*style, *note, std::move(doc.value()),
                                                   actor_of(req), reason);
        if (store_failed(saved, res)) return;
        send_mill_json(res, 201, mill::version_json(saved.value()));
    });
    routes.post("/api/library/import", [](const http_request& req, const path_parts&,
                                          mill_wiring& mill, http_response& res) {
        std::string reason;
        const auto body = write_body(req, res, reason);
        if (!body) return;
        const auto style = text_member(*body, "style", res);
        const auto note = text_member(*body, "note", res);
        if (!style || !note) return;
        const auto document = body->find("document");
        if (document == body->end() || !document->is_object()) {
            return send_error(res, 400, "\"document\" must be a settings document (an object)");
        }
        auto saved = mill.context().library().import_text(document->dump(), *style, *note,
                                                          actor_of(req), reason);
        if (store_failed(saved, res)) return;
        send_mill_json(res, 201, mill::version_json(saved.value()));
    });
    routes.del("/api/library/{name}/{any}", [](const http_request& req, const path_parts& parts,
                                               mill_wiring& mill, http_response& res) {
        // A DELETE may carry a body with the reason alone.
        std::string reason;
        if (!write_body(req, res, reason)) return;
        const auto ref = version_of(parts[0], parts[1], res);
        if (!ref) return;
        auto hidden = mill.context().library().hide(*ref, actor_of(req), reason);
        if (store_failed(hidden, res)) return;
        send_mill_json(res, 200, mill::version_json(hidden.value()));
    });
}

}  // namespace

void add_library_routes(mill_router& routes, fleet& machines) {
    add_reads(routes);
    add_writes(routes, machines);
}

}  // namespace gateway
