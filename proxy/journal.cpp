#include "proxy/journal.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "proxy/byte_text.h"
#include "proxy/faults/registry.h"

namespace proxy {

namespace {

// Bytes as the field name (printable) or the field name with "_hex" (not printable).
void put_bytes(journal_line& line, const std::string& field, std::string_view bytes) {
    if (is_printable(bytes)) {
        line[field] = bytes;
    } else {
        line[field + "_hex"] = to_hex(bytes);
    }
}

journal_line fault_json(const fault_report& f) {
    journal_line j;
    j["rule"] = f.rule;
    if (!f.label.empty()) j["label"] = f.label;
    j["action"] = action_name(f.what);
    fault_of(f.what).journal_fields(f, j);
    j["applied"] = f.applied;
    if (!f.applied && !f.missed.empty()) j["missed"] = f.missed;
    return j;
}

void put_label(journal_line& line, const connection_label& c) {
    line["conn"] = c.conn;
    line["terminal"] = c.terminal;
}

}  // namespace

double millis(clock_type::duration d) {
    const double ms = std::chrono::duration<double, std::milli>(d).count();
    return std::round(ms * 1000.0) / 1000.0;
}

journal_line start_line(const start_facts& facts) {
    journal_line j;
    j["event"] = "start";
    j["version"] = facts.version;
    j["listen"] = facts.listen;
    j["to"] = facts.to;
    j["seed"] = facts.seed;
    if (facts.rules_file) {
        j["rules"] = *facts.rules_file;
    } else {
        j["rules"] = nullptr;
    }
    j["rule_count"] = facts.rule_count;
    j["text_max"] = facts.text_max;
    return j;
}

journal_line open_line(const connection_label& c) {
    journal_line j;
    j["event"] = "open";
    put_label(j, c);
    return j;
}

journal_line request_line(const connection_label& c, const request_record& r,
                          const std::vector<fault_report>& faults) {
    journal_line j;
    j["event"] = "request";
    put_label(j, c);
    j["seq"] = r.seq;
    j["kind"] = kind_name(r.kind);
    if (r.kind == request_kind::get || r.kind == request_kind::put)
        put_bytes(j, "command", r.command);
    if (r.kind == request_kind::unknown) put_bytes(j, "header", r.header);
    if (r.length) j["length"] = *r.length;
    if (r.text_size > 0) {
        put_bytes(j, r.kind == request_kind::get ? "answer" : "argument", r.text);
        if (r.text.size() < r.text_size) j["truncated"] = true;
    }
    j["chunks"] = r.chunks;
    j["bytes_from_terminal"] = r.bytes_from_terminal;
    j["bytes_from_controller"] = r.bytes_from_controller;
    if (r.first_answer_byte) j["first_byte_ms"] = millis(*r.first_answer_byte - r.started);
    j["total_ms"] = millis(r.ended - r.started);
    j["outcome"] = outcome_name(r.result);
    if (!r.detail.empty()) j["detail"] = r.detail;
    if (!r.note.empty()) j["note"] = r.note;
    journal_line list = journal_line::array();
    for (const fault_report& f : faults)
        list.push_back(fault_json(f));
    j["faults"] = std::move(list);
    return j;
}

journal_line close_line(const connection_label& c, const close_facts& facts) {
    journal_line j;
    j["event"] = "close";
    put_label(j, c);
    j["by"] = facts.end.by;
    j["reason"] = facts.end.reason;
    j["requests"] = facts.requests;
    j["bytes_from_terminal"] = facts.bytes_from_terminal;
    j["bytes_from_controller"] = facts.bytes_from_controller;
    j["duration_ms"] = facts.duration_ms;
    return j;
}

journal_line reload_line(const std::string& file, std::size_t rule_count, const std::string& error,
                         std::size_t kept) {
    journal_line j;
    j["event"] = "reload";
    j["rules"] = file;
    j["ok"] = error.empty();
    if (error.empty()) {
        j["rule_count"] = rule_count;
    } else {
        j["error"] = error;
        j["kept"] = kept;
    }
    return j;
}

journal_line refuse_line(const connection_label& c, std::size_t rule, double seconds) {
    journal_line j;
    j["event"] = "refuse";
    put_label(j, c);
    j["rule"] = rule;
    j["seconds"] = seconds;
    return j;
}

journal_line listen_again_line() {
    journal_line j;
    j["event"] = "listen";
    return j;
}

journal_line stop_line(std::string_view signal_name) {
    journal_line j;
    j["event"] = "stop";
    j["signal"] = signal_name;
    return j;
}

journal_line turned_away_line(const std::string& terminal, const std::string& reason) {
    journal_line j;
    j["event"] = "turned_away";
    j["terminal"] = terminal;
    j["reason"] = reason;
    return j;
}

journal_line dropped_line(std::uint64_t count) {
    journal_line j;
    j["event"] = "dropped";
    j["lines"] = count;
    return j;
}

std::string wall_clock_text() {
    const auto now = std::chrono::system_clock::now();
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%06lldZ", static_cast<long long>(micros % 1000000));
    return text;
}

std::string journal_text(const journal_line& line) {
    journal_line stamped;
    stamped["time"] = wall_clock_text();
    for (const auto& [key, value] : line.items())
        stamped[key] = value;
    return stamped.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace proxy
