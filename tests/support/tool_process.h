// Runs one of the built tools (ifc-client, ifc-settings) as a child process, with a given
// standard input, and collects what it printed and its exit status.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct tool_run {
    int status = -1;  // the exit status; -1 when the tool did not end by itself in time
    std::string out;
    std::string err;
};

// stdin_text is given as a file, so the tool never sees a terminal. A tool still running
// after limit is killed (by its pid).
tool_run run_tool(const std::string& program, const std::vector<std::string>& args,
                  std::string_view stdin_text = "",
                  std::chrono::milliseconds limit = std::chrono::seconds(30));

// ifc-client with --port of a test server (and no other option) before args.
tool_run run_client(std::uint16_t port, const std::vector<std::string>& args,
                    std::string_view stdin_text = "");
tool_run run_settings_tool(const std::vector<std::string>& args);

// The lines of text, without their line ends.
std::vector<std::string> lines_of(std::string_view text);

}  // namespace test_support
