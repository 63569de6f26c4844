// The default image of the valve table: what a fresh installation answers, and what a missing
// or short "valve_fp.set" is replaced by. Every record holds one value in slots 1..6; records
// are grouped into index ranges that share type, range and group tag.
#include <array>
#include <string_view>

#include "lib/i4_defaults.h"
#include "valve/vfp_ifc.h"

namespace vfp_ifc {

namespace {

constexpr int parameter_count = table_records - 1;

// Record names in table order: the file offset of each record follows from its index.
constexpr std::array<std::string_view, parameter_count> names{
    "VAL_pin_open",         "VAL_use_abs",         "VAL_abs_rel",          "VAL_abs_on",
    "VAL_abs_off",          "VAL_pull_on",         "VAL_ABS_TwK",          "VAL_main_on",
    "VAL_main_off",         "VAL_tandem_on",       "VAL_tandem_off",       "VAL_cutter_on",
    "VAL_cutter_off",       "VAL_cutting_blow_on", "VAL_cutting_blow_off", "VAL_sub1_on",
    "VAL_sub1_off",         "VAL_sub2_on",         "VAL_sub2_off",         "VAL_sub3_on",
    "VAL_sub3_off",         "VAL_sub4_on",         "VAL_sub4_off",         "VAL_sub5_on",
    "VAL_sub5_off",         "VAL_sub6_on",         "VAL_sub6_off",         "VAL_sub7_on",
    "VAL_sub7_off",         "VAL_sub8_on",         "VAL_sub8_off",         "VAL_sub9_on",
    "VAL_sub9_off",         "VAL_sub10_on",        "VAL_sub10_off",        "VAL_sub11_on",
    "VAL_sub11_off",        "VAL_sub12_on",        "VAL_sub12_off",        "VAL_sub13_on",
    "VAL_sub13_off",        "VAL_sub14_on",        "VAL_sub14_off",        "VAL_sub15_on",
    "VAL_sub15_off",        "VAL_sub16_on",        "VAL_sub16_off",        "VAL_sub17_on",
    "VAL_sub17_off",        "VAL_sub18_on",        "VAL_sub18_off",        "VAL_sub19_on",
    "VAL_sub19_off",        "VAL_sub20_on",        "VAL_sub20_off",        "VAL_stretch_on",
    "VAL_stretch_off",      "VAL_strech_blow_on",  "VAL_strech_blow_off",  "VAL_exhaust_main_on",
    "VAL_exhaust_main_off", "VAL_exhaust_s1_on",   "VAL_exhaust_s1_off",   "VAL_exhaust_s2_on",
    "VAL_exhaust_s2_off",   "VAL_exhaust_s3_on",   "VAL_exhaust_s3_off",   "VAL_exhaust_s4_on",
    "VAL_exhaust_s4_off",   "VAL_exhaust_s5_on",   "VAL_exhaust_s5_off",   "VAL_exhaust_s6_on",
    "VAL_exhaust_s6_off",   "VAL_press1",          "VAL_press2",           "VAL_press3",
    "VAL_press4",           "VAL_press5",          "VAL_press6",           "VAL_press7",
    "VAL_press8",           "VAL_press9",          "VAL_press10",          "VAL_press11",
    "VAL_press12",          "VAL_press13",         "VAL_press14",          "VAL_press15",
    "VAL_press16",          "VAL_press17",         "VAL_press18",          "VAL_press19",
    "VAL_press20",          "VAL_stretch_press",   "VAL_air_on",           "VAL_air_off",
    "VAL_absg_on",          "VAL_absg_off",        "VAL_breeze_on",        "VAL_breeze_off",
    "VAL_1st_ctrl",         "VAL_1st_twi",         "VAL_1st_subN",         "VAL_1st_main_on",
    "VAL_1st_main_off",     "VAL_1st_tandem_on",   "VAL_1st_tandem_off",   "VAL_1st_abs_on",
    "VAL_1st_abs_off",      "VAL_1st_apc_drop",    "VAL_1st_apc_drop_MPA",
};

// Records first..last share these defaults.
struct index_range {
    int first;
    int last;
    std::int32_t type;
    std::int32_t value;  // slots 1..6; the sub-nozzle records take theirs from sub_on_off
    std::int32_t min;
    std::int32_t max;
    std::string_view group;
};

constexpr int first_sub_record = 15;  // "VAL_sub1_on"
constexpr int last_sub_record = 54;   // "VAL_sub20_off"

constexpr std::array<index_range, 27> ranges{{
    {0, 0, 1, 70, 0, 359, "g1"},     // pin
    {1, 1, 1, 0, 0, 359, "g2"},      // abs
    {2, 2, 1, 50, 0, 200, "g2"},     //
    {3, 3, 1, 215, 0, 359, "g2"},    //
    {4, 4, 1, 255, 0, 359, "g2"},    //
    {5, 5, 1, 350, 0, 359, "g2"},    //
    {6, 6, 1, 230, 0, 359, "g2"},    //
    {7, 7, 1, 90, 0, 359, "g1"},     // main and tandem
    {8, 8, 1, 160, 0, 359, "g1"},    //
    {9, 9, 1, 95, 0, 359, "g1"},     //
    {10, 10, 1, 150, 0, 359, "g1"},  //
    {11, 11, 1, 20, 0, 359, "g3"},   // cutter and cutting blow
    {12, 12, 1, 180, 0, 359, "g3"},  //
    {13, 13, 1, 30, 0, 359, "g3"},   //
    {14, 14, 1, 60, 0, 359, "g3"},   //
    {first_sub_record, last_sub_record, 1, 0, 0, 359, "g4"},
    {55, 58, 1, 0, 0, 359, "g4"},  // stretch and stretch blow
    {59, 72, 1, 0, 0, 359, "g5"},  // exhaust
    {73, 93, 1, 0, 0, 359, "g4"},  // pressures
    {94, 99, 1, 0, 0, 300, "g5"},  // air, absg, breeze
    {100, 100, 1, 0, 0, 1, "g5"},  // first-pick control
    {101, 101, 1, 220, 190, 280, "g5"},
    {102, 102, 1, 2, 1, 2, "g5"},
    {103, 106, 1, 0, 0, 359, "g1"},
    {107, 108, 1, 0, 0, 359, "g2"},
    {109, 109, 2, 0, -10, 0, "g5"},
    {110, 110, 3, 0, -10, 0, "g5"},
}};

// On and off value of sub n at index n - 1; the on record of sub n is record 13 + 2n, its off
// record 14 + 2n. Subs 9 to 20 default to 0.
constexpr std::array<std::array<std::int32_t, 2>, 20> sub_on_off{{
    {95, 135},
    {115, 155},
    {135, 175},
    {150, 190},
    {165, 205},
    {185, 280},
    {200, 300},
    {220, 300},
}};

constexpr std::int32_t default_value(int index, const index_range& range) {
    if (index < first_sub_record || index > last_sub_record) return range.value;
    const int sub = (index - 13) / 2;
    return sub_on_off[sub - 1][(index - 13) % 2];
}

constexpr std::array<i4_item, table_records> build_image() {
    std::array<i4_item, table_records> image{};
    int next = 0;
    for (const index_range& range : ranges) {
        if (range.first != next || range.last < range.first) throw "ranges must follow each other";
        for (int i = range.first; i <= range.last; ++i) {
            image[i] = make_i4_item(range.type, names[i], same_slots(default_value(i, range)),
                                    range.min, range.max, range.group);
        }
        next = range.last + 1;
    }
    if (next != parameter_count) throw "ranges must cover every parameter";
    return image;  // the last record stays all zero: the terminator
}

constexpr bool values_within_limits(const std::array<i4_item, table_records>& image) {
    for (int i = 0; i < parameter_count; ++i) {
        for (int slot = 1; slot < i4_slot_count; ++slot) {
            const std::int32_t v = image[i].value[slot];
            if (v < image[i].min || v > image[i].max) return false;
        }
    }
    return true;
}

}  // namespace

constexpr std::array<i4_item, table_records> i4_init = build_image();

static_assert(sizeof(i4_init) == image_size && image_size == 8960);
static_assert(is_default_image(i4_init));
static_assert(values_within_limits(i4_init));

}  // namespace vfp_ifc
