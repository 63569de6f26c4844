#include "gateway/snapshot.h"

#include <span>
#include <vector>

#include "client/commands.h"
#include "client/settings_access.h"

namespace gateway {

namespace cmd = ifc_client::commands;
using ifc_client::histogram_side;

ifc_client::result<machine_snapshot> read_snapshot(const answer_source& answers) {
    machine_snapshot s;
    const auto valve_keys = cmd::valve_answer_keys();
    struct line_read {
        ifc_client::token_line* into;
        std::string name;
        std::span<const std::string_view> keys;
    };
    std::vector<line_read> reads{
        {&s.status, std::string(cmd::get_status), cmd::status_keys},
        {&s.selection, std::string(cmd::get_selection), cmd::selection_keys}};
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        colour_values& c = s.colour(colour);
        reads.push_back({&c.targets, cmd::get_targets(colour), cmd::target_keys});
        reads.push_back({&c.timing, cmd::get_timing(colour), cmd::target_keys});
        reads.push_back({&c.averages, cmd::get_averages(colour), cmd::average_keys});
        reads.push_back({&c.valves, cmd::get_valves(colour), valve_keys});
    }
    for (const line_read& read : reads) {
        auto answer = answers(read.name);
        if (!answer) return answer.failure();
        auto line = ifc_client::parse_line_answer(read.name, std::move(answer.value()), read.keys);
        if (!line) return line.failure();
        *read.into = std::move(line->line);
    }
    for (const auto side : {histogram_side::left, histogram_side::right}) {
        auto answer = answers(side == histogram_side::left ? cmd::get_histogram_left
                                                           : cmd::get_histogram_right);
        if (!answer) return answer.failure();
        auto histogram = ifc_client::parse_histogram(answer.value());
        if (!histogram) return histogram.failure();
        (side == histogram_side::left ? s.left : s.right) = std::move(histogram.value());
    }
    auto chosen = answers(cmd::get_histogram_selection);
    if (!chosen) return chosen.failure();
    auto selection = ifc_client::parse_histogram_selection(chosen.value());
    if (!selection) return selection.failure();
    s.histogram_selection = std::move(selection.value());
    return s;
}

ifc_client::result<machine_snapshot> read_snapshot(ifc_client::connection& conn,
                                                   std::chrono::steady_clock::time_point give_up) {
    conn.limit_to(give_up);
    return read_snapshot([&conn](std::string_view name) { return conn.get(name); });
}

}  // namespace gateway
