// The server under a steady load of requests on one persistent connection over loopback, each
// case beside its floor measured in the same run:
//   network floor: the same exchange against a bare responder in this process, with the
//                  answers ready and no file work;
//   file floor:    the file work the command cannot avoid, alone: one load (open, read of the
//                  whole image, close) of each table it reads, one load and one crash-safe
//                  save (temporary file written, flushed, closed and renamed over the file,
//                  then the directory flushed) of each table it changes.
// The floor of a case is the sum of its two floors' medians. Server, responder and file work
// run in alternating batches, so that a slow moment of the machine hits all three.
//
// The server is the real ifc-server executable, started on port 9002 in a network namespace
// of this process alone (where that cannot be made, on port 9002 of the machine if it is
// free). A second, short run preloads a counter into it to count its heap allocations and its
// flushes to disk (fsync) per request after start-up. Its peak resident memory (VmHWM) under the
// timed run is read from /proc.
//
//   server_bench [--dir DIR] [--scale F]
//
// DIR: the server's working directory, made if missing; the settings files stay there (default:
// a fresh directory under TMPDIR or /tmp, removed afterwards);
// F scales the number of requests (default 1).
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "client/connection.h"
#include "ifc/ifc_net.h"
#include "protocol/protocol.h"
#include "tests/support/process_stats.h"
#include "valve/vfp_ifc.h"

namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The server started last and still running, and the directory made for it: a failure stops
// the one and removes the other before the benchmark exits.
pid_t running_server = -1;
std::string made_dir;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "server_bench: %s\n", what.c_str());
    if (running_server > 0) {
        ::kill(running_server, SIGKILL);
        ::waitpid(running_server, nullptr, 0);
    }
    if (!made_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(made_dir, ignored);
    }
    std::exit(1);
}

// ---------------------------------------------------------------------------------------
// Where the server runs

// A network namespace of this process alone, with its loopback interface up: port 9002 is
// free there whatever else runs on the machine.
bool enter_private_network() {
    if (::unshare(CLONE_NEWNET) != 0) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 &&
                    (ifr.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0);
    ::close(fd);
    return up;
}

// Client, responder and server all on one CPU (the one this process runs on). Exchanges
// between processes on two CPUs of a virtual machine cost a cross-CPU wake-up whose price
// swings between a few and a hundred microseconds from one run to the next, and buries what
// the server itself costs; on one CPU every exchange costs the server and the responder the
// same context switches. The result: the CPU, or -1 when the process could not be pinned.
int pin_to_one_cpu() {
    const int cpu = ::sched_getcpu();
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return cpu >= 0 && ::sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}

const char* file_system_name(const std::string& dir) {
    struct statfs fs {};
    if (::statfs(dir.c_str(), &fs) != 0) return "unknown file system";
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0xEF53:
            return "ext4";
        case 0x01021994:
            return "tmpfs";
        case 0x58465342:
            return "xfs";
        case 0x9123683E:
            return "btrfs";
        case 0x794C7630:
            return "overlayfs";
        default:
            return "other file system";
    }
}

ifc_client::endpoint server_endpoint() {
    return {"127.0.0.1", protocol::server_port, 10s};
}

struct server_child {
    pid_t pid = -1;
    ~server_child() { stop(); }
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
        running_server = -1;
    }
};

