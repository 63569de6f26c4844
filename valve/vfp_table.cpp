// The valve table and its accessors: every call reloads "valve_fp.set", every write
// saves it.
#include "lib/i4_table_file.h"
#include "valve/vfp_ifc.h"

namespace vfp_ifc {
namespace {

// All zero (an empty table) until the first access loads it.
std::array<i4_item, table_records> i4{};

i4_table_file table_file() {
    return {settings_file, i4, i4_init};
}

}  // namespace
}  // namespace vfp_ifc

void I_vfp() {
    i4_table_reset(vfp_ifc::table_file());
}

void i_vfp() {
    i4_table_load(vfp_ifc::table_file());
}

int VfpRead(const char* name, std::int32_t* out, int slot) {
    return i4_table_read(vfp_ifc::table_file(), name, out, slot);
}

int VfpWrite(const char* name, std::int32_t value, int slot) {
    return i4_table_write(vfp_ifc::table_file(), name, value, slot);
}
