// The journal: one JSON object per line for every request, every connection's open and
// close, and the proxy's own events (start, reloads of the rules, refusals, connections turned
// away, dropped lines, stop). The lines are built here; the program's journal_writer
// (proxy/program/journal_writer.h) puts them out.
//
// With the same seed and the same terminal traffic, two journals are equal line by line but
// for the fields "time", "terminal" and those ending in "_ms".
#pragma once

#include <cstdint>
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
// A terminal's connection that the proxy did not take (too many, or no thread for it).
journal_line turned_away_line(const std::string& terminal, const std::string& reason);
// count lines are missing here: the journal's reader did not keep up, or its file was full.
journal_line dropped_line(std::uint64_t count);

// Milliseconds, rounded to the microsecond.
double millis(clock_type::duration d);

// The line as written: the wall-clock time first, then the line's fields, on one line (bytes
// that are not UTF-8 are replaced, though the lines put them in hex already).
std::string journal_text(const journal_line& line);

// The time now as ISO 8601 in UTC with microseconds: 2026-12-10T09:30:00.123456Z.
std::string wall_clock_text();

}  // namespace proxy
