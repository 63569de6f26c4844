#include "client/escape.h"

#include <cstdio>

namespace ifc_client {

std::string escaped(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            case '\t':
                text += "\\t";
                break;
            case '\\':
                text += "\\\\";
                break;
            default:
                if (byte >= 0x20 && byte < 0x7f) {
                    text += c;
                } else {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    text += hex;
                }
        }
    }
    return text;
}

}  // namespace ifc_client