// Starts ifc-server in dir, its output discarded (fully buffered, as when it goes to a file
// or the journal). With a counter file, the allocation counter is preloaded.
void start_server(server_child& server, const std::string& dir, const std::string& counter) {
    server.pid = ::fork();
    if (server.pid < 0) die("fork failed");
    if (server.pid == 0) {
        if (::chdir(dir.c_str()) != 0) _exit(126);
        const int null_fd = ::open("/dev/null", O_WRONLY);
        ::dup2(null_fd, STDOUT_FILENO);
        ::dup2(null_fd, STDERR_FILENO);
        if (!counter.empty()) {
            ::setenv("LD_PRELOAD", IFC_ALLOC_COUNT_PATH, 1);
            ::setenv("IFC_ALLOC_COUNT_FILE", counter.c_str(), 1);
        }
        ::execl(IFC_SERVER_PATH, "ifc-server", static_cast<char*>(nullptr));
        _exit(127);
    }
    running_server = server.pid;
    const auto end = clock_type::now() + 5s;
    while (clock_type::now() < end) {
        auto probe = ifc_client::connection::open(server_endpoint());
        if (probe) {
            probe->disconnect();
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    die("ifc-server did not start listening on port 9002");
}

// ---------------------------------------------------------------------------------------
// The bare responder: the protocol's exchanges with ready answers and nothing else.

bool recv_exact(int fd, char* buf, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t k = ::recv(fd, buf + got, n - got, 0);
        if (k <= 0) return false;
        got += static_cast<std::size_t>(k);
    }
    return true;
}

bool send_all(int fd, const char* data, std::size_t n) {
    return ::send(fd, data, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

class responder {
  public:
    // answers: the GET name field (20 bytes) and the answer to send for it.
    explicit responder(std::vector<std::pair<std::string, std::string>> answers)
        : answers_(std::move(answers)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, protocol::listen_backlog) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            die("the responder cannot listen");
        }
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~responder() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    ifc_client::endpoint endpoint() const { return {"127.0.0.1", port_, 10s}; }

  private:
    void run() {
        while (!stopping_) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            serve(fd);
            ::close(fd);
        }
    }

    void serve(int fd) {
        char header[protocol::header_len + 1] = {};
        char chunk[protocol::chunk_size];
        for (;;) {
            if (!recv_exact(fd, header, protocol::header_len)) return;
            const std::string_view h(header, protocol::header_len);
            if (h.starts_with(protocol::get_token)) {
                const std::string* answer = find(h.substr(protocol::name_field_offset));
                const int len = answer != nullptr ? static_cast<int>(answer->size()) : -1;
                char len_header[32];
                std::snprintf(len_header, sizeof len_header, "LEN%010d", len);
                if (!send_all(fd, len_header, protocol::len_header_len) || answer == nullptr) {
                    return;
                }
                for (std::size_t sent = 0; sent < answer->size(); sent += protocol::chunk_size) {
                    const std::size_t n =
                        std::min<std::size_t>(protocol::chunk_size, answer->size() - sent);
                    if (!recv_exact(fd, chunk, protocol::next_token.size()) ||
                        !send_all(fd, answer->data() + sent, n)) {
                        return;
                    }
                }
            } else if (h.starts_with(protocol::put_token)) {
                const int len = std::atoi(header + protocol::put_token.size());
                for (int got = 0; got < len; got += protocol::chunk_size) {
                    const int n = std::min(protocol::chunk_size, len - got);
                    if (!send_all(fd, protocol::next_token.data(), protocol::next_token.size()) ||
                        !recv_exact(fd, chunk, static_cast<std::size_t>(n))) {
                        return;
                    }
                }
                if (!send_all(fd, protocol::fin_token.data(), protocol::fin_token.size())) return;
            } else if (!h.starts_with(protocol::ping_token)) {
                return;  // DISCONNECT or anything else
            }
        }
    }

    const std::string* find(std::string_view name_field) const {
        for (const auto& [field, answer] : answers_) {
            if (field == name_field) return &answer;
        }
        return nullptr;
    }

    std::vector<std::pair<std::string, std::string>> answers_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// ---------------------------------------------------------------------------------------
// The file work that the commands imply, alone

struct file_floor {
    std::array<char, vfp_ifc::image_size> image{};

    // A table read: the whole table loaded from its file.
    void load(const char* file, int size) {
        const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::read(fd, image.data(), static_cast<std::size_t>(size)) != size) {
            die(std::string("file floor: cannot load ") + file);
        }
        ::close(fd);
    }

    // A table changed: loaded, then stored so that a crash at any moment leaves the old or the
    // new file.
    void load_and_save(const char* file, int size) {
        load(file, size);
        const std::string temp = std::string(file) + ".tmp";
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = fd >= 0 && ::write(fd, image.data(), static_cast<std::size_t>(size)) == size &&
                  ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok && ::rename(temp.c_str(), file) == 0;
        const int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok = ok && dir >= 0 && ::fsync(dir) == 0;
        ::close(dir);
        if (!ok) die(std::string("file floor: cannot save ") + file);
    }
};

constexpr const char* floor_ifc = "floor_ifc.set";
constexpr const char* floor_vfp = "floor_vfp.set";

void write_floor_files() {
    for (const auto& [file, image, size] :
         {std::tuple{floor_ifc, static_cast<const void*>(ifc_net::i4_init.data()),
                     ifc_net::image_size},
          std::tuple{floor_vfp, static_cast<const void*>(vfp_ifc::i4_init.data()),
                     vfp_ifc::image_size}}) {
        const int fd = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, image, static_cast<std::size_t>(size)) != size) {
            die("cannot write the floor's files");
        }
        ::close(fd);
    }
}

