// The settings of the gateway's HTTP side and the bounds of what a client may make it hold.
// The defaults here are the command line's defaults too.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "gateway/addresses.h"
#include "gateway/metrics_detail.h"
#include "gateway/mill/named_tokens.h"

namespace gateway {

struct http_settings {
    bool read_only = false;
    // The tokens writes need, each with its name (--token-file); none: writes need no token.
    mill::token_table tokens;
    // The listener is on loopback: requests without a token must name a loopback host.
    bool loopback = true;
    // Host names (and name:port) requests may carry besides the gateway's own (--allowed-host).
    std::vector<std::string> allowed_hosts;
    // The addresses /probe may reach besides the configured controllers (--probe-allow).
    std::vector<network> probe_allow;
    // Threads of the server's event loop (--http-threads).
    int threads = 2;
    // Open connections in all and from one address (--max-connections, ...-per-address).
    int max_connections = 256;
    int max_connections_per_address = 64;
    // A request, from the opening of the connection (or the end of the previous answer on it)
    // to its last byte, must arrive within this (--request-deadline); an answer must be taken
    // by the client within it too.
    std::chrono::milliseconds request_deadline{10000};
    // Probes under way at once (--max-probes); more are answered 503.
    int max_probes = 16;
    // What /metrics and /probe carry unless a request asks otherwise (--metrics).
    metrics_detail metrics = metrics_detail::basic;
};

// The request line and header fields together, and a request's body (after the chunked coding
// is undone), at most.
inline constexpr std::size_t max_header_bytes = 8 * 1024;
inline constexpr std::size_t max_body_bytes = 64 * 1024;

}  // namespace gateway
