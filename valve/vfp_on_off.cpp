// The valve on/off timing commands: one read and one write command per colour number, around
// the two workers get_on_off and set_on_off.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "lib/lib_fp.h"
#include "lib/text_scan.h"
#include "protocol/protocol.h"
#include "valve/vfp_ifc.h"
#include "valve/vfp_on_off.h"

namespace {

using protocol::is_colour;

// Exact, case-sensitive comparison of whole keys.
const cj_pair* find_key(std::string_view key) {
    for (const cj_pair& pair : cj) {
        if (pair.record[0] == '\0') break;
        if (key == pair.key) return &pair;
    }
    return nullptr;
}

}  // namespace

int get_on_off(char* buf, int colour) {
    if (!is_colour(colour)) return 0;
    // buf is the transfer buffer; the answer needs about 1 KiB at most.
    constexpr int capacity = protocol::max_payload;
    // No setting stands behind the first token; clients expect it, always 0.
    int len = std::snprintf(buf, capacity, "ATC_TO_DELAY:%d ", 0);
    for (const cj_pair& pair : cj) {
        if (pair.record[0] == '\0') break;
        // A record that cannot be read (missing, or of an unusable type in a settings file
        // written elsewhere) shows 0. Sent back, that 0 cannot store anything either: the
        // write fails for the same reason.
        std::int32_t value = 0;
        VfpRead(pair.record, &value, colour);
        len += std::snprintf(buf + len, static_cast<std::size_t>(capacity - len), "%s:%d ",
                             pair.key, static_cast<int>(value));
    }
    return len;
}

// Values are read as atoi reads them (white space, sign, digits up to the first other
// character, 0 without digits); a number beyond the int32 range stores the nearest limit
// instead of atoi's undefined result. Every recognised token saves the table once, in token
// order; a line with no recognised token touches nothing, not even the file.
int set_on_off(char* arg, int len, int colour) {
    if (arg == nullptr || len < 0 || !is_colour(colour)) return -1;
    arg[len] = '\0';  // the byte after the argument belongs to this call
    line2matrix2(arg);
    for (const l2m2_row& row : l2m2) {
        const std::string_view name = l2m2_name(row);
        if (name.empty()) break;  // end of the tokens, or a token that began with ':'
        const cj_pair* pair = find_key(name);
        if (pair == nullptr) continue;
        VfpWrite(pair->record, atoi32(l2m2_value(row)), colour);
    }
    return 0;
}

int IFC_get_on_off_1(char* buf) {
    return get_on_off(buf, 1);
}
int IFC_get_on_off_2(char* buf) {
    return get_on_off(buf, 2);
}
int IFC_get_on_off_3(char* buf) {
    return get_on_off(buf, 3);
}
int IFC_get_on_off_4(char* buf) {
    return get_on_off(buf, 4);
}
int IFC_get_on_off_5(char* buf) {
    return get_on_off(buf, 5);
}
int IFC_get_on_off_6(char* buf) {
    return get_on_off(buf, 6);
}

int IFC_set_on_off_1(char* arg, int len) {
    return set_on_off(arg, len, 1);
}
int IFC_set_on_off_2(char* arg, int len) {
    return set_on_off(arg, len, 2);
}
int IFC_set_on_off_3(char* arg, int len) {
    return set_on_off(arg, len, 3);
}
int IFC_set_on_off_4(char* arg, int len) {
    return set_on_off(arg, len, 4);
}
int IFC_set_on_off_5(char* arg, int len) {
    return set_on_off(arg, len, 5);
}
int IFC_set_on_off_6(char* arg, int len) {
    return set_on_off(arg, len, 6);
}
