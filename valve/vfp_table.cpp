// The valve table and its accessors on "valve_fp.set": loaded before use, saved after a
// change; within a request of the server, loaded once and saved once at its end.
#include "lib/i4_table_file.h"
#include "valve/vfp_ifc.h"

namespace vfp_ifc {
namespace {

// All zero (an empty table) until the first access loads it.
std::array<i4_item, table_records> i4{};
i4_table_state state;

constinit const i4_table_file file{settings_file, i4, i4_init, &state};

}  // namespace
}  // namespace vfp_ifc

void I_vfp() {
    i4_table_reset(vfp_ifc::file);
}

void i_vfp() {
    i4_table_load(vfp_ifc::file);
}

int VfpRead(const char* name, std::int32_t* out, int slot) {
    return i4_table_read(vfp_ifc::file, name, out, slot);
}

int VfpWrite(const char* name, std::int32_t value, int slot) {
    return i4_table_write(vfp_ifc::file, name, value, slot);
}
