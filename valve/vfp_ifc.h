// Module vfp_ifc: the valve table (settings file "valve_fp.set") and the valve on/off timing
// commands, one read and one write command per colour number.
#pragma once

#include <array>
#include <cstdint>

#include "lib/i4_record.h"
#include "protocol/protocol.h"

namespace vfp_ifc {
inline constexpr int table_records = 112;  // 111 parameters and the terminator
inline constexpr int image_size = table_records * static_cast<int>(sizeof(i4_item));  // 8960
inline constexpr const char* settings_file = protocol::valve_settings_file;
// The default image, copied whole over the table by I_vfp.
extern const std::array<i4_item, table_records> i4_init;
}  // namespace vfp_ifc

// Table access (see lib/i4_table_file.h). Outside a request every call loads the table from
// its file and every write saves it; within a request of the server the table is loaded at
// its first access and saved at the end of the request if the request changed it.
// I_vfp resets only the table in memory to the defaults (the file is not touched, and the next
// access loads the file again); i_vfp loads the table from the file.
void I_vfp();
void i_vfp();
int VfpRead(const char* name, std::int32_t* out, int slot);
int VfpWrite(const char* name, std::int32_t value, int slot);

// Valve timing commands.
int get_on_off(char* buf, int colour);
int set_on_off(char* arg, int len, int colour);
int IFC_get_on_off_1(char* buf);
int IFC_get_on_off_2(char* buf);
int IFC_get_on_off_3(char* buf);
int IFC_get_on_off_4(char* buf);
int IFC_get_on_off_5(char* buf);
int IFC_get_on_off_6(char* buf);
int IFC_set_on_off_1(char* arg, int len);
int IFC_set_on_off_2(char* arg, int len);
int IFC_set_on_off_3(char* arg, int len);
int IFC_set_on_off_4(char* arg, int len);
int IFC_set_on_off_5(char* arg, int len);
int IFC_set_on_off_6(char* arg, int len);
