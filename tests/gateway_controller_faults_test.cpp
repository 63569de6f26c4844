// What a broken controller does to the gateway: odd bytes in its answers reach the JSON, the
// metrics and /probe as valid UTF-8 (or mark that controller failing, with the reason) and
// touch no other controller; a write whose end does not come back is answered as of unknown
// outcome after a read-back; a controller that answers too slowly gets every write answered
// within its deadline, and holds up no other controller's readers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "gateway/peer_text.h"
#include "tests/support/fake_controller.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;
using test_support::local_controller;

constexpr const char* json_type = "application/json";

// Quick polls and a write deadline that leaves room for one read-back (2 x (0.3 + 0.5) s).
gateway::poll_settings quick_writes() {
    gateway::poll_settings polls;
    polls.interval = 200ms;
    polls.timeout = 300ms;
    polls.deadline = 500ms;
    polls.write_deadline = 2000ms;
    return polls;
}

struct answer_case {
    std::string label;
    std::string command;  // the read command whose answer is replaced
    std::string answer;
    bool reachable;     // the controller is still shown as reachable
    std::string shown;  // what its JSON shows of it (in the snapshot, or in last_error)
};

void PrintTo(const answer_case& c, std::ostream* out) {
    *out << c.label;
}

class GatewayControllerAnswers : public ::testing::TestWithParam<answer_case> {};

TEST_P(GatewayControllerAnswers, ReachEveryOutputAsValidUtf8AndTouchNoOtherController) {
    const answer_case& c = GetParam();
    auto answers = test_support::default_answers();
    answers[c.command] = c.answer;
    test_support::fake_controller odd({answers, 0ms});
    test_support::fake_controller good({test_support::default_answers(), 0ms});
    test_support::gateway_harness gateway(
        {local_controller("odd", odd.port()), local_controller("good", good.port())});
    ASSERT_TRUE(gateway.wait_reachable("good", true));
    ASSERT_TRUE(gateway.wait_reachable("odd", c.reachable));
    auto client = gateway.client();

    auto one = client.Get("/api/controllers/odd");
    ASSERT_TRUE(one);
    EXPECT_EQ(one->status, 200);
    const json parsed = json::parse(one->body, nullptr, false);  // refuses what is not UTF-8
    ASSERT_FALSE(parsed.is_discarded()) << one->body.substr(0, 200);
    EXPECT_NE(parsed.dump().find(c.shown), std::string::npos) << parsed.dump().substr(0, 400);

    auto list = client.Get("/api/controllers");
    ASSERT_TRUE(list);
    EXPECT_FALSE(json::parse(list->body, nullptr, false).is_discarded());

    auto metrics = client.Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_TRUE(gateway::is_utf8(metrics->body));
    EXPECT_NE(metrics->body.find("ifc_up{controller=\"good\"} 1\n"), std::string::npos);
    EXPECT_NE(metrics->body.find("ifc_up{controller=\"odd\"} " +
                                 std::string(c.reachable ? "1" : "0") + "\n"),
              std::string::npos);

    auto probe = client.Get(("/probe?target=127.0.0.1:" + std::to_string(odd.port())).c_str());
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->status, 200);
    EXPECT_TRUE(gateway::is_utf8(probe->body));
}

INSTANTIATE_TEST_SUITE_P(
    OddAnswers, GatewayControllerAnswers,
    ::testing::Values(answer_case{"item_not_utf8", "IFC_get_hst_select", "1 \xff\xfe 2 tw", true,
                                  R"("item":"\\xFF\\xFE")"},
                      answer_case{"item_with_quote_and_line_feed", "IFC_get_hst_select",
                                  "1 a\"b\n 2 tw", true, R"("item":"a\"b\n")"},
                      answer_case{"item_cut_utf8", "IFC_get_hst_select", "1 t\xc3 2 tw", true,
                                  R"("item":"t\\xC3")"},
                      answer_case{"status_not_utf8", "IFC_get_stat", "color:\xff mode:0 totw_sw:0 ",
                                  false, R"(\\xFF)"},
                      answer_case{"histogram_not_utf8", "IFC_get_hist_cntdatL", "\xc3\x28 500",
                                  false, "not a histogram"},
                      answer_case{"answer_longer_than_a_server_sends", "IFC_get_select_item",
                                  std::string(300000, 'a'), false, "300000"}),
    [](const auto& info) { return info.param.label; });

