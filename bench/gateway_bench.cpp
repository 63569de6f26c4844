// ifc-gateway under load, each figure beside its floor or target:
//   snapshot GET:  p50 of GET /api/controllers/NAME over one keep-alive connection, beside the
//                  floor of the same HTTP server library serving a fixed string of the same
//                  size with the same settings (target: within 2x);
//   slot hold:     how long one poll holds a controller's single client slot, connect to
//                  disconnect, against the real ifc-server;
//   viewers:       controller connections per minute with no viewer and with 100 viewers
//                  reading snapshots as fast as they can (target: the same);
//   memory:        the ifc-gateway executable's resident memory polling 50 real servers
//                  while viewers read (target: below 20 MiB);
//   fleet:         a mill: 50 and 500 controllers on one gateway with a fleet page open, its
//                  memory, threads and CPU, how far each poll starts from its time, and the
//                  list the page fetches. These controllers are the fake fleet (bench/fake_fleet.h)
//                  answering as a real ifc-server did; the page's own timings are
//                  bench/fleet_page_bench.py's.
// Every other server is the real ifc-server executable on a loopback port of its own.
//
//   gateway_bench [--scale F] [--part NAME]   F scales the number of requests and the windows
//                                             (default 1); NAME runs one part only
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "bench/fake_fleet.h"
#include "bench/gateway_bench_support.h"
#include "gateway/fleet.h"
#include "gateway/http_api.h"
#include "gateway/http_replies.h"
#include "gateway/http_server.h"
#include "tests/support/process_stats.h"

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

using namespace gateway_bench;

timing time_gets(std::uint16_t port, const std::string& path, int count) {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    for (int i = 0; i < count / 10; ++i)
        client.Get(path.c_str());  // warm-up
    std::vector<double> micros;
    for (int i = 0; i < count; ++i) {
        const auto start = steady::now();
        auto r = client.Get(path.c_str());
        micros.push_back(std::chrono::duration<double, std::micro>(steady::now() - start).count());
        if (!r || r->status != 200) die("GET " + path + " failed");
    }
    return percentiles(micros);
}

// An HTTP server in this process with the gateway's settings: the floor serves one fixed
// string, the gateway its routes.
class http_in_process {
  public:
    explicit http_in_process(gateway::http_handlers handlers)
        : server_(gateway::http_settings{}, std::move(handlers)) {
        std::string why;
        if (!server_.listen("127.0.0.1", 0, why)) die("cannot listen: " + why);
        thread_ = std::thread([this] { server_.run(); });
    }
    ~http_in_process() {
        server_.stop(0ms);
        thread_.join();
    }
    std::uint16_t port() const { return server_.port(); }

  private:
    gateway::http_server server_;
    std::thread thread_;
};

// The floor: the same server answering every request with body, as the gateway sends a
// snapshot (its headers included).
gateway::http_handlers fixed_answer(const std::string& body) {
    const auto text = std::make_shared<const std::string>(body);
    const auto answer = [text] {
        gateway::http_response response;
        response.set_header("Cache-Control", "no-store");
        response.share_text(text, gateway::json_type);
        gateway::add_common_headers(response);
        return response;
    };
    return gateway::http_handlers{
        [](const gateway::http_request&) { return std::optional<gateway::http_response>(); },
        [answer](gateway::http_request, gateway::reply_function reply) { reply(answer()); },
        [](int status, std::string_view message) {
            return gateway::error_response(status, std::string(message));
        }};
}

