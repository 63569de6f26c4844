// The two arrival histograms: the colour and item chosen for each side (record "STAT_2") and
// the simulated histogram, clear and settings requests behind them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "ifc/ifc_net.h"
#include "ifc/ifc_token_line.h"
#include "lib/diag.h"
#include "lib/text_scan.h"
#include "protocol/protocol.h"

namespace {

constexpr const char* selection_record = "STAT_2";

// Where a side keeps its choice in "STAT_2".
struct side_slots {
    int item;
    int colour;
};
constexpr side_slots left_side{1, 2};
constexpr side_slots right_side{3, 4};
constexpr side_slots slots_of(int side) {
    return side == 0 ? left_side : right_side;
}

// Longest arguments accepted; longer ones are ignored whole.
constexpr int select_max_len = 15;
constexpr int clear_max_len = 10;
constexpr int set_max_len = 32;

// Printed for a stored item index that names no key (only possible with a settings file
// whose contents differ from what these commands write).
constexpr std::string_view unknown_key = "?";

// Index of word in key_str (exact, case-sensitive); -1 when it is no key.
int key_index(std::string_view word) {
    for (std::size_t i = 0; i < key_str.size(); ++i) {
        if (key_str[i] == word) return static_cast<int>(i);
    }
    return -1;
}

std::string_view key_name(std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int32_t>(key_str.size())) return unknown_key;
    return key_str[static_cast<std::size_t>(index)];
}

// The simulated histogram: a curve symmetric about bin 23, peak 300.
constexpr int curve_first_bin = 14;
constexpr std::array<std::int32_t, 19> curve{10,  30,  50,  120, 160, 210, 250, 280, 290, 300,
                                             290, 280, 250, 210, 160, 120, 50,  30,  10};
static_assert(curve_first_bin + static_cast<int>(curve.size()) <= histo_bins);
constexpr double left_fval = 4.65;
constexpr double right_fval = 4.52;
constexpr std::array<std::int32_t, 4> simulated_ival{500, 234, 500, 190};

// Rebuilt by every histogram request; holds nothing between requests.
histo_rec histo;

}  // namespace

void get_histo(int side, int /*colour*/, int /*item*/, histo_rec* out) {
    std::ranges::fill(out->count, 0);
    std::ranges::copy(curve, out->count + curve_first_bin);
    out->fval = side == 0 ? left_fval : right_fval;
    std::ranges::copy(simulated_ival, out->ival);
}

void clear_histo(int colour, int item) {
    diag::out_printf("clear_histo: color=%d, item_no=%d\n", colour, item);
}

void set_histo(int left_colour, int left_item, int left_t, int right_colour, int right_item,
               int right_t, int samp) {
    diag::out_printf("set_histo(L c=%d, i=%d, t=%d, R c=%d, i=%d, t=%d, samp=%d)\n", left_colour,
                     left_item, left_t, right_colour, right_item, right_t, samp);
}

// "colour key colour key" for the left and the right side, no blank at the end.
int IFC_get_hst_select(char* buf) {
    const std::int32_t left_colour = ifc_text::read_slot(selection_record, left_side.colour);
    const std::int32_t left_item = ifc_text::read_slot(selection_record, left_side.item, -1);
    const std::int32_t right_colour = ifc_text::read_slot(selection_record, right_side.colour);
    const std::int32_t right_item = ifc_text::read_slot(selection_record, right_side.item, -1);
    const std::string_view left_key = key_name(left_item);
    const std::string_view right_key = key_name(right_item);
    ifc_text::answer text(buf);
    text.add("%d %.*s %d %.*s", static_cast<int>(left_colour), static_cast<int>(left_key.size()),
             left_key.data(), static_cast<int>(right_colour), static_cast<int>(right_key.size()),
             right_key.data());
    return text.length();
}

// Five summary values and the 46 bin counts, separated by single blanks.
int IFC_get_hist_cntdat(char* buf, int side) {
    const side_slots slots = slots_of(side);
    const std::int32_t colour = ifc_text::read_slot(selection_record, slots.colour);
    const std::int32_t item = ifc_text::read_slot(selection_record, slots.item);
    get_histo(side, colour, item, &histo);
    ifc_text::answer text(buf);
    text.add("%d %d %.2f %d %d", static_cast<int>(histo.ival[1]), static_cast<int>(histo.ival[0]),
             histo.fval, static_cast<int>(histo.ival[3]), static_cast<int>(histo.ival[2]));
    for (const std::int32_t count : histo.count) {
        text.add(" %d", static_cast<int>(count));
    }
    return text.length();
}

// clang-format off
int IFC_get_hist_cntdatL(char* buf) { return IFC_get_hist_cntdat(buf, 0); }
int IFC_get_hist_cntdatR(char* buf) { return IFC_get_hist_cntdat(buf, 1); }
// clang-format on

// All three requests read their fields as sscanf patterns would ("%d" numbers, "%s" words,
// white space between). Reading stops at the first field that does not match; the fields
// from there on count as not given. A number beyond the int32 range reads as the nearest
// limit.

// "LEFT|other colour item": sets the colour (when 1..6) and the item (when a key) of a side.
int IFC_hst_select_item(char* arg, int len) {
    const std::string_view text = ifc_text::terminate(arg, len);
    if (len > select_max_len) return -1;
    text_scanner scan(text);
    std::string_view side_word;
    std::int32_t colour = 0;
    std::string_view item_word;
    if (!scan.read_word(side_word) || !scan.read_int(colour)) return -1;
    const side_slots slots = side_word == "LEFT" ? left_side : right_side;
    if (protocol::is_colour(colour)) Ifc_SetWrite(selection_record, colour, slots.colour);
    if (!scan.read_word(item_word)) return -1;
    const int item = key_index(item_word);
    if (item >= 0) Ifc_SetWrite(selection_record, item, slots.item);
    return 0;
}

// "colour item": a clear request, passed on only for a known item.
int IFC_hst_clear(char* arg, int len) {
    const std::string_view text = ifc_text::terminate(arg, len);
    if (len > clear_max_len) return -1;
    text_scanner scan(text);
    std::int32_t colour = 0;
    std::string_view item_word;
    if (!scan.read_int(colour) || !scan.read_word(item_word)) return -1;
    const int item = key_index(item_word);
    if (item < 0) return -1;
    clear_histo(colour, item);
    return 0;
}

// "colour item t colour item t samp" for the left and the right side. An unknown item key
// gives index 0; fields missing at the end of the argument are passed on as 0.
int IFC_hst_set(char* arg, int len) {
    const std::string_view text = ifc_text::terminate(arg, len);
    if (len > set_max_len) return -1;
    text_scanner scan(text);
    std::array<std::int32_t, 2> colour{};
    std::array<std::int32_t, 2> t{};
    std::array<int, 2> item{};
    std::int32_t samp = 0;
    std::string_view word;
    for (std::size_t side = 0; side < 2; ++side) {
        if (!scan.read_int(colour[side])) break;
        if (!scan.read_word(word)) break;
        const int index = key_index(word);
        item[side] = index < 0 ? 0 : index;
        if (!scan.read_int(t[side])) break;
        if (side == 1) scan.read_int(samp);
    }
    set_histo(colour[0], item[0], t[0], colour[1], item[1], t[1], samp);
    return 0;
}
