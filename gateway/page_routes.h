// The web panel: the fleet page at /, a machine's page at /machines/NAME and their files under
// /static/, all compiled into the binary.
#pragma once

#include <httplib.h>

#include "gateway/fleet.h"

namespace gateway {

void add_page_routes(httplib::Server& server, const fleet& machines);

}  // namespace gateway
