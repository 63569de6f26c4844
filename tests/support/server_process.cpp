#include "tests/support/server_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "protocol/protocol.h"
#include "server/tcp9002.h"
#include "tests/support/spawned_program.h"
#include "tests/support/wait.h"

namespace test_support {

namespace {

using namespace std::chrono_literals;

const char* const stdout_name = "stdout.txt";
const char* const stderr_name = "stderr.txt";

// In the child: standard output and error into the capture files. Standard output is fully
// buffered, as it is for a server whose output goes to a file, a pipe or the journal, so the
// tests see exactly what the server flushes.
void redirect_output(const std::string& out, const std::string& err) {
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd < 0 || err_fd < 0) _exit(120);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    ::close(out_fd);
    ::close(err_fd);
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
}

}  // namespace

std::uint16_t free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
        throw std::runtime_error("cannot find a free port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool port_is_listening(std::uint16_t port) {
    // /proc/net/tcp: "sl local_address rem_address st ...", addresses as HEXADDR:HEXPORT,
    // state 0A is LISTEN.
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
            return true;
        }
    }
    return false;
}

server_process::server_process(server_options options) : options_(std::move(options)) {
    start();
}

server_process::~server_process() {
    kill();
}

void server_process::start() {
    if (options_.real_executable) {
        if (!start_on(protocol::server_port)) {
            throw std::runtime_error("ifc-server did not start listening on port 9002");
        }
        return;
    }
    // A port found free can be taken by someone else before the child binds it: try again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (start_on(port_ != 0 && attempt == 0 ? port_ : free_port())) return;
    }
    throw std::runtime_error("the server loop did not start listening");
}

bool server_process::start_on(std::uint16_t port) {
    port_ = port;
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string out = capture_.file(stdout_name);
    const std::string err = capture_.file(stderr_name);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A test that dies without its clean-up takes its server with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::chdir(workdir_.path().c_str()) != 0) _exit(121);
        redirect_output(out, err);
        if (options_.real_executable) {
            ::execl(IFC_SERVER_PATH, "ifc-server", static_cast<char*>(nullptr));
            _exit(122);
        }
        if (options_.child_setup) options_.child_setup();
        tcp9002_loop(port);
        std::fflush(stdout);
        _exit(123);
    }
    const bool listening = wait_until(
        [&] {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            return port_is_listening(port);
        },
        10s);
    return listening && pid_ > 0;
}

std::string server_process::stdout_text() const {
    return read_file(capture_.file(stdout_name)).value_or("");
}

std::string server_process::stderr_text() const {
    return read_file(capture_.file(stderr_name)).value_or("");
}

bool server_process::wait_for_stdout(std::string_view needle,
                                     std::chrono::milliseconds limit) const {
    return wait_until([&] { return stdout_text().find(needle) != std::string::npos; }, limit);
}

bool server_process::wait_for_stderr(std::string_view needle,
                                     std::chrono::milliseconds limit) const {
    return wait_until([&] { return stderr_text().find(needle) != std::string::npos; }, limit);
}

ifc_client::endpoint server_process::endpoint() const {
    return ifc_client::endpoint{"127.0.0.1", port_, std::chrono::milliseconds(8000)};
}

ifc_client::connection server_process::connect() const {
    auto opened = ifc_client::connection::open(endpoint());
    if (!opened) throw std::runtime_error("cannot connect: " + opened.failure().detail);
    return std::move(opened.value());
}

void server_process::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

void server_process::restart() {
    kill();
    start();
}

bool server_process::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int server_process::wait_exit(std::chrono::milliseconds limit) {
    int code = -1;
    wait_until(
        [&] {
            int status = 0;
            if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            }
            return pid_ <= 0;
        },
        limit);
    return code;
}

finished_run run_to_exit(const char* program, std::chrono::milliseconds limit) {
    const temp_dir workdir;
    run_options options;
    options.workdir = workdir.path();
    options.limit = limit;
    const finished_program run = run_program({program}, options);
    return finished_run{run.status, run.out, run.err};
}

}  // namespace test_support
