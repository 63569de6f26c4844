#include "proxy/program/diagnostics.h"

#include <string>

#include "proxy/program/defaults.h"

namespace {

constexpr std::string_view prefix = "ifc-proxy: ";

line_output::settings standard_error(int fd) {
    line_output::settings s;
    s.fd = fd;
    s.name = "standard error";
    s.capacity = proxy_defaults::diagnostics_buffer;
    s.dropped_notice = [](std::uint64_t count) {
        return std::string(prefix) + std::to_string(count) + " diagnostic lines dropped";
    };
    return s;
}

}  // namespace

diagnostics::diagnostics(int fd) : out_(standard_error(fd)) {}

void diagnostics::say(std::string_view message) {
    out_.put(std::string(prefix) + std::string(message));
}

std::uint64_t diagnostics::finish(std::chrono::steady_clock::time_point deadline) {
    return out_.finish(deadline);
}
