// The pollers: a slow controller is given up at the deadline, the last good snapshot stays
// with its age, an unreachable controller is tried less and less often, and any number of
// viewers cause no more controller connections than the polls themselves; a failure's reason
// starts with its state word.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <nlohmann/json.hpp>

#include "gateway/controller_poller.h"
#include "tests/support/fake_controller.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/server_process.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;
using test_support::local_controller;

TEST(GatewayPoller, ControllerThatDripsItsAnswerIsGivenUpAtTheDeadline) {
    // 100 ms a byte: each wait is short, the whole poll would take about a minute.
    test_support::fake_controller controller({test_support::default_answers(), 100ms});
    test_support::gateway_harness gateway({local_controller("drip", controller.port())},
                                          gateway::poll_settings{10s, 1000ms, 1200ms});
    ASSERT_TRUE(gateway.wait_polled(5s));
    const auto view = gateway.machines().find("drip")->view();
    EXPECT_FALSE(view.reachable);
    EXPECT_EQ(view.poll_failures, 1u);
    EXPECT_NE(view.last_error.find("deadline"), std::string::npos) << view.last_error;
    EXPECT_LT(view.last_poll_seconds, 2.0);
    EXPECT_GE(view.last_poll_seconds, 1.1);
}

TEST(GatewayPoller, LastGoodSnapshotStaysWithItsAgeWhenTheControllerGoes) {
    test_support::server_process server;
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    server.kill();
    ASSERT_TRUE(gateway.wait_reachable("loom1", false));
    std::this_thread::sleep_for(700ms);  // more than three poll intervals of 200 ms
    const json snapshot = json::parse(gateway.client().Get("/api/controllers/loom1")->body);
    EXPECT_EQ(snapshot["reachable"], false);
    EXPECT_EQ(snapshot["stale"], true);
    EXPECT_GT(snapshot["age_seconds"].get<double>(), 0.6);
    EXPECT_NE(snapshot["last_error"].get<std::string>().find("refused"), std::string::npos);
    EXPECT_EQ(snapshot["status"]["color"], 1);  // the last good values
    EXPECT_EQ(snapshot["colours"][0]["targets"]["to"], 90);
}

TEST(GatewayPoller, UnreachableControllerIsTriedLessAndLessOften) {
    test_support::gateway_harness gateway({local_controller("gone", test_support::free_port())},
                                          gateway::poll_settings{100ms, 500ms, 500ms});
    std::this_thread::sleep_for(2000ms);
    // Without back-off 20 polls; with it 100, 100, 200, 400, 800 ms between them.
    const auto polls = gateway.machines().find("gone")->view().polls;
    EXPECT_GE(polls, 4u);
    EXPECT_LE(polls, 7u);
}

TEST(GatewayPoller, ControllerBackAfterAFailureIsPolledAgain) {
    test_support::server_process server;
    test_support::gateway_harness gateway({local_controller("loom1", server.port())},
                                          gateway::poll_settings{100ms, 500ms, 500ms});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    server.restart();  // the same port; the poller may see the gap or not
    ASSERT_TRUE(gateway.wait_reachable("loom1", true, 5s));
}

// The reason of a failed poll starts with the word the panel's badges show for it.
TEST(GatewayPoller, FailureReasonStartsWithTheStateWordThePanelShows) {
    using ifc_client::errc;
    const struct {
        errc code;
        const char* state;
    } cases[] = {
        {errc::refused, "unreachable: "}, {errc::timeout, "busy or not answering: "},
        {errc::closed, "failing: "},      {errc::protocol, "failing: "},
        {errc::io, "failing: "},
    };
    for (const auto& c : cases) {
        const std::string reason = gateway::describe_failure({c.code, "the detail"});
        EXPECT_EQ(reason.rfind(c.state, 0), 0u) << reason;
        EXPECT_NE(reason.find("(the detail)"), std::string::npos) << reason;
    }
}

// A hundred viewers read the snapshots; the controller sees the polls and nothing else.
TEST(GatewayPoller, ViewersCauseNoControllerTraffic) {
    test_support::fake_controller controller({test_support::default_answers(), 0ms});
    test_support::gateway_harness gateway({local_controller("loom1", controller.port())},
                                          gateway::poll_settings{250ms, 1000ms, 1000ms},
                                          gateway::http_settings{});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    const auto start = std::chrono::steady_clock::now();
    const int connections_before = controller.connections();
    std::atomic<int> answered{0};
    std::vector<std::thread> viewers;
    for (int v = 0; v < 100; ++v) {
        viewers.emplace_back([&] {
            auto client = gateway.client();
            // Ten reads each; a connection the loaded machine did not take in time is tried
            // again (what is measured here is the controller's traffic, not the HTTP server's).
            for (int round = 0, tries = 0; round < 10 && tries < 30; ++tries) {
                auto r = client.Get("/api/controllers/loom1");
                if (r && r->status == 200) {
                    ++answered;
                    ++round;
                }
            }
        });
    }
    for (auto& viewer : viewers)
        viewer.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(answered, 1000);
    const int connections = controller.connections() - connections_before;
    // One connection per poll interval at most (one more for a poll under way at the start).
    EXPECT_LE(connections, static_cast<int>(seconds / 0.25) + 2) << seconds << " s";
    // The gateway counts a poll's connection when the poll is over, the controller when it
    // accepts it: the two agree between polls (one every 250 ms), so look for such a moment.
    const auto counted_by_gateway = [&] {
        return static_cast<int>(gateway.machines().find("loom1")->view().connections);
    };
    EXPECT_TRUE(test_support::wait_until(
        [&] { return counted_by_gateway() == controller.connections(); }, 2s))
        << "gateway " << counted_by_gateway() << ", controller " << controller.connections();
}

}  // namespace
