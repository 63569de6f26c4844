// The default images, byte for byte, against images built here from the published tables of
// defaults (not from the code under test), both in memory and as the files a fresh
// installation writes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "ifc/ifc_net.h"
#include "tests/support/files.h"
#include "tests/support/workdir.h"
#include "valve/vfp_ifc.h"

namespace {

using test_support::int32_at;
using test_support::read_file;

void put_le32(std::string& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>(u >> shift));
}

void put_text(std::string& out, const std::string& text, std::size_t field) {
    ASSERT_LT(text.size(), field);
    out += text;
    out.append(field - text.size(), '\0');
}

// One 80-byte record: type, name[28], slot 0 (always 0), slots 1..6, min, max, group[12].
std::string golden_record(std::int32_t type, const std::string& name,
                          const std::array<std::int32_t, 6>& slots, std::int32_t min,
                          std::int32_t max, const std::string& group) {
    std::string out;
    put_le32(out, type);
    put_text(out, name, 28);
    put_le32(out, 0);
    for (std::int32_t v : slots)
        put_le32(out, v);
    put_le32(out, min);
    put_le32(out, max);
    put_text(out, group, 12);
    EXPECT_EQ(out.size(), 80u);
    return out;
}

std::array<std::int32_t, 6> all(std::int32_t v) {
    return {v, v, v, v, v, v};
}

const std::string terminator(80, '\0');

std::string golden_interface_image() {
    std::string out;
    out += golden_record(1, "Tot", all(90), 50, 150, "");
    out += golden_record(1, "Twt", all(240), 190, 290, "");
    out += golden_record(1, "STAT_1", {1, 0, 0, 0, 0, 0}, 0, 6, "");
    out += golden_record(1, "STAT_2", {10, 1, 10, 2, 0, 0}, 0, 6, "");
    for (const char* name : {"V", "S1", "S2", "S3", "S4"}) {
        out += golden_record(1, name, all(0), 0, 1, "");
    }
    return out + terminator;
}

std::string golden_valve_image() {
    std::string out;
    auto add = [&](const std::string& name, std::int32_t value, std::int32_t min, std::int32_t max,
                   const std::string& group, std::int32_t type = 1) {
        out += golden_record(type, name, all(value), min, max, group);
    };
    add("VAL_pin_open", 70, 0, 359, "g1");
    add("VAL_use_abs", 0, 0, 359, "g2");
    add("VAL_abs_rel", 50, 0, 200, "g2");
    add("VAL_abs_on", 215, 0, 359, "g2");
    add("VAL_abs_off", 255, 0, 359, "g2");
    add("VAL_pull_on", 350, 0, 359, "g2");
    add("VAL_ABS_TwK", 230, 0, 359, "g2");
    add("VAL_main_on", 90, 0, 359, "g1");
    add("VAL_main_off", 160, 0, 359, "g1");
    add("VAL_tandem_on", 95, 0, 359, "g1");
    add("VAL_tandem_off", 150, 0, 359, "g1");
    add("VAL_cutter_on", 20, 0, 359, "g3");
    add("VAL_cutter_off", 180, 0, 359, "g3");
    add("VAL_cutting_blow_on", 30, 0, 359, "g3");
    add("VAL_cutting_blow_off", 60, 0, 359, "g3");
    const std::int32_t sub_on[] = {95, 115, 135, 150, 165, 185, 200, 220};
    const std::int32_t sub_off[] = {135, 155, 175, 190, 205, 280, 300, 300};
    for (int n = 1; n <= 20; ++n) {
        add("VAL_sub" + std::to_string(n) + "_on", n <= 8 ? sub_on[n - 1] : 0, 0, 359, "g4");
        add("VAL_sub" + std::to_string(n) + "_off", n <= 8 ? sub_off[n - 1] : 0, 0, 359, "g4");
    }
    for (const char* name :
         {"VAL_stretch_on", "VAL_stretch_off", "VAL_strech_blow_on", "VAL_strech_blow_off"}) {
        add(name, 0, 0, 359, "g4");
    }
    add("VAL_exhaust_main_on", 0, 0, 359, "g5");
    add("VAL_exhaust_main_off", 0, 0, 359, "g5");
    for (int n = 1; n <= 6; ++n) {
        add("VAL_exhaust_s" + std::to_string(n) + "_on", 0, 0, 359, "g5");
        add("VAL_exhaust_s" + std::to_string(n) + "_off", 0, 0, 359, "g5");
    }
    for (int n = 1; n <= 20; ++n)
        add("VAL_press" + std::to_string(n), 0, 0, 359, "g4");
    add("VAL_stretch_press", 0, 0, 359, "g4");
    for (const char* name : {"VAL_air_on", "VAL_air_off", "VAL_absg_on", "VAL_absg_off",
                             "VAL_breeze_on", "VAL_breeze_off"}) {
        add(name, 0, 0, 300, "g5");
    }
    add("VAL_1st_ctrl", 0, 0, 1, "g5");
    add("VAL_1st_twi", 220, 190, 280, "g5");
    add("VAL_1st_subN", 2, 1, 2, "g5");
    for (const char* name :
         {"VAL_1st_main_on", "VAL_1st_main_off", "VAL_1st_tandem_on", "VAL_1st_tandem_off"}) {
        add(name, 0, 0, 359, "g1");
    }
    add("VAL_1st_abs_on", 0, 0, 359, "g2");
    add("VAL_1st_abs_off", 0, 0, 359, "g2");
    add("VAL_1st_apc_drop", 0, -10, 0, "g5", 2);
    add("VAL_1st_apc_drop_MPA", 0, -10, 0, "g5", 3);
    return out + terminator;
}

