// The proxy's rules reader and its reload, fed arbitrary files (in memory): whatever a rules
// file holds, reading it never crashes, throws or hangs, and
//   - a refusal says why in text without control characters, and the reload keeps the rules;
//   - sound rules are put in force by the reload, say themselves in words without control
//     characters, and decide on requests of every kind; the faults they plan make journal
//     lines that are one line of valid JSON each.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/faults/registry.h"
#include "proxy/journal.h"
#include "proxy/rules.h"
#include "proxy/rules_reload.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

bool shown_safely(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) return false;
    }
    return true;
}

proxy::pending_request request(proxy::request_kind kind, proxy::decision_point point,
                               std::string_view command) {
    proxy::pending_request p;
    p.seq = 1;
    p.kind = kind;
    p.point = point;
    p.command_known = point == proxy::decision_point::command || kind != proxy::request_kind::put;
    p.command = command;
    p.length = 40;
    return p;
}

// Every moment at which rules are decided, with names a rule's pattern may or may not match.
const std::vector<proxy::pending_request>& requests() {
    using proxy::decision_point;
    using proxy::request_kind;
    static const std::vector<proxy::pending_request> all{
        request(request_kind::get, decision_point::header, "IFC_get_stat"),
        request(request_kind::get, decision_point::header, "IFC_get_on_off_1"),
        request(request_kind::put, decision_point::header, ""),
        request(request_kind::put, decision_point::command, "IFC_set_on_off_3"),
        request(request_kind::ping, decision_point::header, ""),
        request(request_kind::disconnect, decision_point::header, ""),
    };
    return all;
}

void exercise(proxy::rule_engine& engine) {
    const proxy::connection_label label{1, "127.0.0.1:40000"};
    for (int round = 0; round < 3; ++round) {
        for (const proxy::pending_request& p : requests()) {
            std::vector<proxy::fault_report> reports;
            for (const proxy::planned_fault& f : engine.decide(p)) {
                check(f.index < engine.size());
                check(f.seconds >= 0 && f.seconds <= 3600);
                proxy::fault_report report = proxy::report_of(f);
                proxy::request_record record;
                record.seq = p.seq;
                record.kind = p.kind;
                record.chunks = 1;
                report.missed = proxy::fault_of(f.rule_copy.what).missed(f.rule_copy, record);
                reports.push_back(std::move(report));
            }
            proxy::request_record record;
            record.seq = p.seq;
            record.kind = p.kind;
            record.command = std::string(p.command);
            const std::string text =
                proxy::journal_text(proxy::request_line(label, record, reports));
            check(text.find('\n') == std::string::npos);
            check(!nlohmann::json::parse(text, nullptr, false).is_discarded());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    proxy::parsed_rules parsed = proxy::parse_rules(text, "rules.json");
    check(parsed.ok() || parsed.rules.empty());
    check(shown_safely(parsed.error));
    std::vector<std::string> words;
    for (const proxy::rule& r : parsed.rules) {
        words.push_back(proxy::describe(r));
        check(shown_safely(words.back()));
    }
    const bool sound = parsed.ok();
    const std::size_t count = parsed.rules.size();
    const std::size_t kept = 2;
    proxy::reload_result reload =
        proxy::reload_rules("rules.json", std::move(parsed), kept, /*seed=*/7);
    check(!reload.message.empty() && !reload.line.is_null());
    check(reload.line["ok"] == sound);
    if (!sound) {
        check(reload.engine == nullptr);
        check(reload.line["kept"] == kept);
        check(!nlohmann::json::parse(proxy::journal_text(reload.line), nullptr, false)
                   .is_discarded());
        return 0;
    }
    check(reload.engine != nullptr && reload.engine->size() == count);
    exercise(*reload.engine);
    return 0;
}
