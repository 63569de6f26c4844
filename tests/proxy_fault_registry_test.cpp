// The fault registry: every registered action reads a rule of its own, says it in words and
// puts its settings in the journal. The table must name every action of
// proxy/faults/fault_list.def, so a new fault comes with its row here.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <string_view>

#include "proxy/faults/registry.h"
#include "proxy/journal.h"
#include "proxy/rules.h"

namespace {

using nlohmann::json;

struct registered_case {
    std::string_view action;
    std::string rule;     // a sound rule with the action and all its settings
    std::string words;    // describe() of it
    std::string journal;  // the journal's entry of the fault planned from it, before it acts
};

void PrintTo(const registered_case& c, std::ostream* os) {
    *os << c.action;
}

const registered_case cases[] = {
    {"delay", R"({"action": "delay", "seconds": [0.5, 2]})", "every request: delay 0.5 s to 2 s",
     R"({"rule": 0, "action": "delay", "seconds": 0.5, "applied": false})"},
    {"stall",
     R"({"kind": "GET", "action": "stall", "at": "after_chunk", "chunk": 2, "seconds": 1.5})",
     "every GET: stall 1.5 s after_chunk 2",
     R"({"rule": 0, "action": "stall", "at": "after_chunk", "chunk": 2, "seconds": 1.5,
         "applied": false})"},
    {"cut", R"({"kind": "PUT", "action": "cut", "at": "after_chunk", "chunk": 3, "mode": "reset"})",
     "every PUT: cut (reset) after_chunk 3",
     R"({"rule": 0, "action": "cut", "at": "after_chunk", "chunk": 3, "mode": "reset",
         "applied": false})"},
    {"err", R"({"kind": "PUT", "action": "err"})", "every PUT: err",
     R"({"rule": 0, "action": "err", "applied": false})"},
    {"corrupt", R"({"kind": "GET", "action": "corrupt", "position": 7})",
     "every GET: corrupt byte 7",
     R"({"rule": 0, "action": "corrupt", "position": 7, "applied": false})"},
    {"drop_fin", R"({"kind": "PUT", "action": "drop_fin"})", "every PUT: drop_fin",
     R"({"rule": 0, "action": "drop_fin", "applied": false})"},
    {"throttle", R"({"action": "throttle", "bytes_per_second": 2000})",
     "every request: throttle to 2000 bytes/s",
     R"({"rule": 0, "action": "throttle", "bytes_per_second": 2000, "applied": false})"},
    {"refuse", R"({"action": "refuse", "seconds": 3})",
     "every request: refuse new connections for 3 s",
     R"({"rule": 0, "action": "refuse", "seconds": 3, "applied": false})"},
};

TEST(ProxyFaultNames, EachRegisteredActionHasItsOwnNameAndARowHere) {
    std::set<std::string_view> registered;
    for (const proxy::action a : proxy::every_action) {
        const std::string_view name = proxy::action_name(a);
        EXPECT_EQ(proxy::action_named(name), a) << name;
        EXPECT_TRUE(registered.insert(name).second) << name << " is registered twice";
    }
    std::set<std::string_view> in_table;
    for (const registered_case& c : cases)
        in_table.insert(c.action);
    EXPECT_EQ(in_table, registered);
    EXPECT_EQ(proxy::action_named("explode"), std::nullopt);
}

class ProxyFaultRegistry : public testing::TestWithParam<registered_case> {};

TEST_P(ProxyFaultRegistry, ActionReadsDescribesAndJournalsItself) {
    const registered_case& c = GetParam();
    const auto parsed = proxy::parse_rules(R"({"rules": [)" + c.rule + "]}", "r.json");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    ASSERT_EQ(parsed.rules.size(), 1u);
    const proxy::rule& r = parsed.rules[0];
    EXPECT_EQ(proxy::action_name(r.what), c.action);
    EXPECT_EQ(proxy::describe(r), c.words);

    // The row sets every setting of the action, so that the words and the journal show each.
    const json written = json::parse(c.rule);
    for (const std::string_view field : proxy::fault_of(r.what).fields())
        EXPECT_TRUE(written.contains(field)) << field;

    proxy::planned_fault plan;
    plan.rule_copy = r;
    plan.seconds = r.seconds;
    const json line = proxy::request_line({1, "127.0.0.1:40000"}, proxy::request_record{},
                                          {proxy::report_of(plan)});
    EXPECT_EQ(line["faults"], json::array({json::parse(c.journal)}));
}

INSTANTIATE_TEST_SUITE_P(Actions, ProxyFaultRegistry, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.action); });

}  // namespace
