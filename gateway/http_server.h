// The gateway's HTTP server, the one part that knows the HTTP library (Boost.Beast): an event
// loop on a few threads, in which a connection that is slow to send or to read holds no thread,
// with a bound on everything a client can make the gateway hold:
//   - connections: at most max_connections open, max_connections_per_address from one address
//     (past either, 503 and the connection is closed before anything is read);
//   - the request line and header fields: max_header_bytes (431);
//   - the body, after undoing the chunked coding: max_body_bytes (413, read no further);
//   - time: a request must arrive whole within request_deadline of the connection's opening or
//     of the end of the previous answer (408, or a quiet close when nothing came), and its
//     answer must be taken within it too.
// The routes (http_handlers) refuse what they will not take before any body is read, and may
// answer later, from any thread, without holding a thread of the loop while they wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "gateway/http_message.h"
#include "gateway/http_settings.h"

namespace gateway {

class http_server {
  public:
    http_server(const http_settings& settings, http_handlers handlers);
    ~http_server();
    http_server(const http_server&) = delete;
    http_server& operator=(const http_server&) = delete;

    // Opens the listener on host (an address or "localhost") and port (0: one the kernel
    // picks). false, with the reason in why, when it cannot.
    bool listen(const std::string& host, std::uint16_t port, std::string& why);
    std::uint16_t port() const;

    // Serves until stop() has finished, on settings.threads threads, this one among them.
    void run();
    // From any thread: takes no more connections and closes those waiting for a request at
    // once; answers under way get until grace to be sent. Then every connection is closed
    // and run() returns.
    void stop(std::chrono::milliseconds grace);
    // Connections open now (for tests and the benchmark).
    int open_connections() const;

  private:
    class impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace gateway
