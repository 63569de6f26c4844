// The API of the gateway's mill (docs/gateway.md, "The mill"): the state's health, the
// settings library, comparisons, assignments and drift, roll-outs and the logbook. Without
// --state-dir every route answers 404 with no_state_message (mill_replies.h).
//
// Each part is in a file of its own: mill_routes.cpp (the state, comparisons, assignments and
// drift), mill_library_routes.cpp, mill_rollout_routes.cpp, mill_logbook_routes.cpp.
#pragma once

#include <memory>

#include "gateway/fleet.h"
#include "gateway/http_router.h"
#include "gateway/mill_replies.h"
#include "gateway/mill_wiring.h"
#include "gateway/task_pool.h"

namespace gateway {

// work: the threads the routes answer on.
void add_mill_routes(http_router& router, fleet& machines, mill_wiring* mill,
                     std::shared_ptr<task_pool> work);

void add_library_routes(mill_router& routes, fleet& machines);
void add_rollout_routes(mill_router& routes, fleet& machines);
void add_logbook_routes(mill_router& routes);

}  // namespace gateway