void snapshot_and_hold(double scale) {
    servers one(1);
    gateway::fleet machines({{"loom1", "127.0.0.1", one.ports[0]}},
                            gateway::poll_settings{1000ms, 1000ms, 2000ms});
    gateway::http_api api(machines, gateway::http_settings{});
    http_in_process gateway_http(api.handlers());
    machines.start();
    while (!machines.find("loom1")->view().reachable)
        std::this_thread::sleep_for(10ms);
    const std::string path = "/api/controllers/loom1";
    httplib::Client probe("127.0.0.1", gateway_http.port());
    const std::string body = probe.Get(path.c_str())->body;
    http_in_process floor(fixed_answer(body));

    const int count = static_cast<int>(3000 * scale);
    // Alternating rounds, so that a slow moment of the machine hits both.
    std::vector<timing> ours, floors;
    for (int round = 0; round < 3; ++round) {
        floors.push_back(time_gets(floor.port(), path, count / 3));
        ours.push_back(time_gets(gateway_http.port(), path, count / 3));
    }
    const auto median_of = [](std::vector<timing> t, double timing::*field) {
        std::vector<double> v;
        for (const auto& x : t)
            v.push_back(x.*field);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double p50 = median_of(ours, &timing::p50), p99 = median_of(ours, &timing::p99);
    const double floor50 = median_of(floors, &timing::p50),
                 floor99 = median_of(floors, &timing::p99);
    std::printf("%-44s %9s %9s %12s %8s %s\n", "case", "p50 us", "p99 us", "floor p50 us", "ratio",
                "target");
    std::printf("%-44s %9.1f %9.1f %12.1f %8.2f %s\n",
                ("GET " + path + " (" + std::to_string(body.size()) + " bytes)").c_str(), p50, p99,
                floor50, p50 / floor50, p50 <= 2 * floor50 ? "<= 2 (met)" : "<= 2 (MISSED)");
    std::printf("%-44s %9.1f %9.1f %12s\n", "  floor: same server, fixed answer", floor50, floor99,
                "");
    machines.stop();

    // The slot hold of a poll: connect, the 29 reads, disconnect.
    std::vector<double> holds;
    const auto where = gateway::poll_settings{}.endpoint({"loom1", "127.0.0.1", one.ports[0]});
    for (int i = 0; i < static_cast<int>(300 * scale); ++i) {
        const auto outcome = gateway::poll_controller(where, 2000ms);
        if (!outcome.snapshot) die("a poll failed: " + outcome.snapshot.failure().detail);
        holds.push_back(outcome.poll_seconds * 1e6);
    }
    const timing hold = percentiles(holds);
    std::printf("%-44s %9.1f %9.1f %12s %8s max %.1f us\n", "slot hold per poll (29 reads)",
                hold.p50, hold.p99, "", "", hold.max);
}

void viewers(double scale) {
    servers one(1);
    const auto interval = 500ms;
    gateway::fleet machines({{"loom1", "127.0.0.1", one.ports[0]}},
                            gateway::poll_settings{interval, 1000ms, 2000ms});
    gateway::http_api api(machines, gateway::http_settings{});
    http_in_process gateway_http(api.handlers());
    machines.start();
    while (!machines.find("loom1")->view().reachable)
        std::this_thread::sleep_for(10ms);
    const auto window = std::chrono::duration_cast<std::chrono::milliseconds>(10s * scale);
    const auto counts = [&] {
        const auto v = machines.find("loom1")->view();
        return std::pair{v.connections, v.polls};
    };

    const auto quiet_start = counts();
    std::this_thread::sleep_for(window);
    const auto quiet_end = counts();

    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::vector<std::thread> threads;
    const auto busy_start = counts();
    for (int v = 0; v < 100; ++v) {
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", gateway_http.port());
            while (!stop) {
                if (auto r = client.Get("/api/controllers/loom1"); r && r->status == 200) ++reads;
            }
        });
    }
    std::this_thread::sleep_for(window);
    const auto busy_end = counts();
    stop = true;
    for (auto& t : threads)
        t.join();
    machines.stop();
    const double minutes = std::chrono::duration<double>(window).count() / 60;
    const auto quiet_connections = quiet_end.first - quiet_start.first;
    const auto busy_connections = busy_end.first - busy_start.first;
    const auto busy_polls = busy_end.second - busy_start.second;
    // Every connection is a poll's; viewers add none. (The number of polls in a window varies
    // a little with the machine's load, as each poll starts one interval after the last.)
    const bool met = busy_connections == busy_polls &&
                     busy_connections <= static_cast<std::uint64_t>(window / interval + 1);
    std::printf(
        "controller connections per minute, poll every %.1f s (at most %.0f): "
        "no viewer %.0f, 100 viewers %.0f, of them not a poll's %lld "
        "(%.0f snapshot reads/s) (%s)\n",
        std::chrono::duration<double>(interval).count(),
        1 / (std::chrono::duration<double>(interval).count() / 60), quiet_connections / minutes,
        busy_connections / minutes, static_cast<long long>(busy_connections - busy_polls),
        reads / std::chrono::duration<double>(window).count(), met ? "met" : "MISSED");
}

