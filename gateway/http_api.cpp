#include "gateway/http_api.h"

#include <atomic>
#include <exception>
#include <string>

#include "gateway/api_routes.h"
#include "gateway/http_replies.h"
#include "gateway/metrics_routes.h"
#include "gateway/mill_routes.h"
#include "gateway/page_routes.h"
#include "gateway/request_guard.h"

namespace gateway {

namespace {

// The reply of one request: the headers every answer carries added, sent once, and sent as
// 500 should a route let it go unused (an exception, or a route that forgot), so that no
// client waits for ever.
class one_reply {
  public:
    explicit one_reply(reply_function send) : send_(std::move(send)) {}
    ~one_reply() {
        if (sent_.exchange(true)) return;
        try {
            send_(finished(error_response(500, "internal error: the request was not answered")));
        } catch (...) {
            // Out of memory: the server's own time limits end the connection.
        }
    }
    one_reply(const one_reply&) = delete;
    one_reply& operator=(const one_reply&) = delete;

    void operator()(http_response response) {
        if (!sent_.exchange(true)) send_(finished(std::move(response)));
    }

  private:
    static http_response finished(http_response response) {
        add_common_headers(response);
        return response;
    }
    reply_function send_;
    std::atomic<bool> sent_{false};
};

// Requests of the mill answered at once; more are answered 503. Each holds at most one page of
// the logbook, or one export (mill_logbook_routes.cpp), or waits for one machine.
constexpr int mill_threads = 4;

http_response with_common_headers(http_response response) {
    add_common_headers(response);
    return response;
}

}  // namespace

http_api::http_api(fleet& machines, const http_settings& settings, mill_wiring* mill)
    : settings_(settings),
      probes_(std::make_shared<task_pool>(settings.max_probes)),
      mill_work_(std::make_shared<task_pool>(mill ? mill_threads : 0)) {
    add_api_routes(router_, machines, settings_);
    add_mill_routes(router_, machines, mill, mill_work_);
    add_metrics_routes(router_, machines, settings_, probes_);
    add_page_routes(router_, machines);
}

http_handlers http_api::handlers() {
    return http_handlers{
        [this](http_request& request) -> std::optional<http_response> {
            try {
                auto refusal = check_request_head(request, settings_);
                if (refusal) return with_common_headers(std::move(*refusal));
                return std::nullopt;
            } catch (const std::exception&) {
                return with_common_headers(error_response(500, "internal error"));
            }
        },
        [this](http_request request, reply_function reply) {
            handle(std::move(request), std::move(reply));
        },
        [](int status, std::string_view message) {
            return with_common_headers(error_response(status, std::string(message)));
        }};
}

void http_api::handle(http_request request, reply_function reply) const {
    auto once = std::make_shared<one_reply>(std::move(reply));
    reply_function answer = [once](http_response response) { (*once)(std::move(response)); };
    try {
        if (!router_.dispatch(request, answer)) {
            (*once)(error_response(404, "no such resource"));
        }
    } catch (const std::exception&) {
        (*once)(error_response(500, "internal error"));
    }
}

void http_api::stop() {
    probes_->stop();
    mill_work_->stop();
}

}  // namespace gateway
