#include "gateway/writes.h"

#include <algorithm>
#include <limits>

#include "client/commands.h"
#include "client/settings_access.h"
#include "client/value_ranges.h"
#include "gateway/controller_json.h"
#include "gateway/peer_text.h"
#include "gateway/strict_json.h"
#include "gateway/write_reason.h"
#include "gateway/written_setting.h"

namespace gateway {

namespace {

namespace cmd = ifc_client::commands;
using ifc_client::errc;
using ifc_client::error;
using json = nlohmann::ordered_json;

error bad_request(std::string message) {
    return error{errc::bad_request, std::move(message)};
}

struct target_keys {
    std::span<const std::string_view> writable;
    std::string_view what;
    ifc_client::setting setting;
};

target_keys keys_of_target(write_target target) {
    switch (target) {
        case write_target::status:
            return {cmd::status_keys, "status key", ifc_client::setting::status};
        case write_target::selection:
            return {cmd::selection_keys, "selection item", ifc_client::setting::selection};
        case write_target::targets:
            return {cmd::target_keys, "target key", ifc_client::setting::targets};
        case write_target::valves:
        case write_target::histogram_selection:
            break;
    }
    return {cmd::valve_keys, "valve key", ifc_client::setting::valves};
}

// A whole number that fits the controller's 32-bit values; true, false, 1.5 and "1" are not.
std::optional<std::int32_t> whole_number(const json& value) {
    if (!value.is_number_integer()) return std::nullopt;
    const auto n = value.get<std::int64_t>();
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > 0x7fffffffu) return std::nullopt;
    if (n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(n);
}

ifc_client::result<histogram_choice> parse_choice(const std::string& side, const json& value) {
    if (!value.is_object()) {
        return bad_request("\"" + side + "\" must be an object with \"colour\" and/or \"item\"");
    }
    histogram_choice choice;
    for (const auto& [key, member] : value.items()) {
        if (key == "colour") {
            const auto colour = whole_number(member);
            if (!colour || !cmd::is_colour(*colour)) {
                return bad_request(side + " colour " + quoted_value(member) +
                                   " is not a colour number " + cmd::colour_range_text());
            }
            choice.colour = *colour;
        } else if (key == "item") {
            const auto& items = cmd::histogram_items;
            if (!member.is_string() ||
                std::find(items.begin(), items.end(), member.get<std::string>()) == items.end()) {
                return bad_request(side + " item " + quoted_value(member) +
                                   " is not a histogram item (known: " + ifc_client::join(items) +
                                   ")");
            }
            choice.item = member.get<std::string>();
        } else {
            return bad_request("unknown key \"" + key + "\" in \"" + side +
                               "\" (known: colour, item)");
        }
    }
    if (!choice.colour && !choice.item) return bad_request("\"" + side + "\" changes nothing");
    return choice;
}

ifc_client::result<write_request> parse_histogram_selection(const json& body) {
    write_request request;
    request.target = write_target::histogram_selection;
    for (const auto& [key, value] : body.items()) {
        if (key != "left" && key != "right") {
            return bad_request("unknown key \"" + key + "\" (known: left, right)");
        }
        auto choice = parse_choice(key, value);
        if (!choice) return choice.failure();
        (key == "left" ? request.left : request.right) = std::move(choice.value());
    }
    return request;
}

write_outcome failed(const error& failure) {
    if (failure.code == errc::bad_request) return refused(peer_text(failure.detail));
    const bool late = failure.code == errc::timeout;
    const std::string cause =
        std::string(ifc_client::errc_name(failure.code)) +
        (failure.detail.empty() ? "" : " (" + peer_text(failure.detail) + ")");
    write_outcome outcome;
    outcome.status = late ? 504 : 502;
    if (failure.outcome_unknown) {
        outcome.result = write_result::unknown;
        outcome.message = "the write went out, but its end did not come back: " + cause;
        outcome.unknown_cause = failure;
        outcome.reply = {{"applied", nullptr}, {"message", outcome.message}};
        return outcome;
    }
    outcome.result = late ? write_result::timeout : write_result::unreachable;
    outcome.message =
        std::string(late ? "controller did not answer in time: " : "controller unreachable: ") +
        cause;
    outcome.reply = {{"message", outcome.message}};
    return outcome;
}

write_outcome from_report(const ifc_client::write_report& report, ifc_client::token_line* part) {
    write_outcome outcome;
    outcome.result = report.not_applied.empty() ? write_result::applied : write_result::not_applied;
    outcome.status = report.not_applied.empty() ? 200 : 409;
    if (!report.not_applied.empty()) {
        outcome.message = "not applied: the read-back shows";
        for (const auto& m : report.not_applied) {
            outcome.message += " " + m.key + "=" +
                               (m.found ? std::to_string(*m.found) : std::string("(missing)")) +
                               " (asked for " + std::to_string(m.wanted) + ")";
        }
        outcome.reply["message"] = outcome.message;
    }
    outcome.reply["applied"] = report.not_applied.empty();
    outcome.reply["values"] = line_json(report.after.line);
    if (part != nullptr) *part = report.after.line;
    return outcome;
}

// The changes listed with their values before and after: {"key","from","to","now"}.
json change_list(const ifc_client::write_report& report,
                 std::span<const ifc_client::change> changes) {
    json list = json::array();
    for (const auto& c : ifc_client::latest_changes(changes)) {
        list.push_back({{"key", c.key},
                        {"from", json(ifc_client::value_of(report.before.line, c.key).value_or(0))},
                        {"to", c.value},
                        {"now", json(ifc_client::value_of(report.after.line, c.key).value_or(0))}});
    }
    return list;
}

write_outcome apply_line_write(ifc_client::connection& conn, const write_request& request,
                               machine_snapshot* snapshot) {
    ifc_client::result<ifc_client::write_report> report = error{errc::bad_request, ""};
    ifc_client::token_line* part = nullptr;
    switch (request.target) {
        case write_target::status:
            report = ifc_client::write_status(conn, request.changes);
            if (snapshot) part = &snapshot->status;
            break;
        case write_target::selection:
            report = ifc_client::write_selection(conn, request.changes);
            if (snapshot) part = &snapshot->selection;
            break;
        case write_target::targets:
            report = ifc_client::write_targets(conn, request.colour, request.changes);
            if (snapshot) part = &snapshot->colour(request.colour).targets;
            break;
        case write_target::valves:
            report = ifc_client::write_valves(conn, request.colour, request.changes);
            if (snapshot) part = &snapshot->colour(request.colour).valves;
            break;
        case write_target::histogram_selection:
            break;
    }
    if (!report) return failed(report.failure());
    write_outcome outcome = from_report(report.value(), part);
    outcome.reply["changes"] = change_list(report.value(), request.changes);
    outcome.written =
        written_setting{line_document(request.target, request.colour, report->before.line),
                        line_document(request.target, request.colour, report->after.line)};
    return outcome;
}

write_outcome apply_histogram_selection(ifc_client::connection& conn, const write_request& request,
                                        machine_snapshot* snapshot) {
    auto now = ifc_client::read_histogram_selection(conn);
    if (!now) return failed(now.failure());
    const ifc_client::settings_document before = choice_document(now.value());
    bool applied = true;
    bool written = false;  // a side has been written: a later failure leaves the outcome open
    const std::pair<ifc_client::histogram_side, const std::optional<histogram_choice>*> sides[] = {
        {ifc_client::histogram_side::left, &request.left},
        {ifc_client::histogram_side::right, &request.right}};
    for (const auto& [side, choice] : sides) {
        if (!*choice) continue;
        const auto& present = now->of(side);
        const int colour = (*choice)->colour.value_or(present.colour);
        const std::string item = (*choice)->item.value_or(present.item);
        auto report = ifc_client::write_histogram_selection(conn, side, colour, item);
        if (!report) {
            error failure = report.failure();
            if (written && failure.code != errc::bad_request) {
                failure.outcome_unknown = true;
                failure.detail = "one side was written, the other failed: " + failure.detail;
            }
            return failed(failure);
        }
        written = true;
        applied = applied && report->applied;
        now = std::move(report->after);
    }
    write_outcome outcome;
    outcome.result = applied ? write_result::applied : write_result::not_applied;
    outcome.status = applied ? 200 : 409;
    if (!applied) {
        outcome.message = "not applied: the read-back shows \"" + peer_text(now->answer) + "\"";
        outcome.reply["message"] = outcome.message;
    }
    outcome.reply["applied"] = applied;
    outcome.reply["values"] = histogram_selection_json(now.value());
    outcome.written = written_setting{before, choice_document(now.value())};
    if (snapshot) snapshot->histogram_selection = now.value();
    return outcome;
}

// What a read-back after a write in doubt shows: the setting's values, and whether they are
// those the request asked for.
struct read_back_values {
    json values;
    bool shows_request = false;
};

ifc_client::result<read_back_values> read_line_back(
    const ifc_client::result<ifc_client::line_answer>& answer, const write_request& request,
    ifc_client::token_line* part) {
    if (!answer) return answer.failure();
    if (part) *part = answer.value().line;
    return read_back_values{line_json(answer.value().line),
                            ifc_client::unapplied(answer.value().line, request.changes).empty()};
}

// Reads the setting the request writes, and brings that part of the snapshot up to date.
ifc_client::result<read_back_values> read_back(ifc_client::connection& conn,
                                               const write_request& request,
                                               machine_snapshot* snapshot) {
    switch (request.target) {
        case write_target::status:
            return read_line_back(ifc_client::read_status(conn), request,
                                  snapshot ? &snapshot->status : nullptr);
        case write_target::selection:
            return read_line_back(ifc_client::read_selection(conn), request,
                                  snapshot ? &snapshot->selection : nullptr);
        case write_target::targets:
            return read_line_back(ifc_client::read_targets(conn, request.colour), request,
                                  snapshot ? &snapshot->colour(request.colour).targets : nullptr);
        case write_target::valves:
            return read_line_back(ifc_client::read_valves(conn, request.colour), request,
                                  snapshot ? &snapshot->colour(request.colour).valves : nullptr);
        case write_target::histogram_selection:
            break;
    }
    auto now = ifc_client::read_histogram_selection(conn);
    if (!now) return now.failure();
    bool shows = true;
    for (const auto& [side, choice] :
         {std::pair{ifc_client::histogram_side::left, &request.left},
          std::pair{ifc_client::histogram_side::right, &request.right}}) {
        if (!*choice) continue;
        const auto& present = now->of(side);
        if ((*choice)->colour && *(*choice)->colour != present.colour) shows = false;
        if ((*choice)->item && *(*choice)->item != present.item) shows = false;
    }
    if (snapshot) snapshot->histogram_selection = now.value();
    return read_back_values{histogram_selection_json(now.value()), shows};
}

}  // namespace

std::string_view result_name(write_result result) {
    switch (result) {
        case write_result::applied:
            return "applied";
        case write_result::refused:
            return "refused";
        case write_result::not_applied:
            return "not_applied";
        case write_result::unreachable:
            return "unreachable";
        case write_result::timeout:
            return "timeout";
        case write_result::unknown:
            return "unknown";
        case write_result::busy:
            return "busy";
    }
    return "unknown";
}

write_outcome refused(std::string message) {
    write_outcome outcome;
    outcome.result = write_result::refused;
    outcome.status = 400;
    outcome.reply = {{"message", message}};
    outcome.message = std::move(message);
    return outcome;
}

write_outcome connection_failed(const ifc_client::error& failure) {
    return failed(failure);
}

write_outcome not_sent(write_result result, int status, std::string message) {
    write_outcome outcome;
    outcome.result = result;
    outcome.status = status;
    outcome.reply = {{"message", message}};
    outcome.message = std::move(message);
    return outcome;
}

write_outcome unknown_outcome(const error& failure, const write_request& request,
                              ifc_client::result<ifc_client::connection>& fresh,
                              machine_snapshot* snapshot) {
    write_outcome outcome = failed(failure);
    auto now = fresh ? read_back(fresh.value(), request, snapshot)
                     : ifc_client::result<read_back_values>(fresh.failure());
    if (!now) {
        outcome.message +=
            "; reading the setting back on a new connection failed too (" +
            std::string(ifc_client::errc_name(now.code())) +
            (now.failure().detail.empty() ? "" : ": " + peer_text(now.failure().detail)) +
            "): read it back before writing again";
        outcome.reply = {{"applied", nullptr}, {"message", outcome.message}, {"values", nullptr}};
        return outcome;
    }
    outcome.message += now->shows_request
                           ? "; a read-back on a new connection shows the values asked for"
                           : "; a read-back on a new connection does not show all the values "
                             "asked for: see values";
    outcome.reply = {{"applied", nullptr}, {"message", outcome.message}, {"values", now->values}};
    if (fresh->is_open()) fresh->disconnect();
    return outcome;
}

ifc_client::result<write_request> parse_write(write_target target, int colour,
                                              std::string_view body) {
    auto strict = parse_strict_json(body);
    if (!strict) return strict.failure();
    json& parsed = strict.value();
    if (!parsed.is_object()) {
        return bad_request("the body must be a JSON object of the keys to change");
    }
    auto reason = take_reason(parsed);
    if (!reason) return reason.failure();
    if (parsed.empty()) return bad_request("nothing to change: the object has no keys");
    if ((target == write_target::targets || target == write_target::valves) &&
        !cmd::is_colour(colour)) {
        return bad_request("colour " + std::to_string(colour) + " is not a colour number " +
                           cmd::colour_range_text());
    }
    if (target == write_target::histogram_selection) {
        auto request = parse_histogram_selection(parsed);
        if (request) request->reason = std::move(reason.value());
        return request;
    }

    const target_keys keys = keys_of_target(target);
    write_request request;
    request.target = target;
    request.colour = colour;
    for (const auto& [key, value] : parsed.items()) {
        const auto number = whole_number(value);
        if (!number) {
            return bad_request(key + "=" + quoted_value(value) + " is not a whole number");
        }
        request.changes.push_back(ifc_client::change{key, *number});
    }
    if (auto known = ifc_client::check_keys(request.changes, keys.writable, keys.what); !known) {
        return known.failure();
    }
    if (auto fits = ifc_client::check_ranges(keys.setting, request.changes); !fits) {
        return fits.failure();
    }
    request.reason = std::move(reason.value());
    return request;
}

write_outcome apply_write(ifc_client::connection& conn, const write_request& request,
                          machine_snapshot* snapshot) {
    if (request.target == write_target::histogram_selection) {
        return apply_histogram_selection(conn, request, snapshot);
    }
    return apply_line_write(conn, request, snapshot);
}

}  // namespace gateway
