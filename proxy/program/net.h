// The socket calls of the proxy, each with one error path: a result of -1 (or false) and the
// reason in error. Every socket is non-blocking and closed on exec.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "proxy/program/address.h"

namespace proxy_net {

// "HOST:PORT" or "PORT" (on the default host, 127.0.0.1); false with the reason when it is neither.
bool parse_address(std::string_view text, address& out, std::string& error);
// The IPv4 address of host (a dotted address or a name).
bool resolve(const address& where, sockaddr_in& out, std::string& error);

// A listening socket bound to where.
int listen_on(const sockaddr_in& where, int backlog, std::string& error);
// Accepts one pending connection; -1 when none is pending (error empty) or on failure. peer
// receives the peer's address as HOST:PORT.
int accept_from(int listener, std::string& peer, std::string& error);
// Starts connecting to where; the socket becomes writable once the attempt is over, and
// connect_result then tells how it ended.
int connect_to(const sockaddr_in& where, std::string& error);
// 0 when the connection is made, else the errno of the failure.
int connect_result(int fd);

// Small tokens go out at once instead of waiting to fill a segment.
void no_delay(int fd);
// Closes fd with a reset instead of an orderly end of stream.
void close_with_reset(int fd);

}  // namespace proxy_net
