// Where the gateway listens and where its controllers are, and what a controller's name may
// hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gateway {

inline constexpr std::uint16_t default_http_port = 8090;

struct controller_address {
    std::string name;
    std::string host;
    std::uint16_t port = 0;
    std::string group = {};  // the fleet page's group ("hall2"); empty: in none
    std::string text() const { return host + ":" + std::to_string(port); }
};

struct listen_address {
    std::string host = "127.0.0.1";
    std::uint16_t port = default_http_port;
    // 127.0.0.0/8, ::1 or localhost: reachable from this host only.
    bool loopback() const;
};

// A controller's name: 1 to 64 letters, digits, '-', '_' and '.'.
inline constexpr std::size_t max_controller_name = 64;
bool is_controller_name(std::string_view name);
// A group's name follows the same rules.
inline bool is_group_name(std::string_view name) {
    return is_controller_name(name);
}
// The same letters as a route's pattern: a name in a path, its length checked by the lookup.
inline constexpr const char* controller_name_pattern = "([A-Za-z0-9._-]+)";

}  // namespace gateway
