#include "client/histogram.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <vector>

#include "client/commands.h"
#include "client/token_line.h"
#include "tools/escape.h"
#include "tools/suggest.h"

namespace ifc_client {

namespace {

// The fields of an answer: single blanks between them, none leading or trailing.
std::vector<std::string_view> fields_of(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t blank = text.find(' ', pos);
        fields.push_back(text.substr(pos, blank - pos));
        if (blank == std::string_view::npos) break;
        pos = blank + 1;
    }
    return fields;
}

// The answer is not what; the first byte that does not fit is at.
error malformed(std::string_view what, std::string_view answer, std::size_t at) {
    return error{errc::protocol,
                 "not a " + std::string(what) + ": " + ifc_tool::escaped_around(answer, at)};
}

// Where in answer the field (a view into it) goes wrong as a number: its first byte that no
// number has, or its start when each byte could be part of one.
std::size_t bad_byte_of(std::string_view answer, std::string_view field) {
    const std::size_t start = static_cast<std::size_t>(field.data() - answer.data());
    const std::size_t bad = field.find_first_not_of("-0123456789.");
    return start + (bad == std::string_view::npos ? 0 : bad);
}

// Where an answer of the wrong number of fields goes wrong: at its first field that is no number,
// else where the fields run out, or at the first field too many.
std::size_t bad_byte_of(std::string_view answer, std::span<const std::string_view> fields,
                        std::size_t expected) {
    for (const std::string_view field : fields) {
        if (field.empty() || field.find_first_not_of("-0123456789.") != std::string_view::npos) {
            return bad_byte_of(answer, field);
        }
    }
    if (fields.size() < expected) return answer.size();
    return static_cast<std::size_t>(fields[expected].data() - answer.data());
}

std::optional<std::int64_t> parse_int64(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "-12.34": digits, a point and two decimals, as the server prints the third summary value.
// The value is the double nearest to the text, as a script reading the text would get.
std::optional<double> parse_decimal(std::string_view text) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos || text.size() - point != 3) return std::nullopt;
    const bool negative = text.starts_with('-');
    const std::string_view digits = text.substr(negative ? 1 : 0);
    const std::size_t digit_point = point - (negative ? 1 : 0);
    for (std::size_t k = 0; k < digits.size(); ++k) {
        const bool digit = digits[k] >= '0' && digits[k] <= '9';
        if (k == digit_point ? digits[k] != '.' : !digit) return std::nullopt;
    }
    if (digit_point == 0) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool is_item(std::string_view item) {
    const auto& items = commands::histogram_items;
    return std::find(items.begin(), items.end(), item) != items.end();
}

error bad_item(std::string_view item) {
    const auto& items = commands::histogram_items;
    std::string message = "unknown histogram item '" + std::string(item) + "'";
    const std::string guess = ifc_tool::did_you_mean(item, items);
    return error{errc::bad_request,
                 message + (guess.empty() ? " (items: " + join(items, " ") + ")" : guess)};
}

result<std::string> checked_length(std::string argument, std::size_t max) {
    if (argument.size() > max) {
        return error{errc::bad_request, "\"" + argument + "\" is longer than the " +
                                            std::to_string(max) + " bytes the server accepts"};
    }
    return argument;
}

}  // namespace

std::string_view side_name(histogram_side side) {
    return side == histogram_side::left ? "left" : "right";
}

result<histogram> parse_histogram(std::string_view answer) {
    const auto fields = fields_of(answer);
    if (fields.size() != histogram_summary_count + histogram_bins) {
        return malformed("histogram of 51 numbers", answer,
                         bad_byte_of(answer, fields, histogram_summary_count + histogram_bins));
    }
    histogram h;
    h.answer = std::string(answer);
    for (int i = 0; i < histogram_summary_count; ++i) {
        summary_value& s = h.summary[static_cast<std::size_t>(i)];
        s.text = std::string(fields[static_cast<std::size_t>(i)]);
        s.whole = i != 2;
        if (s.whole) {
            const auto n = parse_int32(s.text);
            if (!n) return malformed("histogram", answer, bad_byte_of(answer, fields[i]));
            s.value = *n;
        } else {
            const auto d = parse_decimal(s.text);
            if (!d) return malformed("histogram", answer, bad_byte_of(answer, fields[i]));
            s.value = *d;
        }
    }
    for (int bin = 0; bin < histogram_bins; ++bin) {
        const std::string_view field =
            fields[static_cast<std::size_t>(histogram_summary_count + bin)];
        const auto count = parse_int64(field);
        if (!count) return malformed("histogram", answer, bad_byte_of(answer, field));
        h.bins[static_cast<std::size_t>(bin)] = *count;
    }
    return h;
}

result<histogram_selection> parse_histogram_selection(std::string_view answer) {
    const auto fields = fields_of(answer);
    if (fields.size() != 4) {
        const std::size_t at = fields.size() < 4
                                   ? answer.size()
                                   : static_cast<std::size_t>(fields[4].data() - answer.data());
        return malformed("histogram selection", answer, at);
    }
    const auto left_colour = parse_int32(fields[0]);
    const auto right_colour = parse_int32(fields[2]);
    if (!left_colour)
        return malformed("histogram selection", answer, bad_byte_of(answer, fields[0]));
    if (!right_colour)
        return malformed("histogram selection", answer, bad_byte_of(answer, fields[2]));
    if (fields[1].empty() || fields[3].empty()) {
        const std::string_view empty = fields[1].empty() ? fields[1] : fields[3];
        return malformed("histogram selection", answer,
                         static_cast<std::size_t>(empty.data() - answer.data()));
    }
    return histogram_selection{std::string(answer),
                               side_choice{*left_colour, std::string(fields[1])},
                               side_choice{*right_colour, std::string(fields[3])}};
}

result<std::string> histogram_selection_argument(histogram_side side, int colour,
                                                 std::string_view item) {
    if (!commands::is_colour(colour)) return commands::not_a_colour(colour);
    if (!is_item(item)) return bad_item(item);
    const std::string_view word = side == histogram_side::left ? "LEFT" : "RIGHT";
    return checked_length(
        std::string(word) + " " + std::to_string(colour) + " " + std::string(item),
        commands::histogram_selection_max);
}

result<std::string> histogram_clear_argument(int colour, std::string_view item) {
    if (!commands::is_colour(colour)) return commands::not_a_colour(colour);
    if (!is_item(item)) return bad_item(item);
    return checked_length(std::to_string(colour) + " " + std::string(item),
                          commands::histogram_clear_max);
}

result<std::string> histogram_settings_argument(const histogram_settings& s) {
    for (int colour : {s.left_colour, s.right_colour}) {
        if (!commands::is_colour(colour)) return commands::not_a_colour(colour);
    }
    for (std::string_view item : {std::string_view(s.left_item), std::string_view(s.right_item)}) {
        if (!is_item(item)) return bad_item(item);
    }
    return checked_length(std::to_string(s.left_colour) + " " + s.left_item + " " +
                              std::to_string(s.left_t) + " " + std::to_string(s.right_colour) +
                              " " + s.right_item + " " + std::to_string(s.right_t) + " " +
                              std::to_string(s.samp),
                          commands::histogram_settings_max);
}

}  // namespace ifc_client
