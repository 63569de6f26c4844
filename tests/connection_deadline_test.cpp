// Each exchange of the client library has an overall deadline: a server that keeps every single
// wait short by sending one byte at a time cannot hold a client for longer than that.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "client/connection.h"
#include "client/settings_access.h"
#include "tests/support/fake_controller.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

test_support::fake_controller_options dripping(std::chrono::milliseconds drip) {
    return {test_support::default_answers(), drip};
}

// Each byte comes well within the one-second wait, but the 38 bytes of a status exchange take
// about 4 s in all: the 1.5-second deadline ends the exchange.
TEST(ConnectionDeadline, DrippingAnswerEndsAtTheDeadline) {
    test_support::fake_controller controller(dripping(100ms));
    auto conn = ifc_client::connection::open(controller.endpoint(1s, 1500ms));
    ASSERT_TRUE(conn.ok());
    const auto start = clock_type::now();
    auto answer = conn->get("IFC_get_stat");
    const auto took = clock_type::now() - start;
    ASSERT_FALSE(answer.ok());
    EXPECT_EQ(answer.code(), ifc_client::errc::timeout);
    EXPECT_NE(answer.failure().detail.find("deadline"), std::string::npos)
        << answer.failure().detail;
    EXPECT_GE(took, 1400ms);
    EXPECT_LT(took, 2500ms);
    EXPECT_FALSE(conn->is_open());  // the stream is at an unknown place
}

TEST(ConnectionDeadline, DrippingAcknowledgementsOfAWriteEndAtTheDeadline) {
    test_support::fake_controller controller(dripping(100ms));
    auto conn = ifc_client::connection::open(controller.endpoint(300ms, 500ms));
    ASSERT_TRUE(conn.ok());
    const auto start = clock_type::now();
    auto sent = conn->put("IFC_set_stat", "color:2 mode:0 totw_sw:0 ");
    EXPECT_EQ(sent.code(), ifc_client::errc::timeout);
    EXPECT_LT(clock_type::now() - start, 1500ms);
}

// The deadline is per exchange, not per connection: many quick exchanges on one connection
// may together take longer than one deadline.
TEST(ConnectionDeadline, CountsFromTheStartOfEachExchange) {
    test_support::fake_controller controller(dripping(5ms));
    auto conn = ifc_client::connection::open(controller.endpoint(1s, 600ms));
    ASSERT_TRUE(conn.ok());
    const auto start = clock_type::now();
    for (int round = 0; round < 4; ++round) {
        auto status = ifc_client::read_status(conn.value());
        ASSERT_TRUE(status.ok()) << status.failure().detail;
    }
    EXPECT_GT(clock_type::now() - start, 600ms);
}

// A deadline shorter than the wait for single bytes would cut the wait short: the longer of
// the two holds.
TEST(ConnectionDeadline, NeverShorterThanTheWait) {
    test_support::fake_controller controller(dripping(20ms));
    auto conn = ifc_client::connection::open(controller.endpoint(2s, 1ms));
    ASSERT_TRUE(conn.ok());
    EXPECT_TRUE(conn->get("IFC_get_stat").ok());
}

// A session's own time limit ends a series of exchanges that are each within their deadline.
TEST(ConnectionDeadline, SessionLimitEndsManyQuickExchanges) {
    test_support::fake_controller controller(dripping(5ms));
    auto conn = ifc_client::connection::open(controller.endpoint(1s, 1s));
    ASSERT_TRUE(conn.ok());
    const auto start = clock_type::now();
    conn->limit_to(start + 400ms);
    bool failed = false;
    for (int round = 0; round < 20 && !failed; ++round)
        failed = !ifc_client::read_status(conn.value()).ok();
    EXPECT_TRUE(failed);
    EXPECT_LT(clock_type::now() - start, 1500ms);
    EXPECT_FALSE(conn->is_open());
}

// A stopping program takes its connection back at once: the cancel descriptor ends the wait.
TEST(ConnectionDeadline, CancelDescriptorEndsAWaitAtOnce) {
    test_support::fake_controller controller(dripping(200ms));
    int cancel[2];
    ASSERT_EQ(::pipe(cancel), 0);
    auto where = controller.endpoint(5s, 10s);
    where.cancel_fd = cancel[0];
    auto conn = ifc_client::connection::open(where);
    ASSERT_TRUE(conn.ok());
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        ASSERT_EQ(::write(cancel[1], "x", 1), 1);
    });
    const auto start = clock_type::now();
    auto answer = conn->get("IFC_get_stat");
    canceller.join();
    EXPECT_EQ(answer.code(), ifc_client::errc::io);
    EXPECT_NE(answer.failure().detail.find("cancelled"), std::string::npos);
    EXPECT_LT(clock_type::now() - start, 3s);
    ::close(cancel[0]);
    ::close(cancel[1]);
}

// A length beyond what any server sends is refused before anything is held for it.
TEST(ConnectionDeadline, AnswerLengthBeyondTheServersBufferIsAProtocolError) {
    auto answers = test_support::default_answers();
    answers["IFC_get_stat"] = std::string(300000, 'a');
    test_support::fake_controller controller({answers, 0ms});
    auto conn = ifc_client::connection::open(controller.endpoint(1s, 1s));
    ASSERT_TRUE(conn.ok());
    auto answer = conn->get("IFC_get_stat");
    EXPECT_EQ(answer.code(), ifc_client::errc::protocol);
    EXPECT_NE(answer.failure().detail.find("300000"), std::string::npos);
}

}  // namespace