// ---------------------------------------------------------------------------------------
// Cases

enum class exchange { get, put, put_ahead, connect_get_disconnect };

struct bench_case {
    const char* label;
    exchange kind;
    std::string name;
    // PUT only: the arguments, used in turn (two that differ make every request a change).
    std::vector<std::string> arguments;
    int interface_loads;   // loads of "ifc_set.set" per request
    int valve_loads;       // loads of "valve_fp.set" per request
    int interface_writes;  // loads and saves of "ifc_set.set" per request
    int valve_writes;      // loads and saves of "valve_fp.set" per request
    int requests;          // timed requests of the server (and as many of each floor)
    bool extra = false;    // shown, but not one of the cases the general targets are set for
    mutable std::size_t sent = 0;  // requests made so far, to take the arguments in turn

    const std::string& next_argument() const { return arguments[sent++ % arguments.size()]; }
};

// Answered from the simulated measurement alone, without any file work.
constexpr const char* sync_read = "IFC_get_To_Tw_1";

// A PUT whose payload goes out with its header, ahead of the server's "NEXT"s, as the
// protocol allows; then every "NEXT" and the "FIN" are read.
bool put_ahead(ifc_client::connection& conn, std::string_view name, std::string_view argument) {
    std::string payload(name);
    payload += '\0';
    payload += argument;
    std::string request(protocol::put_token);
    request += std::to_string(payload.size());
    request.resize(protocol::header_len, ' ');
    if (!conn.send_bytes(request + payload)) return false;
    const std::size_t chunks = (payload.size() + protocol::chunk_size - 1) / protocol::chunk_size;
    auto tokens =
        conn.recv_bytes(chunks * protocol::next_token.size() + protocol::fin_token.size());
    return tokens.ok();
}

// One request of a case on conn, or on a connection of its own to where; false on failure.
// The server serves one connection at a time: while conn is open, a connection of its own
// would wait for it, so conn is closed for the cycles of connections.
bool run_exchange(const bench_case& c, ifc_client::connection& conn,
                  const ifc_client::endpoint& where) {
    switch (c.kind) {
        case exchange::get:
            return conn.get(c.name).ok();
        case exchange::put:
            // The server runs a write after its "FIN"; a write has taken effect once the
            // server answers the next request. That is a read that touches no file.
            return conn.put(c.name, c.next_argument()).ok() && conn.get(sync_read).ok();
        case exchange::put_ahead:
            return put_ahead(conn, c.name, c.next_argument()) && conn.get(sync_read).ok();
        case exchange::connect_get_disconnect: {
            auto own = ifc_client::connection::open(where);
            if (!own || !own->get(c.name)) return false;
            return own->disconnect().ok();
        }
    }
    return false;
}

void run_file_work(const bench_case& c, file_floor& files) {
    for (int i = 0; i < c.interface_loads; ++i)
        files.load(floor_ifc, ifc_net::image_size);
    for (int i = 0; i < c.valve_loads; ++i)
        files.load(floor_vfp, vfp_ifc::image_size);
    for (int i = 0; i < c.interface_writes; ++i) {
        files.load_and_save(floor_ifc, ifc_net::image_size);
    }
    for (int i = 0; i < c.valve_writes; ++i)
        files.load_and_save(floor_vfp, vfp_ifc::image_size);
}

struct samples {
    std::vector<double> us;  // microseconds per request
    double total_s = 0;

    double percentile(double p) const {
        std::vector<double> v = us;
        std::sort(v.begin(), v.end());
        const auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
        return v[at];
    }
    double p50() const { return percentile(0.50); }
    double p99() const { return percentile(0.99); }
};

template <class Op>
void timed(samples& s, int n, Op op) {
    for (int i = 0; i < n; ++i) {
        const auto start = clock_type::now();
        op();
        const double us =
            std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
        s.us.push_back(us);
        s.total_s += us / 1e6;
    }
}

struct case_result {
    samples server, network, files;
    double floor_p50() const { return network.p50() + files.p50(); }
};

constexpr int rounds = 10;

