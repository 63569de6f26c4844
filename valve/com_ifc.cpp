#include "valve/com_ifc.h"

#include <cstdio>

#include "protocol/protocol.h"

// Groups 1 to 7 lie 240 apart from 210; the others are not placed. Memory only: every start
// of the program begins with these.
std::array<std::int16_t, sub_group_count> sub{210, 450, 690, 930, 1170, 1410, 1650};

int IFC_get_valve_loc(char* buf) {
    // buf is the transfer buffer; the whole answer is 168 bytes at the initial values and at
    // most 20 * 13 bytes at any.
    constexpr int capacity = protocol::max_payload;
    int len = 0;
    for (int group = 1; group <= sub_group_count; ++group) {
        len += std::snprintf(buf + len, static_cast<std::size_t>(capacity - len), "sub%d:%d ",
                             group, sub[static_cast<std::size_t>(group - 1)]);
    }
    return len;
}

void IFC_set_valve_loc(std::int16_t group, std::int16_t location) {
    if (group < 1 || group > sub_group_count) return;
    sub[static_cast<std::size_t>(group - 1)] = location;
}
