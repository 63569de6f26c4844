#include "client/tool/write_reply.h"

#include <algorithm>

#include "protocol/protocol.h"

namespace ifc_tool {

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

// The items of line outside their range, except those just written (a forced write may put
// them there on purpose).
std::vector<std::string> suspects_of(ifc_client::setting what,
                                     std::span<const ifc_client::token> line,
                                     std::span<const change> written) {
    std::vector<std::string> suspects;
    for (const auto& t : ifc_client::out_of_range(what, line)) {
        const bool was_written = std::any_of(written.begin(), written.end(),
                                             [&](const change& c) { return c.key == t.key; });
        if (was_written) continue;
        suspects.push_back(t.key + "=" + std::to_string(t.value) + " (" +
                           ifc_client::describe(*ifc_client::range_of(what, t.key)) + ")");
    }
    return suspects;
}

void add_damage_warning(reply& out, ifc_client::setting what,
                        std::span<const ifc_client::token> line, std::span<const change> written) {
    const std::string warning =
        damage_warning(settings_file_of(what), suspects_of(what, line, written));
    if (!warning.empty()) out.warnings.push_back(warning);
}

}  // namespace

std::string_view settings_file_of(ifc_client::setting what) {
    return what == ifc_client::setting::valves ? protocol::valve_settings_file
                                               : protocol::interface_settings_file;
}

std::string damage_warning(std::string_view file, std::span<const std::string> suspects) {
    if (suspects.empty()) return {};
    std::string text = "the server answered values that no sound settings file holds:";
    for (const std::string& s : suspects)
        text += " " + s;
    return text + "; " + std::string(file) +
           " in its working directory may be damaged (ifc-settings check " + std::string(file) +
           " tells)";
}

std::string read_again_text(const ifc_client::error& failure, std::string_view shows) {
    return "outcome unknown: " + failure.detail + "; read again on a new connection, the server " +
           std::string(shows);
}

reply unknown_outcome_reply(nlohmann::ordered_json head, const ifc_client::error& failure,
                            const ifc_client::result<ifc_client::line_answer>& now,
                            std::span<const change> changes) {
    reply out;
    out.status = exit_status::outcome_unknown;
    out.json = std::move(head);
    out.json["values"] = nullptr;
    out.json["applied"] = nullptr;
    if (!now) {
        out.error = "outcome unknown: " + failure.detail +
                    "; reading the setting again on a new connection failed too (" +
                    std::string(ifc_client::errc_name(now.code())) + ": " + now.failure().detail +
                    ")";
        return out;
    }
    out.answers.push_back(now->text);
    out.json["values"] = json_of(now->line);
    const auto missed = ifc_client::unapplied(now->line, changes);
    if (missed.empty()) {
        out.error = read_again_text(failure, "holds the requested values");
    } else {
        std::string shows = "does not hold every requested value:";
        for (const auto& m : missed) {
            shows += " " + m.key + "=" + std::to_string(m.wanted) + " (reads " +
                     value_text(m.found) + ")";
        }
        out.error = read_again_text(failure, shows);
    }
    return out;
}

reply read_reply(nlohmann::ordered_json head, ifc_client::setting what,
                 const ifc_client::line_answer& values, std::string table) {
    reply out;
    out.answers.push_back(values.text);
    out.table = std::move(table);
    out.json = std::move(head);
    out.json["values"] = json_of(values.line);
    add_damage_warning(out, what, values.line, {});
    return out;
}

reply write_reply(nlohmann::ordered_json head, ifc_client::setting what,
                  const ifc_client::write_report& report, std::span<const change> changes,
                  std::string table) {
    reply out;
    out.answers.push_back(report.after.text);
    out.table = std::move(table);
    out.json = std::move(head);
    out.json["values"] = json_of(report.after.line);
    add_damage_warning(out, what, report.after.line, changes);
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

}  // namespace ifc_tool
