// Programs other than the server loop for tests: a command run to its end (cmake --install,
// systemd-analyze), and a long-running executable started from any path in a working
// directory, its standard output and error captured in files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/files.h"

namespace test_support {

struct command_result {
    // The exit status; -1 when the command could not be run or did not end within its limit
    // (it is then killed).
    int status = -1;
    // Standard output and standard error, in the order written.
    std::string output;
};

// Runs argv[0] (a path, or a name looked up in PATH) with argv, adding environment entries
// of the form "NAME=value", and waits for it, at most limit.
command_result run_command(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment = {},
                           std::chrono::milliseconds limit = std::chrono::seconds(120));

// The full path of program in PATH; "" when there is none.
std::string find_in_path(std::string_view program);

class spawned_program {
  public:
    // Starts the executable at path with args (none by default) in workdir.
    spawned_program(std::string path, std::string workdir, std::vector<std::string> args = {});
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
