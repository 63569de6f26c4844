// The journal: one JSON object per line for every request, every connection's open and
// close, and the proxy's own events (start, reloads of the rules, refusals, stop). The lines
// are built here; a journal_writer puts them out, each line whole, from any thread.
//
// With the same seed and the same terminal traffic, two journals are equal line by line but
// for the fields "time", "terminal" and those ending in "_ms".
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/exchange.h"
#include "proxy/faults/fault.h"
#include "proxy/journal_line.h"

namespace proxy {

struct connection_label {
    long long conn = 0;    // 1 for the first terminal connection of the run
    std::string terminal;  // the terminal's address, host:port
};

struct start_facts {
    std::string version;
    std::string listen;
    std::string to;
    std::uint64_t seed = 0;
    std::optional<std::string> rules_file;
    std::size_t rule_count = 0;
    std::size_t text_max = 0;
};

journal_line start_line(const start_facts& facts);
journal_line open_line(const connection_label& c);
journal_line request_line(const connection_label& c, const request_record& r,
                          const std::vector<fault_report>& faults);
struct close_facts {
    connection_end end;
    int requests = 0;
    std::uint64_t bytes_from_terminal = 0;
    std::uint64_t bytes_from_controller = 0;
    double duration_ms = 0;
};
journal_line close_line(const connection_label& c, const close_facts& facts);
journal_line reload_line(const std::string& file, std::size_t rule_count, const std::string& error,
                         std::size_t kept);
journal_line refuse_line(const connection_label& c, std::size_t rule, double seconds);
journal_line listen_again_line();
journal_line stop_line(std::string_view signal_name);

// Milliseconds, rounded to the microsecond.
double millis(clock_type::duration d);

// Writes journal lines to a file (appended) or to standard output ("-"); each line is
// flushed whole, so that a reader following the file sees complete lines.
class journal_writer {
  public:
    journal_writer() = default;  // writes nothing
    // Opens path; on failure error() says why.
    explicit journal_writer(const std::string& path);
    ~journal_writer();
    journal_writer(const journal_writer&) = delete;
    journal_writer& operator=(const journal_writer&) = delete;

    bool enabled() const { return out_ != nullptr; }
    const std::string& error() const { return error_; }
    // Puts the current wall-clock time first and writes the line.
    void write(const journal_line& line);

  private:
    std::FILE* out_ = nullptr;
    bool owned_ = false;
    std::string error_;
    std::mutex mutex_;
};

// The time now as ISO 8601 in UTC with microseconds: 2026-12-10T09:30:00.123456Z.
std::string wall_clock_text();

}  // namespace proxy