case_result measure(const bench_case& c, const ifc_client::endpoint& server_at,
                    const ifc_client::endpoint& bare_at, file_floor& files) {
    case_result r;
    auto server_conn = ifc_client::connection::open(server_at);
    auto bare_conn = ifc_client::connection::open(bare_at);
    if (!server_conn || !bare_conn) die("cannot connect");
    if (c.kind == exchange::connect_get_disconnect) {
        server_conn->disconnect();
        bare_conn->disconnect();
    }
    ifc_client::connection& server = server_conn.value();
    ifc_client::connection& bare = bare_conn.value();
    const int batch = std::max(1, c.requests / rounds);
    // Warm up: files in the page cache, code and data in memory, connections in use.
    for (int i = 0; i < std::max(1, batch / 4); ++i) {
        if (!run_exchange(c, server, server_at) || !run_exchange(c, bare, bare_at)) {
            die(std::string("warm-up of ") + c.label + " failed");
        }
        run_file_work(c, files);
    }
    for (int round = 0; round < rounds; ++round) {
        timed(r.server, batch, [&] {
            if (!run_exchange(c, server, server_at)) die(std::string(c.label) + " failed");
        });
        timed(r.network, batch, [&] {
            if (!run_exchange(c, bare, bare_at)) die(std::string(c.label) + " failed (floor)");
        });
        timed(r.files, batch, [&] { run_file_work(c, files); });
    }
    if (server.is_open()) server.disconnect();
    if (bare.is_open()) bare.disconnect();
    return r;
}

// Heap allocations and flushes to disk of the server per request of a case.
struct counted {
    double allocations = 0;
    double flushes = 0;
};

