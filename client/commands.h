// The server's command names and the keys of their answers, as a client needs them: which
// command reads or writes what, per colour number, and which keys each answer holds, in
// answer order.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "client/result.h"
#include "protocol/protocol.h"

namespace ifc_client::commands {

// Weft colours are numbered 1 to 6; the per-colour commands end in the number.
using protocol::first_colour;
using protocol::is_colour;
using protocol::last_colour;
// errc::bad_request: "colour 9 is not a weft colour 1..6".
error not_a_colour(std::int64_t number);
// "1..6"
std::string colour_range_text();

// Device and sub-nozzle selection: the read answers every flag, the write takes one
// "item:value" (or "all:0", which clears every flag).
inline constexpr std::string_view get_selection = "IFC_get_select_item";
inline constexpr std::string_view set_selection = "IFC_set_select_item";
inline constexpr std::string_view select_all = "all";
inline constexpr std::array<std::string_view, 25> selection_keys{
    "pin",   "abs",   "main",  "tandem", "stretch", "sub1",  "sub2",  "sub3",  "sub4",
    "sub5",  "sub6",  "sub7",  "sub8",   "sub9",    "sub10", "sub11", "sub12", "sub13",
    "sub14", "sub15", "sub16", "sub17",  "sub18",   "sub19", "sub20"};

// Machine status: the write needs all three items, in this order.
inline constexpr std::string_view get_status = "IFC_get_stat";
inline constexpr std::string_view set_status = "IFC_set_stat";
inline constexpr std::array<std::string_view, 3> status_keys{"color", "mode", "totw_sw"};

// Arrival-timing targets per colour: the write needs both items, in this order.
std::string get_targets(int colour);  // IFC_get_Tot_Twt_N
std::string set_targets(int colour);  // IFC_set_to_tw_N
inline constexpr std::array<std::string_view, 2> target_keys{"to", "tw"};

// Measured arrival timing per colour (same keys as the targets) and its averages.
std::string get_timing(int colour);    // IFC_get_To_Tw_N
std::string get_averages(int colour);  // IFC_get_histo_ave_N
inline constexpr std::array<std::string_view, 11> average_keys{
    "to", "tb1", "tb2", "tb3", "tb4", "tb5", "tb6", "tb7", "tb8", "tbw", "tw"};

// Valve on/off angles per colour. The answer starts with a constant item that no setting
// stands behind; the write ignores it. The other keys can be written, in any number.
std::string get_valves(int colour);  // IFC_get_on_off_N
std::string set_valves(int colour);  // IFC_set_on_off_N
inline constexpr std::string_view valve_constant_key = "ATC_TO_DELAY";
inline constexpr std::array<std::string_view, 45> valve_keys{
    "pin_on",     "abs_on",      "abs_off",   "main_on",   "main_off",  "tandem_on", "tandem_off",
    "stretch_on", "stretch_off", "sub1_on",   "sub1_off",  "sub2_on",   "sub2_off",  "sub3_on",
    "sub3_off",   "sub4_on",     "sub4_off",  "sub5_on",   "sub5_off",  "sub6_on",   "sub6_off",
    "sub7_on",    "sub7_off",    "sub8_on",   "sub8_off",  "sub9_on",   "sub9_off",  "sub10_on",
    "sub10_off",  "sub11_on",    "sub11_off", "sub12_on",  "sub12_off", "sub13_on",  "sub13_off",
    "sub14_on",   "sub14_off",   "sub15_on",  "sub15_off", "sub16_on",  "sub16_off", "sub17_on",
    "sub17_off",  "sub18_on",    "sub18_off"};
// Every key of a valve answer, in answer order: the constant item, then valve_keys.
std::vector<std::string_view> valve_answer_keys();

// Histograms: the two sides, the choice of colour and item per side, and the items.
inline constexpr std::string_view get_histogram_left = "IFC_get_hist_cntdatL";
inline constexpr std::string_view get_histogram_right = "IFC_get_hist_cntdatR";
inline constexpr std::string_view get_histogram_selection = "IFC_get_hst_select";
inline constexpr std::string_view set_histogram_selection = "IFC_hst_select_item";
inline constexpr std::string_view histogram_clear = "IFC_hst_clear";
inline constexpr std::string_view histogram_settings = "IFC_hst_set";
inline constexpr std::array<std::string_view, 12> histogram_items{
    "to", "tb1", "tb2", "tb3", "tb4", "tb5", "tb6", "tb7", "tb8", "tbw", "tw", "tw_tbw"};
// The longest argument each histogram write accepts; the server ignores longer ones.
inline constexpr std::size_t histogram_selection_max = 15;
inline constexpr std::size_t histogram_clear_max = 10;
inline constexpr std::size_t histogram_settings_max = 32;

// Let-off button status: the server only prints the text it is given.
inline constexpr std::string_view letoff_button = "MLETOFF_set_btnstat";

// Every read command and every write command the server has, in its table order.
std::vector<std::string> read_commands();
std::vector<std::string> write_commands();

}  // namespace ifc_client::commands
