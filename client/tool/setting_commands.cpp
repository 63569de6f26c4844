// status, select, targets and valves: read a setting, or change the named keys of it and
// show what the server holds afterwards.
#include <algorithm>

#include "client/commands.h"
#include "client/settings_access.h"
#include "client/tool/handlers.h"
#include "client/tool/write_reply.h"
#include "tools/text_table.h"

namespace ifc_tool {

namespace {

namespace cmd = ifc_client::commands;
using ifc_client::change;
using ifc_client::range_rule;
using ifc_client::setting;
using ifc_client::token;

// A key/value table of a token line, one item per row.
std::string render_token_line(std::span<const token> line) {
    std::vector<text_row> rows{text_row{}};  // no heading
    for (const token& t : line)
        rows.push_back(text_row{t.key, std::to_string(t.value)});
    return render_table(rows).substr(1);
}

// What a settings command reads and writes, and how its keys are named in messages.
struct setting_words {
    setting what;
    std::span<const std::string_view> keys;
    std::string_view key_kind;  // "valve key"
    // The command that shows every key, for keys too many to list in a message; "" when the
    // message lists them itself.
    std::string listing;
};

std::string colour_heading(std::string_view what, int colour, std::string_view unit = "") {
    return std::string(what) + " of colour " + std::to_string(colour) + std::string(unit) + "\n";
}

range_rule rule_of(const request& r) {
    return r.force ? range_rule::ignore : range_rule::enforce;
}

// Unknown keys first (the likelier mistake and the clearer message), then the one range rule
// of every typed write, which --force lifts.
ifc_client::status check_changes(const request& r, const setting_words& words,
                                 std::span<const change> changes) {
    if (auto known = ifc_client::check_keys(changes, words.keys, words.key_kind); !known) {
        ifc_client::error e = known.failure();
        if (!words.listing.empty()) {
            e.detail += " ('" + r.command_text(words.listing) + "' shows every key)";
        }
        return e;
    }
    if (rule_of(r) == range_rule::enforce) {
        if (auto fits = ifc_client::check_ranges(words.what, changes); !fits) {
            ifc_client::error e = fits.failure();
            e.detail += " (--force sends it all the same)";
            return e;
        }
    }
    return ifc_client::done{};
}

// After a write of unknown outcome: one read of the setting on a new connection tells what the
// server holds now.
template <class Read, class Table>
reply read_again(session& s, nlohmann::ordered_json head, const ifc_client::error& failure,
                 Read read, std::span<const change> changes, Table table) {
    s.close();
    auto conn = s.connection();
    if (!conn) return unknown_outcome_reply(std::move(head), failure, conn.failure(), changes);
    auto now = read(*conn.value());
    reply out = unknown_outcome_reply(std::move(head), failure, now, changes);
    if (now) out.table = table(now->line);
    return out;
}

// Reads when there are no changes; else checks them (nothing is sent when they are not
// sound), writes them and reads back. table renders the values.
template <class Read, class Write, class Table>
reply read_or_write(session& s, const request& r, const setting_words& words,
                    nlohmann::ordered_json head, Read read, Write write, Table table) {
    auto changes = ifc_client::parse_changes(r.words);
    if (!changes) return failed(changes.failure());
    if (auto ok = check_changes(r, words, changes.value()); !ok) return failed(ok.failure());
    return connected(s, [&](ifc_client::connection& conn) {
        if (changes->empty()) {
            auto values = read(conn);
            if (!values) return failed(values.failure());
            return read_reply(std::move(head), words.what, values.value(), table(values->line));
        }
        auto report = write(conn, changes.value(), rule_of(r));
        if (report) {
            return write_reply(std::move(head), words.what, report.value(), changes.value(),
                               table(report->after.line));
        }
        if (!report.failure().outcome_unknown) return failed(report.failure());
        return read_again(s, std::move(head), report.failure(), read, changes.value(), table);
    });
}

// The selection as a grid of five items per row.
std::string selection_table(std::span<const token> line) {
    std::vector<text_row> rows{text_row{}};
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (i % 5 == 0) rows.emplace_back();
        rows.back().push_back(line[i].key);
        rows.back().push_back(std::to_string(line[i].value));
    }
    const auto selected =
        std::count_if(line.begin(), line.end(), [](const token& t) { return t.value != 0; });
    return "selection: " + std::to_string(selected) + " of " + std::to_string(line.size()) +
           " selected (1 = selected, 0 = not)\n" + render_table(rows).substr(1);
}

// The valve angles as one row per valve, its on and off angle side by side.
std::string valve_table(std::span<const token> line, int colour) {
    std::vector<text_row> rows{text_row{"valve", "on", "off"}};
    std::string constants;
    for (const token& t : line) {
        const std::string_view key = t.key;
        if (key == cmd::valve_constant_key) {
            constants = t.key + " " + std::to_string(t.value) + " (constant)\n";
            continue;
        }
        const bool on = key.ends_with("_on");
        const std::string valve(key.substr(0, key.rfind('_')));
        if (on || rows.back()[0] != valve) rows.push_back(text_row{valve, "-", "-"});
        rows.back()[on ? 1 : 2] = std::to_string(t.value);
    }
    return colour_heading("valve angles", colour, " (degrees; keys VALVE_on and VALVE_off)") +
           render_table(rows) + constants;
}

// "all" is a word of its own: it takes no value, and no value of it selects anything.
bool names_all(std::span<const change> changes) {
    return std::any_of(changes.begin(), changes.end(),
                       [](const change& c) { return c.key == cmd::select_all; });
}

reply clear_selection(session& s) {
    return connected(s, [&](ifc_client::connection& conn) {
        std::vector<change> zeros;
        for (std::string_view key : cmd::selection_keys)
            zeros.push_back({std::string(key), 0});
        auto report = ifc_client::clear_selection(conn);
        if (!report && report.failure().outcome_unknown) {
            return read_again(
                s, {{"command", "select"}}, report.failure(),
                [](ifc_client::connection& c) { return ifc_client::read_selection(c); }, zeros,
                selection_table);
        }
        if (!report) return failed(report.failure());
        return write_reply({{"command", "select"}}, setting::selection, report.value(), zeros,
                           selection_table(report->after.line));
    });
}

}  // namespace

