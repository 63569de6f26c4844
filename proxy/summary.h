// The summary of a journal: per command, how many requests, how many failed and how (by
// outcome), how many met a fault, and percentiles of the whole exchange's duration.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace proxy {

struct command_summary {
    std::string kind;
    std::string command;
    long long count = 0;
    long long failed = 0;                       // any outcome but ok
    long long faulted = 0;                      // a fault rule was applied
    std::map<std::string, long long> failures;  // outcome -> count
    std::vector<double> total_ms;               // sorted
};

struct journal_summary {
    std::vector<command_summary> commands;  // by kind, then command
    long long requests = 0;
    long long connections = 0;
    std::vector<std::uint64_t> seeds;  // one per start of the proxy in the journal
    long long skipped_lines = 0;       // lines that are not journal lines
};

journal_summary summarize(std::istream& journal);

// The value at or below which p percent of the sorted values lie (nearest rank).
double percentile(const std::vector<double>& sorted, double p);

// The tables that ifc-proxy --summary prints.
std::string render_summary(const journal_summary& summary, std::string_view source);

}  // namespace proxy
