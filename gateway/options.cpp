#include "gateway/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>
#include <sstream>

#include "gateway/config_errors.h"
#include "gateway/version.h"
#include "protocol/protocol.h"

namespace gateway {

namespace {

using ifc_client::errc;
using ifc_client::error;

error bad(std::string message) {
    return error{errc::bad_request, std::move(message)};
}

std::chrono::milliseconds millis(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

double seconds(std::chrono::milliseconds millis) {
    return std::chrono::duration<double>(millis).count();
}

std::string name_rules() {
    return "use 1 to " + std::to_string(max_controller_name) + " letters, digits, '-', '_' or '.'";
}

// One ",KEY=VALUE" of a controller's text; the reason when it is refused.
std::optional<std::string> take_setting(controller_address& controller, std::string_view setting) {
    constexpr std::string_view group_key = "group=";
    if (!setting.starts_with(group_key)) {
        return "\"" + std::string(setting) + "\" is not group=GROUP";
    }
    const std::string_view group = setting.substr(group_key.size());
    if (!controller.group.empty()) return std::string("the group is given twice");
    if (!is_group_name(group)) return "group name \"" + std::string(group) + "\": " + name_rules();
    controller.group = group;
    return std::nullopt;
}

// A DNS name as a host: letters, digits, '-' and '.', at most 253 of them.
bool is_host_name(std::string_view host) {
    return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.';
    });
}

std::string usage_footer() {
    return R"(
Controllers are given as NAME=HOST[:PORT] (port 9002 by default), with ",group=GROUP" to
put them into a group of the fleet page, on the command line or in the config file (one
"controller = NAME=HOST:PORT,group=GROUP" line each; every option can be written there as
"name = value"). Writes from the API need a bearer token from --token-file when the
listener is not on loopback; --read-only turns them off. With --state-dir the gateway keeps
a settings library, a logbook of every change and roll-outs in DIR/gateway.db.

Exit status: 0 after a clean stop (SIGTERM, SIGINT), 1 for a usage or configuration error,
2 when the listener cannot be opened.
Documentation: docs/gateway.md (installed in /usr/share/doc/ifc-server/gateway.md).)";
}

}  // namespace

ifc_client::result<std::pair<std::string, std::uint16_t>> parse_host_port(
    std::string_view text, std::uint16_t default_port) {
    std::string_view host = text;
    std::string_view port_text;
    if (text.starts_with('[')) {  // [::1]:8090
        const auto close = text.find(']');
        if (close == std::string_view::npos) return bad("\"" + std::string(text) + "\": missing ]");
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':')) return bad("\"" + std::string(text) + "\": bad address");
            port_text = rest.substr(1);
        }
    } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            return bad("\"" + std::string(text) + "\": write an IPv6 address as [ADDRESS]:PORT");
        }
    }
    if (host.empty()) return bad("\"" + std::string(text) + "\": no host");
    if (!is_address_literal(host) && !is_host_name(host)) {
        return bad("\"" + std::string(text) + "\": the host is not an address or a host name");
    }
    std::uint16_t port = default_port;
    if (!port_text.empty() || text.ends_with(':')) {
        int value = 0;
        const auto [end, ec] =
            std::from_chars(port_text.data(), port_text.data() + port_text.size(), value);
        if (ec != std::errc() || end != port_text.data() + port_text.size() || value < 1 ||
            value > 65535) {
            return bad("\"" + std::string(text) + "\": the port must be a number 1..65535");
        }
        port = static_cast<std::uint16_t>(value);
    }
    return std::pair{std::string(host), port};
}

