// Programs other than the server loop for tests: a program run to its end (cmake --install,
// systemd-analyze, the tools, the server that cannot listen), and a long-running executable
// started from any path in a working directory, its standard output and error captured in
// files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/files.h"

namespace test_support {

// How run_program runs a program to its end.
struct run_options {
    std::vector<std::string> environment;  // entries "NAME=value" added to this process's
    std::string workdir;                   // "" for this process's working directory
    std::string stdin_text;                // given as a file, so the program sees no terminal
    bool merge_output = false;             // standard error into standard output, in order
    std::chrono::milliseconds limit = std::chrono::seconds(120);
};

struct finished_program {
    // The exit status; 128 + the signal when a signal ended it; -1 when it did not end within
    // its limit (it is then killed) or could not be started.
    int status = -1;
    std::string out;
    std::string err;  // empty with merge_output
};

// The one way the tests run a program to its end: argv[0] is a path, or a name looked up in
// PATH. Every other runner below is this one with a few options set.
finished_program run_program(const std::vector<std::string>& argv, const run_options& options);

struct command_result {
    int status = -1;  // as finished_program's
    // Standard output and standard error, in the order written.
    std::string output;
};

// Runs argv with environment entries added and waits for it, at most limit.
command_result run_command(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment = {},
                           std::chrono::milliseconds limit = std::chrono::seconds(120));

// The full path of program in PATH; "" when there is none.
std::string find_in_path(std::string_view program);

class spawned_program {
  public:
    // Starts the executable at path with args (none by default) in workdir; its standard
    // output goes to stdout_fd instead of a file when one is given (a pipe of the test's).
    spawned_program(std::string path, std::string workdir, std::vector<std::string> args = {},
                    int stdout_fd = -1);
    ~spawned_program();
    spawned_program(const spawned_program&) = delete;
    spawned_program& operator=(const spawned_program&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    std::string stdout_text() const;
    std::string stderr_text() const;
    // Waits, bounded, until standard output holds needle or the program has ended.
    bool wait_for_stdout(std::string_view needle, std::chrono::milliseconds limit);
    // Ends the program with SIGKILL and waits for it.
    void kill();
    // Sends sig to the program, while it runs.
    void signal(int sig);
    // Waits, bounded, for the program to end: its exit status (128 + signal when a signal
    // ended it), or -1 when it still runs.
    int wait_exit(std::chrono::milliseconds limit);

  private:
    temp_dir capture_;
    pid_t pid_ = -1;
};

}  // namespace test_support
