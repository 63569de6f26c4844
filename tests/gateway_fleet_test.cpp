// A mill: twenty controllers (twenty real servers, each on its own port) behind one gateway.
#include <gtest/gtest.h>

#include <memory>

#include <nlohmann/json.hpp>

#include "tests/support/gateway_harness.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

constexpr int machine_count = 20;

TEST(GatewayFleet, TwentyControllersAreEachPolledAndWrittenOnTheirOwn) {
    // The servers first: they are forked, and a fork must not happen while the gateway's
    // threads run.
    std::vector<std::unique_ptr<test_support::server_process>> servers;
    std::vector<gateway::controller_address> controllers;
    for (int m = 0; m < machine_count; ++m) {
        servers.push_back(std::make_unique<test_support::server_process>());
        controllers.push_back(
            test_support::local_controller("loom" + std::to_string(m + 1), servers.back()->port()));
    }
    test_support::gateway_harness gateway(controllers);
    for (const auto& c : controllers)
        ASSERT_TRUE(gateway.wait_reachable(c.name, true)) << c.name;

    // Each machine gets its own TO target for colour 1: 60, 61, ...
    auto client = gateway.client();
    for (int m = 0; m < machine_count; ++m) {
        const std::string path = "/api/controllers/loom" + std::to_string(m + 1) + "/targets/1";
        const std::string body = R"({"to":)" + std::to_string(60 + m) + "}";
        auto r = client.Patch(path.c_str(), body, "application/json");
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
    }
    const json list = json::parse(client.Get("/api/controllers")->body);
    ASSERT_EQ(list.size(), static_cast<std::size_t>(machine_count));
    for (const auto& entry : list)
        EXPECT_EQ(entry["reachable"], true) << entry["name"];
    for (int m = 0; m < machine_count; ++m) {
        auto conn = servers[static_cast<std::size_t>(m)]->connect();
        EXPECT_EQ(conn.get("IFC_get_Tot_Twt_1").value(),
                  "to:" + std::to_string(60 + m) + " tw:240 ");
    }
    const std::string metrics = client.Get("/metrics")->body;
    for (const auto& c : controllers) {
        EXPECT_NE(metrics.find("ifc_up{controller=\"" + c.name + "\"} 1\n"), std::string::npos);
    }
}

}  // namespace