void memory(double scale) {
    constexpr int controllers = 50;
    servers fleet(controllers);
    scratch_dir dir;
    const auto port = free_port();
    std::vector<std::string> args{"--listen", "127.0.0.1:" + std::to_string(port)};
    for (int i = 0; i < controllers; ++i) {
        args.push_back("--controller");
        args.push_back("loom" + std::to_string(i + 1) +
                       "=127.0.0.1:" + std::to_string(fleet.ports[static_cast<std::size_t>(i)]));
    }
    child gateway_process(IFC_GATEWAY_PATH, args, dir.path);
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(0, 200000);
    for (int round = 0; round < 100 && !client.Get("/api/gateway"); ++round) {
        std::this_thread::sleep_for(50ms);
    }
    // Viewers of every page and metrics while the pollers run their rounds.
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int v = 0; v < 32; ++v) {
        threads.emplace_back([&, v] {
            httplib::Client c("127.0.0.1", port);
            while (!stop) {
                c.Get(v % 4 == 0   ? "/metrics"
                      : v % 4 == 1 ? "/api/controllers"
                                   : ("/api/controllers/loom" + std::to_string(v + 1)).c_str());
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::milliseconds>(8s * scale));
    stop = true;
    for (auto& t : threads)
        t.join();
    // Every controller must have been polled, or the figure is not the one asked for.
    std::size_t live = 0;
    if (const auto list = client.Get("/api/controllers")) {
        for (std::size_t at = 0;
             (at = list->body.find("\"reachable\":true", at)) != std::string::npos; ++at)
            ++live;
    }
    if (live != controllers) die("only " + std::to_string(live) + " controllers are reachable");
    const long rss = process_stats::status_kib(gateway_process.pid(), "VmRSS");
    const long hwm = process_stats::status_kib(gateway_process.pid(), "VmHWM");
    std::printf(
        "ifc-gateway resident memory, %d controllers polled every 2 s, 32 viewers: "
        "%.1f MiB now (%.1f MiB anonymous, %.1f MiB of mapped files), %.1f MiB peak "
        "(target < 20 MiB: %s)\n",
        controllers, rss / 1024.0,
        process_stats::status_kib(gateway_process.pid(), "RssAnon") / 1024.0,
        process_stats::status_kib(gateway_process.pid(), "RssFile") / 1024.0, hwm / 1024.0,
        hwm < 20 * 1024 ? "met" : "MISSED");
}

// The gateway's own use of the machine: CPU seconds (user and system) of the process so far.
double cpu_seconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    // After the command name in parentheses: state, then 11 fields, then utime and stime.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks[2] = {0, 0};
    for (int i = 0; i < 13 && fields >> field; ++i) {
        if (i >= 11) ticks[i - 11] = std::stol(field);
    }
    return static_cast<double>(ticks[0] + ticks[1]) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct fleet_figures {
    int controllers = 0;
    bool with_state = false;
    double rss_mib = 0, peak_mib = 0, anon_mib = 0;
    long threads = 0;
    double cpu_percent = 0;
    timing lateness_ms;        // how far each poll started from one interval after the last
    double busiest_share = 0;  // the share of a round's polls that start in its busiest 100 ms
    std::size_t list_bytes = 0;
    timing list_ms;
};

// Intervals between the starts of successive polls of each controller, against the interval
// asked for; and how the polls of a round bunch up.
void poll_timing(const std::vector<std::vector<fake_fleet::clock::time_point>>& times,
                 std::chrono::milliseconds interval, fleet_figures& figures) {
    std::vector<double> lateness;
    std::vector<fake_fleet::clock::time_point> all;
    for (const auto& starts : times) {
        for (std::size_t i = 1; i < starts.size(); ++i) {
            const auto gap = std::chrono::duration<double, std::milli>(starts[i] - starts[i - 1]);
            lateness.push_back(std::abs(gap.count() - static_cast<double>(interval.count())));
        }
        all.insert(all.end(), starts.begin(), starts.end());
    }
    if (lateness.empty()) die("no controller was polled twice");
    figures.lateness_ms = percentiles(lateness);
    std::sort(all.begin(), all.end());
    std::size_t busiest = 0;
    for (std::size_t first = 0, last = 0; last < all.size(); ++last) {
        while (all[last] - all[first] > 100ms)
            ++first;
        busiest = std::max(busiest, last - first + 1);
    }
    figures.busiest_share = static_cast<double>(busiest) / static_cast<double>(times.size());
}

// count controllers (the fake fleet) on one ifc-gateway process polling every 2 s, with one
// open fleet page fetching the list every poll interval, as the page does.
// With a state directory: loom1's settings saved as a style and the style assigned to every
// controller, so that every poll also compares the machine with its version and watches for
// outside changes.
void assign_one_style_to_all(httplib::Client& client, int count) {
    const auto saved = client.Post("/api/library", R"({"controller": "loom1", "style": "bench"})",
                                   "application/json");
    if (!saved || saved->status != 201) die("POST /api/library failed");
    std::string names;
    for (int i = 0; i < count; ++i)
        names += (i ? ",\"loom" : "\"loom") + std::to_string(i + 1) + "\"";
    const auto assigned = client.Post(
        "/api/assignments", R"({"style": "bench", "version": 1, "controllers": [)" + names + "]}",
        "application/json");
    if (!assigned || assigned->status != 200) die("POST /api/assignments failed");
}

fleet_figures fleet_at(int count, const std::map<std::string, std::string>& answers, double scale,
                       bool with_state) {
    constexpr auto interval = 2000ms;
    fake_fleet controllers(answers, count);
    scratch_dir dir;
    const auto port = free_port();
    std::vector<std::string> args{"--listen", "127.0.0.1:" + std::to_string(port), "--poll", "2"};
    for (int i = 0; i < count; ++i) {
        args.push_back("--controller");
        args.push_back("loom" + std::to_string(i + 1) + "=127.0.0.1:" +
                       std::to_string(controllers.ports()[static_cast<std::size_t>(i)]) +
                       ",group=hall" + std::to_string(i / 40 + 1));
    }
    if (with_state) {
        args.push_back("--state-dir");
        args.push_back(dir.path + "/state");
    }
    child gateway_process(IFC_GATEWAY_PATH, args, dir.path);
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(0, 200000);
    client.set_read_timeout(10, 0);
    const auto live = [&] {
        const auto list = client.Get("/api/controllers");
        std::size_t n = 0;
        for (std::size_t at = 0;
             list && (at = list->body.find("\"reachable\":true", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    const auto started = steady::now();
    while (live() != static_cast<std::size_t>(count)) {
        if (steady::now() - started > 60s) die("not every controller became reachable");
        std::this_thread::sleep_for(200ms);
    }
    if (with_state) assign_one_style_to_all(client, count);
    std::this_thread::sleep_for(2 * interval);  // past the first rounds
    controllers.forget();
    const double cpu_before = cpu_seconds(gateway_process.pid());
    const auto window_start = steady::now();
    const auto window = std::chrono::duration_cast<std::chrono::milliseconds>(30s * scale);
    fleet_figures figures;
    figures.controllers = count;
    figures.with_state = with_state;
    std::vector<double> list_ms;
    while (steady::now() - window_start < window) {
        const auto start = steady::now();
        const auto list = client.Get("/api/controllers");
        if (!list || list->status != 200) die("GET /api/controllers failed");
        list_ms.push_back(std::chrono::duration<double, std::milli>(steady::now() - start).count());
        figures.list_bytes = list->body.size();
        std::this_thread::sleep_until(start + interval);
    }
    const double elapsed = std::chrono::duration<double>(steady::now() - window_start).count();
    figures.cpu_percent = 100 * (cpu_seconds(gateway_process.pid()) - cpu_before) / elapsed;
    figures.list_ms = percentiles(list_ms);
    poll_timing(controllers.connection_times(), interval, figures);
    const pid_t pid = gateway_process.pid();
    figures.rss_mib = static_cast<double>(process_stats::status_kib(pid, "VmRSS")) / 1024;
    figures.peak_mib = static_cast<double>(process_stats::status_kib(pid, "VmHWM")) / 1024;
    figures.anon_mib = static_cast<double>(process_stats::status_kib(pid, "RssAnon")) / 1024;
    figures.threads = process_stats::status_kib(pid, "Threads");
    return figures;
}

void fleet_scale(double scale) {
    const auto answers = answers_of_a_real_server(IFC_SERVER_PATH);
    std::printf(
        "\nA mill on one ifc-gateway, polls every 2 s, one fleet page open (controllers: the fake "
        "fleet, one thread answering as a real ifc-server did):\n"
        "%11s %6s %8s %8s %8s %7s %6s %22s %9s %9s %14s\n",
        "controllers", "state", "RSS MiB", "peak", "anon", "threads", "CPU %",
        "poll start off, ms p50/p99/max", "round", "list KiB", "list ms p50/p99");
    // Each size without a state directory and, in the same run, with one and every controller
    // assigned a version (drift checked and outside changes watched at every poll).
    for (const int count : {50, 500}) {
        for (const bool with_state : {false, true}) {
            const fleet_figures f = fleet_at(count, answers, scale, with_state);
            std::printf(
                "%11d %6s %8.1f %8.1f %8.1f %7ld %6.1f %8.1f %6.1f %6.1f %8.0f%% %9.1f %6.1f "
                "%7.1f\n",
                f.controllers, f.with_state ? "yes" : "no", f.rss_mib, f.peak_mib, f.anon_mib,
                f.threads, f.cpu_percent, f.lateness_ms.p50, f.lateness_ms.p99, f.lateness_ms.max,
                100 * f.busiest_share, static_cast<double>(f.list_bytes) / 1024, f.list_ms.p50,
                f.list_ms.p99);
        }
    }
    std::printf(
        "  state: with --state-dir, every controller assigned one version; poll start off: "
        "|interval between two polls of a controller - 2 s|; round: the share of "
        "a round's polls that start within its busiest 100 ms\n");
}

}  // namespace

int main(int argc, char** argv) {
    double scale = 1;
    std::string part;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
        } else if (std::string(argv[i]) == "--part" && i + 1 < argc) {
            part = argv[++i];
        } else {
            std::fprintf(
                stderr,
                "usage: gateway_bench [--scale F] [--part snapshot|viewers|memory|fleet]\n");
            return 1;
        }
    }
    if (scale <= 0) die("--scale must be above 0");
    if (!part.empty() && part != "snapshot" && part != "viewers" && part != "memory" &&
        part != "fleet") {
        die("--part: one of snapshot, viewers, memory, fleet");
    }
    signal(SIGPIPE, SIG_IGN);
    const auto run = [&part](const char* name, void (*measure)(double), double scale) {
        if (part.empty() || part == name) measure(scale);
    };
    run("snapshot", snapshot_and_hold, scale);
    run("viewers", viewers, scale);
    run("memory", memory, scale);
    run("fleet", fleet_scale, scale);
    return 0;
}
