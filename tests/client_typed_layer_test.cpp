// The client library's typed layer: token lines and the operator's changes, histogram
// answers and arguments, and the command names and keys checked against a real server.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "client/commands.h"
#include "client/histogram.h"
#include "client/settings_access.h"
#include "client/token_line.h"
#include "client/value_ranges.h"
#include "ifc/ifc_net.h"
#include "tests/support/ifc_settings.h"
#include "tests/support/server_process.h"
#include "tools/escape.h"
#include "tools/suggest.h"
#include "valve/vfp_ifc.h"
#include "valve/vfp_on_off.h"

namespace {

using ifc_client::change;
using ifc_client::errc;
using ifc_client::token;
namespace cmd = ifc_client::commands;

TEST(ClientTokenLine, ReadsWhatTheServerWritesAndWritesItBackByteForByte) {
    for (std::string_view text :
         {"color:1 mode:0 totw_sw:0 ", "to:90 tw:240 ", "to:-2147483648 tw:2147483647 ",
          "ATC_TO_DELAY:0 pin_on:70 ", ""}) {
        SCOPED_TRACE(text);
        auto line = ifc_client::parse_token_line(text);
        ASSERT_TRUE(line.ok()) << line.failure().detail;
        EXPECT_EQ(ifc_client::format_token_line(line.value()), text);
    }
    auto line = ifc_client::parse_token_line("to:95 tw:-5 ");
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(line.value(), (ifc_client::token_line{{"to", 95}, {"tw", -5}}));
}

TEST(ClientTokenLine, ToleratesOtherSpacingButNothingElse) {
    auto spaced = ifc_client::parse_token_line("  to:1   tw:2");
    ASSERT_TRUE(spaced.ok());
    EXPECT_EQ(spaced.value(), (ifc_client::token_line{{"to", 1}, {"tw", 2}}));

    for (std::string_view bad : {"to", "to: ", ":5 ", "to:x ", "to:1:2 ", "to:+1 ",
                                 "to:2147483648 ", "to:1\ntw:2 ", "to:1 tw "}) {
        SCOPED_TRACE(bad);
        auto line = ifc_client::parse_token_line(bad);
        ASSERT_FALSE(line.ok());
        EXPECT_EQ(line.code(), errc::protocol);
    }
}

TEST(ClientChanges, ParsesKeyValueWordsAndRefusesTheRest) {
    struct good {
        std::string_view word;
        std::string_view key;
        std::int32_t value;
    };
    for (const good& g : {good{"main_on=100", "main_on", 100}, good{"to:95", "to", 95},
                          good{"tw=-5", "tw", -5}, good{"a=2147483647", "a", 2147483647}}) {
        auto c = ifc_client::parse_change(g.word);
        ASSERT_TRUE(c.ok()) << g.word;
        EXPECT_EQ(c->key, g.key);
        EXPECT_EQ(c->value, g.value);
    }
    for (std::string_view bad : {"main_on", "=5", "main_on=", "main_on=1x", "main_on= 1",
                                 "main_on=99999999999", "main_on=1.5"}) {
        auto c = ifc_client::parse_change(bad);
        ASSERT_FALSE(c.ok()) << bad;
        EXPECT_EQ(c.code(), errc::bad_request) << bad;
    }
}

TEST(ClientChanges, ChangeOnlyTheNamedKeysAndRefuseUnknownOnes) {
    const ifc_client::token_line line{{"ATC_TO_DELAY", 0}, {"pin_on", 70}, {"main_on", 90}};
    const std::vector<change> changes{{"main_on", 100}, {"pin_on", 1}, {"main_on", 120}};
    auto changed = ifc_client::apply_changes(line, changes, cmd::valve_keys, "valve key");
    ASSERT_TRUE(changed.ok());
    // The later change of a key wins; the constant item keeps its value.
    EXPECT_EQ(changed.value(),
              (ifc_client::token_line{{"ATC_TO_DELAY", 0}, {"pin_on", 1}, {"main_on", 120}}));

    const std::vector<change> unknown{{"main_on", 1}, {"sub19_on", 5}};
    auto refused = ifc_client::apply_changes(line, unknown, cmd::valve_keys, "valve key");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.code(), errc::bad_request);
    EXPECT_NE(refused.failure().detail.find("unknown valve key 'sub19_on'"), std::string::npos);
    const std::vector<change> constant{{"ATC_TO_DELAY", 5}};
    EXPECT_EQ(ifc_client::apply_changes(line, constant, cmd::valve_keys, "valve key").code(),
              errc::bad_request);
    // A writable key that the server's answer lacks: the answer is not what it should be.
    const std::vector<change> absent{{"sub18_off", 5}};
    EXPECT_EQ(ifc_client::apply_changes(line, absent, cmd::valve_keys, "valve key").code(),
              errc::protocol);
}

