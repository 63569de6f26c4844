// Fault rules: the JSON format (sound files and the precise refusal of unsound ones) and the
// rule engine (which requests a rule matches, and when it fires).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ostream>
#include <string>
#include <vector>

#include "proxy/rule_engine.h"
#include "proxy/rules.h"
#include "proxy/seeded_draw.h"
#include "tests/support/files.h"

namespace {

using proxy::request_kind;

struct sound_case {
    const char* name;
    std::string rule;         // one rule object
    std::string description;  // describe() of it
};

void PrintTo(const sound_case& c, std::ostream* os) {
    *os << c.name;
}

class SoundRule : public testing::TestWithParam<sound_case> {};

TEST_P(SoundRule, IsReadAsWritten) {
    const auto parsed = proxy::parse_rules(R"({"rules": [)" + GetParam().rule + "]}", "r.json");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.rules.size(), 1u);
    EXPECT_EQ(proxy::describe(parsed.rules[0]), GetParam().description);
}

const sound_case sound_cases[] = {
    {"delay_fixed", R"({"action": "delay", "seconds": 0.5})", "every request: delay 0.5 s"},
    {"delay_range", R"({"kind": "GET", "command": "IFC_get_*", "action": "delay",
                        "seconds": [0.1, 2]})",
     "every GET of IFC_get_*: delay 0.1 s to 2 s"},
    {"stall_after_a_chunk",
     R"({"label": "valves", "kind": "PUT", "command": "IFC_set_on_off_*", "nth": 3,
         "action": "stall", "at": "after_chunk", "chunk": 2, "seconds": 7})",
     "the 3rd PUT of IFC_set_on_off_*: stall 7 s after_chunk 2  [valves]"},
    {"cut_with_a_reset",
     R"({"kind": "GET", "every": 2, "limit": 5, "action": "cut", "at": "before_len",
         "mode": "reset"})",
     "every 2nd GET (at most 5 times): cut (reset) before_len"},
    {"cut_closes_by_default", R"({"kind": "PUT", "action": "cut", "at": "before_fin"})",
     "every PUT: cut (close) before_fin"},
    {"err", R"({"kind": "PUT", "probability": 0.25, "action": "err"})",
     "with probability 0.25, each PUT: err"},
    {"corrupt_a_byte", R"({"kind": "GET", "nth": 1, "action": "corrupt", "position": 0})",
     "the 1st GET: corrupt byte 0"},
    {"corrupt_at_random", R"({"kind": "GET", "nth": 22, "action": "corrupt",
                              "position": "random"})",
     "the 22nd GET: corrupt a random byte"},
    {"drop_fin", R"({"kind": "PUT", "action": "drop_fin"})", "every PUT: drop_fin"},
    {"throttle", R"({"action": "throttle", "bytes_per_second": 100})",
     "every request: throttle to 100 bytes/s"},
    {"refuse", R"({"kind": "PING", "nth": 13, "action": "refuse", "seconds": 3})",
     "the 13th PING: refuse new connections for 3 s"},
    {"control_bytes_shown_escaped",
     R"({"label": "bell\u0007 and \u001b[2J", "command": "IFC_get_st\u000dat",
         "kind": "GET", "action": "delay", "seconds": 1})",
     "every GET of IFC_get_st\\x0dat: delay 1 s  [bell\\x07 and \\x1b[2J]"},
};

INSTANTIATE_TEST_SUITE_P(Rules, SoundRule, testing::ValuesIn(sound_cases),
                         [](const auto& info) { return std::string(info.param.name); });

struct unsound_case {
    const char* name;
    std::string text;   // the whole file
    std::string error;  // the message, after "r.json: "
};

void PrintTo(const unsound_case& c, std::ostream* os) {
    *os << c.name;
}

class UnsoundRules : public testing::TestWithParam<unsound_case> {};

TEST_P(UnsoundRules, AreRefusedWithTheRuleTheFieldAndWhatWasExpected) {
    const auto parsed = proxy::parse_rules(GetParam().text, "r.json");
    EXPECT_FALSE(parsed.ok());
    EXPECT_TRUE(parsed.rules.empty());
    EXPECT_EQ(parsed.error, "r.json: " + GetParam().error);
}

std::string one(const std::string& rule) {
    return R"({"rules": [)" + rule + "]}";
}

