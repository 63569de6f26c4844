// Sizes, tokens and waits of the request protocol on the server's TCP port, the weft colours
// and how a request header is read. Shared by the server, the client library, the gateway and
// the proxy; nothing else of the server is visible to the programs beside it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace protocol {

inline constexpr std::uint16_t server_port = 9002;

// Request header: "GET" + 20-byte name field, "PUT" + decimal length, "PING", "DISCONNECT".
inline constexpr int header_len = 23;
inline constexpr int name_field_len = 20;
inline constexpr int name_field_offset = 3;
// Answer length header: "LEN" + "%010d".
inline constexpr int len_header_len = 13;

// Both directions move at most this many bytes per "NEXT".
inline constexpr int chunk_size = 1024;
// Largest PUT payload; also the capacity of the server's transfer buffer.
inline constexpr int max_payload = 256000;

// Each wait for client bytes (header, "NEXT", payload chunk) may last this long.
inline constexpr int wait_seconds = 5;
// A GET answer or PUT payload transfer starts no new chunk after this many seconds.
inline constexpr int transfer_seconds = 10;
// Pending connections queued while one client is served.
inline constexpr int listen_backlog = 5;

inline constexpr std::string_view get_token = "GET";
inline constexpr std::string_view put_token = "PUT";
inline constexpr std::string_view ping_token = "PING";
inline constexpr std::string_view disconnect_token = "DISCONNECT";
inline constexpr std::string_view len_token = "LEN";
inline constexpr std::string_view next_token = "NEXT";
inline constexpr std::string_view fin_token = "FIN";
inline constexpr std::string_view err_token = "ERR!";

// What a request header asks for. The server tests the tokens in the order of header_rules;
// the first whose bytes start the header decides, and a header that none starts is unknown
// (the server closes the connection).
enum class header_kind : std::uint8_t { get, put, ping, disconnect, unknown };

struct header_rule {
    std::string_view token;
    header_kind kind;
};

inline constexpr std::array header_rules{
    header_rule{get_token, header_kind::get},
    header_rule{put_token, header_kind::put},
    header_rule{ping_token, header_kind::ping},
    header_rule{disconnect_token, header_kind::disconnect},
};

// The kind of a header, from its first bytes (a whole header is header_len bytes).
constexpr header_kind classify_header(std::string_view header) {
    for (const auto& rule : header_rules) {
        if (header.starts_with(rule.token)) return rule.kind;
    }
    return header_kind::unknown;
}

// A command name a client can send: 1 to 20 bytes (the name field), no NUL (the server's name
// ends at the first NUL of the field, and a PUT payload's at the first NUL).
constexpr bool fits_name_field(std::string_view name) {
    return !name.empty() && name.size() <= static_cast<std::size_t>(name_field_len) &&
           name.find('\0') == std::string_view::npos;
}

// The answer length the server announces for a GET name that no command has.
inline constexpr int unknown_command_len = -1;

// The server's two settings files in its working directory. Tools name them to the operator.
inline constexpr const char* interface_settings_file = "ifc_set.set";
inline constexpr const char* valve_settings_file = "valve_fp.set";

// Weft colours are numbered 1 to 6: each per-colour command family has one member per number
// (IFC_get_on_off_1 ... IFC_get_on_off_6), and slot N of a per-colour record holds colour N.
inline constexpr int first_colour = 1;
inline constexpr int last_colour = 6;
inline constexpr int colour_count = last_colour - first_colour + 1;
constexpr bool is_colour(std::int64_t number) {
    return number >= first_colour && number <= last_colour;
}

}  // namespace protocol
