// The interface table and its accessors: every call reloads "ifc_set.set", every write
// saves it.
#include "ifc/ifc_net.h"
#include "lib/i4_table_file.h"

namespace ifc_net {
namespace {

// All zero (an empty table) until the first access loads it.
std::array<i4_item, table_records> i4{};

i4_table_file table_file() {
    return {settings_file, i4, i4_init};
}

}  // namespace
}  // namespace ifc_net

void I_ifc() {
    i4_table_reset(ifc_net::table_file());
}

void i_ifc() {
    i4_table_load(ifc_net::table_file());
}

int Ifc_SetRead(const char* name, std::int32_t* out, int slot) {
    return i4_table_read(ifc_net::table_file(), name, out, slot);
}

int Ifc_SetWrite(const char* name, std::int32_t value, int slot) {
    return i4_table_write(ifc_net::table_file(), name, value, slot);
}
