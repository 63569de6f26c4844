// A host and a port, as the proxy's options name its two ends.
#pragma once

#include <cstdint>
#include <string>

namespace proxy_net {

struct address {
    std::string host;
    std::uint16_t port = 0;
    std::string text() const { return host + ":" + std::to_string(port); }
};

}  // namespace proxy_net
