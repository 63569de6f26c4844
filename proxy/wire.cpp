#include "proxy/wire.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "lib/protocol.h"

namespace proxy::wire {

namespace {

struct header_token {
    std::string_view token;
    request_kind kind;
};

constexpr std::array header_tokens{
    header_token{protocol::get_token, request_kind::get},
    header_token{protocol::put_token, request_kind::put},
    header_token{protocol::ping_token, request_kind::ping},
    header_token{protocol::disconnect_token, request_kind::disconnect},
};

}  // namespace

request_kind kind_of(std::string_view header) {
    for (const auto& h : header_tokens) {
        if (header.starts_with(h.token)) return h.kind;
    }
    return request_kind::unknown;
}

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

long long put_length(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && is_space(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    constexpr long long high = std::numeric_limits<std::int32_t>::max();
    constexpr long long low = std::numeric_limits<std::int32_t>::min();
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = std::min(value * 10 + (text[pos] - '0'), high + 1);
    }
    return negative ? std::max(-value, low) : std::min(value, high);
}

bool length_refused(long long len) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(len)) >
           static_cast<std::uint32_t>(protocol::max_payload);
}

bool parse_len_header(std::string_view text, long long& len) {
    if (text.size() != static_cast<std::size_t>(protocol::len_header_len) ||
        !text.starts_with(protocol::len_token))
        return false;
    std::string_view digits = text.substr(protocol::len_token.size());
    const bool negative = digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    long long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > std::numeric_limits<std::int32_t>::max()) return false;
    len = negative ? -value : value;
    return true;
}

int chunks_for(long long len) {
    return static_cast<int>((len + protocol::chunk_size - 1) / protocol::chunk_size);
}

}  // namespace proxy::wire
