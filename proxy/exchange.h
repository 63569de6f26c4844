// What the proxy knows about one request and its answer once the exchange is over, and about
// the end of a connection: the facts the journal prints, independent of any I/O.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/protocol.h"

namespace proxy {

using clock_type = std::chrono::steady_clock;
using time_point = clock_type::time_point;

// The two ends of a relayed connection.
enum class side : std::uint8_t { terminal, controller };
std::string_view side_name(side s);

// The kinds of request header, as the controller reads them.
using request_kind = protocol::header_kind;
// "GET", "PUT", "PING", "DISCONNECT", "unknown".
std::string_view kind_name(request_kind kind);
// The kind of a request header name as rules spell it; nullopt for any other word.
std::optional<request_kind> kind_from_name(std::string_view name);

enum class outcome : std::uint8_t {
    ok,
    err,                      // the PUT length was refused with "ERR!"
    unknown_command,          // LEN-000000001: no read command of that name
    closed_by_terminal,       // the terminal ended the connection before the exchange was over
    closed_by_controller,     // the controller ended it, not because of its time limits
    timeout,                  // the controller ended it after waiting out one of its limits
    violation_by_terminal,    // the terminal sent bytes the protocol does not allow there
    violation_by_controller,  // the controller did
    cut,                      // a fault rule of the proxy cut the connection
};
std::string_view outcome_name(outcome o);

struct request_record {
    int seq = 0;  // 1 for the first request of the connection
    request_kind kind = request_kind::unknown;
    // Unknown kinds: the header bytes as received.
    std::string header;
    // GET: the name from the header; PUT: the name at the start of the payload.
    std::string command;
    // GET: the answer; PUT: the argument after the name. At most the tracker's text limit.
    std::string text;
    std::size_t text_size = 0;  // the whole text's size, which may exceed text.size()
    // GET: the length the controller announced; PUT: the length of the header.
    std::optional<long long> length;
    int chunks = 0;  // answer or payload chunks that passed completely
    std::uint64_t bytes_from_terminal = 0;
    std::uint64_t bytes_from_controller = 0;
    time_point started{};
    std::optional<time_point> first_answer_byte;
    time_point ended{};
    outcome result = outcome::ok;
    std::string detail;  // what went wrong, when something did
    std::string note;    // a remark on a request that went through (a name filled with NULs)
};

// Who ended a connection and why, as far as the protocol tells.
struct connection_end {
    std::string by;  // "terminal", "controller" or "proxy"
    std::string reason;
};

}  // namespace proxy
