// ifc-proxy's defaults, each defined once: the command line shows them and the relay's
// settings start from them. The controller's port is the protocol's; the proxy listens a
// hundred above it, so that a terminal is pointed at it by its port alone.
#pragma once

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

    static proxy_net::address listen() { return {host, listen_port}; }
    static proxy_net::address to() { return {host, controller_port}; }
};
