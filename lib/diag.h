// The server's diagnostics on standard output and standard error: every line the server
// prints goes through here, and none of them can hold the server up.
//
// A reader that stops reading (a stalled log collector, a terminal paused with Ctrl-S, a full
// pipe) must not stop the server, and a closed or broken output must not end it. So each
// stream has a bounded buffer (64 KiB) in front of its descriptor, and bytes leave it only
// when the descriptor takes them without waiting: sockets with MSG_DONTWAIT; pipes, terminals
// and devices only after poll() has said they are writable, and then no more than the kernel
// takes without waiting (PIPE_BUF for a pipe, a small piece for a terminal); regular files
// directly. O_NONBLOCK is never set: it belongs to the open file description, which a
// terminal shares with the shell that started the server. When a buffer is full, whole lines
// are dropped and counted, and "N diagnostic lines dropped" is written once there is room.
// The server's waits include the descriptors with bytes waiting (pending_pollfds), so the
// buffers drain while it waits for clients.
//
// Standard output keeps the flush points of stdio: its bytes are handed on when flush_out()
// is called (or when 4096 bytes are waiting, or at a line end on a terminal); standard error
// is unbuffered.
#pragma once

#include <poll.h>

#include <string_view>

namespace diag {

// Standard output, buffered until flush_out().
void out(std::string_view text);
// text and a line end, as puts writes it.
void out_line(std::string_view text);
// text with every control byte (below 0x20, and 0x7f) written as \xNN, and a line end: text
// that came from a client is one line of the log, whatever it holds.
void out_line_escaped(std::string_view text);
[[gnu::format(printf, 1, 2)]] void out_printf(const char* format, ...);
void flush_out();

// Standard error, unbuffered.
void err(std::string_view text);
[[gnu::format(printf, 1, 2)]] void err_printf(const char* format, ...);
// "what: <the text of errno>" and a line end, as perror writes it.
void err_perror(const char* what);

// For the server's waits: a pollfd (POLLOUT) for each stream with bytes waiting for room
// (at most 2); the count filled in.
int pending_pollfds(pollfd* out);
// After such a wait: writes what the descriptors take now.
void on_writable();

}  // namespace diag
