// The histogram answers and arguments: blank-separated fields rather than token lines.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/result.h"

namespace ifc_client {

inline constexpr int histogram_bins = 46;
inline constexpr int histogram_summary_count = 5;
// The five summary values in answer order, named after the fields of the server's measurement
// record that they come from: four whole numbers ival[0..3] and one with two decimals, fval.
// The server simulates them (always 234 500 4.65 190 500, 4.52 on the right); what each one
// measures is not documented.
inline constexpr std::array<std::string_view, histogram_summary_count> summary_names{
    "ival1", "ival0", "fval", "ival3", "ival2"};
// What a histogram selection answer shows for a stored item number that names no item.
inline constexpr std::string_view unnamed_item = "?";

// One of the five summary values that lead a histogram answer: four whole numbers and, in
// third place, a number with two decimals. text is the value as the server wrote it.
struct summary_value {
    std::string text;
    double value = 0;
    bool whole = true;
};

struct histogram {
    std::string answer;  // as received
    std::array<summary_value, histogram_summary_count> summary;
    std::array<std::int64_t, histogram_bins> bins{};
};

// "234 500 4.65 190 500" and the 46 bin counts, single blanks between them. Any other shape
// is errc::protocol.
result<histogram> parse_histogram(std::string_view answer);

enum class histogram_side { left, right };
std::string_view side_name(histogram_side side);  // "left" or "right"

// The colour and item a side shows. item is the item's key ("?" when the stored index names
// no item).
struct side_choice {
    std::int32_t colour = 0;
    std::string item;
};
struct histogram_selection {
    std::string answer;  // as received
    side_choice left;
    side_choice right;
    const side_choice& of(histogram_side side) const {
        return side == histogram_side::left ? left : right;
    }
};

// "1 tw 2 tw": left colour and item, right colour and item.
result<histogram_selection> parse_histogram_selection(std::string_view answer);

// Arguments of the histogram write commands, checked before anything is sent: the server
// ignores an argument that is too long, a colour outside 1..6 or an unknown item without a
// word, so a client refuses them (errc::bad_request).
// "LEFT 3 tbw": the side's colour and item.
result<std::string> histogram_selection_argument(histogram_side side, int colour,
                                                 std::string_view item);
// "1 tw": a clear request for one colour and item.
result<std::string> histogram_clear_argument(int colour, std::string_view item);
// "1 tw 5 2 tbw 5 100": colour, item and t of each side, then samp.
struct histogram_settings {
    int left_colour = 1;
    std::string left_item;
    int left_t = 0;
    int right_colour = 1;
    std::string right_item;
    int right_t = 0;
    int samp = 0;
};
result<std::string> histogram_settings_argument(const histogram_settings& settings);

}  // namespace ifc_client
