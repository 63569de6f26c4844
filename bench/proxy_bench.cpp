// What the proxy costs, beside the direct exchange in the same run: the latency of a GET of the
// machine status on a persistent connection (p50, p99), and the throughput of a 256000-byte PUT
// (the largest payload), both through ifc-proxy with no rules and no journal and straight at the
// server. The real ifc-server and ifc-proxy executables run on loopback ports; direct and proxied
// connections take turns in batches, so that a slow moment of the machine hits both.
//
// The relay floor is the same exchange through the least a relay can be: a process of its own
// that waits for either socket, reads what came and writes it on, nothing else. Every step of an
// exchange through any relay costs at least what it costs there (a wake-up of the relay's
// thread, a read and a write).
//
//   proxy_bench [--scale F] [--one-cpu] [--sessions N]
//
// F scales the number of requests (default 1). --one-cpu pins the benchmark, the server and
// the proxy to the CPU the benchmark starts on (by default they run where the system puts them).
//
// Then the proxy with its journal on a pipe that nobody reads: N sessions (default 10000; a
// connection, a GET, DISCONNECT) straight at the server, through the relay floor (which serves
// one connection after another) and through that proxy, the sessions per second of each, the
// journal lines the proxy dropped and counted, its peak resident memory, and the time from SIGTERM
// to its exit.
//
// The PUT is timed both ways a terminal may send it: chunk by chunk, each after its NEXT (as the
// client library does), and streamed, the whole payload at once behind the header.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "protocol/protocol.h"

namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::vector<pid_t> children;
std::string work_dir;

void stop_children() {
    for (const pid_t pid : children) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    children.clear();
    if (!work_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(work_dir, ignored);
    }
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "proxy_bench: %s\n", what.c_str());
    stop_children();
    std::exit(1);
}

// A port that nothing listened on a moment ago.
std::uint16_t free_port() {
    ifc_client::endpoint probe{"127.0.0.1", 0, 1000ms};
    for (std::uint16_t port = 20000 + static_cast<std::uint16_t>(::getpid() % 20000);; ++port) {
        probe.port = port;
        if (!ifc_client::connection::open(probe)) return port;
    }
}

// Starts program with args in the work directory, its output discarded (or its standard output
// on stdout_fd and its standard error in stderr_file), and waits until port accepts
// connections. The child's pid.
pid_t start(const char* program, const std::vector<std::string>& args, std::uint16_t port,
            int stdout_fd = -1, const std::string& stderr_file = "/dev/null") {
    const pid_t pid = ::fork();
    if (pid < 0) die("fork failed");
    if (pid == 0) {
        if (::chdir(work_dir.c_str()) != 0) _exit(121);
        if (!std::freopen("/dev/null", "w", stdout) ||
            !std::freopen(stderr_file.c_str(), "w", stderr))
            _exit(120);
        if (stdout_fd >= 0 && ::dup2(stdout_fd, STDOUT_FILENO) < 0) _exit(123);
        std::vector<char*> argv{const_cast<char*>(program)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program, argv.data());
        _exit(122);
    }
    children.push_back(pid);
    const auto end = clock_type::now() + 10s;
    while (clock_type::now() < end) {
        if (auto c = ifc_client::connection::open({"127.0.0.1", port, 1000ms})) {
            c->disconnect();
            return pid;
        }
        std::this_thread::sleep_for(10ms);
    }
    die(std::string(program) + " did not start listening");
}

// The relay floor: accepts one connection after another on listener and relays each to the
// server until either side ends. Runs in a child process of its own, as the proxy does.
[[noreturn]] void bare_relay(int listener, std::uint16_t server_port) {
    for (;;) {
        const int terminal = ::accept(listener, nullptr, nullptr);
        if (terminal < 0) continue;
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(server_port);
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            _exit(1);
        const int on = 1;
        ::setsockopt(terminal, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char buffer[65536];
        pollfd fds[2] = {{terminal, POLLIN, 0}, {server, POLLIN, 0}};
        for (bool open = true; open;) {
            if (::poll(fds, 2, -1) < 0) break;
            for (int i = 0; i < 2 && open; ++i) {
                if (fds[i].revents == 0) continue;
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                open = n > 0 && ::send(fds[1 - i].fd, buffer, static_cast<std::size_t>(n),
                                       MSG_NOSIGNAL) == n;
            }
        }
        ::close(server);
        ::close(terminal);
    }
}

std::uint16_t start_bare_relay(std::uint16_t server_port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, protocol::listen_backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        die("cannot listen for the relay floor");
    }
    const pid_t pid = ::fork();
    if (pid < 0) die("fork failed");
    if (pid == 0) bare_relay(listener, server_port);
    children.push_back(pid);
    ::close(listener);
    return ntohs(addr.sin_port);
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size()));
    return values[std::min(rank, values.size() - 1)];
}

double micros_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

ifc_client::connection open(std::uint16_t port) {
    auto c = ifc_client::connection::open({"127.0.0.1", port, 10000ms});
    if (!c) die("cannot connect: " + c.failure().detail);
    return std::move(c.value());
}

