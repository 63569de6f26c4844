#include "gateway/snapshot.h"

#include "client/settings_access.h"

namespace gateway {

using ifc_client::histogram_side;

namespace {

ifc_client::error too_long() {
    return ifc_client::error{ifc_client::errc::timeout, "the poll took longer than allowed"};
}

}  // namespace

ifc_client::result<machine_snapshot> read_snapshot(ifc_client::connection& conn,
                                                   std::chrono::steady_clock::time_point give_up) {
    const auto late = [&] { return std::chrono::steady_clock::now() > give_up; };
    machine_snapshot s;
    auto status = ifc_client::read_status(conn);
    if (!status) return status.failure();
    s.status = std::move(status->line);
    auto selection = ifc_client::read_selection(conn);
    if (!selection) return selection.failure();
    s.selection = std::move(selection->line);
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        if (late()) return too_long();
        colour_values& c = s.colour(colour);
        auto targets = ifc_client::read_targets(conn, colour);
        if (!targets) return targets.failure();
        c.targets = std::move(targets->line);
        auto timing = ifc_client::read_timing(conn, colour);
        if (!timing) return timing.failure();
        c.timing = std::move(timing->line);
        auto averages = ifc_client::read_averages(conn, colour);
        if (!averages) return averages.failure();
        c.averages = std::move(averages->line);
        auto valves = ifc_client::read_valves(conn, colour);
        if (!valves) return valves.failure();
        c.valves = std::move(valves->line);
    }
    if (late()) return too_long();
    auto left = ifc_client::read_histogram(conn, histogram_side::left);
    if (!left) return left.failure();
    s.left = std::move(left.value());
    auto right = ifc_client::read_histogram(conn, histogram_side::right);
    if (!right) return right.failure();
    s.right = std::move(right.value());
    auto chosen = ifc_client::read_histogram_selection(conn);
    if (!chosen) return chosen.failure();
    s.histogram_selection = std::move(chosen.value());
    return s;
}

nlohmann::ordered_json line_json(const ifc_client::token_line& line) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& item : line)
        object[item.key] = item.value;
    return object;
}

nlohmann::ordered_json histogram_json(const ifc_client::histogram& histogram,
                                      const ifc_client::side_choice& shows) {
    nlohmann::ordered_json summary = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < ifc_client::summary_names.size(); ++i) {
        const auto& value = histogram.summary[i];
        summary[std::string(ifc_client::summary_names[i])] =
            value.whole ? nlohmann::ordered_json(static_cast<std::int64_t>(value.value))
                        : nlohmann::ordered_json(value.value);
    }
    return {{"colour", shows.colour},
            {"item", shows.item},
            {"summary", std::move(summary)},
            {"bins", histogram.bins}};
}

nlohmann::ordered_json histogram_selection_json(const ifc_client::histogram_selection& selection) {
    return {{"left", {{"colour", selection.left.colour}, {"item", selection.left.item}}},
            {"right", {{"colour", selection.right.colour}, {"item", selection.right.item}}}};
}

nlohmann::ordered_json colour_json(int number, const colour_values& values) {
    return {{"colour", number},
            {"targets", line_json(values.targets)},
            {"timing", line_json(values.timing)},
            {"averages", line_json(values.averages)},
            {"valves", line_json(values.valves)}};
}

nlohmann::ordered_json snapshot_json(const machine_snapshot& s) {
    nlohmann::ordered_json colours = nlohmann::ordered_json::array();
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        colours.push_back(colour_json(colour, s.colour(colour)));
    }
    return {{"status", line_json(s.status)},
            {"selection", line_json(s.selection)},
            {"colours", std::move(colours)},
            {"histograms",
             {{"left", histogram_json(s.left, s.histogram_selection.left)},
              {"right", histogram_json(s.right, s.histogram_selection.right)}}},
            {"histogram_selection", histogram_selection_json(s.histogram_selection)}};
}

}  // namespace gateway
