// What the gateway's benchmarks share: stopping with a message, programs started as children
// (killed by their pid at the end), scratch directories and loopback ports.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

[[noreturn]] void die(const std::string& message);

// A program started from this process in dir, its output discarded; killed by its pid when
// this goes.
class child {
  public:
    child(const std::string& path, const std::vector<std::string>& args, const std::string& dir);
    ~child();
    child(const child&) = delete;
    child& operator=(const child&) = delete;
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// A fresh directory under the temporary directory, removed with everything in it.
struct scratch_dir {
    std::string path;
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
};

// A loopback port nothing listened on a moment ago.
std::uint16_t free_port();
// Waits (at most 5 s) until a controller answers on the port.
bool wait_answering(std::uint16_t port);

}  // namespace bench