// Latencies of count GETs on one connection, in microseconds.
void time_gets(std::uint16_t port, int count, std::vector<double>& out) {
    auto c = open(port);
    for (int i = 0; i < count; ++i) {
        const auto start = clock_type::now();
        auto answer = c.get("IFC_get_stat");
        out.push_back(micros_since(start));
        if (!answer) die("GET failed: " + answer.failure().detail);
    }
    c.disconnect();
}

// Seconds per PUT of the largest payload, count times on one connection: chunk by chunk or
// streamed.
void time_puts(std::uint16_t port, int count, const std::string& payload, bool streamed,
               std::vector<double>& out) {
    auto c = open(port);
    std::string header = "PUT" + std::to_string(payload.size());
    header.resize(protocol::header_len, ' ');
    const std::size_t replies =
        4 * ((payload.size() + protocol::chunk_size - 1) / protocol::chunk_size) + 3;
    for (int i = 0; i < count; ++i) {
        const auto start = clock_type::now();
        if (streamed) {
            if (!c.send_bytes(header + payload) || !c.recv_bytes(replies)) die("PUT failed");
        } else if (auto put = c.put_payload(payload); !put) {
            die("PUT failed: " + put.failure().detail);
        }
        out.push_back(micros_since(start) / 1e6);
    }
    c.disconnect();
}

struct figures {
    std::vector<double> direct;
    std::vector<double> proxied;
    std::vector<double> relayed;  // through the relay floor
};

// One line of the table: the direct figure, the relay floor's, the proxy's, and the ratios to
// the direct figure (larger: slower).
void row(const char* name, double direct, double floor, double proxied, bool throughput,
         const char* target) {
    const auto ratio = [&](double x) { return throughput ? direct / x : x / direct; };
    std::printf("| %-38s | %8.1f | %8.1f | %8.1f | %5.2f | %5.2f | %-6s |\n", name, direct, floor,
                proxied, ratio(floor), ratio(proxied), target);
}

// Seconds for count sessions on port, each a connection, a GET and DISCONNECT.
double time_sessions(std::uint16_t port, int count) {
    const auto start = clock_type::now();
    for (int i = 0; i < count; ++i) {
        auto c = open(port);
        if (auto answer = c.get("IFC_get_stat"); !answer) {
            die("GET of session " + std::to_string(i) + " failed: " + answer.failure().detail);
        }
        c.disconnect();
    }
    return micros_since(start) / 1e6;
}

// A line of /proc/PID/status, in kibibytes ("VmHWM:").
long status_kib(pid_t pid, const std::string& field) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (f == nullptr) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::string(line).rfind(field, 0) == 0) kib = std::atol(line + field.size());
    }
    std::fclose(f);
    return kib;
}

