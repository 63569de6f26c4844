// A program at a pseudo-terminal, as an operator runs it: what it shows, what is typed into
// it. Every wait is bounded; the program is killed (by its pid) when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

class terminal_program {
  public:
    // Starts the executable at path with args, HOME set to home (for history files).
    terminal_program(const std::string& path, const std::vector<std::string>& args,
                     const std::string& home);
    ~terminal_program();
    terminal_program(const terminal_program&) = delete;
    terminal_program& operator=(const terminal_program&) = delete;

    // Reads what the program shows until needle appears (true), it ends or limit passes.
    bool read_until(std::string_view needle,
                    std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Types text as keystrokes ("\r" ends a line, "\t" asks for completion).
    void type(std::string_view text);
    // Everything shown so far, control sequences included.
    const std::string& screen() const { return screen_; }
    // Waits for the program to end, reading what it still shows; its exit status, or -1 when
    // it did not end within limit (it is then killed).
    int wait_exit(std::chrono::milliseconds limit = std::chrono::seconds(10));

  private:
    int read_some(std::chrono::milliseconds wait);

    pid_t pid_ = -1;
    int master_ = -1;
    std::string screen_;
};

}  // namespace test_support
