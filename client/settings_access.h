// Typed reads and read-modify-writes of the settings over one connection. The server never
// reports the outcome of a write, so every write here reads the setting back afterwards and
// tells which requested values the read-back does not show.
//
// The server serves one connection at a time, so a read, the write built from it and the
// read-back on the same connection cannot interleave with another client's changes.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "client/connection.h"
#include "client/histogram.h"
#include "client/token_line.h"
#include "client/value_ranges.h"

namespace ifc_client {

// A settings answer: the text as received and the items read from it.
struct line_answer {
    std::string text;
    token_line line;
};

struct write_report {
    line_answer before;  // what was read first
    line_answer after;   // what was read back after the write
    std::vector<mismatch> not_applied;
};

// An answer of get_name as a token line, checked to hold exactly keys in order (errc::protocol
// otherwise): what read_token_line does with the answer it receives.
result<line_answer> parse_line_answer(std::string_view get_name, std::string answer,
                                      std::span<const std::string_view> keys);

// The answer of get_name as a token line, checked to hold exactly keys in order
// (errc::protocol otherwise).
result<line_answer> read_token_line(connection& conn, std::string_view get_name,
                                    std::span<const std::string_view> keys);

// Reads the line, changes the named keys (each must be in writable: errc::bad_request before
// anything is sent), sends the whole line to put_name and reads it back.
result<write_report> read_modify_write(connection& conn, std::string_view get_name,
                                       std::string_view put_name,
                                       std::span<const std::string_view> keys,
                                       std::span<const std::string_view> writable,
                                       std::span<const change> changes, std::string_view what);

// The typed writes refuse values outside their key's range (errc::bad_request, before anything
// is sent) unless rule is range_rule::ignore.

// Machine status: color, mode, totw_sw.
result<line_answer> read_status(connection& conn);
result<write_report> write_status(connection& conn, std::span<const change> changes,
                                  range_rule rule = range_rule::enforce);

// Arrival-timing targets of a colour: to, tw.
result<line_answer> read_targets(connection& conn, int colour);
result<write_report> write_targets(connection& conn, int colour, std::span<const change> changes,
                                   range_rule rule = range_rule::enforce);

// Measured timing and averages of a colour.
result<line_answer> read_timing(connection& conn, int colour);
result<line_answer> read_averages(connection& conn, int colour);

// Valve angles of a colour: the constant item, then the 45 valve keys.
result<line_answer> read_valves(connection& conn, int colour);
result<write_report> write_valves(connection& conn, int colour, std::span<const change> changes,
                                  range_rule rule = range_rule::enforce);

// Selection flags. The write command takes one item at a time: one write per change, then
// one read-back. clear_selection sets every flag to 0 at once.
result<line_answer> read_selection(connection& conn);
result<write_report> write_selection(connection& conn, std::span<const change> changes,
                                     range_rule rule = range_rule::enforce);
result<write_report> clear_selection(connection& conn);

// Histograms and the colour and item each side shows.
result<histogram> read_histogram(connection& conn, histogram_side side);
result<histogram_selection> read_histogram_selection(connection& conn);
struct selection_report {
    histogram_selection before;
    histogram_selection after;
    bool applied = false;  // the read-back shows the requested colour and item
};
result<selection_report> write_histogram_selection(connection& conn, histogram_side side,
                                                   int colour, std::string_view item);

}  // namespace ifc_client
