// The command line of ifc-proxy: the relay's options, or one of the two offline jobs (the
// summary of a journal, the check of a rules file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "proxy/program/defaults.h"

namespace proxy_exit {
inline constexpr int ok = 0;
inline constexpr int failure = 1;  // cannot listen, reach a file, or read a journal
inline constexpr int usage = 2;    // a wrong argument or a rules file that is not sound
}  // namespace proxy_exit

struct proxy_arguments {
    enum class job { relay, summary, check_rules };
    job what = job::relay;
    std::string listen = proxy_defaults::listen().text();
    std::string to = proxy_defaults::to().text();
    std::optional<std::string> journal;
    std::optional<std::string> rules;
    std::optional<std::uint64_t> seed;
    std::size_t text_max = proxy_defaults::text_max;
    std::size_t max_connections = proxy_defaults::max_connections;
    std::string file;  // summary: the journal; check_rules: the rules file
};

struct parsed_arguments {
    std::optional<proxy_arguments> args;  // empty: end with status, after printing text
    int status = proxy_exit::ok;
    std::string text;  // the help or version text (standard output) or the error (standard error)
};

parsed_arguments parse_arguments(int argc, const char* const* argv);