TEST(ClientChanges, ReadBackShowsWhichRequestedValuesAreMissing) {
    const ifc_client::token_line after{{"to", 95}, {"tw", 240}};
    const std::vector<change> changes{{"to", 1}, {"to", 95}, {"tw", 245}, {"xx", 3}};
    const auto missed = ifc_client::unapplied(after, changes);
    ASSERT_EQ(missed.size(), 2u);
    EXPECT_EQ(missed[0].key, "tw");
    EXPECT_EQ(missed[0].wanted, 245);
    EXPECT_EQ(missed[0].found, 240);
    EXPECT_EQ(missed[1].key, "xx");
    EXPECT_FALSE(missed[1].found.has_value());
}

TEST(ClientHistogram, ReadsTheAnswerAndRefusesOtherShapes) {
    test_support::server_process server;
    auto conn = server.connect();
    const std::string text = test_support::answer_of(conn, cmd::get_histogram_left);
    auto h = ifc_client::parse_histogram(text);
    ASSERT_TRUE(h.ok()) << h.failure().detail;
    EXPECT_EQ(h->answer, text);
    const std::vector<std::string> texts{"234", "500", "4.65", "190", "500"};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(h->summary[i].text, texts[i]);
        EXPECT_EQ(h->summary[i].whole, i != 2);
    }
    EXPECT_DOUBLE_EQ(h->summary[2].value, 4.65);
    EXPECT_EQ(h->bins[13], 0);
    EXPECT_EQ(h->bins[14], 10);
    EXPECT_EQ(h->bins[23], 300);
    EXPECT_EQ(h->bins[45], 0);

    auto negative = ifc_client::parse_histogram("234 500 -1.25 " + text.substr(13));
    ASSERT_TRUE(negative.ok());
    EXPECT_EQ(negative->summary[2].value, -1.25);
    for (const std::string& bad :
         {text + " 0", text.substr(0, text.rfind(' ')), text + " ", " " + text,
          "234 500 4.6 " + text.substr(13), "234 500 4,65 " + text.substr(13),
          "234 500 .65 " + text.substr(13), "234 500 -.65 " + text.substr(13),
          "234 500 1.6x " + text.substr(13), "234.0 500 4.65 " + text.substr(13),
          "234 500 4.65 190 500 x" + text.substr(21), std::string("1 tw 2 tw")}) {
        auto parsed = ifc_client::parse_histogram(bad);
        ASSERT_FALSE(parsed.ok()) << bad;
        EXPECT_EQ(parsed.code(), errc::protocol);
    }
}

TEST(ClientHistogram, SelectionAnswerAndArguments) {
    auto s = ifc_client::parse_histogram_selection("3 tbw 6 tw_tbw");
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s->left.colour, 3);
    EXPECT_EQ(s->left.item, "tbw");
    EXPECT_EQ(s->of(ifc_client::histogram_side::right).colour, 6);
    EXPECT_EQ(s->right.item, "tw_tbw");
    for (std::string_view bad : {"1 tw 2", "1 tw 2 tw ", "x tw 2 tw", "1  tw 2 tw"}) {
        EXPECT_FALSE(ifc_client::parse_histogram_selection(bad).ok()) << bad;
    }

    using ifc_client::histogram_side;
    // The longest selection argument fits the server's 15 bytes.
    auto longest = ifc_client::histogram_selection_argument(histogram_side::right, 6, "tw_tbw");
    ASSERT_TRUE(longest.ok());
    EXPECT_EQ(longest.value(), "RIGHT 6 tw_tbw");
    EXPECT_EQ(ifc_client::histogram_selection_argument(histogram_side::left, 3, "tbw").value(),
              "LEFT 3 tbw");
    EXPECT_EQ(ifc_client::histogram_selection_argument(histogram_side::left, 7, "tw").code(),
              errc::bad_request);
    EXPECT_EQ(ifc_client::histogram_selection_argument(histogram_side::left, 1, "TW").code(),
              errc::bad_request);
    EXPECT_EQ(ifc_client::histogram_clear_argument(1, "tw_tbw").value(), "1 tw_tbw");
    EXPECT_EQ(ifc_client::histogram_clear_argument(0, "tw").code(), errc::bad_request);

    ifc_client::histogram_settings settings{1, "tw", 5, 2, "tbw", 5, 100};
    EXPECT_EQ(ifc_client::histogram_settings_argument(settings).value(), "1 tw 5 2 tbw 5 100");
    // The server ignores an argument of more than 32 bytes: refused before sending.
    settings = {1, "tw_tbw", -2147483647, 2, "tw_tbw", 5, 100};
    EXPECT_EQ(ifc_client::histogram_settings_argument(settings).code(), errc::bad_request);
}

