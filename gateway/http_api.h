// The gateway's HTTP side put together for the server (http_server.h): the request guard in
// front of everything, the routes of the API (api_routes.h) and of the mill (mill_routes.h),
// the metrics and probes
// (metrics_routes.h) and the pages (page_routes.h), JSON bodies for errors, and the headers
// every answer carries. No exception of a route reaches the server, and every request is
// answered exactly once.
#pragma once

#include <memory>

#include "gateway/fleet.h"
#include "gateway/http_message.h"
#include "gateway/http_router.h"
#include "gateway/http_settings.h"
#include "gateway/mill_wiring.h"
#include "gateway/task_pool.h"

namespace gateway {

class http_api {
  public:
    // mill: the gateway's state; null without --state-dir.
    http_api(fleet& machines, const http_settings& settings, mill_wiring* mill = nullptr);
    http_api(const http_api&) = delete;
    http_api& operator=(const http_api&) = delete;

    // What the server calls; valid as long as this object.
    http_handlers handlers();
    // Takes no more probes and requests of the mill, and waits for those under way (the
    // fleet's stop cancels their polls).
    void stop();

  private:
    void handle(http_request request, reply_function reply) const;

    http_settings settings_;
    http_router router_;
    std::shared_ptr<task_pool> probes_;
    // The threads the mill's routes answer on: the database and the machines make them wait.
    std::shared_ptr<task_pool> mill_work_;
};

}  // namespace gateway
