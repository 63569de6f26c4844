// How often and how patiently the gateway polls its controllers, and how long a write may
// take. The defaults here are the command line's defaults too.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>

#include "client/connection.h"
#include "gateway/addresses.h"

namespace gateway {

struct poll_settings {
    std::chrono::milliseconds interval{2000};
    std::chrono::milliseconds timeout{1000};   // per wait for bytes
    std::chrono::milliseconds deadline{2000};  // per exchange
    // A write is answered within this of its arrival, whatever it waited for (--write-deadline).
    std::chrono::milliseconds write_deadline{10000};
    // Writes waiting for one controller at most; more are answered 429 (--max-queued-writes).
    std::size_t max_queued_writes = 32;
    // Readable once the gateway stops: every wait for a controller ends at once. Set by the
    // fleet.
    int cancel_fd = -1;

    // A poll or a write session gives up once it has held the controller this long.
    std::chrono::milliseconds budget() const { return std::max(interval, deadline); }
    // What a write keeps of its time for one read-back on a fresh connection, should its end
    // not come back: a connection and one exchange.
    std::chrono::milliseconds read_back_reserve() const { return timeout + deadline; }
    ifc_client::endpoint endpoint(const controller_address& address) const {
        ifc_client::endpoint where{address.host, address.port, timeout, deadline};
        where.cancel_fd = cancel_fd;
        return where;
    }
};

}  // namespace gateway
