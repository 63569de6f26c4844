// A real server for a test: the server loop in a child process (or the ifc-server executable),
// in a fresh temporary working directory, its standard output and error captured in files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "client/connection.h"
#include "tests/support/files.h"

namespace test_support {

struct server_options {
    // Runs in the child before the loop starts (for example to change a debug flag).
    std::function<void()> child_setup;
    // Start the ifc-server executable on port 9002 instead of the loop on a free port.
    bool real_executable = false;
};

class server_process {
  public:
    explicit server_process(server_options options = {});
    ~server_process();
    server_process(const server_process&) = delete;
    server_process& operator=(const server_process&) = delete;

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::string& workdir() const { return workdir_.path(); }
    std::string workfile(std::string_view name) const { return workdir_.file(name); }

    // Everything the server has written (and flushed) so far.
    std::string stdout_text() const;
    std::string stderr_text() const;
    // Waits, bounded, until standard output holds needle; true when it does.
    bool wait_for_stdout(std::string_view needle,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    bool wait_for_stderr(std::string_view needle,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // A client connection with a time-out of a few seconds.
    ifc_client::connection connect() const;
    ifc_client::endpoint endpoint() const;

    // Ends the server with SIGKILL (no clean-up runs in it) and waits for it.
    void kill();
    // kill(), then a new server on the same port and working directory.
    void restart();
    bool running();
    // Waits, bounded, for the server to end; its exit status, or -1 when it is still running.
    int wait_exit(std::chrono::milliseconds limit);

  private:
    void start();
    bool start_on(std::uint16_t port);

    server_options options_;
    temp_dir workdir_;
    temp_dir capture_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

// The outcome of a program run to its end.
struct finished_run {
    int exit_status = -1;  // as run_program gives it (spawned_program.h)
    std::string stdout_text;
    std::string stderr_text;
};
// Runs program without arguments in a fresh temporary working directory and waits, bounded,
// for it to end (it is killed when the limit passes).
finished_run run_to_exit(const char* program, std::chrono::milliseconds limit);

// A TCP port that nothing listened on a moment ago.
std::uint16_t free_port();
// true when some socket listens on port (any address), as the kernel reports it.
bool port_is_listening(std::uint16_t port);

}  // namespace test_support
