// Module tcp9002: the server loop. It owns the transfer buffer and serves one client at a
// time, for ever.
#pragma once

#include <cstdint>

// Non-zero: the loop prints its progress and error messages.
extern std::int16_t deb_tcp9002;
// Non-zero: the loop closes the connection right after each header read.
extern int tcp9002_break;

// Opens the listening socket on port, locks the working directory and serves clients for
// ever. Returns -1 only when the listening socket cannot be set up (after printing "Can't
// initialize sever socket.") or another server holds the working directory (after a line on
// standard error).
int tcp9002_loop(std::uint16_t port);

// Serves the requests of one accepted connection until it ends, then closes it. The loop
// calls it for every client; a harness can hand it one end of a socket pair.
void tcp9002_serve(int client);
