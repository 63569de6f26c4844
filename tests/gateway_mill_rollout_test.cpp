// Roll-outs through the gateway's API, against real servers reached through the gateway's own
// pollers and a real SQLite file: a dry run that lists each machine's changes, a start that
// writes every machine with proof, one stopped server that stops the roll-out there with every
// machine's result, and a cancel after the first machine.
#include <gtest/gtest.h>

#include "client/document_json.h"
#include "tests/support/files.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/http_json.h"
#include "tests/support/mill_looms.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test_support::get_json;
using test_support::json_answer;
using test_support::post_json;

class GatewayMillRollout : public ::testing::Test {
  protected:
    void SetUp() override {
        hall = std::make_unique<test_support::loom_hall>(4);
        std::vector<gateway::controller_address> controllers;
        for (int i = 0; i < hall->size(); ++i) {
            controllers.push_back(test_support::local_controller(test_support::loom_hall::name(i),
                                                                 hall->server(i).port()));
        }
        gateway = std::make_unique<test_support::gateway_harness>(
            controllers, test_support::fast_polls(), gateway::http_settings{}, dir.path());
        ASSERT_TRUE(gateway->wait_polled());
        client = std::make_unique<httplib::Client>(gateway->client());
        const auto imported =
            post_json(*client, "/api/library/import",
                      {{"document",
                        json::parse(ifc_client::format_document(test_support::denim_settings()))}});
        ASSERT_EQ(imported.status, 201) << imported.text;
    }

    // Creates a roll-out of denim-12 v1 and waits for its dry run.
    json plan(const json& more = json::object()) {
        json body = {{"style", "denim-12"},
                     {"version", 1},
                     {"controllers", hall->names()},
                     {"reason", "style change"}};
        body.update(more);
        const auto created = post_json(*client, "/api/rollouts", body);
        EXPECT_EQ(created.status, 201) << created.text;
        EXPECT_EQ(created.body["state"], "planning");
        id = created.body.value("id", 0);
        return wait_for({"planned"});
    }

    json step(const std::string& what) {
        const auto a =
            post_json(*client, "/api/rollouts/" + std::to_string(id) + "/" + what, json());
        EXPECT_EQ(a.status, 200) << what << ": " << a.text;
        return a.body;
    }

    json wait_for(const std::vector<std::string>& states) {
        return test_support::wait_json(
                   *client, "/api/rollouts/" + std::to_string(id),
                   [&](const json_answer& a) {
                       const auto state = a.body.value("state", "");
                       return std::find(states.begin(), states.end(), state) != states.end();
                   },
                   30s)
            .body;
    }

    static std::vector<std::string> machine_states(const json& rollout) {
        std::vector<std::string> states;
        for (const auto& m : rollout["machines"])
            states.push_back(m["state"]);
        return states;
    }

    test_support::temp_dir dir;
    std::unique_ptr<test_support::loom_hall> hall;
    std::unique_ptr<test_support::gateway_harness> gateway;
    std::unique_ptr<httplib::Client> client;
    std::int64_t id = 0;
};

TEST_F(GatewayMillRollout, DryRunThenEveryMachineWrittenWithProof) {
    const json planned = plan();
    ASSERT_EQ(planned["state"], "planned") << planned.dump();
    ASSERT_EQ(planned["machines"].size(), 4u);
    for (const auto& m : planned["machines"]) {
        EXPECT_EQ(m["planned_values"], 4) << m.dump();  // colour 1 to, colour 2 two valves, mode
        EXPECT_EQ(m["plan"].size(), 4u);
    }
    // The dry run wrote nothing.
    EXPECT_EQ(test_support::differences_text(hall->read(3), test_support::default_settings()), "");

    step("start");
    const json done = wait_for({"completed", "stopped", "cancelled", "interrupted"});
    ASSERT_EQ(done["state"], "completed") << done.dump();
    EXPECT_EQ(machine_states(done),
              (std::vector<std::string>{"applied", "applied", "applied", "applied"}));
    for (int i = 0; i < hall->size(); ++i) {
        EXPECT_EQ(done["machines"][i]["values_written"], 4);
        EXPECT_EQ(test_support::differences_text(hall->read(i), test_support::denim_settings()), "")
            << test_support::loom_hall::name(i);
    }
    const auto list = get_json(*client, "/api/rollouts");
    ASSERT_EQ(list.body["rollouts"].size(), 1u);
    EXPECT_FALSE(list.body["rollouts"][0].contains("machines"));
    EXPECT_EQ(list.body["rollouts"][0]["counts"]["applied"], 4);

    // The writes are in the logbook, with the roll-out and its reason.
    const auto log = get_json(*client, "/api/logbook?controller=loom2&section=valves");
    ASSERT_EQ(log.body["entries"].size(), 2u) << log.text;
    EXPECT_EQ(log.body["entries"][0]["rollout"], id);
    EXPECT_EQ(log.body["entries"][0]["reason"], "style change");
    EXPECT_EQ(log.body["entries"][0]["who"], "local");
}

