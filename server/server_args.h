// The few command-line options of ifc-server. Without arguments it serves on port 9002, as it
// always has.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "protocol/protocol.h"

struct server_args {
    enum class action { serve, help, version, usage_error };
    action what = action::serve;
    std::uint16_t port = protocol::server_port;
    std::string error;  // for usage_error: what was wrong, without the usage line
};

// Reads the arguments after the program name: --port N (or --port=N), --help, --version.
server_args parse_server_args(std::span<const char* const> args);

// The usage line, the help text and the version line, each ending with a line end.
std::string server_usage();
std::string server_help();
std::string server_version();
