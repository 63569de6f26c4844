// What settings documents cost against the real ifc-server on loopback:
//
// - export: every setting of the server read in one connection (read_document: 15 GETs),
//   beside the 29 read commands each run the way a script would run "ifc-client get NAME" for
//   each (a connection per GET: connect, GET, DISCONNECT), the 15 settings GETs the same way,
//   and the 29 GETs on one connection;
// - apply of a document that differs from the server in every value: the PUTs it sends (one
//   per settings line; the selection, whose write command takes one item, one per item; the
//   histogram selection one per side) and its time, beside an apply that finds nothing to write
//   (the read alone), and beside its floor: the same PUTs sent bare on one connection (a PUT
//   that changes its line costs two flushes to the disk, so the PUTs are most of the time).
//   Every apply and every floor run changes every value.
//
//   document_bench [--scale F]
//
// F scales the number of rounds (default 1). Prints one table, p50 and p99 per case.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "client/commands.h"
#include "client/connection.h"
#include "client/document_apply.h"
#include "client/document_read.h"
#include "client/histogram.h"

namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

pid_t server_pid = -1;
std::string work_dir;

void stop_server() {
    if (server_pid > 0) {
        ::kill(server_pid, SIGKILL);
        ::waitpid(server_pid, nullptr, 0);
        server_pid = -1;
    }
    if (!work_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(work_dir, ignored);
    }
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "document_bench: %s\n", what.c_str());
    stop_server();
    std::exit(1);
}

ifc_client::endpoint at(std::uint16_t port) {
    return {"127.0.0.1", port, 10000ms};
}

// A port that nothing listened on a moment ago, from first on.
std::uint16_t free_port(std::uint16_t first) {
    for (std::uint16_t port = first;; ++port) {
        if (!ifc_client::connection::open({"127.0.0.1", port, 1000ms})) return port;
    }
}

// Starts the server on port in the working directory, its output discarded (as the other
// benchmarks do: the figures are the exchange's, not a log file's). true once it accepts
// connections; false when it ended (the port was taken after all).
bool start_server_on(std::uint16_t port) {
    const std::string port_text = std::to_string(port);
    server_pid = ::fork();
    if (server_pid < 0) die("fork failed");
    if (server_pid == 0) {
        if (::chdir(work_dir.c_str()) != 0) _exit(121);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(120);
        ::execl(IFC_SERVER_PATH, IFC_SERVER_PATH, "--port", port_text.c_str(),
                static_cast<char*>(nullptr));
        _exit(122);
    }
    const auto end = clock_type::now() + 10s;
    while (clock_type::now() < end) {
        if (auto c = ifc_client::connection::open(at(port))) {
            c->disconnect();
            return true;
        }
        if (::waitpid(server_pid, nullptr, WNOHANG) == server_pid) {
            server_pid = -1;
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    die("the server did not start listening");
}

// The server in a fresh working directory.
std::uint16_t start_server() {
    char dir_template[] = "/tmp/document_bench_XXXXXX";
    if (::mkdtemp(dir_template) == nullptr) die("cannot make a working directory");
    work_dir = dir_template;
    std::uint16_t port = 20000 + static_cast<std::uint16_t>(::getpid() % 20000);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port = free_port(port);
        if (start_server_on(port)) return port;
        ++port;
    }
    die("the server could not listen on five ports in a row");
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size()));
    return values[std::min(rank, values.size() - 1)];
}

double millis_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

ifc_client::connection open(std::uint16_t port) {
    auto c = ifc_client::connection::open(at(port));
    if (!c) die("cannot connect: " + c.failure().detail);
    return std::move(c.value());
}

void get(ifc_client::connection& c, const std::string& name) {
    if (auto answer = c.get(name); !answer) die("GET " + name + ": " + answer.failure().detail);
}

// The read commands of the settings, in the order read_document runs them.
std::vector<std::string> settings_reads() {
    namespace cmd = ifc_client::commands;
    std::vector<std::string> names{std::string(cmd::get_status), std::string(cmd::get_selection)};
    for (int colour = cmd::first_colour; colour <= cmd::last_colour; ++colour) {
        names.push_back(cmd::get_targets(colour));
        names.push_back(cmd::get_valves(colour));
    }
    names.emplace_back(cmd::get_histogram_selection);
    return names;
}

