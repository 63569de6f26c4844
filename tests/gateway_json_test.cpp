// A controller's JSON from its one owner: the fleet list's entry and the whole controller agree
// with each other and with the snapshot they are built from, with and without a snapshot, and
// the texts joined from rendered parts are exactly what nlohmann-json writes for the same
// objects.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "gateway/controller_json.h"

namespace {

using json = nlohmann::ordered_json;
using gateway::controller_header;
using gateway::controller_json;

// A snapshot whose every part differs from the others, so that a part shown in the wrong
// place is seen.
gateway::machine_snapshot sample_snapshot() {
    gateway::machine_snapshot s;
    s.status = {{"color", 3}, {"mode", 1}, {"totw_sw", 0}};
    s.selection = {{"pin", 1}, {"abs", 0}};
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        auto& c = s.colour(colour);
        c.targets = {{"to", 80 + colour}, {"tw", 230 + colour}};
        c.timing = {{"to", 90 + colour}, {"tw", 240 + colour}};
        c.averages = {{"to", 100 + colour}, {"tw", 250 + colour}};
        c.valves = {{"ATC_TO_DELAY", 0}, {"main_on", colour}};
    }
    s.left.summary[0] = {"234", 234, true};
    s.left.summary[2] = {"4.65", 4.65, false};
    s.left.bins[7] = 11;
    s.right.bins[9] = 22;
    s.histogram_selection.left = {2, "tbw"};
    s.histogram_selection.right = {5, "to"};
    return s;
}

controller_header sample_header() {
    controller_header h;
    h.name = "loom1";
    h.address = "127.0.0.1:9002";
    h.reachable = true;
    h.stale = false;
    h.age_seconds = 1.23456;
    h.polled_at = std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000));
    h.last_error = "odd \"bytes\" \x01 and \xc3\xa9";
    h.group = "hall2";
    h.drift = gateway::drift_summary{{"denim-12", 3}, 4};
    return h;
}

// The text parsed and written again by nlohmann-json: equal to the text when the text is
// written as dump() writes it (member order, no blanks, escapes).
std::string rewritten(const std::string& text) {
    return json::parse(text).dump();
}

TEST(GatewayControllerJson, ListEntryAndWholeControllerAgreeWithTheSnapshot) {
    const auto snapshot = sample_snapshot();
    const controller_json rendered(snapshot);
    const controller_header header = sample_header();
    const std::string entry_text = controller_json::list_entry(header, &rendered);
    const std::string whole_text = controller_json::whole(header, &rendered);
    EXPECT_EQ(entry_text, rewritten(entry_text));
    EXPECT_EQ(whole_text, rewritten(whole_text));
    const json entry = json::parse(entry_text);
    const json whole = json::parse(whole_text);

    const std::vector<std::string> header_names{"name",        "address",   "reachable", "stale",
                                                "age_seconds", "polled_at", "last_error"};
    std::vector<std::string> entry_names, whole_names;
    for (const auto& [key, value] : entry.items())
        entry_names.push_back(key);
    for (const auto& [key, value] : whole.items())
        whole_names.push_back(key);
    EXPECT_EQ(entry_names, (std::vector<std::string>{"name", "address", "reachable", "stale",
                                                     "age_seconds", "polled_at", "last_error",
                                                     "group", "drift", "status", "histogram"}));
    EXPECT_EQ(whole_names,
              (std::vector<std::string>{"name", "address", "reachable", "stale", "age_seconds",
                                        "polled_at", "last_error", "drift", "status", "selection",
                                        "colours", "histograms", "histogram_selection"}));
    for (const auto& name : header_names)
        EXPECT_EQ(entry[name], whole[name]) << name;
    EXPECT_EQ(whole["age_seconds"], 1.235);
    EXPECT_EQ(whole["polled_at"], "2027-01-15T08:00:00Z");
    EXPECT_EQ(whole["last_error"], header.last_error);

    EXPECT_EQ(entry["status"], whole["status"]);
    EXPECT_EQ(whole["status"], json::parse(R"({"color":3,"mode":1,"totw_sw":0})"));
    // The card shows the left side: the snapshot's left histogram without its summary.
    json card = whole["histograms"]["left"];
    card.erase("summary");
    json named = {{"side", "left"}};
    named.update(card);
    EXPECT_EQ(entry["histogram"], named);
    EXPECT_EQ(whole["histograms"]["left"]["colour"], 2);
    EXPECT_EQ(whole["histograms"]["left"]["item"], "tbw");
    EXPECT_EQ(whole["histograms"]["left"]["bins"][7], 11);
    EXPECT_EQ(whole["histograms"]["left"]["summary"]["fval"], 4.65);
    EXPECT_EQ(whole["histograms"]["right"]["bins"][9], 22);
    EXPECT_EQ(
        whole["histogram_selection"],
        json::parse(R"({"left":{"colour":2,"item":"tbw"},"right":{"colour":5,"item":"to"}})"));

    ASSERT_EQ(whole["colours"].size(), static_cast<std::size_t>(protocol::colour_count));
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        const json& c = whole["colours"][static_cast<std::size_t>(colour - protocol::first_colour)];
        EXPECT_EQ(c["colour"], colour);
        EXPECT_EQ(c["targets"]["to"], 80 + colour);
        EXPECT_EQ(c["timing"]["tw"], 240 + colour);
        EXPECT_EQ(c["averages"]["to"], 100 + colour);
        EXPECT_EQ(c["valves"]["main_on"], colour);
    }
}