const unsound_case unsound_cases[] = {
    {"not_json", R"({"rules": [)",
     "parse error at line 1, column 12: syntax error while parsing value - unexpected end of "
     "input; expected '[', '{', or a literal"},
    {"not_an_object", "[]", R"(expected an object {"rules": [...]})"},
    {"a_field_besides_rules", R"({"rules": [], "seed": 1})",
     R"(field 'seed': not a field of the file (only "rules"))"},
    {"rule_not_an_object", one("3"), "rules[0]: a rule object, got 3"},
    {"no_action", one(R"({"kind": "GET"})"),
     "rules[0]: field 'action': required: one of delay, stall, cut, err, corrupt, drop_fin, "
     "throttle, refuse"},
    {"unknown_action", one(R"({"action": "explode"})"),
     "rules[0]: field 'action': one of delay, stall, cut, err, corrupt, drop_fin, throttle, "
     "refuse, got \"explode\""},
    {"misspelt_field", one(R"({"action": "delay", "secs": 1})"),
     "rules[0]: field 'secs': not a field of a rule (fields: label, kind, command, nth, every, "
     "probability, limit, action, seconds)"},
    {"field_of_another_action", one(R"({"action": "delay", "seconds": 1, "chunk": 2})"),
     "rules[0]: field 'chunk': not a field of action 'delay' (its fields: seconds)"},
    {"kind_in_lower_case", one(R"({"kind": "get", "action": "delay", "seconds": 1})"),
     "rules[0]: field 'kind': one of GET, PUT, PING, DISCONNECT, got \"get\""},
    {"command_of_a_ping",
     one(R"({"kind": "PING", "command": "x", "action": "delay", "seconds": 1})"),
     "rules[0]: field 'command': no command name with kind PING (only GET and PUT have one)"},
    {"two_occurrences", one(R"({"nth": 2, "every": 3, "action": "delay", "seconds": 1})"),
     "rules[0]: field 'nth': at most one of nth, every and probability"},
    {"nth_zero", one(R"({"nth": 0, "action": "delay", "seconds": 1})"),
     "rules[0]: field 'nth': a whole number from 1, got 0"},
    {"probability_above_one", one(R"({"probability": 1.5, "action": "delay", "seconds": 1})"),
     "rules[0]: field 'probability': a number from 0 to 1, got 1.5"},
    {"limit_zero", one(R"({"limit": 0, "action": "delay", "seconds": 1})"),
     "rules[0]: field 'limit': a whole number of hits from 1, got 0"},
    {"delay_as_text", one(R"({"action": "delay", "seconds": "5"})"),
     "rules[0]: field 'seconds': a number of seconds from 0 to 3600, got \"5\""},
    {"delay_range_backwards", one(R"({"action": "delay", "seconds": [0.5, 0.1]})"),
     "rules[0]: field 'seconds': [least, most] with least <= most, got [0.5,0.1]"},
    {"delay_in_milliseconds", one(R"({"action": "delay", "seconds": 5000})"),
     "rules[0]: field 'seconds': a number of seconds from 0 to 3600, got 5000"},
    {"stall_without_a_point", one(R"({"kind": "GET", "action": "stall", "seconds": 1})"),
     "rules[0]: field 'at': required: before_len, after_chunk or before_fin"},
    {"fin_of_a_get", one(R"({"kind": "GET", "action": "stall", "at": "before_fin", "seconds": 1})"),
     "rules[0]: field 'at': before_fin needs \"kind\": PUT"},
    {"chunk_of_any_kind", one(R"({"action": "cut", "at": "after_chunk", "chunk": 1})"),
     "rules[0]: field 'at': after_chunk needs \"kind\": GET or PUT"},
    {"after_chunk_without_a_chunk", one(R"({"kind": "GET", "action": "cut", "at": "after_chunk"})"),
     "rules[0]: field 'chunk': required with after_chunk: 1 for the first"},
    {"chunk_zero", one(R"({"kind": "GET", "action": "cut", "at": "after_chunk", "chunk": 0})"),
     "rules[0]: field 'chunk': a chunk number from 1 to 250 (1 is the first), got 0"},
    {"chunk_without_after_chunk",
     one(R"({"kind": "GET", "action": "cut", "at": "before_len", "chunk": 1})"),
     "rules[0]: field 'chunk': only with \"at\": \"after_chunk\""},
    {"stall_of_no_time",
     one(R"({"kind": "GET", "action": "stall", "at": "before_len", "seconds": 0})"),
     "rules[0]: field 'seconds': a number of seconds above 0, at most 3600, got 0"},
    {"cut_mode", one(R"({"kind": "GET", "action": "cut", "at": "before_len", "mode": "abort"})"),
     "rules[0]: field 'mode': close or reset, got \"abort\""},
    {"err_of_a_get", one(R"({"kind": "GET", "action": "err"})"),
     "rules[0]: field 'action': err needs \"kind\": PUT"},
    {"err_of_a_command", one(R"({"kind": "PUT", "command": "IFC_set_stat", "action": "err"})"),
     "rules[0]: field 'command': none with action err: ERR! takes the place of the first NEXT, "
     "before the payload that names the command has come"},
    {"corrupt_without_a_position", one(R"({"kind": "GET", "action": "corrupt"})"),
     "rules[0]: field 'position': required: a byte position or \"random\""},
    {"corrupt_a_put", one(R"({"kind": "PUT", "action": "corrupt", "position": 1})"),
     "rules[0]: field 'action': corrupt needs \"kind\": GET"},
    {"negative_position", one(R"({"kind": "GET", "action": "corrupt", "position": -1})"),
     "rules[0]: field 'position': a byte position from 0, or \"random\", got -1"},
    {"drop_fin_of_a_get", one(R"({"kind": "GET", "action": "drop_fin"})"),
     "rules[0]: field 'action': drop_fin needs \"kind\": PUT"},
    {"throttle_without_a_rate", one(R"({"action": "throttle"})"),
     "rules[0]: field 'bytes_per_second': required"},
    {"refuse_for_no_time", one(R"({"action": "refuse", "seconds": 0})"),
     "rules[0]: field 'seconds': a number of seconds above 0, at most 3600, got 0"},
    {"number_beyond_a_double", one(R"({"action": "delay", "seconds": 1e400})"),
     "number overflow parsing '1e400'"},
    {"whole_number_beyond_64_bits", one(R"({"nth": 18446744073709551615, "action": "err",
                                            "kind": "PUT"})"),
     "rules[0]: field 'nth': a whole number from 1, got 18446744073709551615"},
    {"whole_number_just_past_long_long", one(R"({"limit": 9223372036854775808, "action": "err",
                                                 "kind": "PUT"})"),
     "rules[0]: field 'limit': a whole number of hits from 1, got 9223372036854775808"},
    {"nested_a_hundred_thousand_deep",
     one(R"({"action": "delay", "seconds": )" + std::string(100000, '[') +
         std::string(100000, ']') + "}"),
     "values nested more than 32 deep; a rule is at most four"},
    {"nested_deep_in_an_unknown_field",
     one(R"({"action": "delay", "seconds": 1, "x": )" + std::string(40, '[') +
         std::string(40, ']') + "}"),
     "values nested more than 32 deep; a rule is at most four"},
    {"field_name_with_control_bytes", one(R"({"action": "delay", "seconds": 1, "\u001b[2J": 1})"),
     "rules[0]: field '\\x1b[2J': not a field of a rule (fields: label, kind, command, nth, "
     "every, probability, limit, action, seconds)"},
    {"too_many_rules",
     [] {
         std::string rules = R"({"rules": [)";
         for (int i = 0; i < 1001; ++i)
             rules += std::string(i > 0 ? "," : "") + R"({"action": "err", "kind": "PUT"})";
         return rules + "]}";
     }(),
     "1001 rules; at most 1000"},
    {"larger_than_a_rules_file", R"({"rules": [], "x": ")" + std::string(1024 * 1024, 'a') + "\"}",
     "larger than 1024 KiB; a rules file is a short list of rules"},
    {"second_rule",
     R"({"rules": [{"action": "delay", "seconds": 1}, {"action": "delay", "seconds": -1}]})",
     "rules[1]: field 'seconds': a number of seconds from 0 to 3600, got -1"},
};

