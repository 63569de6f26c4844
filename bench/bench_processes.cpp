#include "bench/bench_processes.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "client/connection.h"

namespace bench {

using namespace std::chrono_literals;

void die(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
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
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

scratch_dir::scratch_dir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "gateway-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) die("cannot make a temporary directory");
    path = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
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

}  // namespace bench