ifc_client::result<controller_address> parse_controller(std::string_view text) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        return bad("controller \"" + std::string(text) + "\" is not NAME=HOST[:PORT]");
    }
    const std::string_view name = text.substr(0, equals);
    if (!is_controller_name(name)) {
        return bad("controller name \"" + std::string(name) + "\": " + name_rules());
    }
    // HOST[:PORT] up to the first comma; after it, settings of the controller (group=NAME).
    const std::string_view rest = text.substr(equals + 1);
    const auto comma = rest.find(',');
    auto address = parse_host_port(rest.substr(0, comma), protocol::server_port);
    if (!address) return bad("controller " + std::string(name) + ": " + address.failure().detail);
    controller_address controller{std::string(name), address->first, address->second, {}};
    for (auto at = comma; at != std::string_view::npos;) {
        const auto next = rest.find(',', at + 1);
        const std::string_view setting = rest.substr(at + 1, next - at - 1);
        if (const auto failure = take_setting(controller, setting)) {
            return bad("controller " + std::string(name) + ": " + *failure);
        }
        at = next;
    }
    return controller;
}

parse_outcome parse_options(const std::vector<std::string>& args) {
    CLI::App app{
        "ifc-gateway: a web panel, a JSON API and Prometheus metrics for the "
        "weft-insertion controllers of one machine or a whole mill",
        "ifc-gateway"};
    options settings;  // the defaults
    std::string listen = settings.listen.host + ":" + std::to_string(settings.listen.port);
    std::vector<std::string> controllers;
    double poll = seconds(settings.poll), timeout = seconds(settings.timeout),
           deadline = seconds(settings.deadline);
    app.add_option("--listen", listen, "HTTP listener, HOST:PORT")->capture_default_str();
    app.add_option("--controller", controllers,
                   "a controller to poll; GROUP: its group on the fleet page")
        ->type_name("NAME=HOST[:PORT][,group=GROUP]");
    app.add_option("--poll", poll, "seconds between polls of each controller")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    app.add_option("--timeout", timeout, "seconds to wait for a controller's next bytes")
        ->check(CLI::Range(0.01, 60.0))
        ->capture_default_str();
    app.add_option("--deadline", deadline, "seconds one exchange with a controller may take in all")
        ->check(CLI::Range(0.01, 60.0))
        ->capture_default_str();
    app.add_flag("--read-only", settings.read_only, "refuse every write");
    app.add_option("--token-file", settings.token_file,
                   "file of the bearer tokens writes need: one token, or NAME TOKEN "
                   "[read-only] lines");
    app.add_option("--state-dir", settings.state_dir,
                   "directory of the gateway's state (settings library, logbook, roll-outs); "
                   "without it the gateway keeps no state");
    app.add_option("--logbook-days", settings.logbook_days,
                   "days the logbook keeps an entry (with --state-dir)")
        ->check(CLI::Range(1, mill::max_logbook_days))
        ->capture_default_str();
    double write_deadline = seconds(settings.write_deadline);
    app.add_option("--write-deadline", write_deadline,
                   "seconds within which every write is answered, its wait included")
        ->check(CLI::Range(0.1, 600.0))
        ->capture_default_str();
    app.add_option("--max-queued-writes", settings.max_queued_writes,
                   "writes that may wait for one controller; more are answered 429")
        ->check(CLI::Range(1, 10000))
        ->capture_default_str();
    http_settings& http = settings.http;
    app.add_option("--http-threads", http.threads, "threads of the HTTP server's event loop")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    app.add_option("--max-connections", http.max_connections,
                   "HTTP connections open at once; more are answered 503")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    app.add_option("--max-connections-per-address", http.max_connections_per_address,
                   "HTTP connections open at once from one address; more are answered 503")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    double request_deadline = seconds(http.request_deadline);
    app.add_option("--request-deadline", request_deadline,
                   "seconds within which a request must arrive whole (and its answer be taken)")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    app.add_option("--max-probes", http.max_probes,
                   "probes under way at once; more are answered 503")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    std::string metrics(name_of(http.metrics));
    app.add_option("--metrics", metrics,
                   "what /metrics and /probe carry per controller: basic, settings (adds the "
                   "set-points) or full (adds the histogram bins)")
        ->check(CLI::IsMember(
            std::vector<std::string>(metrics_detail_names.begin(), metrics_detail_names.end())))
        ->capture_default_str();
    std::vector<std::string> allowed_hosts, probe_allow;
    app.add_option("--allowed-host", allowed_hosts,
                   "a host name (or NAME:PORT) requests may address the gateway by")
        ->type_name("NAME");
    app.add_option("--probe-allow", probe_allow,
                   "an address or network /probe may reach besides the controllers")
        ->type_name("ADDRESS[/PREFIX]");
    app.set_config("--config", "", "read options from this file (name = value lines)")
        ->type_name("FILE");
    // A value of the file is one value, commas and all ("controller = NAME=HOST,group=GROUP"),
    // as on the command line.
    app.get_config_formatter_base()->arrayDelimiter('\n');
    app.allow_config_extras(CLI::config_extras_mode::error);
    const std::string version_text = "ifc-gateway " + std::string(gateway_version());
    app.set_version_flag("--version", version_text);
    app.footer(usage_footer());

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {std::nullopt, 0, app.help(), false};
    } catch (const CLI::CallForVersion&) {
        return {std::nullopt, 0, version_text + "\n", false};
    } catch (const CLI::ParseError& e) {
        return {std::nullopt, 1, "ifc-gateway: " + describe_parse_error(app, args, e) + "\n", true};
    }

    const auto fail = [](const std::string& message) {
        return parse_outcome{std::nullopt, 1, "ifc-gateway: " + message + "\n", true};
    };
    auto address = parse_host_port(listen, default_http_port);
    if (!address) return fail("--listen " + address.failure().detail);
    settings.listen = listen_address{address->first, address->second};
    std::set<std::string> names;
    for (const auto& text : controllers) {
        auto controller = parse_controller(text);
        if (!controller) return fail(controller.failure().detail);
        if (!names.insert(controller->name).second) {
            return fail("controller name \"" + controller->name + "\" is given twice");
        }
        settings.controllers.push_back(std::move(controller.value()));
    }
    settings.poll = millis(poll);
    settings.timeout = millis(timeout);
    settings.deadline = millis(deadline);
    settings.write_deadline = millis(write_deadline);
    http.request_deadline = millis(request_deadline);
    http.metrics = parse_metrics_detail(metrics).value_or(http.metrics);
    // A write gives up sending at its deadline less the room for a read-back (a connection and
    // one exchange), and must have room for at least one exchange before that.
    if (settings.write_deadline < 2 * (settings.timeout + settings.deadline)) {
        std::ostringstream least;
        least << 2 * seconds(settings.timeout + settings.deadline);
        return fail("--write-deadline must be at least twice --timeout plus --deadline (" +
                    least.str() + " s)");
    }
    for (const auto& host : allowed_hosts) {
        if (host.empty() || host.find_first_of(" /\t") != std::string::npos) {
            return fail("--allowed-host \"" + host + "\" is not a host name");
        }
        http.allowed_hosts.push_back(host);
    }
    for (const auto& text : probe_allow) {
        auto allowed = parse_network(text);
        if (!allowed) {
            return fail("--probe-allow \"" + text +
                        "\" is not an address or a network ADDRESS/PREFIX");
        }
        http.probe_allow.push_back(std::move(*allowed));
    }
    if (!settings.token_file.empty()) {
        auto tokens = mill::read_token_file(settings.token_file);
        if (!tokens) return fail("--token-file: " + tokens.failure().detail);
        settings.tokens = std::move(tokens.value());
    }
    if (!settings.listen.loopback() && !settings.read_only && settings.tokens.tokens.empty()) {
        return fail("writes on a listener outside loopback (" + listen +
                    ") need --token-file; or give --read-only");
    }
    http.loopback = settings.listen.loopback();
    return {std::move(settings), 0, "", false};
}

poll_settings options::polls() const {
    poll_settings polls;
    polls.interval = poll;
    polls.timeout = timeout;
    polls.deadline = deadline;
    polls.write_deadline = write_deadline;
    polls.max_queued_writes = max_queued_writes;
    return polls;
}

http_settings options::http_side() const {
    http_settings side = http;
    side.read_only = read_only;
    side.tokens = tokens;
    return side;
}

}  // namespace gateway
