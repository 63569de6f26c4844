// ifc-gateway against hostile clients and a broken controller, each figure beside a direct
// run (the same measurement without them) and its target:
//   slow clients:  200 connections that each send one header byte a second (from another
//                  loopback address) while GET /api/controllers/NAME is timed on fresh
//                  connections (target: p99 under 1 s);
//   big inputs:    300 MB of header lines on one connection, a chunked body of 300 MB, 24
//                  gzip bodies of 64 KiB that inflate to 64 MiB each, the same with the method
//                  PRI, and 250 connections each holding a 64 KiB body half sent (target: the
//                  gateway's peak resident memory under 64 MiB, whatever a client sends);
//   slow controller: a controller that sends one byte every 50 ms, 100 writes queued for it,
//                  while another controller's snapshot is timed (target: p99 under 100 ms, and
//                  every write answered within its deadline);
//   stop:          SIGTERM with the slow clients and the queued writes still there (target:
//                  gone within 2 s plus one exchange deadline).
// Every controller but the slow one is the real ifc-server; the gateway is the ifc-gateway
// executable, or another build of it (--gateway PATH): options it does not know are left out,
// and inputs that would take gigabytes of a build without the bounds are not sent to it.
//
//   gateway_limits_bench [--gateway PATH] [--scale F]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "bench/gateway_bench_support.h"
#include "client/unique_fd.h"
#include "protocol/protocol.h"
#include "tests/support/process_stats.h"

namespace {

using namespace std::chrono_literals;
using namespace gateway_bench;
using steady = std::chrono::steady_clock;
using ifc_client::unique_fd;

double seconds_since(steady::time_point start) {
    return std::chrono::duration<double>(steady::now() - start).count();
}

// A socket connected to 127.0.0.1:port from source (a loopback address), non-blocking.
unique_fd connect_from(std::uint16_t port, const char* source) {
    unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        return {};
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
    return fd;
}

// The gateway under test: its executable, and whether it knows the options of the bounds.
struct gateway_build {
    std::string path;
    bool bounded = false;
};

gateway_build inspect(const std::string& path) {
    gateway_build build{path, false};
    const std::string command = path + " --help 2>/dev/null";
    if (FILE* help = ::popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, help)) {
            if (std::strstr(line, "--max-connections")) build.bounded = true;
        }
        ::pclose(help);
    }
    return build;
}

// The gateway process, polling the controllers given, with the options that build knows.
class gateway_process {
  public:
    gateway_process(const gateway_build& build,
                    const std::vector<std::pair<std::string, std::uint16_t>>& controllers,
                    const std::vector<std::string>& bounded_options)
        : port_(free_port()) {
        std::vector<std::string> args{"--listen", "127.0.0.1:" + std::to_string(port_)};
        for (const auto& [name, port] : controllers) {
            args.push_back("--controller");
            args.push_back(name + "=127.0.0.1:" + std::to_string(port));
        }
        if (build.bounded) args.insert(args.end(), bounded_options.begin(), bounded_options.end());
        process_ = std::make_unique<child>(build.path, args, dir_.path);
        httplib::Client client("127.0.0.1", port_);
        client.set_connection_timeout(0, 200000);
        for (int round = 0; round < 200; ++round) {
            if (auto r = client.Get("/api/gateway"); r && r->status == 200) return;
            std::this_thread::sleep_for(50ms);
        }
        die("the gateway did not start");
    }
    std::uint16_t port() const { return port_; }
    pid_t pid() const { return process_->pid(); }
    child& process() { return *process_; }
    double peak_mib() const { return process_stats::status_kib(pid(), "VmHWM") / 1024.0; }

  private:
    scratch_dir dir_;
    std::uint16_t port_;
    std::unique_ptr<child> process_;
};

// A controller that speaks the protocol but sends every byte 50 ms after the last: each wait
// for a byte is short, each exchange takes a second or more, a poll much longer. It answers
// the status and the targets as a fresh installation does (anything else with a line of the
// same kind), takes writes without applying them, and serves one connection at a time.
class dripping_controller {
  public:
    dripping_controller() {
        listener_ = unique_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_.get(), 16) != 0 ||
            ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            die("the dripping controller cannot listen");
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~dripping_controller() {
        stopping_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return port_; }

