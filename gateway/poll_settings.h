// How often and how patiently the gateway polls its controllers. The defaults here are the
// command line's defaults too.
#pragma once

#include <algorithm>
#include <chrono>

#include "client/connection.h"
#include "gateway/addresses.h"

namespace gateway {

struct poll_settings {
    std::chrono::milliseconds interval{2000};
    std::chrono::milliseconds timeout{1000};   // per wait for bytes
    std::chrono::milliseconds deadline{2000};  // per exchange
    // A poll or a write session gives up once it has held the controller this long.
    std::chrono::milliseconds budget() const { return std::max(interval, deadline); }
    ifc_client::endpoint endpoint(const controller_address& address) const {
        return ifc_client::endpoint{address.host, address.port, timeout, deadline};
    }
};

}  // namespace gateway
