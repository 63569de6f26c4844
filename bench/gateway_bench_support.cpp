#include "bench/gateway_bench_support.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "client/connection.h"

namespace gateway_bench {

using namespace std::chrono_literals;

void die(const std::string& message) {
    std::fprintf(stderr, "gateway bench: %s\n", message.c_str());
    std::exit(1);
}

child::child(const std::string& path, const std::vector<std::string>& args,
             const std::string& dir) {
    std::fflush(stdout);  // or the child would print what this process has buffered
    pid_ = ::fork();
    if (pid_ < 0) die("fork failed");
    if (pid_ == 0) {
        if (::chdir(dir.c_str()) != 0) _exit(121);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        _exit(122);
    }
}

child::~child() {
    if (ended_) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

bool child::wait_exit(std::chrono::milliseconds limit, int& status) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ended_) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

scratch_dir::scratch_dir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "gateway-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) die("cannot make a temporary directory");
    path = pattern;
}

scratch_dir::~scratch_dir() {
    std::filesystem::remove_all(path);
}

std::uint16_t free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        die("no free port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool wait_answering(std::uint16_t port) {
    for (int round = 0; round < 500; ++round) {
        if (auto conn = ifc_client::connection::open({"127.0.0.1", port, 200ms})) {
            conn->disconnect();
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// A port found free can be taken by another program (or handed out twice) before the server
// binds it: such a server is started again on another port.
servers::servers(int count) {
    for (int i = 0; i < count; ++i) {
        std::filesystem::create_directory(work(i));
        ports.push_back(new_port());
        start(i);
    }
    for (int i = 0; i < count; ++i) {
        for (int attempt = 0; !wait_answering(ports[static_cast<std::size_t>(i)]); ++attempt) {
            if (attempt == 5) die("a server did not start");
            ports[static_cast<std::size_t>(i)] = new_port();
            start(i);
        }
    }
}

std::string servers::work(int i) const {
    return dir.path + "/s" + std::to_string(i);
}

std::uint16_t servers::new_port() const {
    for (;;) {
        const std::uint16_t port = free_port();
        if (std::find(ports.begin(), ports.end(), port) == ports.end()) return port;
    }
}

void servers::start(int i) {
    const auto index = static_cast<std::size_t>(i);
    auto started = std::make_unique<child>(
        IFC_SERVER_PATH, std::vector<std::string>{"--port", std::to_string(ports[index])}, work(i));
    if (index < children.size()) {
        children[index] = std::move(started);
    } else {
        children.push_back(std::move(started));
    }
}

timing percentiles(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
    };
    return {at(0.5), at(0.99), values.back()};
}

}  // namespace gateway_bench
