// Small socket helpers under the framing layer: each makes one system call and has one error
// path. A signal that interrupts a call is not a failure: the call is made again. Every wait
// also writes the diagnostics that wait for room on their descriptors (lib/diag.h), so that a
// slow log reader is served while the server waits for its clients.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

// Whole seconds of a monotonic clock: transfer deadlines must not move when the wall clock
// is stepped (for example by a time sync right after boot).
std::int64_t monotonic_seconds();
// Milliseconds of the same clock.
std::int64_t monotonic_millis();

inline constexpr std::int64_t no_limit = std::numeric_limits<std::int64_t>::max();

// Waits until sock has bytes (or an end of stream) to read. true when readable; false when
// timeout_s seconds pass without data, when the clock reaches not_after_ms (monotonic
// milliseconds) first, or when the wait fails.
bool socket_wait_readable(int sock, int timeout_s, std::int64_t not_after_ms = no_limit);

// Waits, as long as it takes, until the listening socket has a connection to accept (or an
// error to report). false only when the wait itself fails.
bool socket_wait_connection(int listener);

// Lets ms milliseconds pass (writing diagnostics meanwhile).
void pause_millis(int ms);

// One recv call into buf; the result of recv (bytes, 0 at end of stream, -1 on failure).
ssize_t socket_recv(int sock, void* buf, std::size_t len);

// One send call. Never raises SIGPIPE: a peer that has gone away is an error result.
ssize_t socket_send(int sock, const void* data, std::size_t len);
inline ssize_t socket_send(int sock, std::string_view token) {
    return socket_send(sock, token.data(), token.size());
}
