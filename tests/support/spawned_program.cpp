#include "tests/support/spawned_program.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace test_support {

namespace {

using namespace std::chrono_literals;

const char* const stdout_name = "stdout.txt";
const char* const stderr_name = "stderr.txt";

// In a forked child: standard output and error into the given files.
void redirect_child_output(const std::string& out, const std::string& err) {
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd =
        err == out ? out_fd : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd < 0 || err_fd < 0) _exit(120);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
}

std::vector<char*> argv_pointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const auto& arg : argv)
        pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// The exit status of pid once it has ended within limit, else -1 (it is still running).
int wait_exit(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= end) return -1;
        std::this_thread::sleep_for(5ms);
    }
}

void kill_and_reap(pid_t pid) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

}  // namespace

finished_program run_program(const std::vector<std::string>& argv, const run_options& options) {
    finished_program result;
    if (argv.empty()) return result;
    temp_dir capture;
    const std::string in = capture.file("stdin.txt");
    const std::string out = capture.file(stdout_name);
    const std::string err = options.merge_output ? out : capture.file(stderr_name);
    write_file(in, options.stdin_text);
    auto args = argv_pointers(argv);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (!options.workdir.empty() && ::chdir(options.workdir.c_str()) != 0) _exit(121);
        redirect_child_output(out, err);
        const int in_fd = ::open(in.c_str(), O_RDONLY);
        if (in_fd < 0 || ::dup2(in_fd, STDIN_FILENO) < 0) _exit(120);
        for (const auto& entry : options.environment)
            ::putenv(const_cast<char*>(entry.c_str()));
        ::execvp(args[0], args.data());
        _exit(127);
    }
    result.status = wait_exit(pid, options.limit);
    if (result.status < 0) kill_and_reap(pid);
    result.out = read_file(out).value_or("");
    if (!options.merge_output) result.err = read_file(err).value_or("");
    return result;
}

command_result run_command(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           std::chrono::milliseconds limit) {
    run_options options;
    options.environment = environment;
    options.merge_output = true;
    options.limit = limit;
    const finished_program run = run_program(argv, options);
    return command_result{run.status, run.out};
}

std::string find_in_path(std::string_view program) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const std::size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        dirs = colon == std::string_view::npos ? std::string_view{} : dirs.substr(colon + 1);
        if (dir.empty()) continue;
        const std::string candidate = std::string(dir) + "/" + std::string(program);
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

spawned_program::spawned_program(std::string path, std::string workdir,
                                 std::vector<std::string> args, int stdout_fd) {
    args.insert(args.begin(), path);
    auto argv = argv_pointers(args);
    const std::string out = capture_.file(stdout_name);
    const std::string err = capture_.file(stderr_name);
    std::fflush(stdout);
    std::fflush(stderr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A test that dies without its clean-up takes the program with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::chdir(workdir.c_str()) != 0) _exit(121);
        redirect_child_output(out, err);
        if (stdout_fd >= 0 && ::dup2(stdout_fd, STDOUT_FILENO) < 0) _exit(123);
        ::execv(path.c_str(), argv.data());
        _exit(122);
    }
}

spawned_program::~spawned_program() {
    kill();
}

bool spawned_program::running() {
    if (pid_ > 0 && test_support::wait_exit(pid_, 0ms) >= 0) pid_ = -1;
    return pid_ > 0;
}

std::string spawned_program::stdout_text() const {
    return read_file(capture_.file(stdout_name)).value_or("");
}

std::string spawned_program::stderr_text() const {
    return read_file(capture_.file(stderr_name)).value_or("");
}

bool spawned_program::wait_for_stdout(std::string_view needle, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (stdout_text().find(needle) != std::string::npos) return true;
        if (!running() || std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(5ms);
    }
}

void spawned_program::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

int spawned_program::wait_exit(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -1;
    const int status = test_support::wait_exit(pid_, limit);
    if (status >= 0) pid_ = -1;
    return status;
}

void spawned_program::kill() {
    if (pid_ <= 0) return;
    kill_and_reap(pid_);
    pid_ = -1;
}

}  // namespace test_support
