// The ifc-server executable itself, on port 9002, in a temporary working directory.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "client/unique_fd.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;
using test_support::server_options;
using test_support::server_process;

TEST(Executable, ServesOnPort9002AndKeepsSettingsInItsWorkingDirectory) {
    server_process server(server_options{.child_setup = {}, .real_executable = true});
    ASSERT_EQ(server.port(), 9002);
    {
        auto conn = server.connect();
        auto status = conn.get("IFC_get_stat");
        ASSERT_TRUE(status.ok());
        EXPECT_EQ(status.value(), "color:1 mode:0 totw_sw:0 ");
        ASSERT_TRUE(conn.put("IFC_set_to_tw_2", "to:95 tw:245").ok());
        ASSERT_TRUE(conn.put("IFC_set_on_off_4", "main_on:111").ok());
        auto targets = conn.get("IFC_get_Tot_Twt_2");
        ASSERT_TRUE(targets.ok());
        EXPECT_EQ(targets.value(), "to:95 tw:245 ");
        conn.disconnect();
    }
    EXPECT_EQ(test_support::read_file(server.workfile("ifc_set.set")).value_or("").size(), 800u);
    EXPECT_EQ(test_support::read_file(server.workfile("valve_fp.set")).value_or("").size(), 8960u);
    EXPECT_TRUE(server.wait_for_stdout("waiting... connected... GETIFC_get_stat        \n"));

    // Nothing is lost by a hard stop and a new start.
    server.restart();
    auto conn = server.connect();
    auto targets = conn.get("IFC_get_Tot_Twt_2");
    ASSERT_TRUE(targets.ok());
    EXPECT_EQ(targets.value(), "to:95 tw:245 ");
    auto valves = conn.get("IFC_get_on_off_4");
    ASSERT_TRUE(valves.ok());
    EXPECT_NE(valves->find(" main_on:111 "), std::string::npos);
}

TEST(Executable, PortInUseEndsItWithItsMessagesAndAFailureStatus) {
    // Somebody else holds port 9002.
    ifc_client::unique_fd holder(::socket(AF_INET, SOCK_STREAM, 0));
    const int on = 1;
    ::setsockopt(holder.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(9002);
    ASSERT_EQ(::bind(holder.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(holder.get(), 1), 0);

    const auto run = test_support::run_to_exit(IFC_SERVER_PATH, 10s);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.stdout_text, "Can't initialize sever socket.\n");
    EXPECT_EQ(run.stderr_text, "server: bind: Address already in use\n");
}

}  // namespace
