// Arrival targets TO and TW per colour (records "Tot" and "Twt", slot N for colour N) and the
// simulated arrival-timing measurement. Each command family has one member per colour number;
// the members only pass their number to the family's work function.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "ifc/ifc_net.h"
#include "ifc/ifc_token_line.h"
#include "protocol/protocol.h"

namespace {

using ifc_text::slot_item;
using protocol::is_colour;

// The targets of one colour as a token line, "to:%d tw:%d ".
std::array<slot_item, 2> target_items(int colour) {
    return {{{"to", "Tot", colour}, {"tw", "Twt", colour}}};
}

int get_target(char* buf, std::int16_t colour) {
    return ifc_text::print_token_line(buf, target_items(colour));
}

int set_to_tw(char* arg, int len, int colour) {
    ifc_text::apply_token_line(arg, len, target_items(colour));
    return 0;
}

// The measured values are answered under the histogram item keys: key_str[0] is "to",
// key_str[k] is "tb<k>", then "tbw" and "tw".
constexpr int to_item = 0;
constexpr int tbw_item = tb_rows + 1;
constexpr int tw_item = tbw_item + 1;
static_assert(key_str[to_item] == "to" && key_str[1] == "tb1" && key_str[tb_rows] == "tb8" &&
              key_str[tbw_item] == "tbw" && key_str[tw_item] == "tw");

std::int32_t measured(const info_rec& info, int item, int colour) {
    const int c = colour - 1;
    if (item == to_item) return info.to[c];
    if (item < tbw_item) return info.tb[item - 1][c];
    return item == tbw_item ? info.tbw[c] : info.tw[c];
}

int get_to_tw(char* buf, std::int16_t colour) {
    ifc_text::answer text(buf);
    if (!is_colour(colour)) return 0;
    info_rec info{};
    INFO_get(&info);
    for (const int item : {to_item, tw_item}) {
        text.item(key_str[item], measured(info, item, colour));
    }
    return text.length();
}

// "to", "tb1".."tb8", "tbw", "tw": the histogram items in key_str order, without "tw_tbw".
int get_hist_ave(char* buf, std::int16_t colour) {
    ifc_text::answer text(buf);
    if (!is_colour(colour)) return 0;
    info_rec info{};
    INFO_get(&info);
    for (int item = to_item; item <= tw_item; ++item) {
        text.item(key_str[item], measured(info, item, colour));
    }
    return text.length();
}

// Fixed parts of the simulation: rows tb1..tb3 of colours 1 and 2 (the other rows and
// colours stay 0) and the tbw values that replace the draws of colours 1 and 2.
constexpr std::array<std::array<std::int32_t, 3>, 2> simulated_tb{
    {{128, 164, 190}, {130, 166, 194}}};
constexpr std::array<std::int32_t, 2> simulated_tbw{224, 228};

}  // namespace

void INFO_get(info_rec* info) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::ranges::fill(info->to, 92);
    for (auto& row : info->tb) {
        std::ranges::fill(row, 0);
    }
    for (std::size_t c = 0; c < simulated_tb.size(); ++c) {
        for (std::size_t k = 0; k < simulated_tb[c].size(); ++k) {
            info->tb[k][c] = simulated_tb[c][k];
        }
    }
    // One draw per colour in ascending order, so colours 3..6 get the third to sixth draws.
    std::ranges::generate(info->tbw, [] { return std::rand() % 360; });
    std::ranges::copy(simulated_tbw, info->tbw);
    std::ranges::fill(info->tw, 242);
    info->tw[1] = 252;  // colour 2
}

// clang-format off
int IFC_get_Tot_Twt_1(char* buf) { return get_target(buf, 1); }
int IFC_get_Tot_Twt_2(char* buf) { return get_target(buf, 2); }
int IFC_get_Tot_Twt_3(char* buf) { return get_target(buf, 3); }
int IFC_get_Tot_Twt_4(char* buf) { return get_target(buf, 4); }
int IFC_get_Tot_Twt_5(char* buf) { return get_target(buf, 5); }
int IFC_get_Tot_Twt_6(char* buf) { return get_target(buf, 6); }

int IFC_set_to_tw_1(char* arg, int len) { return set_to_tw(arg, len, 1); }
int IFC_set_to_tw_2(char* arg, int len) { return set_to_tw(arg, len, 2); }
int IFC_set_to_tw_3(char* arg, int len) { return set_to_tw(arg, len, 3); }
int IFC_set_to_tw_4(char* arg, int len) { return set_to_tw(arg, len, 4); }
int IFC_set_to_tw_5(char* arg, int len) { return set_to_tw(arg, len, 5); }
int IFC_set_to_tw_6(char* arg, int len) { return set_to_tw(arg, len, 6); }

int IFC_get_To_Tw_1(char* buf) { return get_to_tw(buf, 1); }
int IFC_get_To_Tw_2(char* buf) { return get_to_tw(buf, 2); }
int IFC_get_To_Tw_3(char* buf) { return get_to_tw(buf, 3); }
int IFC_get_To_Tw_4(char* buf) { return get_to_tw(buf, 4); }
int IFC_get_To_Tw_5(char* buf) { return get_to_tw(buf, 5); }
int IFC_get_To_Tw_6(char* buf) { return get_to_tw(buf, 6); }

int IFC_get_histo_ave_1(char* buf) { return get_hist_ave(buf, 1); }
int IFC_get_histo_ave_2(char* buf) { return get_hist_ave(buf, 2); }
int IFC_get_histo_ave_3(char* buf) { return get_hist_ave(buf, 3); }
int IFC_get_histo_ave_4(char* buf) { return get_hist_ave(buf, 4); }
int IFC_get_histo_ave_5(char* buf) { return get_hist_ave(buf, 5); }
int IFC_get_histo_ave_6(char* buf) { return get_hist_ave(buf, 6); }
// clang-format on
