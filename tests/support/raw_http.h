// HTTP spoken byte by byte to a server on loopback, for tests of what it does with requests no
// well-behaved client sends: malformed, oversized, dripped, or left half-sent.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "client/unique_fd.h"

namespace test_support {

// A connected socket to 127.0.0.1:port (from source, another loopback address, when given);
// empty when the connection fails.
ifc_client::unique_fd connect_loopback(std::uint16_t port, const char* source = nullptr);

// Sends bytes (as much of them as the server takes) and returns its answer: the header and as
// much body as it announces, or what came before the connection ended; bounded by wait.
std::string raw_exchange(std::uint16_t port, const std::string& bytes,
                         std::chrono::milliseconds wait = std::chrono::seconds(5));

// What arrives on fd within wait: an answer as above.
std::string read_answer(int fd, std::chrono::milliseconds wait);

// The status of an answer ("HTTP/1.1 413 ..." -> 413), 0 when there is none.
int status_of(const std::string& answer);

}  // namespace test_support
