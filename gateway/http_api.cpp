#include "gateway/http_api.h"

#include <string>

#include "gateway/api_routes.h"
#include "gateway/http_replies.h"
#include "gateway/metrics_routes.h"
#include "gateway/page_routes.h"
#include "gateway/write_guard.h"

namespace gateway {

namespace {

using httplib::Request;
using httplib::Response;

// The message of an error that has no body of its own.
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
    add_api_routes(server, machines, settings);
    add_metrics_routes(server, machines, settings);
    add_page_routes(server, machines);
}

}  // namespace gateway
