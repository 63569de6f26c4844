// The controller's time limits through the proxy: they reach the terminal as they would
// without it (the proxy adds none of its own), and the journal names them; a stall longer than
// the controller's wait makes it give up; a terminal that keeps its end open after the
// controller's close does not keep its place. These tests wait the limits out.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using test_support::get_header;
using test_support::header;

double seconds_until_closed(ifc_client::connection& conn) {
    const auto start = clock_type::now();
    EXPECT_TRUE(conn.server_closed(15s));
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

class ProxyTimeouts : public testing::Test {
  protected:
    void start(const std::string& rules = "") {
        proxy = std::make_unique<test_support::proxy_process>(
            server.port(), test_support::proxy_options{rules, {}});
    }

    test_support::server_process server;
    std::unique_ptr<test_support::proxy_process> proxy;
};

TEST_F(ProxyTimeouts, IdleConnectionIsClosedAfterFiveSecondsAsWithoutTheProxy) {
    start();
    auto c = proxy->connect();
    const double waited = seconds_until_closed(c);
    EXPECT_GE(waited, 4.5);
    EXPECT_LT(waited, 7.0);
    const auto closes = proxy->wait_for("close", 1);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0]["by"], "controller");
    EXPECT_EQ(closes[0]["reason"], "time-out: no request for 5 s");
}

TEST_F(ProxyTimeouts, HeaderInPiecesThreeSecondsApartIsStillServed) {
    start();
    auto c = proxy->connect();
    const std::string whole = get_header("IFC_get_stat");
    for (std::size_t at = 0; at < whole.size(); at += 6) {
        if (at > 0) std::this_thread::sleep_for(3s);
        ASSERT_TRUE(c.send_bytes(whole.substr(at, 6)).ok());
    }
    auto len = c.recv_bytes(13);
    ASSERT_TRUE(len.ok());
    EXPECT_EQ(len.value(), "LEN0000000025");
}

TEST_F(ProxyTimeouts, MissingNextIsJournalledAsTheControllersTimeOut) {
    start();
    auto c = proxy->connect();
    ASSERT_TRUE(c.send_bytes(get_header("IFC_get_stat")).ok());
    EXPECT_EQ(c.recv_bytes(13).value(), "LEN0000000025");
    EXPECT_GE(seconds_until_closed(c), 4.5);
    const auto requests = proxy->wait_for("request", 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["outcome"], "timeout");
    EXPECT_EQ(requests[0]["detail"], "the controller waited 5 s for NEXT 1");
}

TEST_F(ProxyTimeouts, StalledPayloadChunkIsJournalledAsTheControllersTimeOut) {
    start();
    auto c = proxy->connect();
    ASSERT_TRUE(c.send_bytes(header("PUT100")).ok());
    EXPECT_EQ(c.recv_bytes(4).value(), "NEXT");
    ASSERT_TRUE(c.send_bytes(std::string(50, 'x')).ok());
    EXPECT_GE(seconds_until_closed(c), 4.5);
    EXPECT_EQ(c.recv_available(0ms), "");  // no FIN
    const auto requests = proxy->wait_for("request", 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["outcome"], "timeout");
    EXPECT_EQ(requests[0]["detail"],
              "the controller waited 5 s for payload chunk 1 (50 of 100 bytes came)");
}

TEST_F(ProxyTimeouts, StallLongerThanTheControllersWaitMakesItGiveUp) {
    start(R"({"rules": [{"kind": "GET", "action": "stall", "at": "before_len", "seconds": 6}]})");
    auto c = proxy->connect();
    ASSERT_TRUE(c.send_bytes(get_header("IFC_get_stat") + "NEXT").ok());
    // The length header waited at the proxy with the terminal's NEXT; the controller closed
    // after five seconds without it. After the stall the terminal gets the header, then the
    // close.
    const auto start_time = clock_type::now();
    auto len = c.recv_bytes(13);
    ASSERT_TRUE(len.ok());
    EXPECT_EQ(len.value(), "LEN0000000025");
    EXPECT_GE(std::chrono::duration<double>(clock_type::now() - start_time).count(), 5.5);
    EXPECT_TRUE(c.server_closed(3s));
    const auto requests = proxy->wait_for("request", 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["outcome"], "timeout");
    EXPECT_EQ(requests[0]["detail"],
              "the controller waited 5 s for the terminal's next 4 bytes, which the proxy held "
              "back");
    EXPECT_EQ(requests[0]["faults"][0]["applied"], true);
}

TEST_F(ProxyTimeouts, TerminalThatNeverClosesAfterTheControllerDoesNotKeepItsPlace) {
    proxy = std::make_unique<test_support::proxy_process>(
        server.port(), test_support::proxy_options{"", {"--max-connections", "1"}});
    // This terminal reads the controller's close after five idle seconds and keeps its end
    // open; the proxy ends the connection after as long again.
    auto idle = proxy->connect();
    EXPECT_TRUE(idle.server_closed(10s));
    const auto closes = proxy->wait_for("close", 1, 10s);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0]["reason"], "time-out: no request for 5 s");
    auto next = proxy->connect();
    EXPECT_TRUE(next.get("IFC_get_stat").ok());
}

}  // namespace
