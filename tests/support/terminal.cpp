#include "tests/support/terminal.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace test_support {

terminal_program::terminal_program(const std::string& path, const std::vector<std::string>& args,
                                   const std::string& home) {
    std::vector<std::string> argv_text{path};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) {
        ::setenv("HOME", home.c_str(), 1);
        ::execv(path.c_str(), argv.data());
        _exit(126);
    }
}

terminal_program::~terminal_program() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (master_ >= 0) ::close(master_);
}

// Bytes read within wait: > 0 some, 0 none yet, -1 the program has closed the terminal.
int terminal_program::read_some(std::chrono::milliseconds wait) {
    pollfd pfd{master_, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(wait.count())) <= 0) return 0;
    char bytes[4096];
    const ssize_t k = ::read(master_, bytes, sizeof bytes);
    if (k <= 0) return -1;
    screen_.append(bytes, static_cast<std::size_t>(k));
    return static_cast<int>(k);
}

bool terminal_program::read_until(std::string_view needle, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (screen_.find(needle) == std::string::npos && std::chrono::steady_clock::now() < end) {
        if (read_some(std::chrono::milliseconds(100)) < 0) break;
    }
    return screen_.find(needle) != std::string::npos;
}

void terminal_program::type(std::string_view text) {
    while (!text.empty()) {
        const ssize_t k = ::write(master_, text.data(), text.size());
        if (k <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(k));
    }
}

int terminal_program::wait_exit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            while (read_some(std::chrono::milliseconds(20)) > 0) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (read_some(std::chrono::milliseconds(20)) < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // closed, not yet reaped
        }
    }
    return -1;
}

}  // namespace test_support
