// What clients that hold on to the gateway get: connections past the caps are refused at
// once, a request that does not arrive whole in time is ended, and while such clients go on
// the others are served.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/gateway_harness.h"
#include "tests/support/raw_http.h"
#include "tests/support/server_process.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using test_support::local_controller;

constexpr const char* get_request = "GET /api/gateway HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

gateway::http_settings capped(int total, int per_address) {
    gateway::http_settings http;
    http.max_connections = total;
    http.max_connections_per_address = per_address;
    return http;
}

// Idle connections from one loopback address each (127.0.0.2, 127.0.0.3, ...), held open.
std::vector<ifc_client::unique_fd> hold(std::uint16_t port, const char* source, int count) {
    std::vector<ifc_client::unique_fd> held;
    for (int i = 0; i < count; ++i)
        held.push_back(test_support::connect_loopback(port, source));
    return held;
}

int status_from(std::uint16_t port, const char* source) {
    const auto fd = test_support::connect_loopback(port, source);
    if (!fd) return -1;
    ::send(fd.get(), get_request, std::strlen(get_request), MSG_NOSIGNAL);
    return test_support::status_of(test_support::read_answer(fd.get(), 5s));
}

TEST(GatewayHttpLimits, ConnectionsPastTheCapsAreRefusedAndTheOthersServed) {
    struct cap_case {
        const char* label;
        int total;
        int per_address;
        int refused_from_a;     // the status of one more connection from 127.0.0.2
        int served_from_other;  // ... and of one from 127.0.0.1
    };
    for (const auto& c :
         {cap_case{"per address", 100, 3, 503, 200}, cap_case{"in all", 3, 100, 503, 503}}) {
        test_support::gateway_harness gateway({}, test_support::fast_polls(),
                                              capped(c.total, c.per_address));
        auto held = hold(gateway.port(), "127.0.0.2", 3);
        ASSERT_TRUE(
            test_support::wait_until([&] { return gateway.server().open_connections() == 3; }, 5s))
            << c.label;
        EXPECT_EQ(status_from(gateway.port(), "127.0.0.2"), c.refused_from_a) << c.label;
        EXPECT_EQ(status_from(gateway.port(), "127.0.0.1"), c.served_from_other) << c.label;
        // Once one goes, a place is free again.
        held.pop_back();
        ASSERT_TRUE(
            test_support::wait_until([&] { return gateway.server().open_connections() == 2; }, 5s))
            << c.label;
        EXPECT_EQ(status_from(gateway.port(), "127.0.0.2"), 200) << c.label;
    }
}

// The deadline is for the whole request, not for each read: bytes that come one by one, each
// well within any wait for the next, do not keep a connection.
TEST(GatewayHttpLimits, RequestMustArriveWholeWithinItsDeadline) {
    gateway::http_settings http;
    http.request_deadline = 600ms;
    test_support::gateway_harness gateway({}, test_support::fast_polls(), http);

    const auto dripping = test_support::connect_loopback(gateway.port());
    const std::string request =
        "GET /api/gateway HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(100, 'a') +
        "\r\n\r\n";
    std::string answer;
    for (char byte : request) {
        if (::send(dripping.get(), &byte, 1, MSG_NOSIGNAL) != 1) break;
        answer = test_support::read_answer(dripping.get(), 50ms);
        if (!answer.empty()) break;
    }
    EXPECT_EQ(test_support::status_of(answer), 408) << answer.substr(0, 40);

    // A connection that sends nothing is closed without an answer.
    const auto silent = test_support::connect_loopback(gateway.port());
    const timeval wait{10, 0};
    ::setsockopt(silent.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char byte;
    EXPECT_EQ(::recv(silent.get(), &byte, 1, 0), 0);
}

// Forty clients each sending a header line now and then (each within any wait for bytes) hold
// no thread: the others' requests are answered while they go on.
TEST(GatewayHttpLimits, DrippingClientsDoNotHoldUpTheOthers) {
    test_support::server_process server;
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    std::vector<ifc_client::unique_fd> drippers = hold(gateway.port(), "127.0.0.2", 40);
    for (auto& fd : drippers) {
        const std::string start = "GET /api/gateway HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        ::send(fd.get(), start.data(), start.size(), MSG_NOSIGNAL);
    }
    for (int round = 0; round < 5; ++round) {
        for (auto& fd : drippers)
            ::send(fd.get(), "X-A: b\r\n", 8, MSG_NOSIGNAL);
        auto client = gateway.client();
        client.set_read_timeout(5, 0);
        auto r = client.Get("/api/controllers/loom1");
        ASSERT_TRUE(r) << "round " << round;
        EXPECT_EQ(r->status, 200);
        std::this_thread::sleep_for(100ms);
    }
}

}  // namespace
