// Roll-outs: create (with its dry run), list, show, start, resume, cancel.
#include "gateway/http_replies.h"
#include "gateway/mill/state_json.h"
#include "gateway/mill_routes.h"

namespace gateway {

namespace {

constexpr std::size_t rollouts_per_page = 100;

// The roll-out of a path's id; nullopt after answering 404.
std::optional<std::int64_t> rollout_id(const std::string& text, http_response& res) {
    const auto id = whole_number_of(text);
    if (!id || *id < 1) {
        send_error(res, 404, "no roll-out " + text);
        return std::nullopt;
    }
    return id;
}

void send_rollout(mill_wiring& mill, std::int64_t id, int status, http_response& res) {
    auto found = mill.context().rollouts().find(id);
    if (store_failed(found, res)) return;
    send_mill_json(res, status, mill::rollout_json(found.value()));
}

// The roll-out a body asks for, or nullopt after answering 400 or 404.
std::optional<mill::rollout_request> request_of(const http_request& req, fleet& machines,
                                                http_response& res) {
    mill::rollout_request request;
    const auto body = write_body(req, res, request.reason);
    if (!body) return std::nullopt;
    const auto style = body->value("style", mill_json());
    const auto version = body->value("version", mill_json());
    if (!style.is_string() || !version.is_number_integer() || version.get<long long>() < 1 ||
        version.get<long long>() > std::numeric_limits<int>::max()) {
        send_error(res, 400, "give \"style\" (a text) and \"version\" (a number from 1)");
        return std::nullopt;
    }
    request.version = {style.get<std::string>(), version.get<int>()};
    const auto parallel = body->value("parallel", mill_json(1));
    if (!parallel.is_number_integer() || parallel.get<long long>() < 1 ||
        parallel.get<long long>() > state::max_parallel) {
        send_error(res, 400, "\"parallel\" is a number 1.." + std::to_string(state::max_parallel));
        return std::nullopt;
    }
    request.options.parallel = parallel.get<int>();
    const auto pause = body->value("pause_after_first", mill_json(false));
    if (!pause.is_boolean()) {
        send_error(res, 400, "\"pause_after_first\" is true or false");
        return std::nullopt;
    }
    request.options.pause_after_first = pause.get<bool>();
    auto names = chosen_controllers(*body, machines, res);
    if (!names) return std::nullopt;
    request.controllers = std::move(*names);
    request.by = actor_of(req);
    return request;
}

void add_reads(mill_router& routes) {
    routes.get("/api/rollouts", [](const http_request& req, const path_parts&, mill_wiring& mill,
                                   http_response& res) {
        std::optional<std::int64_t> before;
        if (const auto text = req.param("before")) {
            before = whole_number_of(*text);
            if (!before) return send_error(res, 400, "before=" + *text + " is not a roll-out");
        }
        auto list = mill.context().store().list_rollouts(rollouts_per_page, before);
        if (store_failed(list, res)) return;
        mill_json rollouts = mill_json::array();
        for (const auto& r : list.value())
            rollouts.push_back(mill::rollout_json(r));
        send_mill_json(res, 200, {{"rollouts", rollouts}});
    });
    routes.get("/api/rollouts/{any}", [](const http_request&, const path_parts& parts,
                                         mill_wiring& mill, http_response& res) {
        if (const auto id = rollout_id(parts[0], res)) send_rollout(mill, *id, 200, res);
    });
}

void add_writes(mill_router& routes, fleet& machines) {
    routes.post("/api/rollouts", [&machines](const http_request& req, const path_parts&,
                                             mill_wiring& mill, http_response& res) {
        const auto request = request_of(req, machines, res);
        if (!request) return;
        auto planned = mill.context().rollouts().plan(*request);
        if (store_failed(planned, res)) return;
        send_mill_json(res, 201, mill::rollout_json(planned.value()));
    });
    using step = state::store_status (mill::rollout_runner::*)(std::int64_t);
    const std::pair<const char*, step> steps[] = {{"start", &mill::rollout_runner::start},
                                                  {"resume", &mill::rollout_runner::resume},
                                                  {"cancel", &mill::rollout_runner::cancel}};
    for (const auto& [word, step_member] : steps) {
        // A copy: a structured binding cannot be captured by every compiler this builds with.
        const step member = step_member;
        routes.post(std::string("/api/rollouts/{any}/") + word,
                    [member](const http_request& req, const path_parts& parts, mill_wiring& mill,
                             http_response& res) {
                        std::string reason;
                        if (!write_body(req, res, reason)) return;
                        const auto id = rollout_id(parts[0], res);
                        if (!id) return;
                        const auto done = (mill.context().rollouts().*member)(*id);
                        if (store_failed(done, res)) return;
                        send_rollout(mill, *id, 200, res);
                    });
    }
}

}  // namespace

void add_rollout_routes(mill_router& routes, fleet& machines) {
    add_reads(routes);
    add_writes(routes, machines);
}

}  // namespace gateway