// Milliseconds of one export: a connection, every setting read, DISCONNECT.
double time_export(std::uint16_t port) {
    const auto start = clock_type::now();
    auto c = open(port);
    if (auto doc = ifc_client::read_document(c); !doc) die("export: " + doc.failure().detail);
    c.disconnect();
    return millis_since(start);
}

// Milliseconds of the GETs of names, each on a connection of its own.
double time_single_gets(std::uint16_t port, const std::vector<std::string>& names) {
    const auto start = clock_type::now();
    for (const std::string& name : names) {
        auto c = open(port);
        get(c, name);
        c.disconnect();
    }
    return millis_since(start);
}

// Milliseconds of the GETs of names on one connection.
double time_gets_in_one(std::uint16_t port, const std::vector<std::string>& names) {
    const auto start = clock_type::now();
    auto c = open(port);
    for (const std::string& name : names)
        get(c, name);
    c.disconnect();
    return millis_since(start);
}

// A document that differs from base in every value, and from the one made with the other
// flag: status, every selection flag, both targets and every valve angle of each colour, both
// sides of the histogram selection.
ifc_client::settings_document every_value_changed(ifc_client::settings_document doc, bool odd) {
    const int shift = odd ? 2 : 1;
    *doc.status = {{"color", 1 + 2 * shift}, {"mode", shift}, {"totw_sw", shift}};
    for (auto& t : *doc.selection)
        t.value = odd ? 0 : 1;
    for (auto& block : doc.colours) {
        (*block.targets)[0].value = 90 + 2 * shift + block.colour;
        (*block.targets)[1].value = 240 + 2 * shift + block.colour;
        int k = 0;
        for (auto& t : *block.valves)
            t.value = (t.value + 10 * shift + k++ + block.colour) % 360;
    }
    doc.histogram_selection = ifc_client::histogram_choice{{2 + shift, odd ? "tb3" : "tbw"},
                                                           {3 + shift, odd ? "to" : "tb1"}};
    return doc;
}

struct apply_figures {
    std::vector<double> millis;
    int puts = 0;
    std::size_t values = 0;
    std::size_t lines = 0;
};

void time_apply(std::uint16_t port, const ifc_client::settings_document& doc, apply_figures& out) {
    const ifc_client::connector connect = [port] { return ifc_client::connection::open(at(port)); };
    const auto start = clock_type::now();
    auto report = ifc_client::apply_document(connect, doc);
    out.millis.push_back(millis_since(start));
    if (!report) die("apply: " + report.failure().detail);
    if (report->failed_step() != nullptr) die("apply: a step did not apply");
    out.puts = report->puts();
    out.values = report->values();
    out.lines = report->steps.size();
}

// The PUTs that take the server from a document's values to target's, each line whole (the
// selection one item a PUT, the histogram selection one side a PUT), as apply sends them: the
// writes alone, without apply's reads and read-backs.
std::vector<std::pair<std::string, std::string>> bare_puts(
    const ifc_client::settings_document& from, const ifc_client::settings_document& target) {
    namespace cmd = ifc_client::commands;
    std::vector<std::pair<std::string, std::string>> puts;
    for (const ifc_client::apply_step& step : ifc_client::plan_apply(from, target)) {
        switch (step.what) {
            case ifc_client::section::status:
                puts.emplace_back(cmd::set_status, ifc_client::format_token_line(*target.status));
                break;
            case ifc_client::section::selection:
                for (const auto& c : step.changes) {
                    puts.emplace_back(cmd::set_selection,
                                      c.key + ":" + ifc_client::value_text(c.to) + " ");
                }
                break;
            case ifc_client::section::targets:
                puts.emplace_back(
                    cmd::set_targets(step.colour),
                    ifc_client::format_token_line(*target.line(step.what, step.colour)));
                break;
            case ifc_client::section::valves:
                puts.emplace_back(
                    cmd::set_valves(step.colour),
                    ifc_client::format_token_line(*target.line(step.what, step.colour)));
                break;
            case ifc_client::section::histogram_selection:
                for (const auto side :
                     {ifc_client::histogram_side::left, ifc_client::histogram_side::right}) {
                    const auto& choice = side == ifc_client::histogram_side::left
                                             ? target.histogram_selection->left
                                             : target.histogram_selection->right;
                    puts.emplace_back(
                        cmd::set_histogram_selection,
                        ifc_client::histogram_selection_argument(side, choice.colour, choice.item)
                            .value());
                }
                break;
        }
    }
    return puts;
}

