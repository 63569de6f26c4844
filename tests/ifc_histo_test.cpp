// Arrival histograms over TCP: the side selection seen through its read command and in the
// settings file, the simulated histograms, the clear and settings requests' diagnostic lines
// on standard output, arguments that must change nothing, and persistence.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/ether_parse.h"
#include "server/tcp9002.h"
#include "tests/support/ifc_settings.h"
#include "tests/support/server_process.h"

namespace {

using test_support::answer_of;
using test_support::expect_no_change;
using test_support::ifc_slot;
using test_support::longest_argument;
using test_support::put_then_get;
namespace rec = test_support::ifc_record;

constexpr std::string_view left_histogram =
    "234 500 4.65 190 500 0 0 0 0 0 0 0 0 0 0 0 0 0 0 10 30 50 120 160 210 250 280 290 300 290 "
    "280 250 210 160 120 50 30 10 0 0 0 0 0 0 0 0 0 0 0 0 0";
constexpr std::string_view right_histogram =
    "234 500 4.52 190 500 0 0 0 0 0 0 0 0 0 0 0 0 0 0 10 30 50 120 160 210 250 280 290 300 290 "
    "280 250 210 160 120 50 30 10 0 0 0 0 0 0 0 0 0 0 0 0 0";

TEST(IfcHisto, DefaultAnswers) {
    test_support::server_process server;
    auto conn = server.connect();
    EXPECT_EQ(answer_of(conn, "IFC_get_hst_select"), "1 tw 2 tw");
    const std::string left = answer_of(conn, "IFC_get_hist_cntdatL");
    EXPECT_EQ(left, left_histogram);
    EXPECT_EQ(left.size(), 144u);
    const std::string right = answer_of(conn, "IFC_get_hist_cntdatR");
    EXPECT_EQ(right, right_histogram);
    EXPECT_EQ(right.size(), 144u);
}

TEST(IfcHisto, SelectionChangesColourAndItemIndependently) {
    struct change {
        std::string_view argument;
        std::array<std::int32_t, 4> slots;  // "STAT_2" slots 1..4 afterwards
        std::string_view answer;
    };
    constexpr change changes[] = {
        {"LEFT 3 tbw", {9, 3, 10, 2}, "3 tbw 2 tw"},
        {"RIGHT 6 tw_tbw ", {9, 3, 11, 6}, "3 tbw 6 tw_tbw"},  // 15 bytes: the longest
        {"left 5 to", {9, 3, 0, 5}, "3 tbw 5 to"},     // any word but "LEFT" is the right side
        {"RIGHT 7 tb1", {9, 3, 1, 5}, "3 tbw 5 tb1"},  // colour outside 1..6: item only
        {"LEFT 2 xx", {9, 2, 1, 5}, "2 tbw 5 tb1"},    // unknown key: colour only
        {"LEFT 0 tb8", {8, 2, 1, 5}, "2 tb8 5 tb1"},
        {"LEFT -1 tb2", {2, 2, 1, 5}, "2 tb2 5 tb1"},
        {"LEFT 6 TW", {2, 6, 1, 5}, "6 tb2 5 tb1"},        // keys are case-sensitive
        {"LEFT 1", {2, 1, 1, 5}, "1 tb2 5 tb1"},           // no key: colour only
        {"x 9999999999 tw", {2, 1, 10, 5}, "1 tb2 5 tw"},  // saturates, outside 1..6
        {" \tLEFT  4\t tb3", {3, 4, 10, 5}, "4 tb3 5 tw"},
        {"Right 6 tb4 tb5", {3, 4, 4, 6}, "4 tb3 6 tb4"},
    };
    test_support::server_process server;
    auto conn = server.connect();
    for (const auto& c : changes) {
        SCOPED_TRACE(c.argument);
        EXPECT_EQ(put_then_get(conn, "IFC_hst_select_item", c.argument, "IFC_get_hst_select"),
                  c.answer);
        for (int slot = 1; slot <= 4; ++slot) {
            EXPECT_EQ(ifc_slot(server, rec::STAT_2, slot), c.slots[slot - 1]) << slot;
        }
        // Colour and item do not change the simulated histograms.
        EXPECT_EQ(answer_of(conn, "IFC_get_hist_cntdatL"), left_histogram);
        EXPECT_EQ(answer_of(conn, "IFC_get_hist_cntdatR"), right_histogram);
    }
}

TEST(IfcHisto, SelectionArgumentsThatChangeNothing) {
    expect_no_change("IFC_hst_select_item", "IFC_get_hst_select", "IFC_hst_select_item",
                     "LEFT 3 tbw",
                     {
                         "RIGHT 6 tw_tbw 1",  // 16 bytes: over the limit
                         "LEFT 4 tb4      ",  // 16 bytes
                         "",                  // empty
                         "LEFT",              // no colour
                         "   ",               // blanks only
                         "LEFT x tw",         // colour not a number: the item is not read
                         "LEFT 9 xx",         // neither valid
                         "RIGHT 0 TW",        // neither valid
                         std::string("LEFT\0 2 tw", 10),  // the text ends at the NUL
                         longest_argument("IFC_hst_select_item", "LEFT 2 tw ", ' '),
                     });
}

// The clear and settings requests print their lines on standard output whatever the debug
// flags say; the loop's flush before the next accept makes them visible.
TEST(IfcHisto, ClearAndSetPrintTheirLinesWithoutAGate) {
    test_support::server_options options;
    options.child_setup = [] {
        deb_tcp9002 = 0;
        deb_ether_parse = 0;
    };
    test_support::server_process server(options);
    struct request {
        std::string_view command;
        std::string_view argument;
    };
    constexpr request requests[] = {
        {"IFC_hst_clear", "1 tw"},
        {"IFC_hst_clear", "1 tw_tbw"},
        {"IFC_hst_clear", "-3 tb8"},       // the colour is not tested
        {"IFC_hst_clear", "1 tw      "},   // 10 bytes: the longest
        {"IFC_hst_clear", "1 xx"},         // unknown key: nothing
        {"IFC_hst_clear", "1 tw       "},  // 11 bytes: nothing
        {"IFC_hst_clear", "12345678901"},
        {"IFC_hst_clear", ""},
        {"IFC_hst_clear", "x tw"},
        {"IFC_hst_clear", "1"},
        {"IFC_hst_clear", "999999 to"},  // 9 bytes: fits in 32 bits
        {"IFC_hst_set", "1 tw 5 2 tbw 5 100"},
        {"IFC_hst_set", "1 tw 5 2 zz 5 100"},  // unknown key: index 0
        {"IFC_hst_set", "4 TW -5 6 tw_tbw 0 -7"},
        {"IFC_hst_set", "1 tw 5 2 tbw 5 100              "},   // 32 bytes: the longest
        {"IFC_hst_set", "1 tw 5 2 tbw 5 100               "},  // 33 bytes: nothing
        // Fields missing at the end are passed on as 0.
        {"IFC_hst_set", "3 tb2"},
        {"IFC_hst_set", "3 tb2 4 5 tb3 6"},
        {"IFC_hst_set", ""},
        // Beyond 32 bits: the nearest limit.
        {"IFC_hst_set", "99999999999 to 1 2 to 3 -1e99"},
        {"IFC_hst_clear", "6 to"},
    };
    const std::vector<std::string> clear_lines{
        "clear_histo: color=1, item_no=10",     "clear_histo: color=1, item_no=11",
        "clear_histo: color=-3, item_no=8",     "clear_histo: color=1, item_no=10",
        "clear_histo: color=999999, item_no=0", "clear_histo: color=6, item_no=0",
    };
    const std::vector<std::string> set_lines{
        "set_histo(L c=1, i=10, t=5, R c=2, i=9, t=5, samp=100)",
        "set_histo(L c=1, i=10, t=5, R c=2, i=0, t=5, samp=100)",
        "set_histo(L c=4, i=0, t=-5, R c=6, i=11, t=0, samp=-7)",
        "set_histo(L c=1, i=10, t=5, R c=2, i=9, t=5, samp=100)",
        "set_histo(L c=3, i=2, t=0, R c=0, i=0, t=0, samp=0)",
        "set_histo(L c=3, i=2, t=4, R c=5, i=3, t=6, samp=0)",
        "set_histo(L c=0, i=0, t=0, R c=0, i=0, t=0, samp=0)",
        "set_histo(L c=2147483647, i=0, t=1, R c=2, i=0, t=3, samp=-1)",
    };
    {
        auto conn = server.connect();
        for (const auto& r : requests)
            ASSERT_TRUE(conn.put(r.command, r.argument).ok());
        EXPECT_TRUE(conn.ping().ok());
        conn.disconnect();
    }
    ASSERT_TRUE(server.wait_for_stdout("clear_histo: color=6, item_no=0\n"));
    EXPECT_EQ(test_support::stdout_lines_starting(server, "clear_histo"), clear_lines);
    EXPECT_EQ(test_support::stdout_lines_starting(server, "set_histo"), set_lines);
}

TEST(IfcHisto, SelectionSurvivesARestart) {
    test_support::server_process server;
    {
        auto conn = server.connect();
        ASSERT_TRUE(conn.put("IFC_hst_select_item", "LEFT 4 tb4").ok());
        EXPECT_EQ(put_then_get(conn, "IFC_hst_select_item", "RIGHT 5 tb5", "IFC_get_hst_select"),
                  "4 tb4 5 tb5");
        conn.disconnect();
    }
    server.restart();
    auto conn = server.connect();
    EXPECT_EQ(answer_of(conn, "IFC_get_hst_select"), "4 tb4 5 tb5");
}

}  // namespace
