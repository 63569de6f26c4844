// The gateway's JSON API against real controllers (the server loop in a forked child) and,
// where a controller must misbehave, a fake one: what a read shows, what a write answers after
// its read-back, and that a refused write sends nothing.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "client/commands.h"
#include "client/settings_access.h"
#include "tests/support/fake_controller.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;
using test_support::local_controller;

constexpr const char* json_type = "application/json";

json body_of(const httplib::Result& r) {
    return json::parse(r->body, nullptr, false);
}

// Everything the controller holds, as its answers: to see that a refused write changed nothing.
std::string settings_text(ifc_client::connection& conn) {
    std::string text;
    for (const std::string& name : ifc_client::commands::read_commands()) {
        if (name.find("hist_cnt") != std::string::npos ||
            name.find("histo_ave") != std::string::npos) {
            continue;  // simulated measurements, some of them pseudo-random
        }
        text += conn.get(name).value() + "\n";
    }
    return text;
}

class GatewayApi : public ::testing::Test {
  protected:
    test_support::server_process server;
    test_support::gateway_harness gateway{{local_controller("loom1", server.port())}};

    void SetUp() override { ASSERT_TRUE(gateway.wait_reachable("loom1", true)); }

    httplib::Result patch(const std::string& path, const std::string& body,
                          const char* type = json_type) {
        return gateway.client().Patch(("/api/controllers/loom1/" + path).c_str(), body, type);
    }
};

TEST_F(GatewayApi, SnapshotShowsWhatTheControllerHolds) {
    {
        auto conn = server.connect();
        ASSERT_TRUE(conn.put("IFC_set_to_tw_3", "to:95 tw:245 ").ok());
        ASSERT_TRUE(conn.put("IFC_set_on_off_2", "main_on:100 ").ok());
        ASSERT_TRUE(conn.put("IFC_hst_select_item", "LEFT 4 tbw").ok());
        conn.disconnect();
    }
    json snapshot;
    for (int round = 0; round < 50; ++round) {  // the next poll brings the change
        auto r = gateway.client().Get("/api/controllers/loom1");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200);
        snapshot = body_of(r);
        if (snapshot["colours"][2]["targets"]["to"] == 95) break;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(snapshot["name"], "loom1");
    EXPECT_EQ(snapshot["reachable"], true);
    EXPECT_EQ(snapshot["stale"], false);
    EXPECT_TRUE(snapshot["age_seconds"].is_number());
    EXPECT_EQ(snapshot["status"], json({{"color", 1}, {"mode", 0}, {"totw_sw", 0}}));
    EXPECT_EQ(snapshot["selection"].size(), 25u);
    ASSERT_EQ(snapshot["colours"].size(), 6u);
    EXPECT_EQ(snapshot["colours"][2]["targets"], json({{"to", 95}, {"tw", 245}}));
    EXPECT_EQ(snapshot["colours"][1]["valves"]["main_on"], 100);
    EXPECT_EQ(snapshot["colours"][0]["valves"]["main_on"], 90);
    EXPECT_EQ(snapshot["colours"][0]["timing"], json({{"to", 92}, {"tw", 242}}));
    EXPECT_EQ(snapshot["colours"][0]["averages"].size(), 11u);
    const json& left = snapshot["histograms"]["left"];
    EXPECT_EQ(left["colour"], 4);
    EXPECT_EQ(left["item"], "tbw");
    EXPECT_EQ(left["bins"].size(), 46u);
    EXPECT_EQ(left["bins"][23], 300);
    EXPECT_EQ(
        left["summary"],
        json({{"ival1", 234}, {"ival0", 500}, {"fval", 4.65}, {"ival3", 190}, {"ival2", 500}}));
    EXPECT_EQ(snapshot["histograms"]["right"]["summary"]["fval"], 4.52);
    EXPECT_EQ(snapshot["histogram_selection"]["left"], json({{"colour", 4}, {"item", "tbw"}}));
}

TEST_F(GatewayApi, ListNamesEachControllerWithItsState) {
    auto r = gateway.client().Get("/api/controllers");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    const json list = body_of(r);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["name"], "loom1");
    EXPECT_EQ(list[0]["address"], "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(list[0]["reachable"], true);
    EXPECT_TRUE(list[0]["age_seconds"].is_number());
    EXPECT_EQ(list[0]["status"]["color"], 1);
    EXPECT_EQ(list[0]["histogram"]["bins"].size(), 46u);
}

