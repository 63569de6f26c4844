// The exit statuses of ifc-client, one per kind of failure, as --help documents them.
#pragma once

#include "client/result.h"

namespace ifc_tool::exit_status {

inline constexpr int ok = 0;
inline constexpr int usage = 1;  // bad option, command, key or value: nothing was sent
inline constexpr int cannot_connect = 2;
// The server has no read command of that name, or (put) this client knows no write command of
// that name.
inline constexpr int unknown_command = 3;
inline constexpr int protocol = 4;     // time-out, connection closed, answer not understood
inline constexpr int rejected = 5;     // the server answered "ERR!"
inline constexpr int not_applied = 6;  // a write's read-back does not show the new value
// A write went out whole, but the server's "FIN" or the read-back after it did not come: the
// server may or may not hold the new values (ifc-client reads them again to tell).
inline constexpr int outcome_unknown = 7;
// A settings document or settings directory cannot be read, is refused, or cannot be written.
// Also every usage error of diff, whose status 1 means "the two differ", as diff's does.
inline constexpr int document = 8;
// diff: the two sides hold different values.
inline constexpr int different = 1;

// The status for a failed exchange on an open connection.
constexpr int of(ifc_client::errc code) {
    switch (code) {
        case ifc_client::errc::bad_request:
            return usage;
        case ifc_client::errc::unknown_command:
            return unknown_command;
        case ifc_client::errc::rejected:
            return rejected;
        case ifc_client::errc::refused:
            return cannot_connect;
        case ifc_client::errc::timeout:
        case ifc_client::errc::closed:
        case ifc_client::errc::protocol:
        case ifc_client::errc::io:
            return protocol;
    }
    return protocol;
}

// The status for a failed exchange, a write of unknown outcome included.
constexpr int of(const ifc_client::error& e) {
    return e.outcome_unknown ? outcome_unknown : of(e.code);
}

}  // namespace ifc_tool::exit_status
