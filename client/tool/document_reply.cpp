#include "client/tool/document_reply.h"

namespace ifc_tool {

namespace {

using ifc_client::apply_report;
using ifc_client::apply_step;
using ifc_client::step_outcome;
using json = nlohmann::ordered_json;

// "status", "colour 2 valves", "histogram selection": the settings line of a step.
std::string line_name(const apply_step& step) {
    switch (step.what) {
        case ifc_client::section::status:
        case ifc_client::section::selection:
            return std::string(ifc_client::section_name(step.what));
        case ifc_client::section::targets:
        case ifc_client::section::valves:
            return "colour " + std::to_string(step.colour) + " " +
                   std::string(ifc_client::section_name(step.what));
        case ifc_client::section::histogram_selection:
            return "histogram selection";
    }
    return "";
}

std::string puts_text(int puts) {
    return std::to_string(puts) + (puts == 1 ? " PUT" : " PUTs");
}

std::string values_text(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " value" : " values");
}

// "  main_on  90 -> 100", one per change.
std::string change_lines(const apply_step& step) {
    std::string text;
    for (const auto& c : step.changes) {
        text += "  " + c.key + "  " + ifc_client::value_text(c.from) + " -> " +
                ifc_client::value_text(c.to) + "\n";
    }
    return text;
}

std::string error_text(const ifc_client::error& e) {
    return e.outcome_unknown ? e.detail
                             : std::string(ifc_client::errc_name(e.code)) +
                                   (e.detail.empty() ? "" : ": " + e.detail);
}

// What went wrong in a step, for its line and the error line.
std::string failure_text(const apply_step& step) {
    if (step.outcome == step_outcome::not_applied) {
        return "the read-back shows " + step.not_applied_text();
    }
    return step.failure ? error_text(*step.failure) : "";
}

// For the step of unknown outcome: what the line held when it was read again.
std::string read_again_text(const apply_step& step) {
    std::size_t landed = 0, known = 0;
    for (const auto& c : step.changes) {
        known += c.now.has_value();
        landed += c.now == c.to;
    }
    if (known < step.changes.size()) return "";
    if (landed == step.changes.size()) return "; read again: the write had landed";
    if (landed == 0) return "; read again: the write had not landed";
    return "; read again: the write had landed in part";
}

std::string step_heading(const apply_step& step, std::string_view done_word) {
    std::string text = line_name(step) + ": ";
    if (step.outcome == step_outcome::applied) {
        return text + std::string(done_word) + " (" + puts_text(step.puts) + ")\n";
    }
    const std::string again = step.outcome == step_outcome::unknown ? read_again_text(step) : "";
    return text + std::string(ifc_client::outcome_text(step.outcome)) + ": " + failure_text(step) +
           again + "\n";
}

json step_json(const apply_step& step, bool planned) {
    json changes = json::array();
    for (const auto& c : step.changes) {
        json change{{"key", c.key}, {"from", json_of(c.from)}, {"to", json_of(c.to)}};
        if (!planned) change["now"] = json_of(c.now);
        changes.push_back(std::move(change));
    }
    json out{{"section", ifc_client::section_name(step.what)},
             {"colour", ifc_client::per_colour(step.what) ? json(step.colour) : json(nullptr)},
             {"puts", step.puts},
             {"changes", std::move(changes)}};
    if (!planned) {
        out["outcome"] = ifc_client::outcome_text(step.outcome);
        if (step.outcome != step_outcome::applied) out["error"] = failure_text(step);
    }
    return out;
}

int status_of(const apply_step& step) {
    switch (step.outcome) {
        case step_outcome::applied:
            return exit_status::ok;
        case step_outcome::not_applied:
            return exit_status::not_applied;
        case step_outcome::unknown:
            return exit_status::outcome_unknown;
        case step_outcome::failed:
            return step.failure ? exit_status::of(*step.failure) : exit_status::protocol;
    }
    return exit_status::protocol;
}

// The restore after a failed step, and what the controller holds now.
void add_restore(reply& out, const apply_report& report) {
    out.table += "writing back what was changed:\n";
    json restore = json::array();
    for (const apply_step& step : report.restore) {
        if (step.changes.empty() && step.outcome == step_outcome::applied) {
            out.table += line_name(step) + ": nothing to restore (it holds what it held)\n";
        } else {
            out.table += step_heading(step, "restored") + change_lines(step);
        }
        restore.push_back(step_json(step, false));
    }
    out.json["restore"] = std::move(restore);
    json not_restored = json::array();
    for (const auto& d : report.not_restored)
        not_restored.push_back(json_of(d));
    out.json["not_restored"] = std::move(not_restored);
    if (!report.now) {
        out.json["now_error"] = error_text(*report.now_error);
        out.table += "what the server holds now is not known: it could not be read again (" +
                     error_text(*report.now_error) + ")\n";
        out.error += "; what the server holds now is not known";
        return;
    }
    if (report.not_restored.empty()) {
        out.table += "the server holds again what it held before (read again at the end)\n";
        out.error += "; every line changed was written back";
        return;
    }
    out.table += "could not restore " + values_text(report.not_restored.size()) +
                 "; the server holds now (before -> now):\n";
    for (const auto& d : report.not_restored)
        out.table += "  " + ifc_client::describe(d) + "\n";
    out.error += "; could not restore " + values_text(report.not_restored.size()) + " (see above)";
}

}  // namespace