template <class Image>
std::string bytes_of(const Image& image) {
    return std::string(reinterpret_cast<const char*>(image.data()), sizeof(image));
}

// The index of the first differing record, for a readable failure message.
int first_different_record(const std::string& a, const std::string& b) {
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (a[i] != b[i]) return static_cast<int>(i / 80);
    }
    return a.size() == b.size() ? -1 : static_cast<int>(std::min(a.size(), b.size()) / 80);
}

TEST(DefaultImages, MatchTheTablesOfDefaultsByteForByte) {
    const std::string ifc = golden_interface_image();
    const std::string vfp = golden_valve_image();
    ASSERT_EQ(ifc.size(), 800u);
    ASSERT_EQ(vfp.size(), 8960u);
    EXPECT_EQ(first_different_record(bytes_of(ifc_net::i4_init), ifc), -1);
    EXPECT_EQ(first_different_record(bytes_of(vfp_ifc::i4_init), vfp), -1);
}

TEST(DefaultImages, FreshSettingsFilesAreTheDefaultImages) {
    test_support::scoped_workdir dir;
    std::int32_t v = -1;
    EXPECT_EQ(Ifc_SetRead("STAT_2", &v, 1), 0);
    EXPECT_EQ(v, 10);  // above the record's max of 6, served as it is
    const auto ifc = read_file(dir.file("ifc_set.set"));
    ASSERT_TRUE(ifc.has_value());
    EXPECT_EQ(ifc->substr(0, 8), std::string("\x01\x00\x00\x00\x54\x6F\x74\x00", 8));
    EXPECT_EQ(first_different_record(*ifc, golden_interface_image()), -1);
    EXPECT_EQ(ifc->substr(720), terminator);

    EXPECT_EQ(VfpRead("VAL_pin_open", &v, 1), 0);
    EXPECT_EQ(v, 70);
    const auto vfp = read_file(dir.file("valve_fp.set"));
    ASSERT_TRUE(vfp.has_value());
    EXPECT_EQ(first_different_record(*vfp, golden_valve_image()), -1);
    EXPECT_EQ(vfp->substr(68, 4), std::string("g1\0\0", 4));
    EXPECT_EQ(vfp->substr(8880), terminator);
    // Records 109 and 110: types 2 and 3, min -10 (F6 FF FF FF), max 0.
    EXPECT_EQ(vfp->substr(80 * 109, 4), std::string("\x02\x00\x00\x00", 4));
    EXPECT_EQ(vfp->substr(80 * 110, 4), std::string("\x03\x00\x00\x00", 4));
    EXPECT_EQ(vfp->substr(80 * 109 + 60, 8), std::string("\xF6\xFF\xFF\xFF\x00\x00\x00\x00", 8));
    EXPECT_EQ(int32_at(*vfp, 80 * 110 + 60), -10);
}

TEST(DefaultImages, FreshInstallationReadsDefaultValues) {
    test_support::scoped_workdir dir;
    struct read_case {
        int (*read)(const char*, std::int32_t*, int);
        const char* name;
        int slot;
        std::int32_t expected;
    };
    const read_case cases[] = {
        {Ifc_SetRead, "Tot", 1, 90},       {Ifc_SetRead, "Twt", 6, 240},
        {Ifc_SetRead, "STAT_2", 3, 10},    {Ifc_SetRead, "STAT_2", 4, 2},
        {Ifc_SetRead, "Tot", 0, 0},        {Ifc_SetRead, "S4", 2, 0},
        {VfpRead, "VAL_sub8_off", 6, 300}, {VfpRead, "VAL_sub6_off", 1, 280},
        {VfpRead, "VAL_1st_twi", 3, 220},  {VfpRead, "VAL_1st_apc_drop_MPA", 1, 0},
        {VfpRead, "VAL_pin_open", 0, 0},   {VfpRead, "VAL_sub1_on", 0, 0},
    };
    for (const auto& c : cases) {
        std::int32_t v = -12345;
        EXPECT_EQ(c.read(c.name, &v, c.slot), 0) << c.name;
        EXPECT_EQ(v, c.expected) << c.name << " slot " << c.slot;
    }
    for (int n = 9; n <= 20; ++n) {
        for (const char* side : {"_on", "_off"}) {
            const std::string name = "VAL_sub" + std::to_string(n) + side;
            for (int colour = 1; colour <= 6; ++colour) {
                std::int32_t v = -1;
                EXPECT_EQ(VfpRead(name.c_str(), &v, colour), 0);
                EXPECT_EQ(v, 0) << name << " colour " << colour;
            }
        }
    }
}

}  // namespace
