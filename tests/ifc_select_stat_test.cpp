// Device selection and machine status over TCP: answers, changes seen through the read
// command and in the settings file, arguments that must change nothing, and persistence.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/ifc_settings.h"
#include "tests/support/server_process.h"
#include "tests/support/settings_model.h"

namespace {

using test_support::answer_of;
using test_support::expect_no_change;
using test_support::ifc_slot;
using test_support::longest_argument;
using test_support::put_then_get;
namespace rec = test_support::ifc_record;

// The 25 flags in answer order with the slots that hold them: the tests' own table.
const auto& flags = test_support::select_slots;

using flag_values = std::array<std::int32_t, 25>;

std::string selection_answer(const flag_values& values) {
    std::string text;
    for (std::size_t i = 0; i < flags.size(); ++i) {
        text += std::string(flags[i].key) + ":" + std::to_string(values[i]) + " ";
    }
    return text;
}

// Every flag in the settings file holds its expected value, and the slots that belong to no
// flag are untouched.
void expect_flags_in_file(const test_support::server_process& server, const flag_values& values) {
    for (std::size_t i = 0; i < flags.size(); ++i) {
        EXPECT_EQ(ifc_slot(server, flags[i].record, flags[i].slot), values[i]) << flags[i].key;
    }
    EXPECT_EQ(ifc_slot(server, rec::V, 1), 0);
    for (int slot = 3; slot <= 6; ++slot)
        EXPECT_EQ(ifc_slot(server, rec::S4, slot), 0);
}

std::size_t index_of(std::string_view keyword) {
    for (std::size_t i = 0; i < flags.size(); ++i) {
        if (flags[i].key == keyword) return i;
    }
    return flags.size();
}

TEST(IfcSelectStat, DefaultAnswers) {
    test_support::server_process server;
    auto conn = server.connect();
    const std::string selection = answer_of(conn, "IFC_get_select_item");
    EXPECT_EQ(selection, selection_answer({}));
    EXPECT_EQ(selection.size(), 189u);
    EXPECT_TRUE(selection.starts_with("pin:0 abs:0 main:0 tandem:0 stretch:0 sub1:0 sub2:0 "));
    EXPECT_TRUE(selection.ends_with(" sub19:0 sub20:0 "));
    const std::string status = answer_of(conn, "IFC_get_stat");
    EXPECT_EQ(status, "color:1 mode:0 totw_sw:0 ");
    EXPECT_EQ(status.size(), 25u);
}

TEST(IfcSelectStat, EachFlagIsSetInItsOwnSlot) {
    struct change {
        std::string_view argument;
        std::string_view keyword;  // the flag changed
        std::int32_t value;
    };
    // Every flag once, values stored unchanged (no range test), and numbers beyond 32 bits
    // stored as the nearest limit.
    constexpr change changes[] = {
        {"pin:1", "pin", 1},
        {"abs:2", "abs", 2},
        {"main:3", "main", 3},
        {"tandem:4", "tandem", 4},
        {"stretch:5", "stretch", 5},
        {"sub1:6", "sub1", 6},
        {"sub2:7", "sub2", 7},
        {"sub3:8", "sub3", 8},
        {"sub4:9", "sub4", 9},
        {"sub5:10", "sub5", 10},
        {"sub6:11", "sub6", 11},
        {"sub7:12", "sub7", 12},
        {"sub8:13", "sub8", 13},
        {"sub9:14", "sub9", 14},
        {"sub10:15", "sub10", 15},
        {"sub11:16", "sub11", 16},
        {"sub12:17", "sub12", 17},
        {"sub13:18", "sub13", 18},
        {"sub14:19", "sub14", 19},
        {"sub15:20", "sub15", 20},
        {"sub16:21", "sub16", 21},
        {"sub17:22", "sub17", 22},
        {"sub18:23", "sub18", 23},
        {"sub19:24", "sub19", 24},
        {"sub20:-25", "sub20", -25},
        {"pin:7", "pin", 7},
        {"sub1:1 sub2:1", "sub1", 1},  // only the first pair counts
        {"abs:99999999999", "abs", 2147483647},
        {"abs:-99999999999", "abs", -2147483647 - 1},
        {"main:  -12", "main", -12},
        {"tandem:+8 whatever", "tandem", 8},
    };
    test_support::server_process server;
    auto conn = server.connect();
    flag_values expected{};
    for (const auto& c : changes) {
        SCOPED_TRACE(c.argument);
        expected[index_of(c.keyword)] = c.value;
        EXPECT_EQ(put_then_get(conn, "IFC_set_select_item", c.argument, "IFC_get_select_item"),
                  selection_answer(expected));
        expect_flags_in_file(server, expected);
    }
}

TEST(IfcSelectStat, AllClearsEveryFlagWhateverItsValue) {
    test_support::server_process server;
    auto conn = server.connect();
    for (const std::string_view argument : {"all:1", "all:0", "all:-5"}) {
        SCOPED_TRACE(argument);
        for (const auto& f : flags) {
            ASSERT_TRUE(conn.put("IFC_set_select_item", std::string(f.key) + ":1").ok());
        }
        flag_values ones;
        ones.fill(1);
        EXPECT_EQ(answer_of(conn, "IFC_get_select_item"), selection_answer(ones));
        EXPECT_EQ(put_then_get(conn, "IFC_set_select_item", argument, "IFC_get_select_item"),
                  selection_answer({}));
        expect_flags_in_file(server, {});
    }
}

TEST(IfcSelectStat, SelectionArgumentsThatChangeNothing) {
    using namespace std::string_literals;
    expect_no_change("IFC_set_select_item", "IFC_get_select_item", "IFC_set_select_item", "pin:3",
                     {
                         "pin 1",  // no colon
                         "",       // empty
                         "sub21:1",
                         "Pin:1",
                         "PIN:1",
                         "pins:1",
                         "su:1",
                         "sub0:1",  // no keyword
                         "pin:",
                         "pin:x",
                         "pin: x1",
                         "pin:-",
                         ":1",
                         ":",
                         "   :  ",  // no word or no number
                         "all:",
                         "all:x",             // "all" too needs its number
                         "stretchstretch:1",  // longer than every keyword
                         "pin\0:1"s,          // the argument text ends at its first NUL
                         longest_argument("IFC_set_select_item", "", 'a'),
                         longest_argument("IFC_set_select_item", "pin:", '9').replace(3, 1, " "),
                         longest_argument("IFC_set_select_item", "pin", 'n'),
                     });
}

TEST(IfcSelectStat, HugeNumberSaturatesInLongestArgument) {
    test_support::server_process server;
    auto conn = server.connect();
    flag_values expected{};
    expected[index_of("pin")] = 2147483647;
    EXPECT_EQ(
        put_then_get(conn, "IFC_set_select_item",
                     longest_argument("IFC_set_select_item", "pin:", '9'), "IFC_get_select_item"),
        selection_answer(expected));
    expect_flags_in_file(server, expected);
}

TEST(IfcSelectStat, StatusIsSetInItsSlots) {
    struct change {
        std::string_view argument;
        std::array<std::int32_t, 3> values;  // slots 1..3 of "STAT_1" afterwards
    };
    constexpr change changes[] = {
        {"color:3 mode:1 totw_sw:1", {3, 1, 1}},
        {"color:9 mode:-1 totw_sw:2", {9, -1, 2}},  // stored unchanged, no range test
        {"color:2\tmode: 4  totw_sw :5", {2, 4, 5}},
        {"color:4294967296 mode:-4294967296 totw_sw:0", {2147483647, -2147483647 - 1, 0}},
        {"color:6 mode:0 totw_sw:1 color:1", {6, 0, 1}},
        // Values read before the first part that does not match are written, the rest keep
        // theirs.
        {"color:5 mode:x totw_sw:7", {5, 0, 1}},
        {"color:4 mode:8 totw_sw:", {4, 8, 1}},
        {std::string_view("color:7 mode:7\0totw_sw:9", 24), {7, 7, 1}},  // text ends at the NUL
        {"color:1 mode:0 totw_sw:0", {1, 0, 0}},
    };
    test_support::server_process server;
    auto conn = server.connect();
    for (const auto& c : changes) {
        SCOPED_TRACE(c.argument);
        const std::string expected = "color:" + std::to_string(c.values[0]) +
                                     " mode:" + std::to_string(c.values[1]) +
                                     " totw_sw:" + std::to_string(c.values[2]) + " ";
        EXPECT_EQ(put_then_get(conn, "IFC_set_stat", c.argument, "IFC_get_stat"), expected);
        for (int slot = 1; slot <= 3; ++slot) {
            EXPECT_EQ(ifc_slot(server, rec::STAT_1, slot), c.values[slot - 1]) << slot;
        }
    }
}

TEST(IfcSelectStat, StatusArgumentsThatChangeNothing) {
    expect_no_change("IFC_set_stat", "IFC_get_stat", "IFC_set_stat", "color:3 mode:2 totw_sw:1",
                     {
                         "color:4 mode:1",             // two colons
                         "color 4 mode 1 totw_sw 1",   // no colons
                         "",                           // empty
                         "::",                         // no words
                         "colour:4 mode:1 totw_sw:1",  // first word wrong
                         "mode:4 color:1 totw_sw:1",   // wrong order
                         "color:x mode:1 totw_sw:1",   // first number missing
                         " color:4 mode:1 totw_sw:1",  // the pattern starts with "color"
                         longest_argument("IFC_set_stat", "color:", ':'),
                     });
}

TEST(IfcSelectStat, SettingsSurviveARestart) {
    test_support::server_process server;
    {
        auto conn = server.connect();
        ASSERT_TRUE(conn.put("IFC_set_select_item", "sub13:1").ok());
        ASSERT_TRUE(conn.put("IFC_set_select_item", "stretch:1").ok());
        EXPECT_EQ(put_then_get(conn, "IFC_set_stat", "color:5 mode:1 totw_sw:1", "IFC_get_stat"),
                  "color:5 mode:1 totw_sw:1 ");
        conn.disconnect();
    }
    server.restart();
    auto conn = server.connect();
    flag_values expected{};
    expected[index_of("sub13")] = 1;
    expected[index_of("stretch")] = 1;
    EXPECT_EQ(answer_of(conn, "IFC_get_select_item"), selection_answer(expected));
    EXPECT_EQ(answer_of(conn, "IFC_get_stat"), "color:5 mode:1 totw_sw:1 ");
}

}  // namespace
