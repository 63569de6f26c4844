#include "proxy/byte_text.h"

#include <algorithm>

namespace proxy {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

bool printable(unsigned char c) {
    return c >= 0x20 && c <= 0x7e;
}

}  // namespace

bool is_printable(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return printable(static_cast<unsigned char>(c)); });
}

std::string to_hex(std::string_view bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += hex_digits[byte >> 4];
        hex += hex_digits[byte & 0x0f];
    }
    return hex;
}

namespace {

void append_hex_escape(std::string& out, unsigned char byte) {
    out += "\\x";
    out += hex_digits[byte >> 4];
    out += hex_digits[byte & 0x0f];
}

// The length of the valid UTF-8 sequence at the start of text (1 to 4), or 0.
std::size_t utf8_sequence(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;   // the range of the second byte, which rules out overlong forms
    unsigned char high = 0xbf;  // and surrogates
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xbf) return 0;
    }
    return length;
}

}  // namespace

std::string shown_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (printable(byte)) {
            out += text[i++];
            continue;
        }
        const std::size_t n = byte < 0x80 ? 0 : utf8_sequence(text.substr(i));
        // U+0080 to U+009F (C2 80 to C2 9F) are control characters too.
        const bool c1_control =
            n == 2 && byte == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (n == 0 || c1_control) {
            append_hex_escape(out, byte);
            ++i;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string counted(long long n, std::string_view word) {
    return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

}  // namespace proxy
