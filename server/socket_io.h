// Small socket helpers under the framing layer: each makes one system call and has one error
// path. A signal that interrupts a call is not a failure: the call is made again.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

// Whole seconds of a monotonic clock: transfer deadlines must not move when the wall clock
// is stepped (for example by a time sync right after boot).
std::int64_t monotonic_seconds();

// Waits until sock has bytes (or an end of stream) to read. true when readable; false when
// timeout_s seconds pass without data or the wait fails.
bool socket_wait_readable(int sock, int timeout_s);

// One recv call into buf; the result of recv (bytes, 0 at end of stream, -1 on failure).
ssize_t socket_recv(int sock, void* buf, std::size_t len);

// One send call. Never raises SIGPIPE: a peer that has gone away is an error result.
ssize_t socket_send(int sock, const void* data, std::size_t len);
inline ssize_t socket_send(int sock, std::string_view token) {
    return socket_send(sock, token.data(), token.size());
}