TEST(ClientCommands, PerColourNames) {
    EXPECT_EQ(cmd::get_targets(2), "IFC_get_Tot_Twt_2");
    EXPECT_EQ(cmd::set_targets(6), "IFC_set_to_tw_6");
    EXPECT_EQ(cmd::get_timing(1), "IFC_get_To_Tw_1");
    EXPECT_EQ(cmd::get_averages(3), "IFC_get_histo_ave_3");
    EXPECT_EQ(cmd::get_valves(4), "IFC_get_on_off_4");
    EXPECT_EQ(cmd::set_valves(5), "IFC_set_on_off_5");
    EXPECT_EQ(cmd::read_commands().size(), 29u);
    EXPECT_EQ(cmd::write_commands().size(), 18u);
}

// The client's names and keys are its own copy of the server's: a real server must know
// every name and answer with exactly these keys.
TEST(ClientCommands, NamesAndKeysMatchARealServer) {
    test_support::server_process server;
    auto conn = server.connect();
    for (const std::string& name : cmd::read_commands()) {
        auto answer = conn.get(name);
        ASSERT_TRUE(answer.ok()) << name << ": " << answer.failure().detail;
    }
    // An unknown write name makes the server print "not found"; an empty argument changes
    // nothing for the commands that keep settings.
    for (const std::string& name : cmd::write_commands()) {
        ASSERT_TRUE(conn.put(name, "").ok()) << name;
    }
    ASSERT_TRUE(conn.put("IFC_set_nothing", "").ok());
    ASSERT_TRUE(conn.disconnect().ok());
    ASSERT_TRUE(server.wait_for_stdout("DISCONNECT"));
    EXPECT_EQ(test_support::stdout_lines_starting(server, "not found").size(), 1u);

    conn = server.connect();
    for (int colour = cmd::first_colour; colour <= cmd::last_colour; ++colour) {
        EXPECT_TRUE(ifc_client::read_targets(conn, colour).ok()) << colour;
        EXPECT_TRUE(ifc_client::read_timing(conn, colour).ok()) << colour;
        EXPECT_TRUE(ifc_client::read_averages(conn, colour).ok()) << colour;
        EXPECT_TRUE(ifc_client::read_valves(conn, colour).ok()) << colour;
    }
    EXPECT_TRUE(ifc_client::read_status(conn).ok());
    EXPECT_TRUE(ifc_client::read_selection(conn).ok());
    EXPECT_TRUE(ifc_client::read_histogram(conn, ifc_client::histogram_side::left).ok());
    EXPECT_TRUE(ifc_client::read_histogram(conn, ifc_client::histogram_side::right).ok());
    auto choice = ifc_client::read_histogram_selection(conn);
    ASSERT_TRUE(choice.ok());
    EXPECT_EQ(choice->answer, "1 tw 2 tw");
}

TEST(ClientSettingsAccess, ReadModifyWriteChangesOnlyTheNamedKeys) {
    test_support::server_process server;
    auto conn = server.connect();
    const std::string colour1_before = test_support::answer_of(conn, "IFC_get_on_off_1");
    const std::vector<change> changes{{"main_on", 100}, {"sub18_off", 7}};
    auto report = ifc_client::write_valves(conn, 2, changes);
    ASSERT_TRUE(report.ok()) << report.failure().detail;
    EXPECT_TRUE(report->not_applied.empty());
    ASSERT_EQ(report->before.line.size(), report->after.line.size());
    for (std::size_t i = 0; i < report->after.line.size(); ++i) {
        const token& was = report->before.line[i];
        const token& now = report->after.line[i];
        const auto wanted =
            ifc_client::value_of(std::vector<token>{{"main_on", 100}, {"sub18_off", 7}}, now.key);
        EXPECT_EQ(now.value, wanted.value_or(was.value)) << now.key;
    }
    EXPECT_EQ(test_support::answer_of(conn, "IFC_get_on_off_1"), colour1_before);

    auto targets = ifc_client::write_targets(conn, 3, std::vector<change>{{"tw", 250}});
    ASSERT_TRUE(targets.ok());
    EXPECT_EQ(targets->after.text, "to:90 tw:250 ");
    auto status = ifc_client::write_status(conn, std::vector<change>{{"mode", 2}});
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(status->after.text, "color:1 mode:2 totw_sw:0 ");
    auto selected =
        ifc_client::write_selection(conn, std::vector<change>{{"sub20", 1}, {"pin", 1}});
    ASSERT_TRUE(selected.ok());
    EXPECT_TRUE(selected->after.text.starts_with("pin:1 abs:0 "));
    EXPECT_TRUE(selected->after.text.ends_with("sub19:0 sub20:1 "));
    auto cleared = ifc_client::clear_selection(conn);
    ASSERT_TRUE(cleared.ok());
    EXPECT_TRUE(cleared->not_applied.empty());
    auto side =
        ifc_client::write_histogram_selection(conn, ifc_client::histogram_side::right, 6, "tw_tbw");
    ASSERT_TRUE(side.ok());
    EXPECT_TRUE(side->applied);
    EXPECT_EQ(side->after.answer, "1 tw 6 tw_tbw");
}

