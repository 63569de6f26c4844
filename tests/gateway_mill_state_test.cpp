// The gateway with and without its state: without --state-dir every route of the mill answers
// 404 with how to start one, and the rest runs as before; a state directory that cannot be
// written (a read-only file system) makes the mill's routes answer 503 with the reason while
// the polls and the writes go on, until it can be written again.
#include <gtest/gtest.h>

#include "tests/support/gateway_harness.h"
#include "tests/support/http_json.h"
#include "tests/support/server_process.h"
#include "tests/support/small_disk.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test_support::get_json;

constexpr const char* no_state = "this gateway keeps no state: start it with --state-dir DIR";

struct route_case {
    const char* method;
    const char* path;
};
constexpr route_case mill_routes[] = {
    {"GET", "/api/state"},
    {"GET", "/api/library"},
    {"GET", "/api/library/denim-12"},
    {"GET", "/api/library/denim-12/1"},
    {"GET", "/api/library/denim-12/1/document"},
    {"POST", "/api/library"},
    {"POST", "/api/library/import"},
    {"DELETE", "/api/library/denim-12/1"},
    {"GET", "/api/compare?a=denim-12/1&b=@loom1"},
    {"GET", "/api/assignments"},
    {"POST", "/api/assignments"},
    {"GET", "/api/controllers/loom1/drift"},
    {"GET", "/api/rollouts"},
    {"POST", "/api/rollouts"},
    {"GET", "/api/rollouts/1"},
    {"POST", "/api/rollouts/1/start"},
    {"POST", "/api/rollouts/1/resume"},
    {"POST", "/api/rollouts/1/cancel"},
    {"GET", "/api/logbook"},
    {"GET", "/api/logbook.csv"},
    {"GET", "/api/logbook.jsonl"},
};

test_support::json_answer request(httplib::Client& client, const route_case& c) {
    if (c.method == std::string("GET")) return get_json(client, c.path);
    return test_support::send_json(client, c.method, c.path, "{}");
}

TEST(GatewayMillState, WithoutAStateDirectoryTheMillsRoutesSaySoAndTheRestRunsAsBefore) {
    test_support::server_process server;
    test_support::gateway_harness gateway({test_support::local_controller("loom1", server.port())});
    ASSERT_TRUE(gateway.wait_polled());
    auto client = gateway.client();
    for (const auto& c : mill_routes) {
        const auto a = request(client, c);
        EXPECT_EQ(a.status, 404) << c.method << " " << c.path;
        EXPECT_EQ(a.body["message"], no_state) << c.path << ": " << a.text;
    }
    const auto list = get_json(client, "/api/controllers");
    EXPECT_TRUE(list.body[0]["drift"].is_null());
    const auto written = test_support::send_json(client, "PATCH", "/api/controllers/loom1/status",
                                                 R"({"mode": 1, "reason": "test"})");
    EXPECT_EQ(written.status, 200) << written.text;
}

TEST(GatewayMillDisk, AReadOnlyStateDirectoryIsSaidAndTheWatchingGoesOn) {
    // Room for a database once it can be written.
    test_support::small_disk disk(4 * 1024 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.failure() << ")";
    test_support::server_process server;
    ASSERT_TRUE(disk.set_read_only(true));
    test_support::gateway_harness gateway({test_support::local_controller("loom1", server.port())},
                                          test_support::fast_polls(), {}, disk.path());
    ASSERT_TRUE(gateway.wait_polled());
    auto client = gateway.client();

    const auto state = get_json(client, "/api/state");
    ASSERT_EQ(state.status, 200) << state.text;
    EXPECT_EQ(state.body["available"], false);
    EXPECT_EQ(state.body["state_dir"], disk.path());
    EXPECT_EQ(state.body["logbook_days"], 365);
    const std::string reason = state.body["reason"];
    EXPECT_NE(reason.find("Read-only file system"), std::string::npos) << reason;
    for (const char* path : {"/api/library", "/api/logbook", "/api/rollouts", "/api/assignments"}) {
        const auto a = get_json(client, path);
        EXPECT_EQ(a.status, 503) << path << ": " << a.text;
        EXPECT_FALSE(a.body.value("message", "").empty()) << path;
    }
    // The watching and the writes go on.
    EXPECT_TRUE(gateway.wait_reachable("loom1", true));
    EXPECT_EQ(
        test_support::send_json(client, "PATCH", "/api/controllers/loom1/status", R"({"mode": 1})")
            .status,
        200);

    // Writable again: the store opens its database at a later call.
    ASSERT_TRUE(disk.set_read_only(false));
    EXPECT_TRUE(test_support::wait_until(
        [&] { return get_json(client, "/api/library").status == 200; }, 20s))
        << get_json(client, "/api/library").text;
    EXPECT_EQ(get_json(client, "/api/state").body["available"], true);
}

}  // namespace
