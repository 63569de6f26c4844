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

std::string counted(long long n, std::string_view word) {
    return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

}  // namespace proxy
