#include "gateway/metrics_routes.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "gateway/controller_poller.h"
#include "gateway/controller_view.h"
#include "gateway/http_replies.h"
#include "gateway/metrics.h"
#include "gateway/options.h"
#include "gateway/render_cache.h"
#include "protocol/protocol.h"

namespace gateway {

using httplib::Request;
using httplib::Response;

void add_metrics_routes(httplib::Server& server, fleet& machines, const http_settings& settings) {
    auto metrics_cache = std::make_shared<render_cache>(shared_render_period);
    server.Get("/metrics", [&machines, metrics_cache](const Request&, Response& res) {
        const auto text = metrics_cache->get([&machines] {
            std::vector<controller_view> views;
            for (const auto& poller : machines.pollers())
                views.push_back(poller->view());
            return fleet_metrics(views, steady_clock::now());
        });
        send_shared(res, text, std::string(metrics_content_type).c_str());
    });
    // At most half the HTTP threads poll on request, so that probes cannot starve the API.
    auto probes = std::make_shared<std::atomic<int>>(0);
    const int max_probes = std::max(1, settings.threads / 2);
    server.Get("/probe", [&machines, probes, max_probes](const Request& req, Response& res) {
        if (!req.has_param("target")) {
            res.status = 400;
            res.set_content("the probe needs ?target=HOST[:PORT]\n", "text/plain");
            return;
        }
        auto target = parse_host_port(req.get_param_value("target"), protocol::server_port);
        if (!target) {
            res.status = 400;
            res.set_content("target " + target.failure().detail + "\n", "text/plain");
            return;
        }
        if (probes->fetch_add(1) >= max_probes) {
            probes->fetch_sub(1);
            res.status = 503;
            res.set_content("too many probes at once\n", "text/plain");
            return;
        }
        const auto& poll = machines.settings();
        const controller_address address{"probe", target->first, target->second};
        const poll_outcome outcome = poll_controller(poll.endpoint(address), poll.budget());
        probes->fetch_sub(1);
        res.set_content(probe_metrics(outcome), std::string(metrics_content_type).c_str());
    });
}

}  // namespace gateway
