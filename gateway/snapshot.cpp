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

}  // namespace gateway
