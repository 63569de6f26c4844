#include "gateway/metrics_routes.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "gateway/controller_poller.h"
#include "gateway/controller_view.h"
#include "gateway/http_replies.h"
#include "gateway/metrics.h"
#include "gateway/options.h"
#include "gateway/peer_text.h"
#include "gateway/render_cache.h"
#include "protocol/protocol.h"

namespace gateway {

bool probe_allowed(const fleet& machines, const http_settings& settings, const std::string& host,
                   std::uint16_t port) {
    const auto& pollers = machines.pollers();
    const bool configured = std::any_of(pollers.begin(), pollers.end(), [&](const auto& poller) {
        const controller_address& a = poller->address();
        return a.port == port && same_token(a.host, host);
    });
    return configured ||
           std::any_of(settings.probe_allow.begin(), settings.probe_allow.end(),
                       [&](const network& allowed) { return allowed.contains(host); });
}

namespace {

// The detail a request asks for with ?metrics=, else the gateway's own (--metrics); nullopt
// after answering 400 for an unknown one.
std::optional<metrics_detail> requested_detail(const http_request& req, metrics_detail otherwise,
                                               http_response& res) {
    const auto asked = req.param("metrics");
    if (!asked) return otherwise;
    if (const auto detail = parse_metrics_detail(*asked)) return detail;
    send_text(res, 400, "metrics=" + peer_text(*asked) + ": use basic, settings or full\n");
    return std::nullopt;
}

}  // namespace

void add_metrics_routes(http_router& router, fleet& machines, const http_settings& settings,
                        std::shared_ptr<task_pool> probes) {
    // One cache per detail, each rendered at most once a period however many scrape it.
    auto caches = std::make_shared<std::vector<std::unique_ptr<render_cache>>>();
    for (std::size_t i = 0; i < metrics_detail_names.size(); ++i)
        caches->push_back(std::make_unique<render_cache>(shared_render_period));
    const metrics_detail default_detail = settings.metrics;
    router.get("/metrics", [&machines, caches, default_detail](
                               const http_request& req, const path_parts&, http_response& res) {
        const auto detail = requested_detail(req, default_detail, res);
        if (!detail) return;
        render_cache& cache = *(*caches)[static_cast<std::size_t>(*detail)];
        const auto text = cache.get([&machines, detail] {
            std::vector<controller_view> views;
            for (const auto& poller : machines.pollers())
                views.push_back(poller->view());
            return fleet_metrics(views, steady_clock::now(), *detail);
        });
        res.share_text(text, metrics_content_type);
    });
    router.get_deferred("/probe", [&machines, settings, probes](const http_request& req,
                                                                const path_parts&,
                                                                reply_function reply) {
        http_response res;
        const auto text = req.param("target");
        if (!text) {
            send_text(res, 400, "the probe needs ?target=HOST[:PORT]\n");
            return reply(std::move(res));
        }
        auto target = parse_host_port(*text, protocol::server_port);
        if (!target) {
            send_text(res, 400, "target " + target.failure().detail + "\n");
            return reply(std::move(res));
        }
        // The controller label: the name asked for, else the target as written.
        const std::string name = req.param("name").value_or(*text);
        if (req.param("name") && !is_controller_name(name)) {
            send_text(res, 400,
                      "name=" + peer_text(name) + ": use 1 to " +
                          std::to_string(max_controller_name) +
                          " letters, digits, '-', '_' or '.'\n");
            return reply(std::move(res));
        }
        const auto detail = requested_detail(req, settings.metrics, res);
        if (!detail) return reply(std::move(res));
        if (!probe_allowed(machines, settings, target->first, target->second)) {
            send_text(res, 403,
                      "target " + *text +
                          " is not one of the gateway's controllers (--probe-allow opens "
                          "other addresses)\n");
            return reply(std::move(res));
        }
        const controller_address address{"probe", target->first, target->second};
        // The reply is shared: a task that is never run leaves it here to answer 503.
        auto shared_reply = std::make_shared<reply_function>(std::move(reply));
        const bool started =
            probes->try_run([&machines, address, name, detail = *detail, shared_reply] {
                const auto& poll = machines.settings();
                const poll_outcome outcome = poll_controller(poll.endpoint(address), poll.budget());
                http_response answer;
                answer.set_text(probe_metrics(outcome, name, detail), metrics_content_type);
                (*shared_reply)(std::move(answer));
            });
        if (!started) {
            send_text(res, 503, "too many probes at once\n");
            (*shared_reply)(std::move(res));
        }
    });
}

}  // namespace gateway
