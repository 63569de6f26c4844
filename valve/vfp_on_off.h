// The keys of the valve on/off timing commands and the valve records behind them.
#pragma once

#include <array>
#include <string_view>

struct cj_pair {
    const char* record;  // record name in the valve table
    const char* key;     // key in the command text
};

// Token order of every answer of the read commands. Groups 19 and 20 are in the valve table
// but not here, so these commands neither show nor change them. Ends with two empty texts.
inline constexpr std::array cj{
    cj_pair{"VAL_pin_open", "pin_on"},         cj_pair{"VAL_abs_on", "abs_on"},
    cj_pair{"VAL_abs_off", "abs_off"},         cj_pair{"VAL_main_on", "main_on"},
    cj_pair{"VAL_main_off", "main_off"},       cj_pair{"VAL_tandem_on", "tandem_on"},
    cj_pair{"VAL_tandem_off", "tandem_off"},   cj_pair{"VAL_stretch_on", "stretch_on"},
    cj_pair{"VAL_stretch_off", "stretch_off"}, cj_pair{"VAL_sub1_on", "sub1_on"},
    cj_pair{"VAL_sub1_off", "sub1_off"},       cj_pair{"VAL_sub2_on", "sub2_on"},
    cj_pair{"VAL_sub2_off", "sub2_off"},       cj_pair{"VAL_sub3_on", "sub3_on"},
    cj_pair{"VAL_sub3_off", "sub3_off"},       cj_pair{"VAL_sub4_on", "sub4_on"},
    cj_pair{"VAL_sub4_off", "sub4_off"},       cj_pair{"VAL_sub5_on", "sub5_on"},
    cj_pair{"VAL_sub5_off", "sub5_off"},       cj_pair{"VAL_sub6_on", "sub6_on"},
    cj_pair{"VAL_sub6_off", "sub6_off"},       cj_pair{"VAL_sub7_on", "sub7_on"},
    cj_pair{"VAL_sub7_off", "sub7_off"},       cj_pair{"VAL_sub8_on", "sub8_on"},
    cj_pair{"VAL_sub8_off", "sub8_off"},       cj_pair{"VAL_sub9_on", "sub9_on"},
    cj_pair{"VAL_sub9_off", "sub9_off"},       cj_pair{"VAL_sub10_on", "sub10_on"},
    cj_pair{"VAL_sub10_off", "sub10_off"},     cj_pair{"VAL_sub11_on", "sub11_on"},
    cj_pair{"VAL_sub11_off", "sub11_off"},     cj_pair{"VAL_sub12_on", "sub12_on"},
    cj_pair{"VAL_sub12_off", "sub12_off"},     cj_pair{"VAL_sub13_on", "sub13_on"},
    cj_pair{"VAL_sub13_off", "sub13_off"},     cj_pair{"VAL_sub14_on", "sub14_on"},
    cj_pair{"VAL_sub14_off", "sub14_off"},     cj_pair{"VAL_sub15_on", "sub15_on"},
    cj_pair{"VAL_sub15_off", "sub15_off"},     cj_pair{"VAL_sub16_on", "sub16_on"},
    cj_pair{"VAL_sub16_off", "sub16_off"},     cj_pair{"VAL_sub17_on", "sub17_on"},
    cj_pair{"VAL_sub17_off", "sub17_off"},     cj_pair{"VAL_sub18_on", "sub18_on"},
    cj_pair{"VAL_sub18_off", "sub18_off"},     cj_pair{"", ""},
};
static_assert(cj.size() == 45 + 1);

// Every key but the pin's is its record name without "VAL_" (the pin's record is the opening
// angle): a slip in the table would silently point a key at no record, or at another one.
constexpr bool cj_keys_follow_records() {
    using namespace std::string_view_literals;
    for (const cj_pair& pair : cj) {
        const std::string_view record = pair.record;
        const std::string_view key = pair.key;
        if (record.empty()) return key.empty() && &pair == &cj.back();
        if (record == "VAL_pin_open"sv) {
            if (key != "pin_on"sv) return false;
        } else if (!record.starts_with("VAL_"sv) || record.substr(4) != key) {
            return false;
        }
    }
    return false;
}
static_assert(cj_keys_follow_records());
