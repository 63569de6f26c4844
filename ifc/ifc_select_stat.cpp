// Device selection and machine status: which devices and sub nozzles are selected (records
// "V" and "S1".."S4") and the selected colour, mode and TO/TW switch (record "STAT_1").
#include <array>
#include <cstdint>
#include <string_view>

#include "ifc/ifc_net.h"
#include "ifc/ifc_token_line.h"
#include "lib/text_scan.h"

namespace {

using ifc_text::slot_item;

// The 25 selection flags in the order of the answer. Slot 1 of "V" and slots 3..6 of "S4"
// belong to no item.
constexpr std::array<slot_item, 25> select_items{{
    {"pin", "V", 2},     {"abs", "V", 3},    {"main", "V", 4},   {"tandem", "V", 5},
    {"stretch", "V", 6}, {"sub1", "S1", 1},  {"sub2", "S1", 2},  {"sub3", "S1", 3},
    {"sub4", "S1", 4},   {"sub5", "S1", 5},  {"sub6", "S1", 6},  {"sub7", "S2", 1},
    {"sub8", "S2", 2},   {"sub9", "S2", 3},  {"sub10", "S2", 4}, {"sub11", "S2", 5},
    {"sub12", "S2", 6},  {"sub13", "S3", 1}, {"sub14", "S3", 2}, {"sub15", "S3", 3},
    {"sub16", "S3", 4},  {"sub17", "S3", 5}, {"sub18", "S3", 6}, {"sub19", "S4", 1},
    {"sub20", "S4", 2},
}};

// Clears every flag at once; the value given with it is ignored.
constexpr std::string_view all_keyword = "all";

constexpr std::array<slot_item, 3> status_items{{
    {"color", "STAT_1", 1},
    {"mode", "STAT_1", 2},
    {"totw_sw", "STAT_1", 3},
}};

}  // namespace

int IFC_get_select_item(char* buf) {
    return ifc_text::print_token_line(buf, select_items);
}

// One item of the selection answer, "keyword:value"; only the first pair counts.
int IFC_set_select_item(char* arg, int len) {
    const std::string_view text = ifc_text::terminate(arg, len);
    if (!ifc_text::colons_to_blanks(arg, len, 1)) return -1;

    // Pattern "%s %d". The word is a view into the argument, so a word of any length is read
    // without copying; one longer than every keyword simply matches none. A number beyond
    // the int32 range is read as the nearest limit and stored as such.
    text_scanner scan(text);
    std::string_view word;
    std::int32_t value = 0;
    if (!scan.read_word(word)) return -1;
    scan.skip_space();
    // Without a number there is no value to store, for "all" as for every flag.
    if (!scan.read_int(value)) return -1;

    if (word == all_keyword) {
        for (const auto& item : select_items) {
            Ifc_SetWrite(item.record, 0, item.slot);
        }
        return 0;
    }
    for (const auto& item : select_items) {
        if (word == item.key) return Ifc_SetWrite(item.record, value, item.slot);
    }
    return -1;
}

int IFC_get_stat(char* buf) {
    return ifc_text::print_token_line(buf, status_items);
}

// "color:%d mode:%d totw_sw:%d", the status answer with changed values.
int IFC_set_stat(char* arg, int len) {
    ifc_text::apply_token_line(arg, len, status_items);
    return 0;
}
