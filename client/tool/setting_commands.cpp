// status, select, targets and valves: read a setting, or change the named keys of it and
// show what the server holds afterwards.
#include "client/commands.h"
#include "client/settings_access.h"
#include "client/tool/run_command.h"
#include "client/tool/text_table.h"
#include "client/tool/write_reply.h"

namespace {

namespace cmd = ifc_client::commands;
using ifc_client::change;
using ifc_client::token;

constexpr std::int32_t max_angle = 359;

std::string colour_heading(std::string_view what, int colour, std::string_view unit = "") {
    return std::string(what) + " of colour " + std::to_string(colour) + std::string(unit) + "\n";
}

// Reads when there are no changes; else checks them (nothing is sent when check fails),
// writes them and reads back. table renders the values.
template <class Check, class Read, class Write, class Table>
reply read_or_write(session& s, const request& r, nlohmann::ordered_json head, Check check,
                    Read read, Write write, Table table) {
    auto changes = ifc_client::parse_changes(r.words);
    if (!changes) return failed(changes.failure());
    if (auto ok = check(changes.value()); !ok) return failed(ok.failure());
    return connected(s, [&](ifc_client::connection& conn) {
        if (changes->empty()) {
            auto values = read(conn);
            if (!values) return failed(values.failure());
            return read_reply(std::move(head), values.value(), table(values->line));
        }
        auto report = write(conn, changes.value());
        if (!report) return failed(report.failure());
        return write_reply(std::move(head), report.value(), changes.value(),
                           table(report->after.line));
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
    return "selection (1 selected, 0 not)\n" + render_table(rows).substr(1);
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
    return colour_heading("valve angles", colour, " (degrees)") + render_table(rows) + constants;
}

// Valve angles outside 0..359 are refused: the server would store them as they are.
ifc_client::status check_angles(std::span<const change> changes) {
    for (const change& c : changes) {
        if (c.value < 0 || c.value > max_angle) {
            return ifc_client::error{
                ifc_client::errc::bad_request,
                "angle " + c.key + "=" + std::to_string(c.value) + " is outside 0..359"};
        }
    }
    return ifc_client::done{};
}

ifc_client::status check_colour_value(std::span<const change> changes) {
    for (const change& c : changes) {
        if (c.key == "color" && !cmd::is_colour(c.value)) {
            return ifc_client::error{
                ifc_client::errc::bad_request,
                "color=" + std::to_string(c.value) + " is not a colour number 1..6"};
        }
    }
    return ifc_client::done{};
}

ifc_client::status check_flags(std::span<const change> changes) {
    for (const change& c : changes) {
        if (c.value != 0 && c.value != 1) {
            return ifc_client::error{
                ifc_client::errc::bad_request,
                c.key + "=" + std::to_string(c.value) + ": a selection is 1 (selected) or 0 (not)"};
        }
    }
    return ifc_client::done{};
}

}  // namespace

reply run_status(session& s, const request& r) {
    return read_or_write(
        s, r, {{"command", "status"}},
        [](std::span<const change> changes) {
            if (auto known = ifc_client::check_keys(changes, cmd::status_keys, "status key");
                !known) {
                return known;
            }
            return check_colour_value(changes);
        },
        [](ifc_client::connection& conn) { return ifc_client::read_status(conn); },
        [](ifc_client::connection& conn, std::span<const change> changes) {
            return ifc_client::write_status(conn, changes);
        },
        [](std::span<const token> line) { return "machine status\n" + render_token_line(line); });
}

reply run_select(session& s, const request& r) {
    if (r.words.size() == 1 && r.words[0] == cmd::select_all) {
        return connected(s, [](ifc_client::connection& conn) {
            auto report = ifc_client::clear_selection(conn);
            if (!report) return failed(report.failure());
            std::vector<change> zeros;
            for (std::string_view key : cmd::selection_keys)
                zeros.push_back({std::string(key), 0});
            return write_reply({{"command", "select"}}, report.value(), zeros,
                               selection_table(report->after.line));
        });
    }
    return read_or_write(
        s, r, {{"command", "select"}},
        [](std::span<const change> changes) {
            if (auto known = ifc_client::check_keys(changes, cmd::selection_keys, "selection item");
                !known) {
                return known;
            }
            return check_flags(changes);
        },
        [](ifc_client::connection& conn) { return ifc_client::read_selection(conn); },
        [](ifc_client::connection& conn, std::span<const change> changes) {
            return ifc_client::write_selection(conn, changes);
        },
        selection_table);
}

reply run_targets(session& s, const request& r) {
    return read_or_write(
        s, r, {{"command", "targets"}, {"colour", r.colour}},
        [](std::span<const change> changes) {
            return ifc_client::check_keys(changes, cmd::target_keys, "target key");
        },
        [&](ifc_client::connection& conn) { return ifc_client::read_targets(conn, r.colour); },
        [&](ifc_client::connection& conn, std::span<const change> changes) {
            return ifc_client::write_targets(conn, r.colour, changes);
        },
        [&](std::span<const token> line) {
            return colour_heading("arrival-timing targets", r.colour) + render_token_line(line);
        });
}

reply run_valves(session& s, const request& r) {
    return read_or_write(
        s, r, {{"command", "valves"}, {"colour", r.colour}},
        [](std::span<const change> changes) {
            // Unknown keys first: they are the likelier mistake and the clearer message.
            if (auto known = ifc_client::check_keys(changes, cmd::valve_keys, "valve key");
                !known) {
                return known;
            }
            return check_angles(changes);
        },
        [&](ifc_client::connection& conn) { return ifc_client::read_valves(conn, r.colour); },
        [&](ifc_client::connection& conn, std::span<const change> changes) {
            return ifc_client::write_valves(conn, r.colour, changes);
        },
        [&](std::span<const token> line) { return valve_table(line, r.colour); });
}
