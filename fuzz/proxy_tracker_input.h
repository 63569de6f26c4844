// The input of the proxy tracker's fuzz target, as a sequence of segments, each one step of a
// relayed connection:
//
//   tag (1 byte)     bit 0: the side (0 the terminal, 1 the controller)
//                    bits 1-2: 0 bytes from that side follow, 1 the side ends its stream,
//                              2 it resets the connection, 3 the proxy will answer ERR! to
//                              the next PUT header
//   length (1 byte)  of the bytes that follow (bytes only)
//   bytes
//
// A segment cut short by the end of the input takes what is there.
#pragma once

#include <string>
#include <string_view>

namespace proxy_tracker_input {

enum class step : unsigned char { bytes = 0, end = 1, reset = 2, answer_err = 3 };

inline std::string segment(bool controller, step what, std::string_view bytes = {}) {
    std::string out;
    while (true) {
        const std::string_view part = bytes.substr(0, 255);
        out += static_cast<char>((controller ? 1 : 0) | (static_cast<unsigned char>(what) << 1));
        out += static_cast<char>(what == step::bytes ? part.size() : 0);
        if (what != step::bytes) break;
        out += part;
        bytes.remove_prefix(part.size());
        if (bytes.empty()) break;
    }
    return out;
}

}  // namespace proxy_tracker_input
