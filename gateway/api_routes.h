// The JSON API: GET /api/gateway (the gateway's settings and every writable key's range),
// GET /api/controllers (the fleet list), GET /api/controllers/NAME (one controller's snapshot)
// and the PATCH routes that write a controller's settings.
#pragma once

#include "gateway/fleet.h"
#include "gateway/http_router.h"
#include "gateway/http_settings.h"

namespace gateway {

void add_api_routes(http_router& router, fleet& machines, const http_settings& settings);

}  // namespace gateway
