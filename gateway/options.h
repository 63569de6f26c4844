// The gateway's settings: where it listens, which controllers it polls and how, whether and
// by whom writes may be made, and where it keeps its state. From the command line or a config file
// with the same entries.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/result.h"
#include "gateway/addresses.h"
#include "gateway/http_settings.h"
#include "gateway/mill/logbook.h"
#include "gateway/poll_settings.h"

namespace gateway {

struct options {
    listen_address listen;
    std::vector<controller_address> controllers;
    std::chrono::milliseconds poll = poll_settings{}.interval;
    // The longest wait for a controller's next bytes, and for one exchange in all.
    std::chrono::milliseconds timeout = poll_settings{}.timeout;
    std::chrono::milliseconds deadline = poll_settings{}.deadline;
    std::chrono::milliseconds write_deadline = poll_settings{}.write_deadline;
    std::size_t max_queued_writes = poll_settings{}.max_queued_writes;
    bool read_only = false;
    std::string token_file;
    mill::token_table tokens;  // read from token_file
    // The state directory (the settings library, the logbook, the roll-outs); empty: the
    // gateway keeps no state.
    std::string state_dir;
    int logbook_days = mill::default_logbook_days;
    // The HTTP side's settings besides read_only and token (which are above).
    http_settings http;

    poll_settings polls() const;
    http_settings http_side() const;
};

// "loom1=10.0.0.7:9002", "loom2=10.0.0.8" (port 9002): a name of letters, digits, '-', '_'
// and '.', and an address; "loom7=10.0.3.7,group=hall2" puts it into a group of the fleet page
// (a group's name follows the same rules as a controller's).
ifc_client::result<controller_address> parse_controller(std::string_view text);
// "host:port" or "host" (default_port). The host is an IPv4 address, [IPv6] or a DNS name
// (letters, digits, '-' and '.').
ifc_client::result<std::pair<std::string, std::uint16_t>> parse_host_port(
    std::string_view text, std::uint16_t default_port);

// What to do after reading the command line.
struct parse_outcome {
    std::optional<options> settings;  // set: run with these
    int exit_status = 0;              // otherwise: exit with this status
    std::string output;               // ... after printing this (help, version or an error)
    bool to_stderr = false;
};
parse_outcome parse_options(const std::vector<std::string>& args);

}  // namespace gateway