  private:
    bool wait(int fd, short events) {
        for (int step = 0; step < 100 && !stopping_; ++step) {
            pollfd pfd{fd, events, 0};
            if (::poll(&pfd, 1, 50) > 0) return true;
        }
        return false;
    }
    bool receive(int fd, std::string& bytes, std::size_t count) {
        bytes.assign(count, '\0');
        for (std::size_t got = 0; got < count;) {
            if (!wait(fd, POLLIN)) return false;
            const ssize_t k = ::recv(fd, bytes.data() + got, count - got, 0);
            if (k <= 0) return false;
            got += static_cast<std::size_t>(k);
        }
        return true;
    }
    bool drip(int fd, std::string_view bytes) {
        for (char byte : bytes) {
            std::this_thread::sleep_for(50ms);
            if (stopping_ || ::send(fd, &byte, 1, MSG_NOSIGNAL) != 1) return false;
        }
        return true;
    }
    void serve() {
        while (!stopping_) {
            if (!wait(listener_.get(), POLLIN)) continue;
            unique_fd client(::accept(listener_.get(), nullptr, nullptr));
            if (client) serve_client(client.get());
        }
    }
    void serve_client(int fd) {
        std::string header, bytes;
        while (receive(fd, header, protocol::header_len)) {
            if (header.starts_with(protocol::get_token)) {
                const std::string answer = header.find("Tot_Twt") != std::string::npos
                                               ? "to:90 tw:240 "
                                               : "color:1 mode:0 totw_sw:0 ";
                char len[32];
                std::snprintf(len, sizeof len, "LEN%010zu", answer.size());
                if (!drip(fd, len) || !receive(fd, bytes, protocol::next_token.size()) ||
                    !drip(fd, answer)) {
                    return;
                }
            } else if (header.starts_with(protocol::put_token)) {
                const std::size_t length = std::strtoul(header.c_str() + 3, nullptr, 10);
                for (std::size_t got = 0; got < length; got += protocol::chunk_size) {
                    const std::size_t chunk =
                        std::min<std::size_t>(length - got, protocol::chunk_size);
                    if (!drip(fd, protocol::next_token) || !receive(fd, bytes, chunk)) return;
                }
                if (!drip(fd, protocol::fin_token)) return;
            } else if (!header.starts_with(protocol::ping_token)) {
                return;
            }
        }
    }

    unique_fd listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Connections that each send one byte of a header line a second, and never end their
// request; one that is closed (refused, or ended at the request deadline) is opened again.
class slow_clients {
  public:
    slow_clients(std::uint16_t port, int count, const char* source) {
        thread_ = std::thread([this, port, count, source] { run(port, count, source); });
    }
    ~slow_clients() { stop(); }
    void stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
    }
    long reopened() const { return reopened_; }
    long answered_408() const { return answered_408_; }
    long answered_503() const { return answered_503_; }

  private:
    void run(std::uint16_t port, int count, const char* source) {
        const std::string start = "GET /api/gateway HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
        std::vector<unique_fd> fds(static_cast<std::size_t>(count));
        const auto open = [&](unique_fd& fd) {
            fd = connect_from(port, source);
            if (fd) ::send(fd.get(), start.data(), start.size(), MSG_NOSIGNAL);
        };
        for (auto& fd : fds)
            open(fd);
        while (!stopping_) {
            const auto round = steady::now();
            for (auto& fd : fds) {
                char answer[64];
                const ssize_t k = fd ? ::recv(fd.get(), answer, sizeof answer, 0) : 0;
                if (k > 0 || (k == 0 && fd) || (k < 0 && errno != EAGAIN)) {
                    if (k > 12 && std::strncmp(answer, "HTTP/1.1 408", 12) == 0) ++answered_408_;
                    if (k > 12 && std::strncmp(answer, "HTTP/1.1 503", 12) == 0) ++answered_503_;
                    ++reopened_;
                    open(fd);
                    continue;
                }
                if (!fd) {
                    open(fd);
                    continue;
                }
                ::send(fd.get(), "a", 1, MSG_NOSIGNAL);
            }
            while (!stopping_ && steady::now() - round < 1s)
                std::this_thread::sleep_for(20ms);
        }
    }

