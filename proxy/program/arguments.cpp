#include "proxy/program/arguments.h"

#include <CLI/CLI.hpp>

#ifndef IFC_PROXY_VERSION
#define IFC_PROXY_VERSION "unknown"
#endif

namespace {

constexpr const char* description =
    "ifc-proxy: a relay between operator terminals and the weft-insertion controller that\n"
    "understands their exchange. Point a terminal at --listen instead of the controller: every\n"
    "byte passes unchanged, each request is written to the journal, and fault rules make the\n"
    "controller misbehave on purpose, at exactly the request and point they name.";

constexpr const char* footer =
    "Jobs besides relaying:\n"
    "  ifc-proxy --summary JOURNAL      per-command counts, failures and latency percentiles\n"
    "  ifc-proxy --check-rules FILE     check a rules file and show its rules in words\n"
    "\n"
    "Signals: SIGHUP reads the rules file again (a file that is not sound leaves the rules in\n"
    "force); SIGINT and SIGTERM stop the proxy.\n"
    "\n"
    "Exit status: 0 ok, 1 cannot listen or open a file, 2 wrong argument or unsound rules.\n"
    "The guide, the rules and journal formats and a recipe per fault: docs/proxy.md.";

}  // namespace

parsed_arguments parse_arguments(int argc, const char* const* argv) {
    proxy_arguments a;
    CLI::App app{description, "ifc-proxy"};
    app.footer(footer);
    app.set_version_flag("--version", std::string("ifc-proxy ") + IFC_PROXY_VERSION);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    auto* listen = app.add_option("--listen", a.listen, "where the terminals connect")
                       ->type_name("HOST:PORT")
                       ->capture_default_str();
    auto* to = app.add_option("--to", a.to, "the controller")
                   ->type_name("HOST:PORT")
                   ->capture_default_str();
    auto* journal = app.add_option("--journal", a.journal,
                                   "append a JSON line per request to FILE (- standard output)")
                        ->type_name("FILE");
    auto* rules = app.add_option("--rules", a.rules, "fault rules (JSON)")->type_name("FILE");
    auto* seed = app.add_option("--seed", a.seed,
                                "seed of the rules' random choices (default: a new one at each "
                                "start; the journal records it)")
                     ->type_name("N");
    auto* text_max =
        app.add_option("--text-max", a.text_max, "bytes of an answer or argument the journal keeps")
            ->type_name("BYTES")
            ->check(CLI::Range(0, 1 << 20))
            ->capture_default_str();
    auto* max_connections =
        app.add_option("--max-connections", a.max_connections,
                       "terminals relayed at once; one more is turned away (a reset)")
            ->type_name("N")
            ->check(CLI::Range(std::size_t{1}, proxy_defaults::max_connections_limit))
            ->capture_default_str();
    auto* summary = app.add_option("--summary", a.file, "print the summary of a journal, exit")
                        ->type_name("JOURNAL");
    auto* check =
        app.add_option("--check-rules", a.file, "check a rules file, exit")->type_name("FILE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return parsed_arguments{std::nullopt, proxy_exit::ok, app.help()};
    } catch (const CLI::CallForVersion&) {
        return parsed_arguments{std::nullopt, proxy_exit::ok,
                                std::string("ifc-proxy ") + IFC_PROXY_VERSION + "\n"};
    } catch (const CLI::ParseError& e) {
        return parsed_arguments{std::nullopt, proxy_exit::usage,
                                std::string("usage: ") + e.what() + " (see ifc-proxy --help)"};
    }
    const bool relay_options = listen->count() + to->count() + journal->count() + rules->count() +
                                   seed->count() + text_max->count() + max_connections->count() >
                               0;
    if (summary->count() + check->count() > 1 ||
        (summary->count() + check->count() > 0 && relay_options)) {
        return parsed_arguments{std::nullopt, proxy_exit::usage,
                                "usage: --summary and --check-rules stand alone (see ifc-proxy "
                                "--help)"};
    }
    if (summary->count() > 0) a.what = proxy_arguments::job::summary;
    if (check->count() > 0) a.what = proxy_arguments::job::check_rules;
    return parsed_arguments{a, proxy_exit::ok, {}};
}
