// The recipe of docs/proxy.md whose scenario waits out the controller's limit: a controller
// that does not answer (docs/proxy-rules/no-answer.json).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "tests/support/files.h"
#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;

TEST(NoAnswerRecipe, TerminalTimesOutAndTheNextConnectionIsServed) {
    test_support::server_process server;
    const std::string rules =
        test_support::read_file(std::string(IFC_SOURCE_DIR) + "/docs/proxy-rules/no-answer.json")
            .value_or("");
    test_support::proxy_process proxy(server.port(),
                                      test_support::proxy_options{rules, {"--seed", "1"}});
    auto endpoint = proxy.endpoint();
    endpoint.timeout = 3000ms;
    {
        auto c = std::move(ifc_client::connection::open(endpoint).value());
        ASSERT_TRUE(c.get("IFC_get_stat").ok());
        EXPECT_EQ(c.get("IFC_get_stat").code(), ifc_client::errc::timeout);
    }
    // The controller gives the stalled connection up after 5 s without its NEXT; then the next
    // terminal is served.
    auto next = proxy.connect();
    EXPECT_TRUE(next.get("IFC_get_stat").ok());
    const auto requests = proxy.wait_for("request", 3);
    ASSERT_EQ(requests.size(), 3u);
    const auto stalled = std::find_if(requests.begin(), requests.end(), [](const auto& line) {
        return line["conn"] == 1 && line["seq"] == 2;
    });
    ASSERT_NE(stalled, requests.end());
    EXPECT_EQ((*stalled)["outcome"], "closed_by_terminal");
    EXPECT_EQ((*stalled)["faults"][0]["applied"], true);
}

}  // namespace
