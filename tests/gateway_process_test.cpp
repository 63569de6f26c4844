// The ifc-gateway executable: how it starts, stops and fails.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "tests/support/files.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"
#include "tests/support/spawned_program.h"

namespace {

using namespace std::chrono_literals;

TEST(GatewayProcess, StopsCleanlyOnSigterm) {
    test_support::temp_dir dir;
    test_support::spawned_program gateway(
        IFC_GATEWAY_PATH, dir.path(),
        {"--listen", "127.0.0.1:" + std::to_string(test_support::free_port()), "--controller",
         "gone=127.0.0.1:" + std::to_string(test_support::free_port()), "--poll", "0.1"});
    ASSERT_TRUE(gateway.wait_for_stdout("controller gone", 10s)) << gateway.stdout_text();
    ::kill(gateway.pid(), SIGTERM);
    for (int round = 0; round < 500 && gateway.running(); ++round)
        std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(gateway.running());
    // Printed only on the way to exit status 0.
    EXPECT_NE(gateway.stdout_text().find("ifc-gateway: stopped\n"), std::string::npos);
}

TEST(GatewayProcess, PortTakenIsExitStatusTwo) {
    const auto taken = test_support::listen_on_loopback();
    const auto run = test_support::run_command(
        {IFC_GATEWAY_PATH, "--listen", "127.0.0.1:" + std::to_string(taken.port)}, {}, 10s);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(
        run.output.find("ifc-gateway: cannot listen on 127.0.0.1:" + std::to_string(taken.port)),
        std::string::npos)
        << run.output;
}

TEST(GatewayProcess, UsageErrorIsExitStatusOneWithoutListening) {
    const auto port = test_support::free_port();
    const auto run = test_support::run_command(
        {IFC_GATEWAY_PATH, "--listen", "127.0.0.1:" + std::to_string(port), "--poll", "-1"}, {},
        10s);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.output.starts_with("ifc-gateway: ")) << run.output;
    EXPECT_FALSE(test_support::port_is_listening(port));
}

}  // namespace
