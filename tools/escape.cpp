#include "tools/escape.h"

#include <algorithm>

namespace ifc_tool {

namespace {

// How the two forms differ; everything else they share.
struct escape_style {
    bool escape_quote;       // '"' as \"
    bool short_nul;          // NUL as \0 rather than \x00
    const char* hex_digits;  // "0123456789ABCDEF" or lower case
};

constexpr escape_style message_style{false, false, "0123456789ABCDEF"};
constexpr escape_style quoted_style{true, true, "0123456789abcdef"};

void append_escaped(std::string& text, std::string_view bytes, const escape_style& style) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\n':
                text += "\\n";
                continue;
            case '\r':
                text += "\\r";
                continue;
            case '\t':
                text += "\\t";
                continue;
            case '\\':
                text += "\\\\";
                continue;
            case '"':
                if (style.escape_quote) {
                    text += "\\\"";
                    continue;
                }
                break;
            case '\0':
                if (style.short_nul) {
                    text += "\\0";
                    continue;
                }
                break;
            default:
                break;
        }
        if (byte >= 0x20 && byte < 0x7f) {
            text += c;
        } else {
            text += "\\x";
            text += style.hex_digits[byte >> 4];
            text += style.hex_digits[byte & 0x0f];
        }
    }
}

}  // namespace

std::string escaped(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    append_escaped(text, bytes, message_style);
    return text;
}

std::string quoted(std::string_view bytes, std::size_t max) {
    std::string text = "\"";
    append_escaped(text, bytes.substr(0, max), quoted_style);
    text += '"';
    if (bytes.size() > max) text += "...";
    return text;
}

std::string escaped_around(std::string_view bytes, std::size_t at, std::size_t radius) {
    at = std::min(at, bytes.size());
    const std::size_t from = at > radius ? at - radius : 0;
    const std::size_t to = std::min(bytes.size(), at + radius);
    std::string text =
        "byte " + std::to_string(at) + " of " + std::to_string(bytes.size()) + ": \"";
    if (from > 0) text += "...";
    append_escaped(text, bytes.substr(from, to - from), message_style);
    if (to < bytes.size()) text += "...";
    return text + '"';
}

}  // namespace ifc_tool
