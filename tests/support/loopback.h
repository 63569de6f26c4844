// A listening TCP socket on 127.0.0.1 at a port the kernel chose, for tests that need a peer
// of their own (a silent server, a connection to hand to the server's connection handling).
#pragma once

#include <cstdint>

#include "client/unique_fd.h"

namespace test_support {

struct loopback_listener {
    ifc_client::unique_fd fd;
    std::uint16_t port = 0;
};

// Throws when the socket cannot be set up.
loopback_listener listen_on_loopback();

}  // namespace test_support
