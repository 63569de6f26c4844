// Where the gateway listens and where its controllers are, and what a controller's name may
// hold.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
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

// An address or a network of them: "10.0.0.7", "10.0.0.0/24", "fd00::/8", "::1".
struct network {
    std::string text;  // as given
    bool v6 = false;
    std::array<unsigned char, 16> bytes{};  // the first 4 for IPv4
    int prefix = 32;                        // leading bits that must match
    // Whether host, an address literal, lies in the network (a name never does).
    bool contains(std::string_view host) const;
};
// nullopt when text is not an address with an optional /PREFIX that fits it.
std::optional<network> parse_network(std::string_view text);
// An IPv4 or IPv6 address literal ("10.0.0.7", "::1"), not a name.
bool is_address_literal(std::string_view host);

// A controller's name: 1 to 64 letters, digits, '-', '_' and '.'.
inline constexpr std::size_t max_controller_name = 64;
bool is_controller_name(std::string_view name);
// A group's name follows the same rules.
inline bool is_group_name(std::string_view name) {
    return is_controller_name(name);
}
// The letters of a name: also those of a name in a route's path ("{name}", http_router.h),
// whose length the lookup checks.
bool is_controller_name_char(char c);

}  // namespace gateway
