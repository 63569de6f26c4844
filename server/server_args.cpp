#include "server/server_args.h"

#include <charconv>
#include <string_view>

#ifndef IFC_VERSION
#define IFC_VERSION "unknown"
#endif

namespace {

constexpr std::string_view port_option = "--port";

// A TCP port: 1 to 65535, decimal digits only.
bool read_port(std::string_view text, std::uint16_t& port) {
    unsigned value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || stop != end || value == 0 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

server_args usage_error(std::string message) {
    server_args options;
    options.what = server_args::action::usage_error;
    options.error = std::move(message);
    return options;
}

}  // namespace

server_args parse_server_args(std::span<const char* const> args) {
    server_args options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.what = server_args::action::help;
            return options;
        }
        if (arg == "--version") {
            options.what = server_args::action::version;
            return options;
        }
        std::string_view value;
        if (arg == port_option) {
            if (i + 1 == args.size()) return usage_error("option '--port' needs a port number");
            value = args[++i];
        } else if (arg.starts_with("--port=")) {
            value = arg.substr(port_option.size() + 1);
        } else {
            return usage_error("unknown argument '" + std::string(arg) + "'");
        }
        if (!read_port(value, options.port)) {
            return usage_error("invalid port '" + std::string(value) + "' (1 to 65535)");
        }
    }
    return options;
}

std::string server_usage() {
    return "Usage: ifc-server [--port N] [--help] [--version]\n";
}

std::string server_help() {
    return server_usage() +
           "\n"
           "The weft-insertion operator-interface server. It serves one client at a time on\n"
           "TCP port 9002 of every IPv4 address and keeps its settings in the files\n"
           "ifc_set.set and valve_fp.set of its working directory.\n"
           "\n"
           "  --port N     listen on port N instead of 9002\n"
           "  --help       show this text and exit\n"
           "  --version    show the version and exit\n"
           "\n"
           "Diagnostics go to standard output and standard error. The exit status is 1 when\n"
           "the port cannot be listened on, 2 for a wrong argument.\n";
}

std::string server_version() {
    return std::string("ifc-server ") + IFC_VERSION + "\n";
}
