// What the gateway's benchmarks share: programs started and ended by pid, scratch directories,
// real servers as controllers, ports, percentiles and a process's memory from /proc.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gateway_bench {

[[noreturn]] void die(const std::string& message);

// A program started from this process (its output to /dev/null), killed by its pid at the
// end unless it has ended.
class child {
  public:
    child(const std::string& path, const std::vector<std::string>& args, const std::string& dir);
    ~child();
    child(const child&) = delete;
    child& operator=(const child&) = delete;
    pid_t pid() const { return pid_; }
    // Waits for the program to end, at most limit: true when it has (its status in status).
    bool wait_exit(std::chrono::milliseconds limit, int& status);

  private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
};

// A port nothing listened on a moment ago.
std::uint16_t free_port();
// Waits (bounded) until a controller answers on port.
bool wait_answering(std::uint16_t port);

// One ifc-server per controller, each in a directory of its own.
struct servers {
    scratch_dir dir;
    std::vector<std::uint16_t> ports;
    std::vector<std::unique_ptr<child>> children;
    explicit servers(int count);
    // The working directory of server i.
    std::string work(int i) const;

  private:
    std::uint16_t new_port() const;
    void start(int i);
};

struct timing {
    double p50 = 0, p99 = 0, max = 0;
};
timing percentiles(std::vector<double> values);

}  // namespace gateway_bench
