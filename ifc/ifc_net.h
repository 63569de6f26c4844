// Module ifc_net: the interface table (settings file "ifc_set.set") and the weft-insertion
// commands: selection, machine status, arrival targets, simulated timing and histograms.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "lib/i4_record.h"
#include "protocol/protocol.h"

namespace ifc_net {
inline constexpr int table_records = 10;  // 9 parameters and the terminator
inline constexpr int image_size = table_records * static_cast<int>(sizeof(i4_item));  // 800
inline constexpr const char* settings_file = protocol::interface_settings_file;
// The default image, copied whole over the table by I_ifc.
extern const std::array<i4_item, table_records> i4_init;
}  // namespace ifc_net

// Table access (see lib/i4_table_file.h). Outside a request every call loads the table from
// its file and every write saves it; within a request of the server the table is loaded at
// its first access and saved at the end of the request if the request changed it.
// I_ifc resets only the table in memory to the defaults (the file is not touched, and the next
// access loads the file again); i_ifc loads the table from the file.
void I_ifc();
void i_ifc();
int Ifc_SetRead(const char* name, std::int32_t* out, int slot);
int Ifc_SetWrite(const char* name, std::int32_t value, int slot);

// Selection and status.
int IFC_get_select_item(char* buf);
int IFC_set_select_item(char* arg, int len);
int IFC_get_stat(char* buf);
int IFC_set_stat(char* arg, int len);

// The simulated measurement of one request: one value per colour, colour number N at N - 1.
inline constexpr int colour_count = protocol::colour_count;
inline constexpr int tb_rows = 8;
struct info_rec {
    std::int32_t to[colour_count];           // measured TO
    std::int32_t tb[tb_rows][colour_count];  // row k - 1 is printed as "tb<k>"
    std::int32_t tbw[colour_count];
    std::int32_t tw[colour_count];  // measured TW
};
// Fills info with simulated values. Seeds the C library's generator with the time in whole
// seconds, so requests within one second draw the same tbw values.
void INFO_get(info_rec* info);

// Arrival targets and simulated timing, one member per colour number.
int IFC_get_Tot_Twt_1(char* buf);
int IFC_get_Tot_Twt_2(char* buf);
int IFC_get_Tot_Twt_3(char* buf);
int IFC_get_Tot_Twt_4(char* buf);
int IFC_get_Tot_Twt_5(char* buf);
int IFC_get_Tot_Twt_6(char* buf);
int IFC_set_to_tw_1(char* arg, int len);
int IFC_set_to_tw_2(char* arg, int len);
int IFC_set_to_tw_3(char* arg, int len);
int IFC_set_to_tw_4(char* arg, int len);
int IFC_set_to_tw_5(char* arg, int len);
int IFC_set_to_tw_6(char* arg, int len);
int IFC_get_To_Tw_1(char* buf);
int IFC_get_To_Tw_2(char* buf);
int IFC_get_To_Tw_3(char* buf);
int IFC_get_To_Tw_4(char* buf);
int IFC_get_To_Tw_5(char* buf);
int IFC_get_To_Tw_6(char* buf);
int IFC_get_histo_ave_1(char* buf);
int IFC_get_histo_ave_2(char* buf);
int IFC_get_histo_ave_3(char* buf);
int IFC_get_histo_ave_4(char* buf);
int IFC_get_histo_ave_5(char* buf);
int IFC_get_histo_ave_6(char* buf);

// Histograms. An item is stored and passed as its index into key_str.
inline constexpr std::array<std::string_view, 12> key_str{
    "to", "tb1", "tb2", "tb3", "tb4", "tb5", "tb6", "tb7", "tb8", "tbw", "tw", "tw_tbw"};
inline constexpr int histo_bins = 46;
struct histo_rec {
    std::int32_t count[histo_bins];  // bin counts
    double fval;                     // summary value, printed with two decimals
    std::int32_t ival[4];            // four summary values
};
// Side 0 is the left histogram, any other the right one. Colour and item do not change the
// simulated result.
void get_histo(int side, int colour, int item, histo_rec* out);
// Clear and settings requests: each prints one line on standard output and keeps no state.
void clear_histo(int colour, int item);
void set_histo(int left_colour, int left_item, int left_t, int right_colour, int right_item,
               int right_t, int samp);

int IFC_get_hst_select(char* buf);
int IFC_get_hist_cntdatL(char* buf);
int IFC_get_hist_cntdatR(char* buf);
int IFC_get_hist_cntdat(char* buf, int side);
int IFC_hst_select_item(char* arg, int len);
int IFC_hst_clear(char* arg, int len);
int IFC_hst_set(char* arg, int len);