// Counts per request of each case, after start-up and one warm-up request of every case.
std::vector<counted> counts_per_request(const std::vector<bench_case>& cases,
                                        const std::string& dir, long& start_up) {
    const std::string counter_file = dir + "/alloc.count";
    {
        const int fd = ::open(counter_file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::ftruncate(fd, 4096) != 0) die("cannot make the counter file");
        ::close(fd);
    }
    const int fd = ::open(counter_file.c_str(), O_RDWR | O_CLOEXEC);
    auto* counter = static_cast<volatile std::uint64_t*>(
        ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    ::close(fd);
    if (counter == MAP_FAILED) die("cannot map the counter file");

    server_child server;
    start_server(server, dir, counter_file);
    auto conn = ifc_client::connection::open(server_endpoint());
    if (!conn) die("cannot connect to the counted server");
    for (const bench_case& c : cases) {
        if (c.kind != exchange::connect_get_disconnect) {
            run_exchange(c, conn.value(), server_endpoint());
        }
    }
    start_up = static_cast<long>(counter[0]);

    std::vector<counted> per_request;
    for (const bench_case& c : cases) {
        if (c.kind == exchange::connect_get_disconnect) conn->disconnect();
        const int n = std::max(5, c.requests / 20);
        // One request first: the case before may have left other values than this case's.
        if (!run_exchange(c, conn.value(), server_endpoint())) die("counted run failed");
        const std::uint64_t before = counter[0];
        const std::uint64_t flushes_before = counter[1];
        for (int i = 0; i < n; ++i) {
            if (!run_exchange(c, conn.value(), server_endpoint())) die("counted run failed");
        }
        // The server runs a write after its "FIN": a read later makes sure it is counted.
        if (!conn->is_open()) conn = ifc_client::connection::open(server_endpoint());
        if (!conn || !conn->get("IFC_get_stat")) die("counted run failed");
        per_request.push_back({static_cast<double>(counter[0] - before) / n,
                               static_cast<double>(counter[1] - flushes_before) / n});
    }
    conn->disconnect();
    server.stop();
    ::munmap(const_cast<std::uint64_t*>(counter), 4096);
    ::unlink(counter_file.c_str());
    return per_request;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    double scale = 1.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        if (flag == "--dir") {
            dir = argv[i + 1];
        } else if (flag == "--scale") {
            scale = std::atof(argv[i + 1]);
        } else {
            die("usage: server_bench [--dir DIR] [--scale F]");
        }
    }
    if (dir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "server-bench-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) die("mkdtemp failed");
        dir = pattern;
        made_dir = dir;
    }
    dir = std::filesystem::absolute(dir).string();
    std::error_code exists;
    std::filesystem::create_directories(dir, exists);
    if (::chdir(dir.c_str()) != 0) die("cannot enter " + dir);
    ::signal(SIGPIPE, SIG_IGN);

    const int cpu = pin_to_one_cpu();
    const bool private_network = enter_private_network();
    if (!private_network && ifc_client::connection::open(server_endpoint())) {
        die("port 9002 is in use and no private network namespace can be made here");
    }
    std::printf(
        "server_bench: ifc-server in %s (%s), %s, everything on %s\n", dir.c_str(),
        file_system_name(dir),
        private_network ? "port 9002 of a private network namespace" : "port 9002 of this machine",
        cpu >= 0 ? ("CPU " + std::to_string(cpu)).c_str() : "any CPU");

    const auto n = [&](int requests) {
        return std::max(rounds, static_cast<int>(requests * scale));
    };
    // Full valve lines: every key, with values that differ from one line to the next, and the
    // same keys over and over up to 500 tokens.
    const auto valve_line = [](int base, std::size_t tokens) {
        static constexpr std::array<std::string_view, 45> keys{
            "pin_on",     "abs_on",     "abs_off",     "main_on",  "main_off",  "tandem_on",
            "tandem_off", "stretch_on", "stretch_off", "sub1_on",  "sub1_off",  "sub2_on",
            "sub2_off",   "sub3_on",    "sub3_off",    "sub4_on",  "sub4_off",  "sub5_on",
            "sub5_off",   "sub6_on",    "sub6_off",    "sub7_on",  "sub7_off",  "sub8_on",
            "sub8_off",   "sub9_on",    "sub9_off",    "sub10_on", "sub10_off", "sub11_on",
            "sub11_off",  "sub12_on",   "sub12_off",   "sub13_on", "sub13_off", "sub14_on",
            "sub14_off",  "sub15_on",   "sub15_off",   "sub16_on", "sub16_off", "sub17_on",
            "sub17_off",  "sub18_on",   "sub18_off"};
        std::string line;
        for (std::size_t i = 0; i < tokens; ++i) {
            line += std::string(keys[i % keys.size()]) + ":" +
                    std::to_string(base + static_cast<int>(i % keys.size())) + " ";
        }
        return line;
    };
    std::vector<bench_case> cases{
        {"GET IFC_get_stat", exchange::get, "IFC_get_stat", {}, 1, 0, 0, 0, n(4000)},
        {"GET IFC_get_select_item", exchange::get, "IFC_get_select_item", {}, 1, 0, 0, 0, n(2000)},
        {"GET IFC_get_on_off_1", exchange::get, "IFC_get_on_off_1", {}, 0, 1, 0, 0, n(2000)},
        {"PUT IFC_set_stat",
         exchange::put,
         "IFC_set_stat",
         {"color:1 mode:0 totw_sw:0 ", "color:2 mode:1 totw_sw:1 "},
         0,
         0,
         1,
         0,
         n(200)},
        {"PUT IFC_set_on_off_1, full line",
         exchange::put,
         "IFC_set_on_off_1",
         {valve_line(100, 45), valve_line(200, 45)},
         0,
         0,
         0,
         1,
         n(200)},
        {"PUT IFC_set_on_off_1, 500 tokens",
         exchange::put,
         "IFC_set_on_off_1",
         {valve_line(10, 500), valve_line(20, 500)},
         0,
         0,
         0,
         1,
         n(200)},
        {"extra: PUT of the stored values",
         exchange::put,
         "IFC_set_on_off_1",
         {valve_line(10, 45)},
         0,
         1,
         0,
         0,
         n(1000),
         true},
        {"extra: PUT btnstat, 3 chunks ahead",
         exchange::put_ahead,
         "MLETOFF_set_btnstat",
         {std::string(3000, '1')},
         0,
         0,
         0,
         0,
         n(2000),
         true},
        {"connect, GET IFC_get_stat, DISCONNECT",
         exchange::connect_get_disconnect,
         "IFC_get_stat",
         {},
         1,
         0,
         0,
         0,
         n(2000)},
    };
    constexpr std::size_t stat_case = 0, select_case = 1, full_line_case = 4, long_line_case = 5;

    server_child server;
    start_server(server, dir, "");
    auto server_conn = ifc_client::connection::open(server_endpoint());
    if (!server_conn) die("cannot connect to ifc-server");

    // The responder answers what the server answers, byte for byte.
    std::vector<std::pair<std::string, std::string>> answers;
    for (const char* name :
         {"IFC_get_stat", "IFC_get_select_item", "IFC_get_on_off_1", sync_read}) {
        auto answer = server_conn->get(name);
        if (!answer) die(std::string("GET ") + name + " failed");
        std::string field(name);
        field.resize(protocol::name_field_len, ' ');
        answers.emplace_back(field, answer.value());
    }
    server_conn->disconnect();

    responder bare(answers);
    write_floor_files();
    file_floor files;

    std::printf("%-38s %9s %9s %8s | %9s %9s %9s | %6s %7s | %6s %7s\n", "case (one connection)",
                "p50 us", "p99 us", "req/s", "net p50", "file p50", "floor", "ratio", "p99/p50",
                "allocs", "fsyncs");
    std::vector<case_result> results;
    for (const bench_case& c : cases) {
        results.push_back(measure(c, server_endpoint(), bare.endpoint(), files));
    }
    const long hwm = process_stats::status_kib(server.pid, "VmHWM");
    const auto mappings = process_stats::resident_by_mapping(server.pid);
    server.stop();

    long start_up_allocations = 0;
    const std::vector<counted> counts = counts_per_request(cases, dir, start_up_allocations);

    bool p50_met = true;
    bool p99_met = true;
    bool allocations_met = true;
    bool flushes_met = true;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const case_result& r = results[i];
        const double ratio = r.server.p50() / r.floor_p50();
        const double tail = r.server.p99() / r.server.p50();
        if (!cases[i].extra) {
            p50_met = p50_met && ratio <= 1.3;
            p99_met = p99_met && tail <= 3.0;
        }
        allocations_met = allocations_met && counts[i].allocations == 0;
        // A durable save is two flushes (the file, then its directory); a request that
        // changes nothing flushes nothing.
        const int saves = cases[i].interface_writes + cases[i].valve_writes;
        flushes_met = flushes_met && counts[i].flushes == 2.0 * saves;
        std::printf("%-38s %9.1f %9.1f %8.0f | %9.1f %9.1f %9.1f | %6.2f %7.2f | %6.2f %7.2f\n",
                    cases[i].label, r.server.p50(), r.server.p99(),
                    static_cast<double>(r.server.us.size()) / r.server.total_s, r.network.p50(),
                    r.files.p50(), r.floor_p50(), ratio, tail, counts[i].allocations,
                    counts[i].flushes);
    }
    std::printf(
        "heap allocations of ifc-server during start-up and the first request of each "
        "case: %ld\n",
        start_up_allocations);
    std::printf(
        "peak resident memory (VmHWM) of ifc-server under the timed run: %ld KiB; "
        "largest parts:",
        hwm);
    for (std::size_t i = 0; i < std::min<std::size_t>(mappings.size(), 5); ++i) {
        std::printf(" %s %ld KiB%s", mappings[i].second.c_str(), mappings[i].first,
                    i + 1 < std::min<std::size_t>(mappings.size(), 5) ? "," : "\n");
    }
    const bool memory_met = hwm >= 0 && hwm <= 3 * 1024;
    const auto ratio_of = [&](std::size_t i) {
        return results[i].server.p50() / results[i].floor_p50();
    };
    const double select_to_stat =
        results[select_case].server.p50() / results[stat_case].server.p50();
    std::printf(
        "targets (the extra cases aside): p50 within 1.3 x floor: %s; p99 within 3 x p50: %s; "
        "no heap allocation per request: %s; VmHWM at most 3 MiB: %s\n",
        p50_met ? "met" : "MISSED", p99_met ? "met" : "MISSED", allocations_met ? "met" : "MISSED",
        memory_met ? "met" : "MISSED");
    std::printf(
        "targets of the store: 2 flushes per changing PUT, none otherwise: %s; full valve line "
        "within 1.2 x one save's floor: %.2f %s; 500-token line within 1.5 x: %.2f %s; "
        "GET IFC_get_select_item within 1.1 x GET IFC_get_stat: %.2f %s\n",
        flushes_met ? "met" : "MISSED", ratio_of(full_line_case),
        ratio_of(full_line_case) <= 1.2 ? "met" : "MISSED", ratio_of(long_line_case),
        ratio_of(long_line_case) <= 1.5 ? "met" : "MISSED", select_to_stat,
        select_to_stat <= 1.1 ? "met" : "MISSED");

    ::unlink(floor_ifc);
    ::unlink(floor_vfp);
    if (!made_dir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(made_dir, ignored);
    }
    return 0;
}
