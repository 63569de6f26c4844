// What the gateway knows of one controller: every setting and measurement a poll reads, as
// typed values (controller_json.h shows them as JSON).
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "client/connection.h"
#include "client/histogram.h"
#include "client/token_line.h"
#include "protocol/protocol.h"

namespace gateway {

struct colour_values {
    ifc_client::token_line targets;   // to, tw
    ifc_client::token_line timing;    // measured to, tw
    ifc_client::token_line averages;  // to, tb1..tb8, tbw, tw
    ifc_client::token_line valves;    // ATC_TO_DELAY, then the 45 valve keys
};

struct machine_snapshot {
    ifc_client::token_line status;
    ifc_client::token_line selection;
    std::array<colour_values, protocol::colour_count> colours;  // the first colour at index 0
    ifc_client::histogram left;
    ifc_client::histogram right;
    ifc_client::histogram_selection histogram_selection;

    colour_values& colour(int number) {
        return colours[static_cast<std::size_t>(number - protocol::first_colour)];
    }
    const colour_values& colour(int number) const {
        return colours[static_cast<std::size_t>(number - protocol::first_colour)];
    }
    const ifc_client::histogram& histogram_of(ifc_client::histogram_side side) const {
        return side == ifc_client::histogram_side::left ? left : right;
    }
};

// Where the answers of the read commands come from: a controller connection, or (for the fuzz
// target and tests) a table in memory. Gives the answer text of a GET name, or its failure.
using answer_source = std::function<ifc_client::result<std::string>(std::string_view get_name)>;

// Reads everything: status, selection, the targets, measured timing, averages and valve angles
// of every colour, both histograms and the histogram selection. The first failure ends it.
ifc_client::result<machine_snapshot> read_snapshot(const answer_source& answers);

// The same over an open connection, none of whose waits lasts past give_up (errc::timeout).
ifc_client::result<machine_snapshot> read_snapshot(
    ifc_client::connection& conn,
    std::chrono::steady_clock::time_point give_up = std::chrono::steady_clock::time_point::max());

}  // namespace gateway
