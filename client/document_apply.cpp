#include "client/document_apply.h"

#include <algorithm>

#include "client/document_read.h"
#include "client/settings_access.h"

namespace ifc_client {

namespace {

// The scope of one settings line (of a colour).
document_scope line_scope(section s, int colour) {
    document_scope scope{{s}, {}};
    if (per_colour(s)) scope.colours.push_back(colour);
    return scope;
}

std::vector<change> token_changes(const apply_step& step) {
    std::vector<change> changes;
    for (const value_change& c : step.changes)
        changes.push_back(change{c.key, std::get<std::int32_t>(c.to)});
    return changes;
}

void take_read_back(apply_step& step, std::span<const token> after) {
    for (value_change& c : step.changes) {
        if (const auto now = value_of(after, c.key)) c.now = *now;
    }
}

void settle(apply_step& step) {
    const bool all_shown = std::all_of(step.changes.begin(), step.changes.end(),
                                       [](const value_change& c) { return c.now == c.to; });
    step.outcome = all_shown ? step_outcome::applied : step_outcome::not_applied;
}

void fail(apply_step& step, const error& failure) {
    step.outcome = failure.outcome_unknown ? step_outcome::unknown : step_outcome::failed;
    step.failure = failure;
}

// The typed write of a token line: one read-modify-write with read-back.
void write_line(connection& conn, apply_step& step) {
    const auto changes = token_changes(step);
    result<write_report> report = error{errc::bad_request, "no such line"};
    switch (step.what) {
        case section::status:
            report = write_status(conn, changes, range_rule::ignore);
            break;
        case section::selection:
            report = write_selection(conn, changes, range_rule::ignore);
            break;
        case section::targets:
            report = write_targets(conn, step.colour, changes, range_rule::ignore);
            break;
        case section::valves:
            report = write_valves(conn, step.colour, changes, range_rule::ignore);
            break;
        case section::histogram_selection:
            break;
    }
    if (!report) return fail(step, report.failure());
    take_read_back(step, report->after.line);
    settle(step);
}

// The histogram selection: one write per side whose colour or item differs, each read back.
void write_histogram(connection& conn, apply_step& step, const histogram_choice& target) {
    for (const histogram_side side : {histogram_side::left, histogram_side::right}) {
        const std::string prefix = std::string(side_name(side)) + "_";
        const bool changes_side =
            std::any_of(step.changes.begin(), step.changes.end(),
                        [&](const value_change& c) { return c.key.starts_with(prefix); });
        if (!changes_side) continue;
        const side_choice& wanted = side == histogram_side::left ? target.left : target.right;
        auto report = write_histogram_selection(conn, side, wanted.colour, wanted.item);
        if (!report) return fail(step, report.failure());
        const side_choice& now = report->after.of(side);
        for (value_change& c : step.changes) {
            if (c.key == prefix + "colour") c.now = now.colour;
            if (c.key == prefix + "item") c.now = now.item;
        }
    }
    settle(step);
}

void run_step(connection& conn, apply_step& step, const settings_document& target) {
    if (step.what == section::histogram_selection) {
        write_histogram(conn, step, *target.histogram_selection);
    } else {
        write_line(conn, step);
    }
}

std::optional<apply_step> plan_line(const settings_document& before,
                                    const settings_document& wanted, section s, int colour) {
    const auto from = values_of(before, s, colour);
    const auto to = values_of(wanted, s, colour);
    if (!from || !to) return std::nullopt;
    apply_step step{s, colour, {}, 0, step_outcome::applied, std::nullopt};
    std::vector<std::string> sides;
    for (std::size_t i = 0; i < from->size() && i < to->size(); ++i) {
        const auto& [key, was] = (*from)[i];
        const setting_value& is = (*to)[i].second;
        if (was == is) continue;
        step.changes.push_back(value_change{key, was, is, std::nullopt});
        const std::string side = key.substr(0, key.find('_'));
        if (std::find(sides.begin(), sides.end(), side) == sides.end()) sides.push_back(side);
    }
    if (step.changes.empty()) return std::nullopt;
    // The selection's write command takes one item; the histogram selection's one side.
    step.puts = s == section::selection             ? static_cast<int>(step.changes.size())
                : s == section::histogram_selection ? static_cast<int>(sides.size())
                                                    : 1;
    return step;
}

// Writes back the values read first to the lines the failed apply has touched, newest first,
// and reads the controller again.
class restorer {
  public:
    restorer(const connector& connect, std::optional<connection> conn, apply_report& report,
             const document_scope& scope)
        : connect_(connect), conn_(std::move(conn)), report_(report), scope_(scope) {}

    void run() {
        for (auto step = report_.steps.rbegin(); step != report_.steps.rend(); ++step) {
            report_.restore.push_back(restore_line(*step, step == report_.steps.rbegin()));
        }
        read_now();
        if (conn_ && conn_->is_open()) conn_->disconnect();
    }

