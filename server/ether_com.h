// Module ether_com: the listening socket and the three transfer operations on a client
// connection (bounded read, chunked payload receive, chunked answer send).
#pragma once

#include <cstdint>

// Non-zero: the transfer operations print their error messages on standard output.
extern std::int16_t deb_ether_com;

// Creates the listening TCP socket on every IPv4 address; 1 on success, -1 on failure.
int ether_init(int* sock, std::uint16_t port);
// Reads exactly len bytes, each wait bounded by timeout seconds. len on success; the count
// received so far when the client closed first; -1 on time-out or socket failure.
int ether_recv_unit_data(int sock, char* buf, int len, int timeout);
// Receives a payload of len bytes with the "NEXT"/"FIN" handshake within a deadline of
// timeout seconds. len on success (0 when len <= 0); -1 on failure.
int ether_recv_all_data(int sock, char* buf, int len, int timeout);
// Sends "LEN%010d" and then the answer in chunks paced by the client's "NEXT", within a
// deadline of timeout seconds. len on success; 0 when len <= 0; -1 on failure.
int ether_send_all_data(int sock, const char* buf, int len, int timeout);