TEST(GatewayControllerJson, WithoutASnapshotEveryPartOfItIsNull) {
    controller_header header;
    header.name = "loom2";
    header.address = "10.0.0.8:9002";
    header.last_error = "unreachable: connection refused";
    const std::string entry_text = controller_json::list_entry(header, nullptr);
    const std::string whole_text = controller_json::whole(header, nullptr);
    EXPECT_EQ(entry_text, rewritten(entry_text));
    EXPECT_EQ(whole_text, rewritten(whole_text));
    EXPECT_EQ(
        entry_text,
        R"({"name":"loom2","address":"10.0.0.8:9002","reachable":false,"stale":true,)"
        R"("age_seconds":null,"polled_at":null,"last_error":"unreachable: connection refused",)"
        R"("group":null,"drift":null,"status":null,"histogram":null})");
    const json whole = json::parse(whole_text);
    for (const char* member :
         {"status", "selection", "colours", "histograms", "histogram_selection"}) {
        ASSERT_TRUE(whole.contains(member)) << member;
        EXPECT_TRUE(whole[member].is_null()) << member;
    }
    // No error: null rather than an empty text.
    header.last_error.clear();
    EXPECT_TRUE(json::parse(controller_json::whole(header, nullptr))["last_error"].is_null());
}

// The list entry's drift: null without an assignment; the version and the number of values that
// differ, null until the first comparison. The whole controller carries the same drift (the
// machine page shows it), but not the group.
TEST(GatewayControllerJson, ListEntryTellsTheGroupAndTheDriftFromTheAssignedVersion) {
    struct drift_case {
        const char* label;
        std::optional<gateway::drift_summary> drift;
        const char* expected;
    };
    const drift_case cases[] = {
        {"no assignment", std::nullopt, "null"},
        {"not compared yet", gateway::drift_summary{{"denim-12", 3}, std::nullopt},
         R"({"version":{"name":"denim-12","version":3},"differences":null})"},
        {"matches", gateway::drift_summary{{"denim-12", 3}, 0},
         R"({"version":{"name":"denim-12","version":3},"differences":0})"},
        {"differs", gateway::drift_summary{{"twill \"x\"", 12}, 4},
         R"({"version":{"name":"twill \"x\"","version":12},"differences":4})"},
    };
    const controller_json rendered(sample_snapshot());
    for (const drift_case& c : cases) {
        controller_header header = sample_header();
        header.drift = c.drift;
        const std::string text = controller_json::list_entry(header, &rendered);
        EXPECT_EQ(text, rewritten(text)) << c.label;
        const json entry = json::parse(text);
        EXPECT_EQ(entry["drift"], json::parse(c.expected)) << c.label;
        EXPECT_EQ(entry["group"], "hall2") << c.label;
        const json whole = json::parse(controller_json::whole(header, &rendered));
        EXPECT_EQ(whole["drift"], json::parse(c.expected)) << c.label;
        EXPECT_FALSE(whole.contains("group")) << c.label;
    }
    controller_header ungrouped = sample_header();
    ungrouped.group.clear();
    EXPECT_TRUE(json::parse(controller_json::list_entry(ungrouped, nullptr))["group"].is_null());
}

TEST(GatewayControllerJson, ListHoldsItsEntriesInOrder) {
    EXPECT_EQ(controller_json::list({}), "[]");
    const controller_json rendered(sample_snapshot());
    controller_header second = sample_header();
    second.name = "loom2";
    const std::vector<std::string> entries{controller_json::list_entry(sample_header(), &rendered),
                                           controller_json::list_entry(second, nullptr)};
    const std::string text = controller_json::list(entries);
    EXPECT_EQ(text, rewritten(text));
    const json list = json::parse(text);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["name"], "loom1");
    EXPECT_EQ(list[1]["name"], "loom2");
    EXPECT_TRUE(list[1]["histogram"].is_null());
}

}  // namespace