// The proxy with its journal on a pipe that nobody reads, beside the direct exchange.
void journal_nobody_reads(std::uint16_t server_port, std::uint16_t relay_port, int sessions) {
    int journal[2];
    if (::pipe2(journal, O_CLOEXEC) != 0) die("pipe2 failed");
    const std::uint16_t port = free_port();
    const std::string stderr_file = work_dir + "/stalled_proxy.stderr";
    const pid_t proxy = start(IFC_PROXY_PATH,
                              {"--listen", "127.0.0.1:" + std::to_string(port), "--to",
                               "127.0.0.1:" + std::to_string(server_port), "--journal", "-"},
                              port, journal[1], stderr_file);
    ::close(journal[1]);
    const double direct = time_sessions(server_port, sessions);
    const double floor = time_sessions(relay_port, sessions);
    const double proxied = time_sessions(port, sessions);
    const long peak_kib = status_kib(proxy, "VmHWM:");
    const auto signalled = clock_type::now();
    ::kill(proxy, SIGTERM);
    int status = 0;
    const auto limit = signalled + 10s;
    while (::waitpid(proxy, &status, WNOHANG) != proxy) {
        if (clock_type::now() >= limit) die("the proxy did not end within 10 s of SIGTERM");
        std::this_thread::sleep_for(1ms);
    }
    const double stop_ms = micros_since(signalled) / 1000;
    children.erase(std::find(children.begin(), children.end(), proxy));
    ::close(journal[0]);
    std::string said;
    if (std::FILE* f = std::fopen(stderr_file.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::strstr(line, "journal lines were dropped") != nullptr) said = line;
        }
        std::fclose(f);
    }
    const long dropped = said.empty() ? 0 : std::atol(said.c_str() + std::strlen("ifc-proxy: "));
    std::printf(
        "\nifc-proxy with --journal - on a pipe that nobody reads: %d sessions (connect, GET, "
        "DISCONNECT) each way\n\n",
        sessions);
    std::printf("| %-46s | %10s |\n", "figure", "value");
    std::printf("|%s|%s|\n", std::string(48, '-').c_str(), std::string(12, '-').c_str());
    std::printf("| %-46s | %10.0f |\n", "sessions per second, straight at the server",
                sessions / direct);
    std::printf("| %-46s | %10.0f |\n", "sessions per second, through the relay floor",
                sessions / floor);
    std::printf("| %-46s | %10.0f |\n", "sessions per second, through the proxy",
                sessions / proxied);
    std::printf("| %-46s | %10d |\n", "sessions relayed", sessions);
    std::printf("| %-46s | %10d |\n", "journal lines made (start, 4 a session, stop)",
                4 * sessions + 2);
    std::printf("| %-46s | %10ld |\n", "of them dropped and counted (not in the pipe)", dropped);
    std::printf("| %-46s | %10.1f |\n", "peak resident memory of the proxy, MiB",
                static_cast<double>(peak_kib) / 1024);
    std::printf("| %-46s | %10.0f |\n", "SIGTERM to exit, ms", stop_ms);
    std::printf("| %-46s | %10d |\n", "exit status", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

// Megabytes per second of the median PUT.
double throughput(const std::vector<double>& seconds) {
    return protocol::max_payload / percentile(seconds, 50) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    double scale = 1;
    bool one_cpu = false;
    int sessions = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
        } else if (arg == "--one-cpu") {
            one_cpu = true;
        } else if (arg == "--sessions" && i + 1 < argc) {
            sessions = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: proxy_bench [--scale F] [--one-cpu] [--sessions N]\n");
            return 2;
        }
    }
    if (one_cpu) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(::sched_getcpu(), &set);
        if (::sched_setaffinity(0, sizeof set, &set) != 0) die("cannot pin to one CPU");
    }
    char dir_template[] = "/tmp/proxy_bench_XXXXXX";
    if (::mkdtemp(dir_template) == nullptr) die("cannot make a working directory");
    work_dir = dir_template;

    const std::uint16_t server_port = free_port();
    start(IFC_SERVER_PATH, {"--port", std::to_string(server_port)}, server_port);
    const std::uint16_t relay_port = start_bare_relay(server_port);
    const std::uint16_t proxy_port = free_port();
    start(IFC_PROXY_PATH,
          {"--listen", "127.0.0.1:" + std::to_string(proxy_port), "--to",
           "127.0.0.1:" + std::to_string(server_port)},
          proxy_port);

    const int rounds = std::max(1, static_cast<int>(20 * scale));
    figures gets;
    figures puts;
    figures streamed;
    // The let-off command prints its argument: the cheapest command for a payload this long.
    const std::string name = "MLETOFF_set_btnstat";
    const std::string payload =
        name + '\0' + std::string(protocol::max_payload - name.size() - 1, 'x');
    // Warm-up: the settings files are made, the code paths run once.
    time_gets(server_port, 200, gets.direct);
    time_gets(relay_port, 200, gets.relayed);
    time_gets(proxy_port, 200, gets.proxied);
    gets = {};
    for (int round = 0; round < rounds; ++round) {
        time_gets(server_port, 1000, gets.direct);
        time_gets(relay_port, 1000, gets.relayed);
        time_gets(proxy_port, 1000, gets.proxied);
        time_puts(server_port, 3, payload, false, puts.direct);
        time_puts(relay_port, 3, payload, false, puts.relayed);
        time_puts(proxy_port, 3, payload, false, puts.proxied);
        time_puts(server_port, 3, payload, true, streamed.direct);
        time_puts(relay_port, 3, payload, true, streamed.relayed);
        time_puts(proxy_port, 3, payload, true, streamed.proxied);
    }

    std::printf(
        "ifc-proxy (no rules, no journal) against the direct exchange and "
        "the relay floor: %zu GETs and %zu PUTs of each kind each way%s\n\n",
        gets.direct.size(), puts.direct.size(), one_cpu ? ", all on one CPU" : "");
    std::printf("| %-38s | %8s | %8s | %8s | %5s | %5s | %-6s |\n", "case", "direct", "floor",
                "proxy", "floor", "proxy", "target");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(40, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(7, '-').c_str(),
                std::string(7, '-').c_str(), std::string(8, '-').c_str());
    row("GET IFC_get_stat p50, us", percentile(gets.direct, 50), percentile(gets.relayed, 50),
        percentile(gets.proxied, 50), false, "1.30");
    row("GET IFC_get_stat p99, us", percentile(gets.direct, 99), percentile(gets.relayed, 99),
        percentile(gets.proxied, 99), false, "-");
    row("PUT 256000 bytes chunk by chunk, MB/s", throughput(puts.direct), throughput(puts.relayed),
        throughput(puts.proxied), true, "1.20");
    row("PUT 256000 bytes streamed, MB/s", throughput(streamed.direct),
        throughput(streamed.relayed), throughput(streamed.proxied), true, "1.20");
    std::printf(
        "\nthe last three columns: the floor's and the proxy's ratio to the direct "
        "exchange (time: relayed / direct; throughput: direct / relayed), and the largest "
        "ratio the targets allow\n");
    journal_nobody_reads(server_port, relay_port, sessions);
    stop_children();
    return 0;
}