reply run_status(session& s, const request& r) {
    return read_or_write(
        s, r, {setting::status, cmd::status_keys, "status key", ""}, {{"command", "status"}},
        [](ifc_client::connection& conn) { return ifc_client::read_status(conn); },
        [](ifc_client::connection& conn, std::span<const change> changes, range_rule rule) {
            return ifc_client::write_status(conn, changes, rule);
        },
        [](std::span<const token> line) { return "machine status\n" + render_token_line(line); });
}

reply run_select(session& s, const request& r) {
    if (r.words.size() == 1 && r.words[0] == cmd::select_all) return clear_selection(s);
    auto changes = ifc_client::parse_changes(r.words);
    if (changes && names_all(changes.value())) {
        return failed(exit_status::usage,
                      "usage: '" + r.command_text("select all") +
                          "' deselects every item and takes no value; no word selects them all");
    }
    return read_or_write(
        s, r, {setting::selection, cmd::selection_keys, "selection item", "select"},
        {{"command", "select"}},
        [](ifc_client::connection& conn) { return ifc_client::read_selection(conn); },
        [](ifc_client::connection& conn, std::span<const change> changes, range_rule rule) {
            return ifc_client::write_selection(conn, changes, rule);
        },
        selection_table);
}

reply run_targets(session& s, const request& r) {
    return read_or_write(
        s, r, {setting::targets, cmd::target_keys, "target key", ""},
        {{"command", "targets"}, {"colour", r.colour}},
        [&](ifc_client::connection& conn) { return ifc_client::read_targets(conn, r.colour); },
        [&](ifc_client::connection& conn, std::span<const change> changes, range_rule rule) {
            return ifc_client::write_targets(conn, r.colour, changes, rule);
        },
        [&](std::span<const token> line) {
            return colour_heading("arrival-timing targets", r.colour) + render_token_line(line);
        });
}

reply run_valves(session& s, const request& r) {
    return read_or_write(
        s, r, {setting::valves, cmd::valve_keys, "valve key", "valves " + std::to_string(r.colour)},
        {{"command", "valves"}, {"colour", r.colour}},
        [&](ifc_client::connection& conn) { return ifc_client::read_valves(conn, r.colour); },
        [&](ifc_client::connection& conn, std::span<const change> changes, range_rule rule) {
            return ifc_client::write_valves(conn, r.colour, changes, rule);
        },
        [&](std::span<const token> line) { return valve_table(line, r.colour); });
}

}  // namespace ifc_tool