// The pages take their fields' limits from the gateway: the ranges the writes are checked
// against.
TEST_F(GatewayApi, GatewayDescriptionHoldsTheRangeOfEveryWritableKey) {
    const json g = body_of(gateway.client().Get("/api/gateway"));
    EXPECT_EQ(g["ranges"]["status"]["color"], json::array({1, 6}));
    EXPECT_EQ(g["ranges"]["targets"]["tw"], json::array({190, 290}));
    EXPECT_EQ(g["ranges"]["selection"]["sub20"], json::array({0, 1}));
    EXPECT_EQ(g["ranges"]["valves"].size(), 45u);
    EXPECT_EQ(g["ranges"]["valves"]["sub18_off"], json::array({0, 359}));
}

TEST_F(GatewayApi, UnknownControllerIsNotFound) {
    auto r = gateway.client().Get("/api/controllers/loom9");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_NE(body_of(r)["message"].get<std::string>().find("loom9"), std::string::npos);
    r = patch("../loom9/status", R"({"color":2})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_TRUE(body_of(r).contains("message"));
}

// Applied writes: 200 with the read-back, and the controller holds the values.
struct applied_case {
    std::string label;
    std::string path;
    std::string body;
    std::string get_name;   // the controller's read command
    std::string expected;   // ... whose answer contains this afterwards
    std::string reply_key;  // a key of the reply's "values"
    json reply_value;
};

void PrintTo(const applied_case& c, std::ostream* out) {
    *out << c.label;
}

class GatewayWrites : public GatewayApi, public ::testing::WithParamInterface<applied_case> {};

TEST_P(GatewayWrites, AnswerAfterTheReadBackAndTheControllerHoldsThem) {
    const applied_case& c = GetParam();
    auto r = patch(c.path, c.body);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    const json reply = body_of(r);
    EXPECT_EQ(reply["applied"], true);
    EXPECT_EQ(reply["values"][c.reply_key], c.reply_value) << r->body;
    auto conn = server.connect();
    EXPECT_NE(conn.get(c.get_name).value().find(c.expected), std::string::npos);
    // The snapshot shows the read-back at once, before the next poll.
    const json snapshot = body_of(gateway.client().Get("/api/controllers/loom1"));
    EXPECT_NE(snapshot.dump().find(c.reply_value.dump()), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    EachSetting, GatewayWrites,
    ::testing::Values(applied_case{"status", "status", R"({"color":3,"totw_sw":1})", "IFC_get_stat",
                                   "color:3 mode:0 totw_sw:1 ", "color", 3},
                      applied_case{"selection", "selection", R"({"pin":1,"sub20":1})",
                                   "IFC_get_select_item", "sub20:1 ", "sub20", 1},
                      applied_case{"targets", "targets/2", R"({"to":95})", "IFC_get_Tot_Twt_2",
                                   "to:95 tw:240 ", "to", 95},
                      applied_case{"valves", "valves/4", R"({"main_on":100,"sub18_off":7})",
                                   "IFC_get_on_off_4", "sub18_off:7 ", "main_on", 100},
                      applied_case{"histogram_selection", "histogram-selection",
                                   R"({"right":{"colour":6,"item":"tw_tbw"}})",
                                   "IFC_get_hst_select", "1 tw 6 tw_tbw", "right",
                                   json({{"colour", 6}, {"item", "tw_tbw"}})},
                      applied_case{"histogram_item_only", "histogram-selection",
                                   R"({"left":{"item":"tb3"}})", "IFC_get_hst_select", "1 tb3 2 tw",
                                   "left", json({{"colour", 1}, {"item", "tb3"}})}),
    [](const auto& info) { return info.param.label; });

TEST_F(GatewayApi, AppliedWriteListsEachChangeWithItsValuesBeforeAndAfter) {
    auto r = patch("targets/1", R"({"to":96,"tw":250})");
    ASSERT_TRUE(r);
    EXPECT_EQ(body_of(r)["changes"], json::parse(R"([{"key":"to","from":90,"to":96,"now":96},
                              {"key":"tw","from":240,"to":250,"now":250}])"));
}

// Refused writes: 400 with the reason, and nothing reaches the controller.
struct refused_case {
    std::string label;
    std::string path;
    std::string body;
    std::string reason;  // a part of the message
};

void PrintTo(const refused_case& c, std::ostream* out) {
    *out << c.label;
}

class GatewayRefusals : public GatewayApi, public ::testing::WithParamInterface<refused_case> {};

TEST_P(GatewayRefusals, AnswerBadRequestWithTheReasonAndSendNothing) {
    const refused_case& c = GetParam();
    auto conn = server.connect();
    const std::string before = settings_text(conn);
    conn.disconnect();
    auto r = patch(c.path, c.body);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    const json reply = body_of(r);
    ASSERT_TRUE(reply.contains("message")) << r->body;
    EXPECT_NE(reply["message"].get<std::string>().find(c.reason), std::string::npos)
        << reply["message"];
    auto after = server.connect();
    EXPECT_EQ(settings_text(after), before);
}

INSTANTIATE_TEST_SUITE_P(
    BadRequests, GatewayRefusals,
    ::testing::Values(
        refused_case{"unknown_key", "targets/1", R"({"speed":1})", "unknown target key 'speed'"},
        refused_case{"outside_range", "targets/1", R"({"to":9999})", "to=9999 is outside 50..150"},
        refused_case{"angle_outside_range", "valves/1", R"({"main_on":360})", "outside 0..359"},
        refused_case{"flag_outside_range", "selection", R"({"pin":2})", "outside 0..1"},
        refused_case{"colour_seven", "targets/7", R"({"to":95})", "colour 7"},
        refused_case{"colour_zero", "valves/0", R"({"main_on":95})", "colour 0"},
        refused_case{"colour_not_a_number", "targets/x", R"({"to":95})", "colour \"x\""},
        refused_case{"not_json", "status", R"({"color":)", "not valid JSON"},
        refused_case{"not_an_object", "status", R"([1,2])", "JSON object"},
        refused_case{"nothing_to_change", "status", R"({})", "nothing to change"},
        refused_case{"fraction", "targets/1", R"({"to":95.5})", "not a whole number"},
        refused_case{"text", "targets/1", R"({"to":"95"})", "not a whole number"},
        refused_case{"boolean", "selection", R"({"pin":true})", "not a whole number"},
        refused_case{"beyond_int32", "targets/1", R"({"to":4294967391})", "not a whole number"},
        refused_case{"constant_valve_item", "valves/1", R"({"ATC_TO_DELAY":5})",
                     "unknown valve key"},
        refused_case{"sub19_not_served", "valves/1", R"({"sub19_on":5})", "unknown valve key"},
        refused_case{"histogram_item", "histogram-selection", R"({"left":{"item":"xx"}})",
                     "not a histogram item"},
        refused_case{"histogram_colour", "histogram-selection", R"({"right":{"colour":0}})",
                     "not a colour number"},
        refused_case{"histogram_side", "histogram-selection", R"({"middle":{"colour":1}})",
                     "unknown key \"middle\""},
        // A reader that keeps the last of two equal keys would apply 96 and never look at 200.
        refused_case{"key_given_twice", "targets/2", R"({"to": 200, "to": 96})",
                     "the key \"to\" is given twice"},
        refused_case{"inner_key_given_twice", "histogram-selection",
                     R"({"left": {"colour": 9, "colour": 2}})", "given twice"},
        refused_case{"nested_too_deep", "status", R"({"color": [[[[[[[[[[1]]]]]]]]]]})",
                     "nested deeper"}),
    [](const auto& info) { return info.param.label; });

// Controllers that do not do what they are told.
TEST(GatewayOutcomes, WriteTheReadBackDoesNotShowIsNotApplied) {
    // The fake acknowledges every write and changes nothing.
    test_support::fake_controller controller({test_support::default_answers(), 0ms});
    test_support::gateway_harness gateway({local_controller("loom1", controller.port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    auto r = gateway.client().Patch("/api/controllers/loom1/targets/2", R"({"to":95})", json_type);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 409);
    const json reply = body_of(r);
    EXPECT_EQ(reply["applied"], false);
    EXPECT_EQ(reply["values"]["to"], 90);
    EXPECT_NE(reply["message"].get<std::string>().find("to=90 (asked for 95)"), std::string::npos);
    ASSERT_EQ(controller.payloads().size(), 1u);
    const char payload[] = "IFC_set_to_tw_2\0to:95 tw:240 ";
    EXPECT_EQ(controller.payloads()[0], std::string(payload, sizeof payload - 1));
}

TEST(GatewayOutcomes, UnreachableControllerIsBadGateway) {
    const auto port = test_support::free_port();
    test_support::gateway_harness gateway({local_controller("gone", port)});
    auto r = gateway.client().Patch("/api/controllers/gone/status", R"({"color":2})", json_type);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 502);
    EXPECT_NE(body_of(r)["message"].get<std::string>().find("unreachable"), std::string::npos);
}

TEST(GatewayOutcomes, ControllerTooSlowForTheDeadlineIsGatewayTimeout) {
    test_support::fake_controller controller({test_support::default_answers(), 100ms});
    test_support::gateway_harness gateway({local_controller("slow", controller.port())},
                                          gateway::poll_settings{5000ms, 500ms, 800ms});
    auto r = gateway.client().Patch("/api/controllers/slow/targets/1", R"({"to":95})", json_type);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 504);
    EXPECT_NE(body_of(r)["message"].get<std::string>().find("deadline"), std::string::npos);
    EXPECT_TRUE(controller.payloads().empty());
}

}  // namespace