INSTANTIATE_TEST_SUITE_P(Rules, UnsoundRules, testing::ValuesIn(unsound_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RulesFile, ThatCannotBeReadSaysSo) {
    const auto parsed = proxy::load_rules("/nonexistent/rules.json");
    EXPECT_EQ(parsed.error, "/nonexistent/rules.json: cannot read: No such file or directory");
}

TEST(RulesFile, ThatIsNoRegularFileIsRefusedWithoutWaitingForAWriter) {
    test_support::temp_dir dir;
    const std::string fifo = dir.file("rules.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(proxy::load_rules(fifo).error, fifo + ": not a regular file");
    EXPECT_EQ(proxy::load_rules(dir.path()).error, dir.path() + ": not a regular file");
}

// ---------------------------------------------------------------------------------------
// The engine

std::vector<proxy::rule> rules_of(const std::string& json) {
    auto parsed = proxy::parse_rules(json, "test");
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    return parsed.rules;
}

proxy::pending_request get(std::string_view command) {
    proxy::pending_request p;
    p.kind = request_kind::get;
    p.command_known = true;
    p.command = command;
    return p;
}

proxy::pending_request put_header() {
    proxy::pending_request p;
    p.kind = request_kind::put;
    p.length = 30;
    return p;
}

proxy::pending_request put_command(std::string_view command) {
    proxy::pending_request p = put_header();
    p.point = proxy::decision_point::command;
    p.command_known = true;
    p.command = command;
    return p;
}

// For each of n requests: whether the engine's first rule fired.
std::vector<bool> firings(proxy::rule_engine& engine, const proxy::pending_request& request,
                          int n) {
    std::vector<bool> fired;
    for (int i = 0; i < n; ++i)
        fired.push_back(!engine.decide(request).empty());
    return fired;
}

TEST(RuleEngine, OccurrencesCountTheMatchingRequests) {
    proxy::rule_engine nth(rules_of(R"({"rules": [{"nth": 3, "action": "err", "kind": "PUT"}]})"),
                           1);
    EXPECT_EQ(firings(nth, put_header(), 5), (std::vector<bool>{0, 0, 1, 0, 0}));
    proxy::rule_engine every(rules_of(R"({"rules": [{"every": 2, "action": "drop_fin",
                                                     "kind": "PUT"}]})"),
                             1);
    EXPECT_EQ(firings(every, put_command("x"), 5), (std::vector<bool>{0, 1, 0, 1, 0}));
    proxy::rule_engine limited(rules_of(R"({"rules": [{"limit": 2, "action": "delay",
                                                       "seconds": 0}]})"),
                               1);
    EXPECT_EQ(firings(limited, get("x"), 4), (std::vector<bool>{1, 1, 0, 0}));
}

