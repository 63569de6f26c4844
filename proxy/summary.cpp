#include "proxy/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <tuple>

#include "proxy/byte_text.h"
#include "tools/text_table.h"

namespace proxy {

namespace {

using json = nlohmann::json;
using ifc_tool::render_table;
using ifc_tool::text_row;

std::string field_text(const json& line, const char* field) {
    const auto it = line.find(field);
    return it != line.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string count_of(long long n, const std::string& what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// A journal line is at most a few times --text-max (1 MiB at most) long; a longer one is no
// journal line and is skipped without being kept.
constexpr std::size_t max_line = 8 * 1024 * 1024;

// Reads the next line into text; false at the end of the input. A line longer than max_line
// is read to its end, and too_long is set.
bool next_line(std::istream& in, std::string& text, bool& too_long) {
    text.clear();
    too_long = false;
    bool any = false;
    char c;
    while (in.get(c)) {
        any = true;
        if (c == '\n') return true;
        if (text.size() < max_line) {
            text += c;
        } else {
            too_long = true;
        }
    }
    return any;
}

// A request's duration as the proxy writes it: a number of milliseconds, never negative.
bool sound_duration(const json& line) {
    const auto total = line.find("total_ms");
    return total == line.end() || (total->is_number() && total->get<double>() >= 0);
}

std::string millis_text(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms);
    return text;
}

}  // namespace

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

journal_summary summarize(std::istream& journal) {
    journal_summary summary;
    std::map<std::tuple<std::string, std::string>, command_summary> by_command;
    std::string text;
    bool too_long = false;
    while (next_line(journal, text, too_long)) {
        if (text.empty() && !too_long) continue;
        const json line = too_long ? json() : json::parse(text, nullptr, false);
        const std::string event = line.is_object() ? field_text(line, "event") : "";
        if (event.empty() || (event == "request" && !sound_duration(line))) {
            ++summary.skipped_lines;
            continue;
        }
        if (event == "start" && line.contains("seed") && line["seed"].is_number_unsigned()) {
            summary.seeds.push_back(line["seed"].get<std::uint64_t>());
        } else if (event == "open") {
            ++summary.connections;
        } else if (event == "request") {
            std::string command = field_text(line, "command");
            if (command.empty() && line.contains("command_hex")) {
                command = "hex:" + field_text(line, "command_hex");
            }
            command_summary& s = by_command[{field_text(line, "kind"), command}];
            s.kind = field_text(line, "kind");
            s.command = command;
            ++s.count;
            ++summary.requests;
            const std::string result = field_text(line, "outcome");
            if (result != "ok") {
                ++s.failed;
                ++s.failures[result];
            }
            const auto faults = line.find("faults");
            if (faults != line.end() && faults->is_array() &&
                std::any_of(faults->begin(), faults->end(), [](const json& f) {
                    return f.is_object() && f.value("applied", false);
                })) {
                ++s.faulted;
            }
            const auto total = line.find("total_ms");
            if (total != line.end() && total->is_number())
                s.total_ms.push_back(total->get<double>());
        }
    }
    for (auto& [key, s] : by_command) {
        std::sort(s.total_ms.begin(), s.total_ms.end());
        summary.commands.push_back(std::move(s));
    }
    return summary;
}

// A request's command as the table shows it. A GET or PUT without one was ended before the
// proxy knew its name (an err fault answers the header); requests of the other kinds have none.
std::string command_text(const command_summary& s) {
    if (!s.command.empty()) return shown_text(s.command);
    return s.kind == "GET" || s.kind == "PUT" ? "(before the name)" : "-";
}

std::string render_summary(const journal_summary& summary, std::string_view source) {
    std::string text = std::string(source) + ": " + count_of(summary.requests, "request") + " on " +
                       count_of(summary.connections, "connection");
    if (!summary.seeds.empty()) {
        text += summary.seeds.size() == 1 ? ", seed " : ", seeds ";
        for (std::size_t i = 0; i < summary.seeds.size(); ++i) {
            if (i > 0) text += " ";
            text += std::to_string(summary.seeds[i]);
        }
    }
    text += "\n\n";
    std::vector<text_row> rows{
        {"kind", "command", "count", "failed", "faulted", "p50 ms", "p90 ms", "p99 ms", "max ms"}};
    for (const command_summary& s : summary.commands) {
        rows.push_back(
            {shown_text(s.kind), command_text(s), std::to_string(s.count), std::to_string(s.failed),
             std::to_string(s.faulted), millis_text(percentile(s.total_ms, 50)),
             millis_text(percentile(s.total_ms, 90)), millis_text(percentile(s.total_ms, 99)),
             millis_text(s.total_ms.empty() ? 0 : s.total_ms.back())});
    }
    text += render_table(rows);
    std::vector<text_row> failures{{"kind", "command", "outcome", "count"}};
    for (const command_summary& s : summary.commands) {
        for (const auto& [result, count] : s.failures) {
            failures.push_back(
                {shown_text(s.kind), command_text(s), shown_text(result), std::to_string(count)});
        }
    }
    if (failures.size() > 1) text += "\nfailures\n" + render_table(failures);
    if (summary.skipped_lines > 0) {
        text += "\nskipped " + count_of(summary.skipped_lines, "line") +
                (summary.skipped_lines == 1 ? " that is not a journal line\n"
                                            : " that are not journal lines\n");
    }
    return text;
}

}  // namespace proxy
