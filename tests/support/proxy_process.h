// The real ifc-proxy for a test: started on a free loopback port in front of a controller's
// port, its journal in a temporary directory, read back as parsed JSON lines.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "client/connection.h"
#include "tests/support/files.h"
#include "tests/support/spawned_program.h"

namespace test_support {

using journal_lines = std::vector<nlohmann::json>;

struct proxy_options {
    std::string rules_json;         // written to a rules file and passed with --rules
    std::vector<std::string> args;  // more arguments (--seed 7, --text-max 16, ...)
    bool journal = true;            // --journal FILE in the temporary directory
    int stdout_fd = -1;             // the proxy's standard output (a pipe); -1: a file
};

class proxy_process {
  public:
    proxy_process(std::uint16_t controller_port, proxy_options options = {});
    ~proxy_process();
    proxy_process(const proxy_process&) = delete;
    proxy_process& operator=(const proxy_process&) = delete;

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return program_->pid(); }
    bool running() { return program_->running(); }
    ifc_client::endpoint endpoint() const;
    // A connection with a time-out of a few seconds.
    ifc_client::connection connect() const;

    const std::string& rules_path() const { return rules_path_; }
    const std::string& journal_path() const { return journal_path_; }
    // Every journal line written so far.
    journal_lines journal() const;
    // The "request" lines so far.
    journal_lines requests() const;
    // Waits, bounded, until the journal holds count lines of event; the lines of that event.
    journal_lines wait_for(const std::string& event, std::size_t count,
                           std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    std::string stderr_text() const { return program_->stderr_text(); }
    bool wait_for_stderr(const std::string& needle,
                         std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Stops the proxy with SIGTERM and waits for it; its exit status (-1: it did not end).
    int terminate();

  private:
    temp_dir dir_;
    std::string rules_path_;
    std::string journal_path_;
    std::uint16_t port_ = 0;
    std::unique_ptr<spawned_program> program_;
};

// The lines of one event in journal.
journal_lines lines_of_event(const journal_lines& journal, const std::string& event);
// Runs ifc-proxy with args to its end (for --help, --summary, --check-rules, bad arguments).
command_result run_proxy(const std::vector<std::string>& args);

}  // namespace test_support
