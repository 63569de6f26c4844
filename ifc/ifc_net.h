// Module ifc_net: the interface table (settings file "ifc_set.set") and the weft-insertion
// commands: selection, machine status, arrival targets, simulated timing and histograms.
#pragma once

#include <array>
#include <cstdint>

#include "lib/i4_record.h"

namespace ifc_net {
inline constexpr int table_records = 10;  // 9 parameters and the terminator
inline constexpr int image_size = table_records * static_cast<int>(sizeof(i4_item));  // 800
inline constexpr const char* settings_file = "ifc_set.set";
// The default image, copied whole over the table by I_ifc.
extern const std::array<i4_item, table_records> i4_init;
}  // namespace ifc_net

// Table access. Every call reloads the table from its file; every write saves it.
void I_ifc();
void i_ifc();
int Ifc_SetRead(const char* name, std::int32_t* out, int slot);
int Ifc_SetWrite(const char* name, std::int32_t value, int slot);

// Selection and status.
int IFC_get_select_item(char* buf);
int IFC_set_select_item(char* arg, int len);
int IFC_get_stat(char* buf);
int IFC_set_stat(char* arg, int len);

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

// Histograms.
int IFC_get_hst_select(char* buf);
int IFC_get_hist_cntdatL(char* buf);
int IFC_get_hist_cntdatR(char* buf);
int IFC_get_hist_cntdat(char* buf, int side);
int IFC_hst_select_item(char* arg, int len);
int IFC_hst_clear(char* arg, int len);
int IFC_hst_set(char* arg, int len);
