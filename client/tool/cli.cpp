#include "client/tool/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>

#include "client/tool/help_text.h"

namespace {

struct app_with_targets {
    CLI::App app{std::string(client_description), "ifc-client"};
    request command;
    bool json = false;
    bool raw = false;
};

// Builds the parser over options and the command it fills.
void define(app_with_targets& a, global_options& options) {
    CLI::App& app = a.app;
    app.require_subcommand(0, 1);
    app.fallthrough();
    // A later option overrides an earlier one (handy after an alias or at the prompt).
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--host", options.host, "server address")->capture_default_str();
    app.add_option("--port", options.port, "server TCP port")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--timeout", options.timeout_seconds,
                   "seconds to wait for the server at each step")
        ->check(CLI::Range(0.001, 3600.0))
        ->capture_default_str();
    auto* json = app.add_flag("--json", a.json, "one JSON object per command");
    auto* raw = app.add_flag("--raw", a.raw, "the server's answers exactly as received");
    json->excludes(raw);
    auto* interval = app.add_option("--interval", options.interval_seconds,
                                    "repeat a read command every SECONDS")
                         ->check(CLI::Range(0.001, 86400.0));
    app.add_option("--count", options.count, "with --interval: stop after N rounds")
        ->check(CLI::Range(1, 1000000000))
        ->needs(interval);

    request& c = a.command;
    auto* get = app.add_subcommand("get", "run a read command by name, print its answer");
    get->add_option("NAME", c.name, "read command name")->required();
    auto* put = app.add_subcommand("put", "run a write command by name with an argument");
    put->add_option("NAME", c.name, "write command name")->required();
    put->add_option("ARGUMENT", c.words, "argument words, joined by one blank");
    app.add_subcommand("ping", "connect and send PING");
    app.add_subcommand("status", "machine status [color=N mode=N totw_sw=N]")
        ->add_option("CHANGES", c.words, "KEY=VALUE items: color, mode, totw_sw");
    app.add_subcommand("select", "device selection [ITEM=0|1 ... | all]")
        ->add_option("CHANGES", c.words, "ITEM=0|1 items, or all");
    for (const char* verb : {"targets", "timing", "valves"}) {
        const std::string what = verb == std::string("targets")  ? "arrival-timing targets"
                                 : verb == std::string("timing") ? "measured timing, averages"
                                                                 : "valve on/off angles";
        auto* sub = app.add_subcommand(verb, what + " of a weft colour");
        sub->add_option("COLOUR", c.colour, "weft colour 1..6")
            ->required()
            ->check(CLI::Range(1, 6));
        if (verb != std::string("timing")) {
            sub->add_option("CHANGES", c.words, "KEY=VALUE items");
        }
    }
    app.add_subcommand("histogram", "left|right, select [SIDE COLOUR ITEM], clear, set")
        ->add_option("WORDS", c.words, "left | right | select ... | clear ... | set ...")
        ->required();

    // Set last: subcommands take their parent's footer when they are added.
    app.footer(client_manual());
    for (CLI::App* sub : app.get_subcommands({})) {
        sub->footer(command_manual(sub->get_name()) +
                    "\nOptions, output forms and exit statuses: ifc-client --help");
    }
}

}  // namespace

ifc_client::endpoint global_options::endpoint() const {
    const auto millis = static_cast<long long>(std::llround(timeout_seconds * 1000));
    return ifc_client::endpoint{host, static_cast<std::uint16_t>(port),
                                std::chrono::milliseconds(std::max(1LL, millis))};
}

parse_result parse_arguments(const std::vector<std::string>& args, const global_options& defaults,
                             std::ostream& out) {
    global_options options = defaults;
    app_with_targets a;
    a.json = defaults.format == output_format::json;
    a.raw = defaults.format == output_format::raw;
    define(a, options);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        a.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << a.app.help();  // the chosen subcommand's help, when there is one
        return {};
    } catch (const CLI::CallForAllHelp&) {
        out << a.app.help("", CLI::AppFormatMode::All);
        return {};
    } catch (const CLI::ParseError& e) {
        return parse_result{std::nullopt, exit_status::usage,
                            std::string("usage: ") + e.what() + " (see ifc-client --help)"};
    }
    options.format = a.json  ? output_format::json
                     : a.raw ? output_format::raw
                             : output_format::table;
    parsed_line line{options, std::nullopt};
    const auto subs = a.app.get_subcommands();
    if (!subs.empty()) {
        a.command.verb = subs.front()->get_name();
        line.command = a.command;
    }
    return parse_result{line, exit_status::ok, {}};
}

std::string help_text() {
    global_options options;
    app_with_targets a;
    define(a, options);
    return a.app.help();
}
