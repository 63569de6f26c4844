// The default image of the interface table: what a fresh installation answers, and what a
// missing or short "ifc_set.set" is replaced by.
#include "ifc/ifc_net.h"
#include "lib/i4_defaults.h"

namespace ifc_net {

constexpr std::array<i4_item, table_records> i4_init{
    make_i4_item(1, "Tot", same_slots(90), 50, 150),      // arrival target TO per colour
    make_i4_item(1, "Twt", same_slots(240), 190, 290),    // arrival target TW per colour
    make_i4_item(1, "STAT_1", {1, 0, 0, 0, 0, 0}, 0, 6),  // color, mode, totw_sw
    // Histogram items and colours, left then right. Item 10 ("tw") lies above max on purpose:
    // the range is enforced only when it is changed, and these values are served as they are.
    make_i4_item(1, "STAT_2", {10, 1, 10, 2, 0, 0}, 0, 6),
    make_i4_item(1, "V", same_slots(0), 0, 1),   // slots 2..6: pin, abs, main, tandem, stretch
    make_i4_item(1, "S1", same_slots(0), 0, 1),  // sub1..sub6
    make_i4_item(1, "S2", same_slots(0), 0, 1),  // sub7..sub12
    make_i4_item(1, "S3", same_slots(0), 0, 1),  // sub13..sub18
    make_i4_item(1, "S4", same_slots(0), 0, 1),  // sub19, sub20
    i4_item{},                                   // terminator
};

static_assert(sizeof(i4_init) == image_size && image_size == 800);
static_assert(is_default_image(i4_init));

}  // namespace ifc_net