    std::atomic<bool> stopping_{false};
    std::atomic<long> reopened_{0}, answered_408_{0}, answered_503_{0};
    std::thread thread_;
};

// GETs of path on fresh connections, one every interval, for window: their times in ms (a
// failed one counts as limit).
struct get_times {
    std::vector<double> ms;
    int failed = 0;
};
get_times time_fresh_gets(std::uint16_t port, const std::string& path,
                          std::chrono::milliseconds window, std::chrono::milliseconds interval,
                          bool keep_alive = false, const std::function<bool()>& until = {}) {
    get_times times;
    const auto end = steady::now() + window;
    httplib::Client kept("127.0.0.1", port);
    kept.set_keep_alive(true);
    kept.set_read_timeout(5, 0);
    while (until ? !until() && steady::now() < end : steady::now() < end) {
        const auto start = steady::now();
        httplib::Client fresh("127.0.0.1", port);
        fresh.set_connection_timeout(5, 0);
        fresh.set_read_timeout(5, 0);
        auto r = keep_alive ? kept.Get(path.c_str()) : fresh.Get(path.c_str());
        const double took =
            std::chrono::duration<double, std::milli>(steady::now() - start).count();
        if (!r || r->status != 200) ++times.failed;
        times.ms.push_back(r && r->status == 200 ? took : 5000.0);
        std::this_thread::sleep_for(interval);
    }
    return times;
}

