#include "tests/support/store_tables.h"

#include <cstring>

#include "ifc/ifc_net.h"
#include "tests/support/files.h"
#include "valve/vfp_ifc.h"

namespace test_support {

std::int32_t settings_table::probe_default(int slot) const {
    return int32_at(defaults, slot_offset(probe_record, slot));
}

std::string settings_table::image_with(int slot, std::int32_t value) const {
    std::string image = defaults;
    std::memcpy(image.data() + slot_offset(probe_record, slot), &value, sizeof value);
    return image;  // the host is little-endian, as the files are
}

settings_table interface_table() {
    return {"interface",
            "ifc_set.set",
            bytes_of(ifc_net::i4_init),
            Ifc_SetRead,
            Ifc_SetWrite,
            "Twt",
            1};
}

settings_table valve_table() {
    return {"valve", "valve_fp.set", bytes_of(vfp_ifc::i4_init), VfpRead, VfpWrite, "VAL_sub8_on",
            29};
}

}  // namespace test_support
