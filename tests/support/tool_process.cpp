#include "tests/support/tool_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "tests/support/files.h"

namespace test_support {

tool_run run_tool(const std::string& program, const std::vector<std::string>& args,
                  std::string_view stdin_text, std::chrono::milliseconds limit) {
    const temp_dir io;
    const std::string in = io.file("stdin"), out = io.file("stdout"), err = io.file("stderr");
    write_file(in, stdin_text);
    std::vector<std::string> argv_text{program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in_fd = ::open(in.c_str(), O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(125);
        ::dup2(in_fd, STDIN_FILENO);
        ::dup2(out_fd, STDOUT_FILENO);
        ::dup2(err_fd, STDERR_FILENO);
        // A history file or anything else of the user's must not be touched.
        ::setenv("HOME", io.path().c_str(), 1);
        ::execv(program.c_str(), argv.data());
        _exit(126);
    }
    tool_run run;
    const auto end = std::chrono::steady_clock::now() + limit;
    int wait_status = 0;
    for (;;) {
        if (::waitpid(pid, &wait_status, WNOHANG) == pid) {
            run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wait_status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.out = read_file(out).value_or("");
    run.err = read_file(err).value_or("");
    return run;
}

tool_run run_client(std::uint16_t port, const std::vector<std::string>& args,
                    std::string_view stdin_text) {
    std::vector<std::string> all{"--port", std::to_string(port)};
    all.insert(all.end(), args.begin(), args.end());
    return run_tool(IFC_CLIENT_PATH, all, stdin_text);
}

tool_run run_settings_tool(const std::vector<std::string>& args) {
    return run_tool(IFC_SETTINGS_PATH, args);
}

std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        lines.emplace_back(text.substr(pos, end == std::string_view::npos ? end : end - pos));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return lines;
}

}  // namespace test_support