TEST(RuleEngine, OnlyRequestsOfTheKindAndCommandCount) {
    proxy::rule_engine engine(
        rules_of(R"({"rules": [{"kind": "GET", "command": "IFC_get_on_off_?", "nth": 2,
                                "action": "corrupt", "position": 0}]})"),
        1);
    EXPECT_TRUE(engine.decide(get("IFC_get_on_off_1")).empty());
    EXPECT_TRUE(engine.decide(get("IFC_get_stat")).empty());
    EXPECT_TRUE(engine.decide(put_command("IFC_get_on_off_1")).empty());
    const auto faults = engine.decide(get("IFC_get_on_off_6"));
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0].match, 2);
}

TEST(RuleEngine, EachRuleIsDecidedOncePerPutAtItsOwnMoment) {
    proxy::rule_engine engine(rules_of(R"({"rules": [
        {"kind": "PUT", "action": "err"},
        {"kind": "PUT", "action": "drop_fin"}]})"),
                              1);
    auto at_header = engine.decide(put_header());
    ASSERT_EQ(at_header.size(), 1u);
    EXPECT_EQ(at_header[0].rule_copy.what, proxy::action::err);
    auto at_command = engine.decide(put_command("IFC_set_stat"));
    ASSERT_EQ(at_command.size(), 1u);
    EXPECT_EQ(at_command[0].rule_copy.what, proxy::action::drop_fin);
}

TEST(RuleEngine, ProbabilityAndDrawsFollowTheSeedOnly) {
    const auto rules = rules_of(R"({"rules": [
        {"kind": "GET", "probability": 0.3, "action": "delay", "seconds": [1, 2]}]})");
    proxy::rule_engine first(rules, 42);
    proxy::rule_engine again(rules, 42);
    proxy::rule_engine other(rules, 43);
    std::vector<double> delays;
    int fired = 0;
    for (int i = 0; i < 2000; ++i) {
        const auto a = first.decide(get("x"));
        const auto b = again.decide(get("x"));
        ASSERT_EQ(a.size(), b.size());
        if (!a.empty()) {
            ++fired;
            EXPECT_EQ(a[0].seconds, b[0].seconds);
            EXPECT_GE(a[0].seconds, 1.0);
            EXPECT_LE(a[0].seconds, 2.0);
        }
    }
    EXPECT_NEAR(fired, 600, 90);
    EXPECT_NE(firings(other, get("x"), 50), firings(first, get("x"), 50));
}

TEST(SeededDraw, IsAFractionThatDependsOnEveryInput) {
    const double base = proxy::seeded_draw(1, 2, 3, proxy::draw_purpose::fires);
    EXPECT_GE(base, 0.0);
    EXPECT_LT(base, 1.0);
    EXPECT_EQ(proxy::seeded_draw(1, 2, 3, proxy::draw_purpose::fires), base);
    EXPECT_NE(proxy::seeded_draw(2, 2, 3, proxy::draw_purpose::fires), base);
    EXPECT_NE(proxy::seeded_draw(1, 3, 3, proxy::draw_purpose::fires), base);
    EXPECT_NE(proxy::seeded_draw(1, 2, 4, proxy::draw_purpose::fires), base);
    EXPECT_NE(proxy::seeded_draw(1, 2, 3, proxy::draw_purpose::delay), base);
}

}  // namespace
