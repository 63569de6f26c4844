#include "client/tool/write_reply.h"

namespace {

using ifc_client::change;
using ifc_client::value_of;

std::string value_text(std::optional<std::int32_t> v) {
    return v ? std::to_string(*v) : std::string("-");
}

std::string not_applied_message(std::span<const ifc_client::mismatch> missed) {
    std::string text = "not applied: the read-back does not show";
    for (const auto& m : missed) {
        text +=
            " " + m.key + "=" + std::to_string(m.wanted) + " (reads " + value_text(m.found) + ")";
    }
    return text;
}

}  // namespace

reply read_reply(nlohmann::ordered_json head, const ifc_client::line_answer& values,
                 std::string table) {
    reply out;
    out.answers.push_back(values.text);
    out.table = std::move(table);
    out.json = std::move(head);
    out.json["values"] = json_of(values.line);
    return out;
}

reply write_reply(nlohmann::ordered_json head, const ifc_client::write_report& report,
                  std::span<const change> changes, std::string table) {
    reply out = read_reply(std::move(head), report.after, std::move(table));
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::string lines;
    for (const change& c : ifc_client::latest_changes(changes)) {
        const auto from = value_of(report.before.line, c.key);
        const auto now = value_of(report.after.line, c.key);
        list.push_back({{"key", c.key},
                        {"from", from ? nlohmann::ordered_json(*from) : nullptr},
                        {"to", c.value},
                        {"now", now ? nlohmann::ordered_json(*now) : nullptr}});
        if (from != now || now != c.value) {
            lines += "changed " + c.key + ": " + value_text(from) + " -> " + value_text(now) + "\n";
        }
    }
    out.table += lines.empty() ? "no change: every value was already as requested\n" : lines;
    out.json["changes"] = list;
    out.json["applied"] = report.not_applied.empty();
    if (!report.not_applied.empty()) {
        out.status = exit_status::not_applied;
        out.error = not_applied_message(report.not_applied);
    }
    return out;
}
