#include "client/tool/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <iostream>

#include "client/commands.h"
#include "client/histogram.h"
#include "client/settings_document.h"
#include "client/token_line.h"
#include "client/tool/help_text.h"
#include "client/tool/verbs.h"
#include "tools/cli_words.h"
#include "tools/suggest.h"

#ifndef IFC_VERSION
#define IFC_VERSION "unknown"
#endif

namespace ifc_tool {

namespace {

namespace cmd = ifc_client::commands;

constexpr std::string_view help_verb = "help";
constexpr std::string_view extra_commands[] = {help_verb};

// The parser and the places it stores what it reads.
struct app_with_targets {
    CLI::App app{std::string(client_description), "ifc-client"};
    request command;
    std::string colour;  // as typed, checked after parsing
    std::string host;    // HOST or HOST:PORT
    CLI::Option* port = nullptr;
    bool json = false;
    bool raw = false;
    CLI::App* help = nullptr;
    std::vector<std::string> help_topic;
};

std::string to_see(origin from) {
    return from == origin::prompt ? "type 'help'" : "see 'ifc-client --help'";
}

// --only and --colours of diff and apply.
void add_scope_options(CLI::App& sub, document_options& d) {
    sub.add_option("--only", d.only,
                   "only these sections: status,selection,targets,valves,histogram-selection")
        ->type_name("SECTIONS");
    sub.add_option("--colours", d.colours, "only these colours, e.g. 1,3")->type_name("LIST");
}

// The positionals a verb takes.
void add_arguments(CLI::App& sub, const verb& v, app_with_targets& a) {
    request& c = a.command;
    switch (v.takes) {
        case arguments::none:
            break;
        case arguments::name:
            sub.add_option("NAME", c.name, "read command name");
            break;
        case arguments::name_and_words:
            sub.add_option("NAME", c.name, "write command name");
            sub.add_option("ARGUMENT", c.words, "argument words, joined by one blank");
            break;
        case arguments::changes:
            sub.add_option("CHANGES", c.words, "KEY=VALUE items");
            break;
        case arguments::colour:
            sub.add_option("COLOUR", a.colour, "weft colour " + cmd::colour_range_text());
            break;
        case arguments::colour_and_changes:
            sub.add_option("COLOUR", a.colour, "weft colour " + cmd::colour_range_text());
            sub.add_option("CHANGES", c.words, "KEY=VALUE items");
            break;
        case arguments::words:
            sub.add_option("WORDS", c.words, "see below");
            break;
        case arguments::export_options:
            sub.add_option("-o,--output", c.document.output,
                           "write the document to FILE instead of standard output")
                ->type_name("FILE");
            sub.add_option("--name", c.document.name, "the document's name")->type_name("NAME");
            sub.add_option("--note", c.document.note, "a note kept in the document")
                ->type_name("TEXT");
            break;
        case arguments::two_sides:
            sub.add_option("SIDES", c.words, "A and B: documents, settings directories or servers");
            add_scope_options(sub, c.document);
            break;
        case arguments::document:
            sub.add_option("DOC", c.words, "the settings document (- for standard input)");
            sub.add_flag("--dry-run", c.document.dry_run, "show the changes, send nothing");
            add_scope_options(sub, c.document);
            break;
    }
}

// Builds the parser over options and the command it fills: the global options, then one
// subcommand per row of the verb table, and "help".
void define(app_with_targets& a, global_options& options, origin from) {
    CLI::App& app = a.app;
    app.require_subcommand(0, 1);
    app.fallthrough();
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.get_formatter()->column_width(24);
    app.set_help_flag("-h,--help", "show this text and exit");
    app.set_version_flag("--version", "ifc-client " IFC_VERSION, "show the version and exit");
    // A later option overrides an earlier one (handy after an alias or at the prompt).
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--host", a.host, "server address, a name or IPv4 address (127.0.0.1)")
        ->type_name("HOST[:PORT]");
    a.port = app.add_option("--port", options.port,
                            "server TCP port (" + std::to_string(protocol::server_port) + ")")
                 ->type_name("N")
                 ->check(CLI::Range(1, 65535).description(""));
    app.add_option("--timeout", options.timeout_seconds,
                   "longest wait for the server at each step once it serves (5)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, 3600.0).description(""));
    app.add_option("--wait", options.wait_seconds,
                   "longest wait while the server serves another client (10)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 86400.0).description(""));
    auto* json = app.add_flag("--json", a.json, "one JSON object per command");
    auto* raw = app.add_flag("--raw", a.raw, "the server's answers exactly as received");
    json->excludes(raw);
    auto* interval = app.add_option("--interval", options.interval_seconds,
                                    "repeat a read command every SECONDS")
                         ->type_name("SECONDS")
                         ->check(CLI::Range(0.001, 86400.0).description(""));
    app.add_option("--count", options.count, "with --interval: stop after N rounds")
        ->type_name("N")
        ->check(CLI::Range(1, 1000000000).description(""))
        ->needs(interval);
    app.add_flag("--force", options.force,
                 "send out-of-range values and unknown write commands all the same");

    const std::string more = from == origin::prompt
                                 ? "\nOptions, output forms and exit statuses: help"
                                 : "\nOptions, output forms and exit statuses: ifc-client --help";
    for (const verb& v : verbs()) {
        CLI::App* sub = app.add_subcommand(std::string(v.name), std::string(v.summary));
        sub->group("Commands");
        sub->set_help_flag("-h,--help", "show this text and exit");
        add_arguments(*sub, v, a);
        sub->footer(std::string(v.manual) + more);
    }
    a.help = app.add_subcommand(std::string(help_verb), "show this text, or the help of COMMAND");
    a.help->group("Commands");
    a.help->add_option("COMMAND", a.help_topic, "a command");
    // Set last: subcommands take their parent's footer when they are added.
    app.footer(client_manual());
}

parse_result usage_error(std::string message) {
    return parse_result{std::nullopt, exit_status::usage, std::move(message)};
}

// "unknown command 'x'; did you mean 'y'?", or with a pointer to the help when there is no
// guess.
std::string with_help_pointer(std::string message, origin from) {
    if (message.find("did you mean") == std::string::npos) message += " (" + to_see(from) + ")";
    return message;
}

std::vector<std::string_view> verb_names() {
    std::vector<std::string_view> names;
    for (const verb& v : verbs())
        names.push_back(v.name);
    return names;
}

// "help [COMMAND]": the manual, or the help of one command.
parse_result show_help(app_with_targets& a, origin from, std::ostream& out) {
    if (a.help_topic.empty()) {
        out << help_text(from);  // not a.app.help(): that is the help of "help" itself now
        return {};
    }
    const std::string& topic = a.help_topic.front();
    if (find_verb(topic) == nullptr) {
        return usage_error(with_help_pointer(
            "no command '" + topic + "'" + ifc_tool::did_you_mean(topic, verb_names()), from));
    }
    out << a.app.get_subcommand(topic)->help(a.app.get_name());
    return {};
}

// --host HOST:PORT names the port as well; it must agree with --port when both are given.
std::optional<std::string> split_host(app_with_targets& a, global_options& options) {
    const std::size_t colon = a.host.rfind(':');
    if (colon == std::string::npos) {
        options.host = a.host;
        return std::nullopt;
    }
    const std::string port_text = a.host.substr(colon + 1);
    const auto port = ifc_client::parse_int32(port_text);
    if (!port || *port < 1 || *port > 65535 || colon == 0) {
        return "--host " + a.host + ": expected HOST or HOST:PORT with a port 1..65535";
    }
    if (a.port->count() > 0 && options.port != *port) {
        return "--host " + a.host + " and --port " + std::to_string(options.port) +
               " name different ports";
    }
    options.host = a.host.substr(0, colon);
    options.port = *port;
    return std::nullopt;
}

// The checks CLI11 cannot word for an operator: a missing word named with its choices, the
// colour as a weft colour.
std::optional<std::string> check_arguments(const verb& v, app_with_targets& a) {
    request& c = a.command;
    const std::string example =
        v.takes == arguments::name ? "IFC_get_stat" : std::string("IFC_set_stat");
    switch (v.takes) {
        case arguments::name:
        case arguments::name_and_words:
            if (c.name.empty()) {
                return std::string(v.name) + " needs NAME, the name of a " +
                       (v.takes == arguments::name ? "read" : "write") + " command (e.g. '" +
                       c.command_text(std::string(v.name) + " " + example) + "')";
            }
            break;
        case arguments::colour:
        case arguments::colour_and_changes: {
            if (a.colour.empty()) {
                return std::string(v.name) + " needs COLOUR, a weft colour " +
                       cmd::colour_range_text() + " (e.g. '" +
                       c.command_text(std::string(v.name) + " 1") + "')";
            }
            const auto n = ifc_client::parse_int32(a.colour);
            if (!n) {
                return "'" + a.colour + "' is not a weft colour " + cmd::colour_range_text();
            }
            if (!cmd::is_colour(*n)) return cmd::not_a_colour(*n).detail;
            c.colour = *n;
            break;
        }
        case arguments::two_sides:
            if (c.words.size() != 2) {
                return "diff needs A and B, each a document, a settings directory or a server "
                       "HOST[:PORT] (e.g. '" +
                       c.command_text("diff loom7.json 10.0.0.8") + "')";
            }
            break;
        case arguments::document:
            if (c.words.size() != 1) {
                return "apply needs DOC, one settings document (e.g. '" +
                       c.command_text("apply loom7.json --dry-run") + "')";
            }
            break;
        case arguments::none:
        case arguments::changes:
        case arguments::words:
        case arguments::export_options:
            break;
    }
    if (v.takes == arguments::two_sides || v.takes == arguments::document) {
        if (auto scope = ifc_client::parse_scope(c.document.only, c.document.colours); !scope) {
            return scope.failure().detail;
        }
    }
    return std::nullopt;
}

// The positionals of args after the word at index (options and their values left out).
std::vector<std::string> words_after(const CLI::App& app, const std::vector<std::string>& args,
                                     std::size_t index) {
    const auto options = option_words(app);
    std::vector<std::string> words;
    for (std::size_t i = index + 1; i < args.size(); ++i) {
        const std::string& w = args[i];
        if (w.size() > 1 && w[0] == '-' && !is_negative_number(w)) {
            const std::string name = w.substr(0, w.find('='));
            const auto o = std::find_if(options.begin(), options.end(),
                                        [&](const option_word& ow) { return ow.name == name; });
            if (o != options.end() && o->takes_value && w.find('=') == std::string::npos) ++i;
            continue;
        }
        words.push_back(w);
    }
    return words;
}

std::vector<std::string> strings_of(std::span<const std::string_view> words,
                                    std::string_view suffix = "") {
    std::vector<std::string> list;
    for (std::string_view w : words)
        list.push_back(std::string(w) + std::string(suffix));
    return list;
}

std::vector<std::string> colour_words() {
    std::vector<std::string> list;
    for (int c = cmd::first_colour; c <= cmd::last_colour; ++c)
        list.push_back(std::to_string(c));
    return list;
}

// KEY= for every key not named yet.
std::vector<std::string> key_words(std::span<const std::string_view> keys,
                                   const std::vector<std::string>& given) {
    std::vector<std::string> list;
    for (std::string_view k : keys) {
        const bool named = std::any_of(given.begin(), given.end(), [&](const std::string& g) {
            return g.starts_with(std::string(k) + "=") || g.starts_with(std::string(k) + ":");
        });
        if (!named) list.push_back(std::string(k) + "=");
    }
    return list;
}

// The words of histogram by position: left|right|select|clear|set, then colours and items.
std::vector<std::string> histogram_completions(const std::vector<std::string>& words) {
    const std::size_t n = words.size();
    if (n == 0) return {"left", "right", "select", "clear", "set"};
    const std::string& first = words[0];
    const auto items = strings_of(cmd::histogram_items);
    if (first == "select") {
        if (n == 1) return {"left", "right"};
        if (n == 2) return colour_words();
        if (n == 3) return items;
    }
    if (first == "clear") {
        if (n == 1) return colour_words();
        if (n == 2) return items;
    }
    if (first == "set") {
        if (n == 1 || n == 4) return colour_words();
        if (n == 2 || n == 5) return items;
    }
    return {};
}

std::vector<std::string> verb_completions(const verb& v, const std::vector<std::string>& words) {
    const std::size_t n = words.size();
    switch (v.takes) {
        case arguments::none:
            return {};
        case arguments::name:
            return n == 0 ? cmd::read_commands() : std::vector<std::string>{};
        case arguments::name_and_words:
            return n == 0 ? cmd::write_commands() : std::vector<std::string>{};
        case arguments::changes: {
            auto list = key_words(v.keys, words);
            if (n == 0 && v.name == "select")
                list.insert(list.begin(), std::string(cmd::select_all));
            return list;
        }
        case arguments::colour:
            return n == 0 ? colour_words() : std::vector<std::string>{};
        case arguments::colour_and_changes:
            return n == 0 ? colour_words() : key_words(v.keys, {words.begin() + 1, words.end()});
        case arguments::words:
            return histogram_completions(words);
        case arguments::export_options:
        case arguments::two_sides:
        case arguments::document:
            return {};  // file names and addresses: the shell's
    }
    return {};
}

// The values of --only and --colours.
std::vector<std::string> scope_values(std::string_view option) {
    if (option == "--colours") return colour_words();
    std::vector<std::string> words;
    for (ifc_client::section s : ifc_client::all_sections)
        words.emplace_back(ifc_client::section_word(s));
    return words;
}

}  // namespace

namespace {

parse_result parse_line(const std::vector<std::string>& args, const global_options& defaults,
                        origin from, std::ostream& out) {
    global_options options = defaults;
    app_with_targets a;
    a.json = defaults.format == output_format::json;
    a.raw = defaults.format == output_format::raw;
    a.host = defaults.host;
    define(a, options, from);
    // Mistyped words first, so that they are named as such and with the likely intent.
    if (std::string unknown = unknown_word(a.app, args, extra_commands); !unknown.empty()) {
        return usage_error(with_help_pointer(std::move(unknown), from));
    }
    // CLI11 takes the arguments in reverse order: it pops them off the back of the vector.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        a.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << a.app.help();  // the chosen command's help, when there is one
        return {};
    } catch (const CLI::CallForAllHelp&) {
        out << a.app.help("", CLI::AppFormatMode::All);
        return {};
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << '\n';
        return {};
    } catch (const CLI::ParseError& e) {
        return usage_error("usage: " + std::string(e.what()) + " (" + to_see(from) + ")");
    }
    if (a.help->parsed()) return show_help(a, from, out);
    if (auto wrong = split_host(a, options)) return usage_error("usage: " + *wrong);
    options.format = a.json  ? output_format::json
                     : a.raw ? output_format::raw
                             : output_format::table;
    parsed_line line{options, std::nullopt};
    const auto subs = a.app.get_subcommands();
    if (!subs.empty()) {
        a.command.verb = subs.front()->get_name();
        a.command.force = options.force;
        a.command.from = from;
        if (auto wrong = check_arguments(*find_verb(a.command.verb), a)) {
            return usage_error("usage: " + *wrong);
        }
        line.command = a.command;
    }
    return parse_result{line, exit_status::ok, {}};
}

}  // namespace

parse_result parse_arguments(const std::vector<std::string>& args, const global_options& defaults,
                             origin from, std::ostream& out) {
    parse_result parsed = parse_line(args, defaults, from, out);
    // diff answers as diff does: 1 means "different", so its usage errors take another status.
    if (parsed.status == exit_status::usage) {
        global_options options;
        app_with_targets a;
        define(a, options, from);
        const command_position at = find_command(a.app, args);
        if (at.command != nullptr && at.command->get_name() == "diff") {
            parsed.status = exit_status::document;
        }
    }
    return parsed;
}

std::string help_text(origin from) {
    global_options options;
    app_with_targets a;
    define(a, options, from);
    return a.app.help();
}

std::vector<std::string> completions(const std::vector<std::string>& args,
                                     std::string_view current) {
    global_options options;
    app_with_targets a;
    define(a, options, origin::command_line);
    const command_position at = find_command(a.app, args);
    auto options_of = [&](const CLI::App& app) {
        std::vector<std::string> names;
        for (const option_word& o : option_words(app))
            names.push_back(o.name);
        return names;
    };
    if (!args.empty()) {
        // The value of an option: nothing to offer, but for the scope of diff and apply.
        const std::string& last = args.back();
        if (last == "--only" || last == "--colours")
            return starting_with(scope_values(last), current);
        for (const option_word& o : option_words(a.app)) {
            if (o.name == last && o.takes_value) return {};
        }
    }
    std::vector<std::string> candidates;
    if (current.starts_with('-')) {
        candidates = options_of(a.app);
        if (at.command != nullptr) {
            for (std::string& o : options_of(*at.command)) {
                if (std::find(candidates.begin(), candidates.end(), o) == candidates.end())
                    candidates.push_back(std::move(o));
            }
        }
    } else if (current.find('=') != std::string_view::npos) {
        return {};  // a value
    } else if (at.index >= args.size()) {
        candidates = strings_of(verb_names());
        candidates.emplace_back(help_verb);
    } else if (args[at.index] == help_verb) {
        if (words_after(a.app, args, at.index).empty()) candidates = strings_of(verb_names());
    } else if (const verb* v = find_verb(args[at.index])) {
        candidates = verb_completions(*v, words_after(a.app, args, at.index));
    }
    return starting_with(candidates, current);
}

}  // namespace ifc_tool
