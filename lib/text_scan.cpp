#include "lib/text_scan.h"

#include <cctype>
#include <cstring>
#include <limits>

namespace {

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads an optional sign and digits at pos; saturates at the int32 limits. Returns the
// number of characters used, 0 when there is no digit.
std::size_t scan_number(std::string_view text, std::size_t pos, std::int32_t& out) {
    const std::size_t start = pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos >= text.size() || !is_digit(text[pos])) return 0;
    // Magnitude capped just past the int32 range, so it can never overflow.
    constexpr std::int64_t cap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    while (pos < text.size() && is_digit(text[pos])) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > cap) magnitude = cap;
        ++pos;
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        value = std::numeric_limits<std::int32_t>::max();
    }
    out = static_cast<std::int32_t>(value);
    return pos - start;
}

}  // namespace

std::int32_t atoi32(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && is_space(text[pos]))
        ++pos;
    std::int32_t value = 0;
    scan_number(text, pos, value);
    return value;
}

std::int32_t atoi32(const char* text) {
    return atoi32(std::string_view(text));
}

void text_scanner::skip_space() {
    while (pos_ < text_.size() && is_space(text_[pos_]))
        ++pos_;
}

bool text_scanner::literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
}

bool text_scanner::read_int(std::int32_t& out) {
    const std::size_t saved = pos_;
    skip_space();
    const std::size_t used = scan_number(text_, pos_, out);
    if (used == 0) {
        pos_ = saved;
        return false;
    }
    pos_ += used;
    return true;
}

bool text_scanner::read_word(std::string_view& out) {
    const std::size_t saved = pos_;
    skip_space();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !is_space(text_[pos_]))
        ++pos_;
    if (pos_ == start) {
        pos_ = saved;
        return false;
    }
    out = text_.substr(start, pos_ - start);
    return true;
}
