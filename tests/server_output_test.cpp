// The server keeps serving whatever happens to its output and its descriptors: a log reader
// that stops reading, an output that is closed or broken, standard descriptors closed at
// start, and a descriptor table so full that accept fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;

const std::string default_status = "color:1 mode:0 totw_sw:0 ";

// The real executable on a free port in a fresh directory; setup runs in the child before
// the program starts (every other descriptor above 2 is closed), to arrange its descriptors.
class server_with_descriptors {
  public:
    explicit server_with_descriptors(const std::function<void()>& setup)
        : port_(test_support::free_port()) {
        const std::string err = capture_.file("stderr.txt");
        const std::string port = std::to_string(port_);
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            if (::chdir(workdir_.path().c_str()) != 0) _exit(121);
            const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err_fd < 0 || ::dup2(err_fd, STDERR_FILENO) < 0) _exit(122);
            setup();
            ::close_range(3, ~0U, 0);
            ::execl(IFC_SERVER_PATH, "ifc-server", "--port", port.c_str(),
                    static_cast<char*>(nullptr));
            _exit(123);
        }
    }
    ~server_with_descriptors() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    pid_t pid() const { return pid_; }
    std::string stderr_text() const {
        return test_support::read_file(capture_.file("stderr.txt")).value_or("");
    }
    ifc_client::endpoint endpoint(std::chrono::milliseconds timeout = 5s) const {
        ifc_client::endpoint where;
        where.port = port_;
        where.timeout = timeout;
        return where;
    }
    // Connects once the server listens (bounded).
    ifc_client::connection connect(std::chrono::milliseconds timeout = 5s) const {
        const auto end = std::chrono::steady_clock::now() + 10s;
        for (;;) {
            auto conn = ifc_client::connection::open(endpoint(timeout));
            if (conn.ok()) return std::move(conn.value());
            if (std::chrono::steady_clock::now() > end) throw std::runtime_error("not listening");
            std::this_thread::sleep_for(10ms);
        }
    }

  private:
    test_support::temp_dir workdir_;
    test_support::temp_dir capture_;
    std::uint16_t port_;
    pid_t pid_ = -1;
};

// Everything readable from fd within limit: until until() holds, or (without until) until
// nothing more comes for a while.
std::string read_from(int fd, std::chrono::milliseconds limit,
                      const std::function<bool(const std::string&)>& until = {}) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + limit;
    char buf[65536];
    while (!(until && until(text)) && std::chrono::steady_clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 300) <= 0) {
            if (until) continue;
            break;
        }
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

// Ordinary traffic plus let-off lines of every size, the largest 200 KB: far more output
// than a pipe and the server's buffer hold. Every request is answered in time.
void busy_session(const server_with_descriptors& server) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.put("MLETOFF_set_btnstat", std::string(200000, 'L')).ok());
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(conn.put("MLETOFF_set_btnstat", std::string(1000, 'a' + i % 26)).ok()) << i;
        auto status = conn.get("IFC_get_stat");
        ASSERT_TRUE(status.ok()) << i << ": " << status.failure().detail;
        ASSERT_EQ(status.value(), default_status);
    }
    ASSERT_TRUE(conn.disconnect().ok());
}

TEST(StalledLogReader, EveryClientIsServedAndTheDroppedLinesAreCounted) {
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    server_with_descriptors server([&] { ::dup2(out[1], STDOUT_FILENO); });
    ::close(out[1]);
    for (int client = 0; client < 3; ++client) {
        busy_session(server);
        if (HasFailure()) return;
    }
    // The reader wakes up: what waited comes out, and the count of what did not.
    const std::regex dropped_line("(^|\n)[1-9][0-9]* diagnostic lines dropped\n");
    const std::string text = read_from(out[0], 10s);
    EXPECT_TRUE(std::regex_search(text, dropped_line)) << text.size() << " bytes read";
    // The output flows again, line for line.
    {
        auto conn = server.connect();
        ASSERT_TRUE(conn.get("IFC_get_stat").ok());
        conn.disconnect();
    }
    const std::string after = read_from(out[0], 10s, [](const std::string& t) {
        return t.find("DISCONNECT             \nwaiting... ") != std::string::npos;
    });
    EXPECT_EQ(after, "connected... GETIFC_get_stat        \nDISCONNECT             \nwaiting... ");
    ::close(out[0]);
}