TEST(ClientSettingsAccess, UnknownKeysAreRefusedBeforeAnythingIsSent) {
    test_support::server_process server;
    auto conn = server.connect();
    auto valves = ifc_client::write_valves(conn, 1, std::vector<change>{{"main_on", 1}, {"x", 2}});
    EXPECT_EQ(valves.code(), errc::bad_request);
    EXPECT_EQ(ifc_client::write_targets(conn, 1, std::vector<change>{{"TO", 1}}).code(),
              errc::bad_request);
    EXPECT_EQ(ifc_client::write_status(conn, std::vector<change>{{"colour", 1}}).code(),
              errc::bad_request);
    EXPECT_EQ(ifc_client::write_selection(conn, std::vector<change>{{"sub21", 1}}).code(),
              errc::bad_request);
    EXPECT_EQ(ifc_client::write_targets(conn, 7, std::vector<change>{{"to", 1}}).code(),
              errc::bad_request);
    // The connection is still usable, and nothing but this PING reached the server.
    ASSERT_TRUE(conn.ping().ok());
    ASSERT_TRUE(conn.disconnect().ok());
    ASSERT_TRUE(server.wait_for_stdout("DISCONNECT"));
    EXPECT_EQ(server.stdout_text().find("GET"), std::string::npos);
    EXPECT_EQ(server.stdout_text().find("PUT"), std::string::npos);
}

// The client's ranges are the limits of the records behind the keys in the default images.
TEST(ClientValueRanges, AreTheLimitsOfTheRecordsInTheDefaultImages) {
    using ifc_client::setting;
    const auto limits = [](std::span<const i4_item> table, std::string_view record) {
        for (const i4_item& item : table) {
            if (record == item.name) return ifc_client::value_range{item.min, item.max};
        }
        ADD_FAILURE() << "no record " << record;
        return ifc_client::value_range{};
    };
    const auto expect_range = [](setting what, std::string_view key, ifc_client::value_range want) {
        const auto range = ifc_client::range_of(what, key);
        ASSERT_TRUE(range.has_value()) << key;
        EXPECT_EQ(range->min, want.min) << key;
        EXPECT_EQ(range->max, want.max) << key;
    };
    const auto& ifc = ifc_net::i4_init;
    // The colour is a weft colour number as well: 0 lies in the record's range but is none.
    expect_range(setting::status, "color", {1, 6});
    for (std::string_view key : {"mode", "totw_sw"})
        expect_range(setting::status, key, limits(ifc, "STAT_1"));
    expect_range(setting::targets, "to", limits(ifc, "Tot"));
    expect_range(setting::targets, "tw", limits(ifc, "Twt"));
    expect_range(setting::selection, "pin", limits(ifc, "V"));
    expect_range(setting::selection, "sub1", limits(ifc, "S1"));
    expect_range(setting::selection, "sub20", limits(ifc, "S4"));
    int valve_keys = 0;
    for (const cj_pair& pair : cj) {
        if (pair.record[0] == '\0') break;
        expect_range(setting::valves, pair.key, limits(vfp_ifc::i4_init, pair.record));
        ++valve_keys;
    }
    EXPECT_EQ(valve_keys, static_cast<int>(cmd::valve_keys.size()));
    EXPECT_FALSE(ifc_client::range_of(setting::valves, "ATC_TO_DELAY").has_value());
    EXPECT_FALSE(ifc_client::range_of(setting::targets, "TO").has_value());
}

