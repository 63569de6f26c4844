#include "gateway/http_api.h"

#include <atomic>
#include <charconv>

#include <nlohmann/json.hpp>

#include "client/commands.h"
#include "client/value_ranges.h"
#include "gateway/controller_json.h"
#include "gateway/metrics.h"
#include "gateway/options.h"
#include "gateway/render_cache.h"
#include "gateway/web_assets.h"
#include "protocol/protocol.h"

namespace gateway {

namespace {

using json = nlohmann::ordered_json;
using httplib::Request;
using httplib::Response;

constexpr const char* json_type = "application/json";
// Controller names as options.cpp allows them.
constexpr const char* name_pattern = "([A-Za-z0-9._-]+)";

void send_json(Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, json_type);
}

// Sends a shared text without copying it: it lives as long as the response needs it.
void send_shared(Response& res, std::shared_ptr<const std::string> text, const char* type) {
    const std::size_t size = text->size();
    res.set_content_provider(
        size, type, [text](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            sink.write(text->data() + offset, length);
            return true;
        });
}

// The list and the metrics are rendered at most once a second for all their readers.
constexpr std::chrono::milliseconds shared_render_period{1000};

void send_error(Response& res, int status, const std::string& message) {
    send_json(res, status, json{{"message", message}}.dump());
}

// Compares without returning early, so that the time taken tells nothing of the token.
bool same_token(std::string_view given, std::string_view expected) {
    unsigned char differ = given.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        differ |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
    }
    return differ == 0;
}

bool is_json_type(const std::string& content_type) {
    std::string lower;
    for (char c : content_type)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == json_type || lower.starts_with(std::string(json_type) + ";");
}

std::string error_text(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 404:
            return "no such resource";
        case 405:
            return "method not allowed here";
        case 408:
            return "request time-out";
        case 413:
            return "request body too large (at most " + std::to_string(max_body_bytes) + " bytes)";
        case 414:
            return "request target too long";
        case 431:
            return "request header fields too large";
        default:
            return "error " + std::to_string(status);
    }
}

bool is_write_method(const std::string& method) {
    return method == "PATCH" || method == "POST" || method == "PUT" || method == "DELETE";
}

