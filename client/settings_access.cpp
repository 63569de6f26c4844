#include "client/settings_access.h"

#include <algorithm>

#include "client/commands.h"
#include "tools/escape.h"

namespace ifc_client {

namespace {

namespace cmd = commands;

using commands::not_a_colour;

status checked_ranges(setting what, std::span<const change> changes, range_rule rule) {
    if (rule == range_rule::ignore) return done{};
    return check_ranges(what, changes);
}

// Where the item of index n of a token line starts in its text.
std::size_t item_offset(std::string_view text, std::size_t n) {
    std::size_t pos = text.find_first_not_of(' ');
    for (; n > 0 && pos != std::string_view::npos; --n)
        pos = text.find_first_not_of(' ', text.find(' ', pos));
    return pos == std::string_view::npos ? text.size() : pos;
}

// A failure after a write went out: whether the server holds the new values is not known.
error after_write(error failure, std::string_view step) {
    failure.outcome_unknown = true;
    failure.detail = std::string(step) + ": " + std::string(errc_name(failure.code)) +
                     (failure.detail.empty() ? "" : ": " + failure.detail);
    return failure;
}

result<write_report> reread(connection& conn, std::string_view get_name,
                            std::span<const std::string_view> keys, line_answer before,
                            std::span<const change> changes) {
    auto after = read_token_line(conn, get_name, keys);
    if (!after) return after_write(after.failure(), "the write went out; reading it back failed");
    write_report report{std::move(before), std::move(after.value()), {}};
    report.not_applied = unapplied(report.after.line, changes);
    return report;
}

}  // namespace

result<line_answer> parse_line_answer(std::string_view get_name, std::string answer,
                                      std::span<const std::string_view> keys) {
    auto line = parse_token_line(answer);
    if (!line) {
        return error{errc::protocol, std::string(get_name) + ": " + line.failure().detail};
    }
    const auto [got, want] =
        std::mismatch(line->begin(), line->end(), keys.begin(), keys.end(),
                      [](const token& t, std::string_view key) { return t.key == key; });
    if (got != line->end() || want != keys.end()) {
        // Shown where the keys part: at the first unexpected key, or at the end when the answer
        // stops early.
        std::string text = std::string(get_name) + ": unexpected answer, ";
        text += want == keys.end() ? "no more keys expected"
                                   : "expected key '" + std::string(*want) + "'";
        const std::size_t at =
            got == line->end() ? answer.size()
                               : item_offset(answer, static_cast<std::size_t>(got - line->begin()));
        return error{errc::protocol, text + " at " + ifc_tool::escaped_around(answer, at)};
    }
    return line_answer{std::move(answer), std::move(line.value())};
}

result<line_answer> read_token_line(connection& conn, std::string_view get_name,
                                    std::span<const std::string_view> keys) {
    auto answer = conn.get(get_name);
    if (!answer) return answer.failure();
    return parse_line_answer(get_name, std::move(answer.value()), keys);
}

result<write_report> read_modify_write(connection& conn, std::string_view get_name,
                                       std::string_view put_name,
                                       std::span<const std::string_view> keys,
                                       std::span<const std::string_view> writable,
                                       std::span<const change> changes, std::string_view what) {
    // Unknown keys are refused before anything goes on the wire, the read included.
    if (auto known = check_keys(changes, writable, what); !known) return known.failure();
    auto before = read_token_line(conn, get_name, keys);
    if (!before) return before.failure();
    auto changed = apply_changes(before->line, changes, writable, what);
    if (!changed) return changed.failure();
    if (auto sent = conn.put(put_name, format_token_line(changed.value())); !sent) {
        return sent.failure();
    }
    return reread(conn, get_name, keys, std::move(before.value()), changes);
}

result<line_answer> read_status(connection& conn) {
    return read_token_line(conn, cmd::get_status, cmd::status_keys);
}

result<write_report> write_status(connection& conn, std::span<const change> changes,
                                  range_rule rule) {
    if (auto fits = checked_ranges(setting::status, changes, rule); !fits) return fits.failure();
    return read_modify_write(conn, cmd::get_status, cmd::set_status, cmd::status_keys,
                             cmd::status_keys, changes, "status key");
}

result<line_answer> read_targets(connection& conn, int colour) {
    if (!cmd::is_colour(colour)) return not_a_colour(colour);
    return read_token_line(conn, cmd::get_targets(colour), cmd::target_keys);
}

result<write_report> write_targets(connection& conn, int colour, std::span<const change> changes,
                                   range_rule rule) {
    if (!cmd::is_colour(colour)) return not_a_colour(colour);
    if (auto fits = checked_ranges(setting::targets, changes, rule); !fits) return fits.failure();
    return read_modify_write(conn, cmd::get_targets(colour), cmd::set_targets(colour),
                             cmd::target_keys, cmd::target_keys, changes, "target key");
}

result<line_answer> read_timing(connection& conn, int colour) {
    if (!cmd::is_colour(colour)) return not_a_colour(colour);
    return read_token_line(conn, cmd::get_timing(colour), cmd::target_keys);
}

result<line_answer> read_averages(connection& conn, int colour) {
    if (!cmd::is_colour(colour)) return not_a_colour(colour);
    return read_token_line(conn, cmd::get_averages(colour), cmd::average_keys);
}

result<line_answer> read_valves(connection& conn, int colour) {
    if (!cmd::is_colour(colour)) return not_a_colour(colour);
    return read_token_line(conn, cmd::get_valves(colour), cmd::valve_answer_keys());
}

result<write_report> write_valves(connection& conn, int colour, std::span<const change> changes,
                                  range_rule rule) {
    if (!cmd::is_colour(colour)) return not_a_colour(colour);
    if (auto fits = checked_ranges(setting::valves, changes, rule); !fits) return fits.failure();
    return read_modify_write(conn, cmd::get_valves(colour), cmd::set_valves(colour),
                             cmd::valve_answer_keys(), cmd::valve_keys, changes, "valve key");
}

result<line_answer> read_selection(connection& conn) {
    return read_token_line(conn, cmd::get_selection, cmd::selection_keys);
}

result<write_report> write_selection(connection& conn, std::span<const change> changes,
                                     range_rule rule) {
    if (auto fits = checked_ranges(setting::selection, changes, rule); !fits) {
        return fits.failure();
    }
    if (auto known = check_keys(changes, cmd::selection_keys, "selection item"); !known) {
        return known.failure();
    }
    auto before = read_selection(conn);
    if (!before) return before.failure();
    std::size_t written = 0;
    for (const change& c : changes) {
        const token item[] = {token{c.key, c.value}};
        if (auto sent = conn.put(cmd::set_selection, format_token_line(item)); !sent) {
            // Items written before this one have changed the selection already.
            if (written == 0 || sent.failure().outcome_unknown) return sent.failure();
            return after_write(sent.failure(), "after " + std::to_string(written) + " of " +
                                                   std::to_string(changes.size()) +
                                                   " selection writes, the next failed");
        }
        ++written;
    }
    return reread(conn, cmd::get_selection, cmd::selection_keys, std::move(before.value()),
                  changes);
}

result<write_report> clear_selection(connection& conn) {
    auto before = read_selection(conn);
    if (!before) return before.failure();
    const token all[] = {token{std::string(cmd::select_all), 0}};
    if (auto sent = conn.put(cmd::set_selection, format_token_line(all)); !sent) {
        return sent.failure();
    }
    std::vector<change> zeros;
    for (std::string_view key : cmd::selection_keys)
        zeros.push_back(change{std::string(key), 0});
    return reread(conn, cmd::get_selection, cmd::selection_keys, std::move(before.value()), zeros);
}

result<histogram> read_histogram(connection& conn, histogram_side side) {
    auto answer =
        conn.get(side == histogram_side::left ? cmd::get_histogram_left : cmd::get_histogram_right);
    if (!answer) return answer.failure();
    return parse_histogram(answer.value());
}

result<histogram_selection> read_histogram_selection(connection& conn) {
    auto answer = conn.get(cmd::get_histogram_selection);
    if (!answer) return answer.failure();
    return parse_histogram_selection(answer.value());
}

result<selection_report> write_histogram_selection(connection& conn, histogram_side side,
                                                   int colour, std::string_view item) {
    auto argument = histogram_selection_argument(side, colour, item);
    if (!argument) return argument.failure();
    auto before = read_histogram_selection(conn);
    if (!before) return before.failure();
    if (auto sent = conn.put(cmd::set_histogram_selection, argument.value()); !sent) {
        return sent.failure();
    }
    auto after = read_histogram_selection(conn);
    if (!after) {
        return after_write(after.failure(), "the write went out; reading it back failed");
    }
    const side_choice& now = after->of(side);
    const bool applied = now.colour == colour && now.item == item;
    return selection_report{std::move(before.value()), std::move(after.value()), applied};
}

}  // namespace ifc_client
