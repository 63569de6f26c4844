#include "gateway/addresses.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>

namespace gateway {

namespace {

bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

}  // namespace

bool listen_address::loopback() const {
    if (host == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool is_controller_name(std::string_view name) {
    return !name.empty() && name.size() <= max_controller_name &&
           std::all_of(name.begin(), name.end(), is_name_char);
}

}  // namespace gateway
