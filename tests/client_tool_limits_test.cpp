// ifc-client where things are not as they should be: a server busy with another client, an
// absent or broken server, a damaged settings file, rounds of --interval that fail, and the
// operator's --force past the client's refusals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/ifc_settings.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"
#include "tests/support/tool_process.h"

namespace {

using namespace std::chrono_literals;
using test_support::run_client;
using test_support::tool_run;

constexpr int ok = 0, usage = 1, cannot_connect = 2, unknown_command = 3, protocol_error = 4;

const std::string busy_notice =
    "ifc-client: no answer yet: the server is serving another client or is not answering; "
    "waiting at most ";

std::string context(const tool_run& run) {
    return "status " + std::to_string(run.status) + "\nstdout:\n" + run.out + "\nstderr:\n" +
           run.err;
}

class ClientLimits : public ::testing::Test {
  protected:
    tool_run client(const std::vector<std::string>& args) {
        return run_client(server.port(), args);
    }
    // A client the server is serving: it has connected and the server has taken it.
    ifc_client::connection occupy_server() {
        auto holder = server.connect();
        EXPECT_TRUE(server.wait_for_stdout("connected... "));
        return holder;
    }

    test_support::server_process server;
};

TEST_F(ClientLimits, ABusyServerIsWaitedForWithANotice) {
    auto holder = occupy_server();
    // The other client leaves after a while; then this one is served.
    std::thread leaving([&] {
        std::this_thread::sleep_for(1500ms);
        holder.disconnect();
    });
    const tool_run run = client({"--wait", "8", "status"});
    leaving.join();
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_TRUE(run.err.starts_with(busy_notice)) << run.err;
    EXPECT_EQ(test_support::lines_of(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.out.find("machine status"), std::string::npos) << run.out;
}

TEST_F(ClientLimits, WaitBoundsTheWaitForABusyServer) {
    auto holder = occupy_server();
    const auto start = std::chrono::steady_clock::now();
    tool_run run = client({"--timeout", "0.5", "--wait", "1.5", "status"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_EQ(run.status, protocol_error) << context(run);
    EXPECT_TRUE(run.err.starts_with(busy_notice)) << run.err;
    EXPECT_NE(run.err.find("waiting at most 1.5 s in all (--wait)"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no answer within 1.5 s: the server is serving another client (it "
                           "serves one at a time) or is not answering"),
              std::string::npos)
        << run.err;

    // A --timeout longer than --wait bounds the first answer too: the notice names the true bound.
    run = client({"--timeout", "1.5", "--wait", "1", "status"});
    EXPECT_EQ(run.status, protocol_error) << context(run);
    EXPECT_NE(run.err.find("waiting at most 1.5 s in all (--timeout)"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("no answer within 1.5 s"), std::string::npos) << run.err;

    // Without --wait the first answer is waited for as long as any other: no notice.
    run = client({"--timeout", "0.5", "--wait", "0", "ping"});
    EXPECT_EQ(run.status, protocol_error) << context(run);
    EXPECT_EQ(run.err.find("waiting"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("no answer within 0.5 s"), std::string::npos) << run.err;
}

// A server that took the connection and answered once is not busy with another client when it
// stops answering: that is said as such, not as a queue.
TEST_F(ClientLimits, AServerThatStopsAnsweringIsNotCalledBusy) {
    auto conn = ifc_client::connection::open(ifc_client::endpoint{
        "127.0.0.1", server.port(), std::chrono::milliseconds(500), std::chrono::seconds(2)});
    ASSERT_TRUE(conn.ok()) << conn.failure().detail;
    ASSERT_TRUE(conn->get("IFC_get_stat").ok());
    ASSERT_EQ(::kill(server.pid(), SIGSTOP), 0);
    auto frozen = conn->get("IFC_get_stat");
    ::kill(server.pid(), SIGCONT);
    ASSERT_FALSE(frozen.ok());
    EXPECT_EQ(frozen.code(), ifc_client::errc::timeout);
    EXPECT_EQ(frozen.failure().detail,
              "the server stopped answering: waiting for 13 more bytes from it");
}

TEST_F(ClientLimits, PingProvesThatTheServerServes) {
    const tool_run run = client({"ping"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_TRUE(
        run.out.starts_with("ping: 127.0.0.1:" + std::to_string(server.port()) + " is serving"))
        << run.out;
    EXPECT_TRUE(server.wait_for_stdout("PING"));
    EXPECT_TRUE(server.wait_for_stdout("DISCONNECT"));

    // A port where nothing listens: the reason and the likely cause.
    const std::uint16_t port = server.port();
    server.kill();
    const tool_run refused = run_client(port, {"ping"});
    EXPECT_EQ(refused.status, cannot_connect) << context(refused);
    EXPECT_NE(refused.err.find("Connection refused (is ifc-server running on 127.0.0.1:" +
                               std::to_string(port) + "?)"),
              std::string::npos)
        << refused.err;
}

TEST_F(ClientLimits, HostMayNameThePort) {
    const tool_run run = test_support::run_tool(
        IFC_CLIENT_PATH, {"--host", "127.0.0.1:" + std::to_string(server.port()), "status"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_NE(run.out.find("machine status"), std::string::npos) << run.out;
}

// Rounds of --interval that fail are reported with their time and the repetition goes on; the
// exit status tells that a round failed.
TEST_F(ClientLimits, IntervalGoesOnThroughFailedRounds) {
    const std::uint16_t port = server.port();
    server.kill();
    const tool_run run = run_client(port, {"--interval", "0.05", "--count", "3", "status"});
    EXPECT_EQ(run.status, cannot_connect) << context(run);
    const auto lines = test_support::lines_of(run.err);
    ASSERT_EQ(lines.size(), 3u) << run.err;
    for (const std::string& line : lines) {
        // "ifc-client: 12:34:56: cannot connect: ..."
        ASSERT_GT(line.size(), 22u) << line;
        EXPECT_EQ(line.substr(0, 12), "ifc-client: ") << line;
        EXPECT_EQ(line[14], ':') << line;
        EXPECT_EQ(line[17], ':') << line;
        EXPECT_EQ(line.substr(20, 16), ": cannot connect") << line;
    }
    EXPECT_EQ(test_support::lines_of(run.out).size(), 3u) << run.out;  // the round headings
}

// A server that sends bytes no server of this protocol sends: they reach the message escaped,
// never raw to the terminal.
TEST(ClientBrokenServer, GarbageIsShownEscaped) {
    const auto listener = test_support::listen_on_loopback();
    std::thread broken([&] {
        const int conn = ::accept(listener.fd.get(), nullptr, nullptr);
        if (conn < 0) return;
        char header[23];
        if (::recv(conn, header, sizeof header, MSG_WAITALL) == sizeof header) {
            const char garbage[] = "LEN\x1b[2J\x07\x00\xffxyz";
            (void)::send(conn, garbage, 13, MSG_NOSIGNAL);
        }
        std::this_thread::sleep_for(200ms);
        ::close(conn);
    });
    const tool_run run = run_client(listener.port, {"--wait", "0", "get", "IFC_get_stat"});
    broken.join();
    EXPECT_EQ(run.status, protocol_error) << context(run);
    EXPECT_NE(run.err.find(R"(bad length header "LEN\x1B[2J\x07\x00\xFFxyz")"), std::string::npos)
        << run.err;
    for (const char c : run.err) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(c == '\n' || (byte >= 0x20 && byte < 0x7f)) << static_cast<int>(byte);
    }
}

// 800 random bytes in place of ifc_set.set: the server reads what it cannot find as 0, which
// no sound file holds for a colour or a target. The client says so and points to the check.
TEST_F(ClientLimits, ValuesOfADamagedSettingsFileAreWarnedAbout) {
    std::string bytes(800, '\0');
    std::uint32_t state = 7;
    for (char& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<char>(state >> 24);
    }
    test_support::write_file(server.workfile("ifc_set.set"), bytes);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"status"}, std::vector<std::string>{"targets", "1"},
          std::vector<std::string>{"histogram", "select"}}) {
        const tool_run run = client(args);
        EXPECT_EQ(run.status, ok) << context(run);
        const auto lines = test_support::lines_of(run.err);
        ASSERT_EQ(lines.size(), 1u) << context(run);
        EXPECT_TRUE(
            lines[0].starts_with("ifc-client: warning: the server answered values that "
                                 "no sound settings file holds:"))
            << lines[0];
        EXPECT_NE(lines[0].find("ifc-settings check ifc_set.set"), std::string::npos) << lines[0];
    }
    EXPECT_NE(client({"status"}).err.find(" color=0 (1..6)"), std::string::npos);
    EXPECT_NE(client({"targets", "1"}).err.find(" to=0 (50..150) tw=0 (190..290)"),
              std::string::npos);
}

TEST_F(ClientLimits, ForceSendsWhatTheClientWouldRefuse) {
    tool_run run = client({"put", "IFC_set_statt", "color:2 mode:0 totw_sw:0"});
    EXPECT_EQ(run.status, unknown_command) << context(run);
    EXPECT_EQ(run.err,
              "ifc-client: unknown write command 'IFC_set_statt'; did you mean 'IFC_set_stat'? "
              "(--force sends it all the same)\n");
    run = client({"--force", "put", "IFC_set_statt", "color:2 mode:0 totw_sw:0"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_NE(run.out.find("the server probably ignored it"), std::string::npos) << run.out;
    EXPECT_TRUE(server.wait_for_stdout("\nnot found\n"));

    run = client({"targets", "2", "to=99999"});
    EXPECT_EQ(run.status, usage) << context(run);
    run = client({"targets", "2", "to=99999", "--force"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_TRUE(run.err.empty()) << run.err;  // the forced value is no sign of damage
    EXPECT_EQ(test_support::ifc_slot(server, test_support::ifc_record::Tot, 2), 99999);
    // Read later, the value lies outside its range all the same.
    run = client({"targets", "2"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_NE(run.err.find("to=99999 (50..150)"), std::string::npos) << run.err;
}

}  // namespace
