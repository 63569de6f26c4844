#include "proxy/wire.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "protocol/protocol.h"

namespace proxy::wire {

request_kind kind_of(std::string_view header) {
    return protocol::classify_header(header);
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