TEST(ClientValueRanges, WritesRefuseValuesOutsideUnlessTheRuleIsIgnored) {
    using ifc_client::range_rule;
    test_support::server_process server;
    auto conn = server.connect();
    struct refused {
        std::string_view what;
        ifc_client::result<ifc_client::write_report> outcome;
        std::string_view message;
    };
    const refused cases[] = {
        {"targets", ifc_client::write_targets(conn, 2, std::vector<change>{{"to", 99999}}),
         "to=99999 is outside 50..150"},
        {"negative target", ifc_client::write_targets(conn, 2, std::vector<change>{{"to", -1}}),
         "to=-1 is outside 50..150"},
        {"status", ifc_client::write_status(conn, std::vector<change>{{"mode", 9}}),
         "mode=9 is outside 0..6"},
        {"no colour", ifc_client::write_status(conn, std::vector<change>{{"color", 0}}),
         "color=0 is outside 1..6"},
        {"valves", ifc_client::write_valves(conn, 1, std::vector<change>{{"main_on", 360}}),
         "main_on=360 is outside 0..359"},
        {"selection", ifc_client::write_selection(conn, std::vector<change>{{"sub3", 2}}),
         "sub3=2 is outside 0..1"},
    };
    for (const refused& c : cases) {
        ASSERT_FALSE(c.outcome.ok()) << c.what;
        EXPECT_EQ(c.outcome.code(), errc::bad_request) << c.what;
        EXPECT_EQ(c.outcome.failure().detail, c.message) << c.what;
    }
    // The boundaries themselves are values like any other.
    auto edge = ifc_client::write_targets(conn, 2, std::vector<change>{{"to", 50}, {"tw", 290}});
    ASSERT_TRUE(edge.ok()) << edge.failure().detail;
    EXPECT_EQ(edge->after.text, "to:50 tw:290 ");
    // Forced, the server stores what it is sent.
    auto forced =
        ifc_client::write_targets(conn, 2, std::vector<change>{{"to", 99999}}, range_rule::ignore);
    ASSERT_TRUE(forced.ok()) << forced.failure().detail;
    EXPECT_EQ(forced->after.text, "to:99999 tw:290 ");
    EXPECT_EQ(ifc_client::out_of_range(ifc_client::setting::targets, forced->after.line),
              (ifc_client::token_line{{"to", 99999}}));
}

}  // namespace

namespace {

// Which word a mistyped one most likely means, and that a word far from all gets no guess.
TEST(ClientSuggestions, NameTheLikelyWordOrNone) {
    constexpr std::string_view commands[] = {"status", "select", "targets", "timing", "valves"};
    const struct {
        std::string_view typed;
        std::optional<std::string_view> meant;
    } cases[] = {
        {"stauts", "status"},    // two letters swapped
        {"valve", "valves"},     // one left out, and the only command it starts
        {"tagrets", "targets"},  // swap in a longer word
        {"timming", "timing"},   // one too many
        {"s", std::nullopt},     // starts two commands, near none
        {"frobnicate", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ifc_tool::closest_word(c.typed, commands), c.meant) << c.typed;
    }
}

TEST(ClientEscaping, KeepsPrintableTextAndEscapesTheRest) {
    EXPECT_EQ(ifc_tool::escaped("to:90 tw:240 "), "to:90 tw:240 ");
    EXPECT_EQ(ifc_tool::escaped(std::string("a\0b\x1b[\\\n\t\r\xff", 10)),
              R"(a\x00b\x1B[\\\n\t\r\xFF)");
}

// A garbled answer is shown where it goes wrong, however far into it that is.
TEST(ClientEscaping, MessagesShowTheBytesAroundTheFirstBadOne) {
    std::string valves;
    for (int i = 0; i < 30; ++i)
        valves += "sub" + std::to_string(i) + "_on:" + std::to_string(100 + i) + " ";
    const std::size_t bad = valves.find("125");
    valves[bad + 1] = '\x01';
    std::string bins = "234 500 4.65 190 500";
    for (int bin = 0; bin < 46; ++bin)
        bins += bin == 40 ? " 3O" : " 7";
    struct {
        std::string answer;
        std::string detail;
    } cases[] = {
        {valves, "not a key:value item: byte " + std::to_string(bad + 1) + " of " +
                     std::to_string(valves.size()) +
                     ": \"... sub24_on:124 sub25_on:1\\x015 sub26_on:126 " + "sub27_on...\""},
        {bins, "not a histogram: byte 102 of 113: \"... 7 7 7 7 7 7 7 7 7 7 7 3O 7 7 7 7 7\""},
        {"234 500 4.65 190", "not a histogram of 51 numbers: byte 16 of 16: \"234 500 4.65 190\""},
    };
    for (const auto& c : cases) {
        const ifc_client::error failure = c.answer.starts_with("234")
                                              ? ifc_client::parse_histogram(c.answer).failure()
                                              : ifc_client::parse_token_line(c.answer).failure();
        EXPECT_EQ(failure.detail, c.detail);
    }
}

}  // namespace
