// ifc-proxy's defaults, each defined once: the command line shows them and the relay's
// settings start from them. The controller's port is the protocol's; the proxy listens a
// hundred above it, so that a terminal is pointed at it by its port alone.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "protocol/protocol.h"
#include "proxy/program/address.h"

struct proxy_defaults {
    // Where both ends are unless told otherwise; also the host of a bare PORT.
    static constexpr const char* host = "127.0.0.1";
    static constexpr std::uint16_t controller_port = protocol::server_port;
    static constexpr std::uint16_t listen_port = protocol::server_port + 100;
    // Bytes of an answer or argument a journal line keeps.
    static constexpr std::size_t text_max = 256;
    // Terminal connections relayed at once; a terminal past them is turned away.
    static constexpr std::size_t max_connections = 256;
    static constexpr std::size_t max_connections_limit = 4096;  // what --max-connections allows

    // Bytes of journal lines (of standard error's lines) that wait for their reader; past
    // them, lines are dropped and counted.
    static constexpr std::size_t journal_buffer = 1024 * 1024;
    static constexpr std::size_t diagnostics_buffer = 64 * 1024;
    // At a stop, how long the readers of the journal and of standard error get to take what
    // waits for them: a stop ends the proxy within about twice this, whatever they do.
    static constexpr std::chrono::milliseconds stop_drain{500};

    static proxy_net::address listen() { return {host, listen_port}; }
    static proxy_net::address to() { return {host, controller_port}; }
};