// A write whose request went out but whose end ("FIN") did not come back may have been
// applied: the answer says so, with what a read-back on a fresh connection shows.
struct doubt_case {
    std::string label;
    test_support::put_ending ending;
    bool applies;  // the controller stores the write before it fails
    int status;
    int to_now;  // the read-back's "to"
    std::string message_part;
};

void PrintTo(const doubt_case& c, std::ostream* out) {
    *out << c.label;
}

class GatewayWriteInDoubt : public ::testing::TestWithParam<doubt_case> {};

TEST_P(GatewayWriteInDoubt, IsAnsweredAsUnknownWithTheReadBack) {
    const doubt_case& c = GetParam();
    test_support::fake_controller controller(
        {test_support::default_answers(), 0ms, c.ending, c.applies});
    test_support::gateway_harness gateway({local_controller("loom1", controller.port())},
                                          quick_writes());
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    auto r = gateway.client().Patch("/api/controllers/loom1/targets/2", R"({"to":95})", json_type);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status);
    const json reply = json::parse(r->body);
    EXPECT_TRUE(reply["applied"].is_null()) << r->body;
    EXPECT_EQ(reply["values"]["to"], c.to_now) << r->body;
    EXPECT_NE(reply["message"].get<std::string>().find(c.message_part), std::string::npos)
        << reply["message"];
    EXPECT_EQ(controller.payloads().size(), 1u);  // sent once, never again
    // The snapshot shows the read-back.
    const json snapshot = json::parse(gateway.client().Get("/api/controllers/loom1")->body);
    EXPECT_EQ(snapshot["colours"][1]["targets"]["to"], c.to_now);
    const auto metrics = gateway.client().Get("/metrics")->body;
    EXPECT_NE(metrics.find("ifc_writes_total{controller=\"loom1\",outcome=\"unknown\"} 1\n"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    LostEnds, GatewayWriteInDoubt,
    ::testing::Values(doubt_case{"vanished_after_applying", test_support::put_ending::close, true,
                                 502, 95, "shows the values asked for"},
                      doubt_case{"vanished_before_applying", test_support::put_ending::close, false,
                                 502, 90, "does not show"},
                      doubt_case{"stalled_before_confirming", test_support::put_ending::stall, true,
                                 504, 95, "shows the values asked for"}),
    [](const auto& info) { return info.param.label; });

// A controller that drips its bytes, and more writes for it than may wait: every write is
// answered within its deadline (those past the queue at once, with 429), and readers of
// another controller are served all the while.
TEST(GatewaySlowController, EveryWriteIsAnsweredInTimeAndOthersAreServed) {
    test_support::fake_controller slow({test_support::default_answers(), 50ms});
    test_support::fake_controller good({test_support::default_answers(), 0ms});
    auto polls = quick_writes();
    polls.max_queued_writes = 8;
    test_support::gateway_harness gateway(
        {local_controller("slow", slow.port()), local_controller("good", good.port())}, polls);
    ASSERT_TRUE(gateway.wait_reachable("good", true));

    constexpr int writes = 20;
    std::vector<int> statuses(writes, 0);
    std::vector<double> seconds(writes, 0);
    std::vector<std::thread> writers;
    for (int w = 0; w < writes; ++w) {
        writers.emplace_back([&, w] {
            const auto start = std::chrono::steady_clock::now();
            auto r = gateway.client().Patch("/api/controllers/slow/targets/1",
                                            R"({"to":)" + std::to_string(60 + w) + "}", json_type);
            seconds[static_cast<std::size_t>(w)] =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            statuses[static_cast<std::size_t>(w)] = r ? r->status : -1;
        });
    }
    int reads = 0;
    for (int round = 0; round < 10; ++round) {
        auto client = gateway.client();
        client.set_read_timeout(5, 0);
        auto r = client.Get("/api/controllers/good");
        if (r && r->status == 200) ++reads;
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(reads, 10);
    int busy = 0;
    for (int w = 0; w < writes; ++w) {
        const int status = statuses[static_cast<std::size_t>(w)];
        EXPECT_TRUE(status == 429 || status == 502 || status == 504) << w << ": " << status;
        busy += status == 429 ? 1 : 0;
        // The write deadline is 2 s: a generous bound on top for a loaded machine.
        EXPECT_LT(seconds[static_cast<std::size_t>(w)], 6.0) << w;
    }
    EXPECT_GE(busy, writes - 8 - 1);
    EXPECT_TRUE(slow.payloads().empty());  // no write got as far as its PUT
}

}  // namespace
