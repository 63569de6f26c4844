#include "gateway/addresses.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace gateway {

bool is_controller_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

bool listen_address::loopback() const {
    if (host == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

namespace {

// The bytes of an address literal; false when host is not one.
bool address_bytes(std::string_view host, bool& v6, std::array<unsigned char, 16>& bytes) {
    const std::string text(host);
    bytes.fill(0);
    in_addr v4_address{};
    if (inet_pton(AF_INET, text.c_str(), &v4_address) == 1) {
        v6 = false;
        std::memcpy(bytes.data(), &v4_address, 4);
        return true;
    }
    in6_addr v6_address{};
    if (inet_pton(AF_INET6, text.c_str(), &v6_address) == 1) {
        v6 = true;
        std::memcpy(bytes.data(), &v6_address, 16);
        return true;
    }
    return false;
}

}  // namespace

bool is_address_literal(std::string_view host) {
    bool v6 = false;
    std::array<unsigned char, 16> bytes{};
    return address_bytes(host, v6, bytes);
}

std::optional<network> parse_network(std::string_view text) {
    network n;
    n.text = std::string(text);
    const auto slash = text.find('/');
    if (!address_bytes(text.substr(0, slash), n.v6, n.bytes)) return std::nullopt;
    const int bits = n.v6 ? 128 : 32;
    n.prefix = bits;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        int prefix = -1;
        const auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
            prefix < 0 || prefix > bits) {
            return std::nullopt;
        }
        n.prefix = prefix;
    }
    return n;
}

bool network::contains(std::string_view host) const {
    bool host_v6 = false;
    std::array<unsigned char, 16> host_bytes{};
    if (!address_bytes(host, host_v6, host_bytes) || host_v6 != v6) return false;
    for (int bit = 0; bit < prefix; ++bit) {
        const auto mask = static_cast<unsigned char>(0x80 >> (bit % 8));
        const auto at = static_cast<std::size_t>(bit / 8);
        if ((bytes[at] & mask) != (host_bytes[at] & mask)) return false;
    }
    return true;
}

bool is_controller_name(std::string_view name) {
    return !name.empty() && name.size() <= max_controller_name &&
           std::all_of(name.begin(), name.end(), is_controller_name_char);
}

}  // namespace gateway