TEST(BrokenOutput, AClosedPipeOrClosedDescriptorNeverEndsTheServer) {
    for (const bool closed_descriptor : {false, true}) {
        SCOPED_TRACE(closed_descriptor ? "stdout closed after start" : "reader gone");
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        server_with_descriptors server([&] {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(out[1], STDERR_FILENO);
        });
        ::close(out[1]);
        ::close(out[0]);  // nobody will ever read: every write fails with EPIPE
        busy_session(server);
        if (HasFailure()) return;
        auto conn = server.connect();
        EXPECT_EQ(conn.get("IFC_get_stat").value(), default_status);
    }
}

TEST(ClosedStandardDescriptors, TakeNoSocketAndNothingOfTheDiagnosticsReachesAClient) {
    server_with_descriptors server([] {
        ::close(STDIN_FILENO);
        ::close(STDOUT_FILENO);
    });
    auto conn = server.connect();
    // Byte for byte: a diagnostic line on the socket would break these exchanges.
    ASSERT_TRUE(conn.send_bytes("GETIFC_get_stat        ").ok());
    EXPECT_EQ(conn.recv_bytes(13).value(), "LEN0000000025");
    ASSERT_TRUE(conn.send_bytes("NEXT").ok());
    EXPECT_EQ(conn.recv_bytes(25).value(), default_status);
    ASSERT_TRUE(conn.put("IFC_set_stat", "color:3 mode:0 totw_sw:0 ").ok());
    EXPECT_EQ(conn.get("IFC_get_stat").value(), "color:3 mode:0 totw_sw:0 ");
    EXPECT_EQ(conn.recv_available(200ms), "");
    for (const int fd : {0, 1}) {
        char target[256] = {};
        const std::string link =
            "/proc/" + std::to_string(server.pid()) + "/fd/" + std::to_string(fd);
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_STREQ(target, "/dev/null") << "descriptor " << fd;
    }
}

// User and system CPU time of a process so far, in clock ticks.
long cpu_ticks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name (which may hold blanks), from field 3 on.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

TEST(DescriptorLimit, AcceptFailuresBackOffAndTheWaitingClientIsServedOnceDescriptorsFreeUp) {
    // Standard descriptors, the listening socket and the lock on the working directory: no
    // descriptor is left for a client.
    server_with_descriptors server([] {
        const int null_fd = ::open("/dev/null", O_WRONLY);
        ::dup2(null_fd, STDOUT_FILENO);
        const rlimit tight{5, 64};
        ::setrlimit(RLIMIT_NOFILE, &tight);
    });
    auto conn = server.connect(15s);
    ASSERT_TRUE(conn.send_bytes("GETIFC_get_stat        ").ok());
    std::this_thread::sleep_for(3s);
    EXPECT_LT(cpu_ticks(server.pid()), sysconf(_SC_CLK_TCK) / 4) << "a quarter second of CPU";
    const std::string errors = server.stderr_text();
    std::size_t lines = 0;
    for (std::size_t at = 0;
         (at = errors.find("server: accept: Too many open files", at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 5u) << errors;

    const rlimit roomy{64, 64};
    ASSERT_EQ(::prlimit(server.pid(), RLIMIT_NOFILE, &roomy, nullptr), 0) << std::strerror(errno);
    auto len = conn.recv_bytes(13);
    ASSERT_TRUE(len.ok()) << len.failure().detail;
    EXPECT_EQ(len.value(), "LEN0000000025");
    ASSERT_TRUE(conn.send_bytes("NEXT").ok());
    EXPECT_EQ(conn.recv_bytes(25).value(), default_status);
}

}  // namespace