json json_of(const std::optional<ifc_client::setting_value>& value) {
    if (!value) return nullptr;
    if (const auto* n = std::get_if<std::int32_t>(&*value)) return *n;
    return std::get<std::string>(*value);
}

json json_of(const ifc_client::difference& d) {
    json out{{"section", ifc_client::section_name(d.where)},
             {"colour", ifc_client::per_colour(d.where) ? json(d.colour) : json(nullptr)},
             {"key", d.key.empty() ? json(nullptr) : json(d.key)},
             {"old", json_of(d.old_value)},
             {"new", json_of(d.new_value)}};
    if (d.only_in) out["only_in"] = *d.only_in == ifc_client::document_side::first ? "A" : "B";
    return out;
}

reply diff_reply(const std::string& a, const std::string& b,
                 std::span<const ifc_client::difference> differences) {
    reply out;
    json list = json::array();
    for (const auto& d : differences) {
        out.table += ifc_client::describe(d, a, b) + "\n";
        list.push_back(json_of(d));
    }
    if (differences.empty()) out.table = "equal: " + a + " and " + b + " hold the same settings\n";
    out.answers.push_back(out.table);
    out.json = {{"command", "diff"},
                {"a", a},
                {"b", b},
                {"equal", differences.empty()},
                {"differences", std::move(list)}};
    out.status = differences.empty() ? exit_status::ok : exit_status::different;
    return out;
}

reply apply_reply(const std::string& document, const std::string& controller,
                  const apply_report& report) {
    reply out;
    json steps = json::array();
    for (const apply_step& step : report.steps)
        steps.push_back(step_json(step, report.dry_run));
    out.json = {{"command", "apply"},        {"document", document},
                {"controller", controller},  {"dry_run", report.dry_run},
                {"steps", std::move(steps)}, {"values", report.values()},
                {"puts", report.puts()}};
    const std::string totals =
        values_text(report.values()) + " in " + std::to_string(report.steps.size()) +
        std::string(report.steps.size() == 1 ? " settings line, " : " settings lines, ") +
        puts_text(report.puts());
    if (report.dry_run) {
        if (report.steps.empty()) {
            out.table = "dry run: " + controller + " holds every value of " + document +
                        " already; nothing to write\n";
        } else {
            out.table = "dry run, nothing sent: applying " + document + " to " + controller +
                        " writes " + totals + ":\n";
            for (const apply_step& step : report.steps)
                out.table +=
                    line_name(step) + " (" + puts_text(step.puts) + ")\n" + change_lines(step);
        }
        out.answers.push_back(out.table);
        return out;
    }
    for (const apply_step& step : report.steps)
        out.table += step_heading(step, "applied") + change_lines(step);
    const apply_step* failed = report.failed_step();
    if (failed == nullptr) {
        out.json["applied"] = true;
        out.table += report.steps.empty() ? controller + " holds every value of " + document +
                                                " already; nothing written\n"
                                          : "applied " + document + " to " + controller + ": " +
                                                totals + "; the read-back shows every value\n";
        out.answers.push_back(out.table);
        return out;
    }
    // Not applied and failed: false; unknown: null (the server may hold the values or not).
    out.json["applied"] = failed->outcome == step_outcome::unknown ? json(nullptr) : json(false);
    out.status = status_of(*failed);
    out.error = line_name(*failed) + ": " + std::string(ifc_client::outcome_text(failed->outcome)) +
                ": " + failure_text(*failed);
    add_restore(out, report);
    out.answers.push_back(out.table);
    return out;
}

}  // namespace ifc_tool