  private:
    // An open connection, a new one when the last is lost; nullptr once the controller could
    // not be reached (it is not tried again for every line).
    connection* live() {
        if (conn_ && conn_->is_open()) return &*conn_;
        if (unreachable_) return nullptr;
        auto opened = connect_();
        if (!opened) {
            unreachable_ = opened.failure();
            return nullptr;
        }
        conn_.emplace(std::move(opened.value()));
        return &*conn_;
    }

    // failed: the step that failed. Its line as read here tells what it left behind, which for
    // an outcome unknown is the first word on it.
    apply_step restore_line(apply_step& step, bool failed) {
        const section s = step.what;
        const int colour = step.colour;
        apply_step back{s, colour, {}, 0, step_outcome::applied, std::nullopt};
        connection* conn = live();
        if (conn == nullptr) {
            fail(back, *unreachable_);
            return back;
        }
        auto current = read_document(*conn, line_scope(s, colour));
        if (!current) {
            fail(back, current.failure());
            return back;
        }
        if (failed) {
            const auto values = values_of(current.value(), s, colour);
            for (value_change& c : step.changes) {
                for (const auto& [key, value] :
                     values.value_or(std::vector<std::pair<std::string, setting_value>>{})) {
                    if (key == c.key) c.now = value;
                }
            }
        }
        auto planned = plan_line(current.value(), report_.before, s, colour);
        if (!planned) return back;  // nothing to restore: the line holds what it held
        run_step(*conn, *planned, report_.before);
        return std::move(*planned);
    }

    void read_now() {
        connection* conn = live();
        if (conn == nullptr) {
            report_.now_error = unreachable_;
            return;
        }
        auto now = read_document(*conn, scope_);
        if (!now) {
            report_.now_error = now.failure();
            return;
        }
        report_.now = std::move(now.value());
        for (const apply_step& step : report_.steps) {
            for (difference& d :
                 diff_documents(report_.before, *report_.now, line_scope(step.what, step.colour))) {
                report_.not_restored.push_back(std::move(d));
            }
        }
    }

    const connector& connect_;
    std::optional<connection> conn_;
    apply_report& report_;
    const document_scope& scope_;
    std::optional<error> unreachable_;
};

}  // namespace

std::string_view outcome_text(step_outcome outcome) {
    switch (outcome) {
        case step_outcome::applied:
            return "applied";
        case step_outcome::not_applied:
            return "not applied";
        case step_outcome::unknown:
            return "outcome unknown";
        case step_outcome::failed:
            return "failed";
    }
    return "";
}

std::string apply_step::not_applied_text() const {
    std::string text;
    for (const value_change& c : changes) {
        if (c.now == c.to) continue;
        if (!text.empty()) text += ", ";
        text += c.key + "=" + (c.now ? value_text(*c.now) : std::string("(not read)")) +
                " (asked for " + value_text(c.to) + ")";
    }
    return text;
}

const apply_step* apply_report::failed_step() const {
    for (const apply_step& step : steps) {
        if (step.outcome != step_outcome::applied) return &step;
    }
    return nullptr;
}

int apply_report::puts() const {
    int count = 0;
    for (const apply_step& step : steps)
        count += step.puts;
    return count;
}

std::size_t apply_report::values() const {
    std::size_t count = 0;
    for (const apply_step& step : steps)
        count += step.changes.size();
    return count;
}

std::vector<apply_step> plan_apply(const settings_document& before, const settings_document& wanted,
                                   const document_scope& scope) {
    std::vector<apply_step> plan;
    const auto add = [&](section s, int colour) {
        if (!scope.covers(s)) return;
        if (auto step = plan_line(before, wanted, s, colour)) plan.push_back(std::move(*step));
    };
    add(section::status, 0);
    add(section::selection, 0);
    for (const colour_settings& block : wanted.colours) {
        if (!scope.covers_colour(block.colour)) continue;
        add(section::targets, block.colour);
        add(section::valves, block.colour);
    }
    add(section::histogram_selection, 0);
    return plan;
}

result<apply_report> apply_document(const connector& connect, const settings_document& wanted,
                                    const apply_options& options) {
    if (const auto problems = check_document(wanted); !problems.empty()) {
        return error{errc::bad_request, problems.front()};
    }
    auto conn = connect();
    if (!conn) return conn.failure();
    auto before = read_document(conn.value(), options.scope);
    if (!before) return before.failure();
    apply_report report;
    report.before = std::move(before.value());
    report.dry_run = options.dry_run;
    report.steps = plan_apply(report.before, wanted, options.scope);
    if (options.dry_run) {
        conn->disconnect();
        return report;
    }
    for (std::size_t i = 0; i < report.steps.size(); ++i) {
        apply_step& step = report.steps[i];
        run_step(conn.value(), step, wanted);
        if (step.outcome != step_outcome::applied) {
            // The steps after it never ran.
            report.steps.resize(i + 1);
            std::optional<connection> still;
            if (conn->is_open()) still.emplace(std::move(conn.value()));
            restorer(connect, std::move(still), report, options.scope).run();
            return report;
        }
    }
    conn->disconnect();
    return report;
}

}  // namespace ifc_client