void print_times(const char* what, const get_times& t) {
    const timing p = percentiles(t.ms);
    std::printf("  %-36s p50 %8.1f ms  p99 %8.1f ms  max %8.1f ms  (%zu GETs, %d failed)\n", what,
                p.p50, p.p99, p.max, t.ms.size(), t.failed);
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

void slow_header_clients(const gateway_build& build, double scale) {
    servers one(1);
    gateway_process gateway(build, {{"loom1", one.ports[0]}},
                            {"--max-connections", "512", "--max-connections-per-address", "256"});
    const std::string path = "/api/controllers/loom1";
    const auto window = std::chrono::duration_cast<std::chrono::milliseconds>(20s * scale);
    std::printf(
        "200 clients each sending one header byte a second (from 127.0.0.2), GET %s on "
        "fresh connections from 127.0.0.1:\n",
        path.c_str());
    const get_times direct = time_fresh_gets(gateway.port(), path, window / 4, 50ms);
    print_times("direct (no slow clients)", direct);
    slow_clients slow(gateway.port(), 200, "127.0.0.2");
    std::this_thread::sleep_for(2s);  // all of them connected and dripping
    const get_times loaded = time_fresh_gets(gateway.port(), path, window, 50ms);
    slow.stop();
    print_times("with the 200 slow clients", loaded);
    const double p99 = percentiles(loaded.ms).p99;
    std::printf("  slow connections ended and opened again: %ld (408 %ld, 503 %ld)\n",
                slow.reopened(), slow.answered_408(), slow.answered_503());
    std::printf("  p99 under 1 s: %s; gateway peak resident memory %.1f MiB\n",
                verdict(p99 < 1000 && loaded.failed == 0), gateway.peak_mib());
}

// Sends bytes, as long as the gateway takes them, up to total (made by make(i) piece by
// piece), then reads its answer: the status line, or what ended it.
std::string flood(std::uint16_t port, const std::string& head, std::size_t total,
                  const std::function<std::string(std::size_t)>& piece,
                  std::chrono::seconds limit = 60s) {
    unique_fd fd = connect_from(port, "127.0.0.4");
    if (!fd) return "no connection";
    const auto end = steady::now() + limit;
    std::string pending = head;
    std::size_t sent = 0, index = 0;
    while (steady::now() < end) {
        if (pending.empty()) {
            if (sent >= total) break;
            pending = piece(index++);
        }
        pollfd pfd{fd.get(), POLLOUT | POLLIN, 0};
        if (::poll(&pfd, 1, 1000) <= 0) break;
        if (pfd.revents & (POLLIN | POLLHUP | POLLERR)) break;  // an answer, or the end
        const ssize_t k = ::send(fd.get(), pending.data(), pending.size(), MSG_NOSIGNAL);
        if (k <= 0) break;
        pending.erase(0, static_cast<std::size_t>(k));
        sent += static_cast<std::size_t>(k);
    }
    std::string answer(256, '\0');
    pollfd pfd{fd.get(), POLLIN, 0};
    ssize_t k = 0;
    if (::poll(&pfd, 1, 5000) > 0) k = ::recv(fd.get(), answer.data(), answer.size(), 0);
    answer.resize(k > 0 ? static_cast<std::size_t>(k) : 0);
    const std::string status = answer.substr(0, answer.find("\r\n"));
    return (status.empty() ? std::string("closed without an answer") : status) + " after " +
           std::to_string(sent / (1024 * 1024)) + " MiB sent";
}

// 64 MiB of zeros, gzip-compressed (about 64 KiB).
std::string gzip_bomb() {
    const std::string zeros(64 << 20, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, zeros.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string patch_head(const std::string& method, const std::string& extra) {
    return method +
           " /api/controllers/loom1/targets/1 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
           "application/json\r\n" +
           extra + "\r\n";
}

void big_inputs(const gateway_build& build) {
    servers one(1);
    gateway_process gateway(build, {{"loom1", one.ports[0]}}, {});
    std::printf("inputs no client should send (gateway started at %.1f MiB):\n",
                gateway.peak_mib());
    const auto report = [&](const char* what, const std::string& outcome) {
        std::printf("  %-44s %s; peak %.1f MiB\n", what, outcome.c_str(), gateway.peak_mib());
    };
    constexpr std::size_t huge = std::size_t(300) << 20;
    const std::string line = "X-Fill: " + std::string(990, 'a') + "\r\n";
    report("300 MB of header lines (each 1000 bytes)",
           flood(gateway.port(), "GET /api/gateway HTTP/1.1\r\nHost: 127.0.0.1\r\n", huge,
                 [&](std::size_t) { return line; }));
    const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
    report("a chunked body of 300 MB",
           flood(gateway.port(), patch_head("PATCH", "Transfer-Encoding: chunked\r\n"), huge,
                 [&](std::size_t) { return chunk; }));
    if (build.bounded) {
        const std::string bomb = gzip_bomb();
        for (const char* method : {"PATCH", "PRI"}) {
            std::string last;
            std::vector<std::thread> senders;
            std::mutex mutex;
            for (int i = 0; i < 24; ++i) {
                senders.emplace_back([&, method] {
                    const std::string outcome =
                        flood(gateway.port(),
                              patch_head(method, "Content-Encoding: gzip\r\nContent-Length: " +
                                                     std::to_string(bomb.size()) + "\r\n") +
                                  bomb,
                              0, [](std::size_t) { return std::string(); });
                    std::lock_guard lock(mutex);
                    last = outcome;
                });
            }
            for (auto& s : senders)
                s.join();
            report((std::string("24 ") + method + " gzip bodies of " +
                    std::to_string(bomb.size() / 1024) + " KiB (64 MiB inflated)")
                       .c_str(),
                   last);
        }
    } else {
        std::printf(
            "  (compressed bodies not sent to this build: it inflates them without a "
            "bound)\n");
    }
    // 250 connections from 8 addresses, each with a 64 KiB body all but sent.
    std::vector<unique_fd> held;
    int refused = 0;
    const std::string body(65000, ' ');
    for (int i = 0; i < 250; ++i) {
        const std::string source = "127.0.0." + std::to_string(10 + i % 8);
        unique_fd fd = connect_from(gateway.port(), source.c_str());
        if (!fd) continue;
        const std::string bytes = patch_head("PATCH", "Content-Length: 65536\r\n") + body;
        if (::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) <= 0) ++refused;
        held.push_back(std::move(fd));
    }
    std::this_thread::sleep_for(1s);
    report("250 connections holding 64 KiB bodies", std::to_string(held.size()) + " open");
    held.clear();
    const double peak = gateway.peak_mib();
    std::printf("  peak resident memory under 64 MiB whatever a client sends: %.1f MiB (%s)\n",
                peak, verdict(peak < 64));
}

// The writes queued for the dripping controller, each timed to its answer.
struct write_times {
    std::vector<double> seconds;
    std::map<int, int> statuses;
};

std::vector<std::thread> start_writes(std::uint16_t port, int count, write_times& times,
                                      std::mutex& mutex) {
    std::vector<std::thread> writers;
    for (int w = 0; w < count; ++w) {
        writers.emplace_back([&, port, w] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(120, 0);
            const auto start = steady::now();
            auto r =
                client.Patch("/api/controllers/drip/targets/1",
                             R"({"to":)" + std::to_string(60 + w % 90) + "}", "application/json");
            std::lock_guard lock(mutex);
            times.seconds.push_back(seconds_since(start));
            ++times.statuses[r ? r->status : -1];
        });
    }
    return writers;
}

void slow_controller(const gateway_build& build, double scale) {
    servers one(1);
    dripping_controller drip;
    gateway_process gateway(build, {{"loom1", one.ports[0]}, {"drip", drip.port()}},
                            {"--max-queued-writes", "100", "--max-connections-per-address", "256"});
    const std::string path = "/api/controllers/loom1";
    const auto window = std::chrono::duration_cast<std::chrono::milliseconds>(10s * scale);
    std::printf(
        "a controller sending one byte every 50 ms, 100 writes for it, GET %s on one "
        "connection every 20 ms:\n",
        path.c_str());
    print_times("direct (no writes)",
                time_fresh_gets(gateway.port(), path, window / 4, 20ms, true));
    write_times writes;
    std::mutex mutex;
    auto writers = start_writes(gateway.port(), 100, writes, mutex);
    // Until the last write is answered.
    const get_times loaded = time_fresh_gets(gateway.port(), path, 120s, 20ms, true, [&] {
        std::lock_guard lock(mutex);
        return writes.seconds.size() == 100;
    });
    for (auto& w : writers)
        w.join();
    print_times("while the 100 writes wait", loaded);
    const timing answered = percentiles(writes.seconds);
    std::printf("  writes answered after: p50 %.2f s, max %.2f s (deadline 10 s); statuses:",
                answered.p50, answered.max);
    for (const auto& [status, count] : writes.statuses)
        std::printf(" %d x%d", status, count);
    std::printf("\n  GET p99 under 100 ms: %s; every write within its deadline: %s\n",
                verdict(percentiles(loaded.ms).p99 < 100 && loaded.failed == 0),
                verdict(answered.max <= 10.0));
}

void stop_with_slow_clients(const gateway_build& build) {
    servers one(1);
    dripping_controller drip;
    gateway_process gateway(build, {{"loom1", one.ports[0]}, {"drip", drip.port()}},
                            {"--max-queued-writes", "100", "--max-connections-per-address", "256",
                             "--max-connections", "512"});
    slow_clients slow(gateway.port(), 200, "127.0.0.2");
    write_times writes;
    std::mutex mutex;
    auto writers = start_writes(gateway.port(), 100, writes, mutex);
    std::this_thread::sleep_for(3s);
    const auto start = steady::now();
    ::kill(gateway.pid(), SIGTERM);
    int status = 0;
    const bool ended = gateway.process().wait_exit(60s, status);
    const double took = seconds_since(start);
    slow.stop();
    for (auto& w : writers)
        w.join();
    std::printf(
        "SIGTERM with 200 slow clients and 100 writes waiting for the dripping "
        "controller:\n  %s after %.2f s (target under 2 s + one exchange deadline of "
        "2 s: %s); writes answered:",
        ended ? "gone" : "STILL RUNNING", took, verdict(ended && took < 4.0));
    for (const auto& [code, count] : writes.statuses)
        std::printf(" %d x%d", code, count);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    double scale = 1;
    std::string path = IFC_GATEWAY_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
        } else if (arg == "--gateway" && i + 1 < argc) {
            path = argv[++i];
        } else {
            std::fprintf(stderr, "usage: gateway_limits_bench [--gateway PATH] [--scale F]\n");
            return 1;
        }
    }
    if (scale <= 0) die("--scale must be above 0");
    signal(SIGPIPE, SIG_IGN);
    const gateway_build build = inspect(path);
    std::printf("gateway: %s (%s)\n", path.c_str(),
                build.bounded ? "with the bounds' options" : "without the bounds' options");
    slow_header_clients(build, scale);
    big_inputs(build);
    slow_controller(build, scale);
    stop_with_slow_clients(build);
    return 0;
}
