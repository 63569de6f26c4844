// The interface table and its accessors on "ifc_set.set": loaded before use, saved after a
// change; within a request of the server, loaded once and saved once at its end.
#include "ifc/ifc_net.h"
#include "lib/i4_table_file.h"

namespace ifc_net {
namespace {

// All zero (an empty table) until the first access loads it.
std::array<i4_item, table_records> i4{};
i4_table_state state;

constinit const i4_table_file file{settings_file, i4, i4_init, &state};

}  // namespace
}  // namespace ifc_net

void I_ifc() {
    i4_table_reset(ifc_net::file);
}

void i_ifc() {
    i4_table_load(ifc_net::file);
}

int Ifc_SetRead(const char* name, std::int32_t* out, int slot) {
    return i4_table_read(ifc_net::file, name, out, slot);
}

int Ifc_SetWrite(const char* name, std::int32_t value, int slot) {
    return i4_table_write(ifc_net::file, name, value, slot);
}