// Milliseconds of the PUTs on one connection.
double time_puts(std::uint16_t port, const std::vector<std::pair<std::string, std::string>>& puts) {
    const auto start = clock_type::now();
    auto c = open(port);
    for (const auto& [name, argument] : puts) {
        if (auto sent = c.put(name, argument); !sent)
            die("PUT " + name + ": " + sent.failure().detail);
    }
    c.disconnect();
    return millis_since(start);
}

void row(const std::string& name, const std::vector<double>& millis, const std::string& requests) {
    std::printf("| %-52s | %-26s | %7.2f | %7.2f |\n", name.c_str(), requests.c_str(),
                percentile(millis, 50), percentile(millis, 99));
}

}  // namespace

int main(int argc, char** argv) {
    double scale = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: document_bench [--scale F]\n");
            return 2;
        }
    }
    const std::uint16_t port = start_server();
    const int rounds = std::max(10, static_cast<int>(200 * scale));
    const std::vector<std::string> all_reads = ifc_client::commands::read_commands();
    const std::vector<std::string> settings = settings_reads();

    auto c = open(port);
    auto base = ifc_client::read_document(c);  // makes the settings files
    if (!base) die("read: " + base.failure().detail);
    c.disconnect();
    const ifc_client::settings_document documents[2] = {every_value_changed(base.value(), false),
                                                        every_value_changed(base.value(), true)};

    std::vector<double> exports, singles_all, singles_settings, one_connection;
    apply_figures changing, unchanged;
    for (int warm = 0; warm < 5; ++warm) {
        time_export(port);
        time_single_gets(port, all_reads);
    }
    for (int round = 0; round < rounds; ++round) {
        exports.push_back(time_export(port));
        singles_all.push_back(time_single_gets(port, all_reads));
        singles_settings.push_back(time_single_gets(port, settings));
        one_connection.push_back(time_gets_in_one(port, all_reads));
    }
    // Each round takes every value from the second document's to the first's with apply, then
    // back with the bare PUTs, so that every PUT of both changes its line (and so is saved).
    const auto floor_puts = bare_puts(documents[0], documents[1]);
    std::vector<double> floor;
    const int apply_rounds = std::max(4, rounds / 5);
    time_puts(port, floor_puts);
    for (int round = 0; round < apply_rounds; ++round) {
        time_apply(port, documents[0], changing);
        time_apply(port, documents[0], unchanged);  // the same again: nothing to write
        floor.push_back(time_puts(port, floor_puts));
    }
    stop_server();

    std::printf(
        "settings documents against ifc-server on loopback: %d rounds of each read case, "
        "%d applies of each kind\n\n",
        rounds, apply_rounds);
    std::printf("| %-52s | %-26s | %7s | %7s |\n", "case", "requests", "p50 ms", "p99 ms");
    std::printf("|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(28, '-').c_str(),
                std::string(9, '-').c_str(), std::string(9, '-').c_str());
    row("export: every setting in one connection", exports,
        std::to_string(settings.size()) + " GETs, 1 connection");
    row("the 29 read commands, a connection each", singles_all,
        std::to_string(all_reads.size()) + " GETs, " + std::to_string(all_reads.size()) +
            " connections");
    row("the 15 settings reads, a connection each", singles_settings,
        std::to_string(settings.size()) + " GETs, " + std::to_string(settings.size()) +
            " connections");
    row("the 29 read commands in one connection", one_connection,
        std::to_string(all_reads.size()) + " GETs, 1 connection");
    row("apply, every value differs (" + std::to_string(changing.values) + " values, " +
            std::to_string(changing.lines) + " lines)",
        changing.millis, std::to_string(changing.puts) + " PUTs");
    row("the same PUTs alone, one connection (floor)", floor,
        std::to_string(floor_puts.size()) + " PUTs");
    row("apply, nothing differs (the read alone)", unchanged.millis,
        std::to_string(unchanged.puts) + " PUTs");
    std::printf(
        "\nexport p50 is %.2f x the 29 single GETs and %.2f x the 15 single settings GETs;"
        " apply p50 is %.2f x its PUTs alone\n",
        percentile(exports, 50) / percentile(singles_all, 50),
        percentile(exports, 50) / percentile(singles_settings, 50),
        percentile(changing.millis, 50) / percentile(floor, 50));
    return 0;
}
