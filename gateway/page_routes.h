// The web panel: the fleet page at /, a machine's page at /machines/NAME, the mill's pages
// (/library, /compare, /rollouts, /rollouts/ID, /logbook) and their files under /static/, all
// compiled into the binary.
#pragma once

#include "gateway/fleet.h"
#include "gateway/http_router.h"

namespace gateway {

void add_page_routes(http_router& router, const fleet& machines);

}  // namespace gateway