TEST_F(GatewayMillRollout, AStoppedServerStopsTheRolloutThereAndTheRestIsLeftUntouched) {
    plan();
    hall->server(2).kill();
    step("start");
    const json done = wait_for({"completed", "stopped", "cancelled", "interrupted"});
    ASSERT_EQ(done["state"], "stopped") << done.dump();
    EXPECT_EQ(machine_states(done),
              (std::vector<std::string>{"applied", "applied", "failed", "skipped"}));
    EXPECT_NE(done["machines"][2]["reason"].get<std::string>().find("nothing written"),
              std::string::npos)
        << done["machines"][2].dump();
    EXPECT_NE(done["machines"][3]["reason"].get<std::string>().find("loom3"), std::string::npos);
    EXPECT_EQ(test_support::differences_text(hall->read(3), test_support::default_settings()), "");
    EXPECT_EQ(test_support::differences_text(hall->read(1), test_support::denim_settings()), "");
}

TEST_F(GatewayMillRollout, PausedAfterTheFirstMachineThenCancelled) {
    plan({{"pause_after_first", true}, {"parallel", 2}});
    step("start");
    const json paused = wait_for({"paused"});
    ASSERT_EQ(paused["state"], "paused") << paused.dump();
    EXPECT_EQ(machine_states(paused),
              (std::vector<std::string>{"applied", "pending", "pending", "pending"}));
    const json cancelled = step("cancel");
    EXPECT_EQ(cancelled["state"], "cancelled") << cancelled.dump();
    EXPECT_EQ(machine_states(cancelled),
              (std::vector<std::string>{"applied", "skipped", "skipped", "skipped"}));
    EXPECT_EQ(test_support::differences_text(hall->read(1), test_support::default_settings()), "");
    // Over is over.
    const auto again = post_json(*client, "/api/rollouts/" + std::to_string(id) + "/start", json());
    EXPECT_EQ(again.status, 409) << again.text;
    EXPECT_EQ(get_json(*client, "/api/rollouts/999").status, 404);
}

TEST_F(GatewayMillRollout, RequestsThatCannotBeAnsweredSayWhy) {
    const std::pair<json, int> cases[] = {
        {{{"style", "denim-12"}, {"version", 1}}, 400},
        {{{"style", "denim-12"}, {"version", 2}, {"controllers", {"loom1"}}}, 404},
        {{{"style", "denim-12"}, {"version", 1}, {"controllers", {"loom9"}}}, 404},
        {{{"style", "denim-12"}, {"version", 1}, {"controllers", {"loom1"}}, {"parallel", 9}}, 400},
        {{{"style", "denim-12"},
          {"version", 1},
          {"controllers", {"loom1"}},
          {"pause_after_first", 1}},
         400},
        {{{"style", "denim-12"}, {"version", "1"}, {"controllers", {"loom1"}}}, 400},
    };
    for (const auto& [body, status] : cases) {
        const auto a = post_json(*client, "/api/rollouts", body);
        EXPECT_EQ(a.status, status) << body.dump() << ": " << a.text;
    }
}

}  // namespace