// The checks every write passes before its body is looked at; true when it may go on.
// "localhost:8090", "127.0.0.1", "[::1]:8090": a name that only this host answers to.
bool loopback_host(std::string_view host) {
    if (host.starts_with('[')) {
        const auto close = host.find(']');
        if (close == std::string_view::npos) return false;
        host = host.substr(1, close - 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    const listen_address address{std::string(host), 0};
    return address.loopback();
}

bool write_allowed(const Request& req, Response& res, const http_settings& settings) {
    if (settings.read_only) {
        send_error(res, 403, "writes are turned off (the gateway runs with --read-only)");
        return false;
    }
    // A web page elsewhere can point one of its own names at 127.0.0.1 and then write as if it
    // came from the gateway's own pages; such a request names that other host.
    if (settings.loopback && settings.token.empty() &&
        !loopback_host(req.get_header_value("Host"))) {
        send_error(res, 403,
                   "writes to this gateway must address it by a loopback name "
                   "(localhost, 127.0.0.1 or [::1]); give it a token to write from elsewhere");
        return false;
    }
    if (!settings.token.empty()) {
        const std::string auth = req.get_header_value("Authorization");
        constexpr std::string_view scheme = "Bearer ";
        if (!auth.starts_with(scheme) ||
            !same_token(std::string_view(auth).substr(scheme.size()), settings.token)) {
            res.set_header("WWW-Authenticate", "Bearer");
            send_error(res, 401,
                       "writes need the gateway's bearer token (Authorization: Bearer ...)");
            return false;
        }
    }
    if (!is_json_type(req.get_header_value("Content-Type"))) {
        send_error(res, 415, "writes take a JSON object: Content-Type must be application/json");
        return false;
    }
    return true;
}

std::optional<int> colour_number(const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

void answer_write(Response& res, controller_poller& poller, write_target target,
                  const std::string& colour_text, const std::string& body) {
    int colour = 0;
    if (!colour_text.empty()) {
        const auto number = colour_number(colour_text);
        if (!number) {
            poller.count_refused();
            send_error(res, 400,
                       "colour \"" + colour_text + "\" is not a colour number " +
                           ifc_client::commands::colour_range_text());
            return;
        }
        colour = *number;
    }
    auto request = parse_write(target, colour, body);
    if (!request) {
        poller.count_refused();
        send_error(res, 400, request.failure().detail);
        return;
    }
    const write_outcome outcome = poller.submit(std::move(request.value())).get();
    send_json(res, http_status(outcome.result), outcome.reply.dump());
}

// The range of every writable key, [min, max], per setting, as the client library checks
// them: the panel's fields take their limits from here.
json value_ranges() {
    namespace cmd = ifc_client::commands;
    const auto ranges_of = [](ifc_client::setting what, const auto& keys) {
        json ranges = json::object();
        for (std::string_view key : keys) {
            if (const auto range = ifc_client::range_of(what, key)) {
                ranges[std::string(key)] = json::array({range->min, range->max});
            }
        }
        return ranges;
    };
    return json{{"status", ranges_of(ifc_client::setting::status, cmd::status_keys)},
                {"selection", ranges_of(ifc_client::setting::selection, cmd::selection_keys)},
                {"targets", ranges_of(ifc_client::setting::targets, cmd::target_keys)},
                {"valves", ranges_of(ifc_client::setting::valves, cmd::valve_keys)}};
}

void add_api(httplib::Server& server, fleet& machines, const http_settings& settings) {
    server.Get("/api/gateway", [&machines, settings](const Request&, Response& res) {
        const auto& poll = machines.settings();
        send_json(res, 200,
                  json{{"read_only", settings.read_only},
                       {"token_required", !settings.token.empty()},
                       {"poll_seconds", std::chrono::duration<double>(poll.interval).count()},
                       {"controllers", machines.pollers().size()},
                       {"ranges", value_ranges()}}
                      .dump());
    });
    auto list_cache = std::make_shared<render_cache>(shared_render_period);
    server.Get("/api/controllers", [&machines, list_cache](const Request&, Response& res) {
        const auto text = list_cache->get([&machines] {
            const auto now = steady_clock::now();
            std::vector<std::string> entries;
            for (const auto& poller : machines.pollers()) {
                const controller_view view = poller->view();
                entries.push_back(controller_json::list_entry(
                    view.header(now, machines.settings().interval), view.json.get()));
            }
            return controller_json::list(entries);
        });
        res.set_header("Cache-Control", "no-store");
        send_shared(res, text, json_type);
    });
    server.Get(std::string("/api/controllers/") + name_pattern,
               [&machines](const Request& req, Response& res) {
                   const controller_poller* poller = machines.find(req.matches[1].str());
                   if (!poller) {
                       send_error(res, 404, "no controller named \"" + req.matches[1].str() + "\"");
                       return;
                   }
                   const controller_view view = poller->view();
                   send_json(res, 200,
                             controller_json::whole(
                                 view.header(steady_clock::now(), machines.settings().interval),
                                 view.json.get()));
               });

    // PATCH /api/controllers/NAME/PATH, and for the per-colour settings PATH/COLOUR.
    struct write_route {
        const char* path;
        write_target target;
        bool per_colour;
    };
    constexpr write_route write_routes[] = {
        {"status", write_target::status, false},
        {"selection", write_target::selection, false},
        {"histogram-selection", write_target::histogram_selection, false},
        {"targets", write_target::targets, true},
        {"valves", write_target::valves, true}};
    for (const write_route& route : write_routes) {
        std::string pattern = std::string("/api/controllers/") + name_pattern + "/" + route.path;
        if (route.per_colour) pattern += "/([^/]+)";
        server.Patch(pattern, [&machines, route](const Request& req, Response& res) {
            controller_poller* poller = machines.find(req.matches[1].str());
            if (!poller) {
                send_error(res, 404, "no controller named \"" + req.matches[1].str() + "\"");
                return;
            }
            answer_write(res, *poller, route.target, route.per_colour ? req.matches[2].str() : "",
                         req.body);
        });
    }
}

void add_metrics(httplib::Server& server, fleet& machines, const http_settings& settings) {
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

void send_asset(Response& res, std::string_view name) {
    const web_asset* asset = find_asset(name);
    if (!asset) {
        res.status = 404;
        res.set_content("not found\n", "text/plain");
        return;
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(std::string(asset->bytes), std::string(content_type_of(name)).c_str());
}

void add_pages(httplib::Server& server, fleet& machines) {
    server.Get("/", [](const Request&, Response& res) { send_asset(res, "index.html"); });
    server.Get(
        std::string("/machines/") + name_pattern, [&machines](const Request& req, Response& res) {
            if (!machines.find(req.matches[1].str())) {
                res.status = 404;
                res.set_content("no controller named " + req.matches[1].str() + "\n", "text/plain");
                return;
            }
            send_asset(res, "machine.html");
        });
    server.Get("/static/([A-Za-z0-9._-]+)",
               [](const Request& req, Response& res) { send_asset(res, req.matches[1].str()); });
}

}  // namespace

void configure_server(httplib::Server& server, const http_settings& settings) {
    const auto threads = static_cast<std::size_t>(settings.threads);
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_payload_max_length(max_body_bytes);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    // A connection holds a worker thread while it is kept open: idle connections are closed
    // after a second, so that browsers refreshing every few seconds share the threads.
    server.set_keep_alive_timeout(1);
    server.set_keep_alive_max_count(1000);
    server.set_tcp_nodelay(true);
    // The pages load nothing from elsewhere and run no inline script.
    server.set_default_headers(
        {{"X-Content-Type-Options", "nosniff"},
         {"X-Frame-Options", "DENY"},
         {"Referrer-Policy", "no-referrer"},
         {"Content-Security-Policy",
          "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'"}});
}

void add_routes(httplib::Server& server, fleet& machines, const http_settings& settings) {
    server.set_pre_routing_handler([settings](const Request& req, Response& res) {
        if (is_write_method(req.method) && !write_allowed(req, res, settings)) {
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Errors without a body of their own (no such route, a request the parser refused, a body
    // too large) get a JSON object with a message.
    const httplib::Server::HandlerWithResponse json_errors = [](const Request&, Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        send_error(res, res.status, error_text(res.status));
        return httplib::Server::HandlerResponse::Handled;
    };
    server.set_error_handler(json_errors);
    server.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
        send_error(res, 500, "internal error");
    });
    add_api(server, machines, settings);
    add_metrics(server, machines, settings);
    add_pages(server, machines);
}

}  // namespace gateway
