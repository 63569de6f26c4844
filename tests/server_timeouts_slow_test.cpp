// The protocol's time limits: 5 seconds per wait for client bytes, restarted by every byte
// that arrives, and 10 seconds per answer or payload transfer, tested before each chunk; no
// wait of a transfer runs past its deadline plus one wait.
// These tests wait the limits out.
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "client/unique_fd.h"
#include "server/ether_com.h"
#include "tests/support/capture.h"
#include "tests/support/server_process.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using test_support::get_header;
using test_support::header;
using test_support::server_process;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Waits, bounded, for the server to close the connection; the seconds it took.
double seconds_until_closed(ifc_client::connection& conn) {
    const auto start = clock_type::now();
    EXPECT_TRUE(conn.server_closed(15s));
    return seconds_since(start);
}

// Standard output up to the end of the first session (the loop flushes before the next
// accept, which a second client makes sure of).
std::string output_after_session(server_process& server) {
    auto probe = server.connect();
    probe.disconnect();
    EXPECT_TRUE(server.wait_for_stdout("DISCONNECT             \n"));
    const std::string out = server.stdout_text();
    return out.substr(0, out.find("connected... DISCONNECT"));
}

TEST(WaitLimit, IdleConnectionIsClosedAfterFiveSeconds) {
    server_process server;
    auto conn = server.connect();
    const double waited = seconds_until_closed(conn);
    EXPECT_GE(waited, 4.5);
    EXPECT_LT(waited, 8.0);
    EXPECT_EQ(output_after_session(server),
              "waiting... connected... \nether_recv_unit_data(): select() timeout\n"
              "main(): ether_recv_unit_data\nwaiting... ");
}

TEST(WaitLimit, EveryArrivingPieceStartsTheWaitAfresh) {
    server_process server;
    auto conn = server.connect();
    const std::string whole = get_header("IFC_get_stat");
    // Four pieces three seconds apart: nine seconds for one header, no wait over five.
    for (std::size_t at = 0; at < whole.size(); at += 6) {
        if (at > 0) std::this_thread::sleep_for(3s);
        ASSERT_TRUE(conn.send_bytes(whole.substr(at, 6)).ok());
    }
    auto len = conn.recv_bytes(13);
    ASSERT_TRUE(len.ok());
    EXPECT_EQ(len.value(), "LEN0000000025");
}

TEST(WaitLimit, StalledPayloadChunkEndsTheConnection) {
    server_process server;
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(header("PUT100")).ok());
    auto next = conn.recv_bytes(4);
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(next.value(), "NEXT");
    ASSERT_TRUE(conn.send_bytes(std::string(50, 'x')).ok());
    const double waited = seconds_until_closed(conn);
    EXPECT_GE(waited, 4.5);
    EXPECT_EQ(conn.recv_available(0ms), "");  // no "FIN"
    // Only the wait's own message: the payload receive adds none.
    EXPECT_EQ(output_after_session(server),
              "waiting... connected... PUT100                 \n"
              "\nether_recv_unit_data(): select() timeout\nwaiting... ");
}

TEST(WaitLimit, MissingNextDuringAnAnswerEndsTheConnection) {
    server_process server;
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(get_header("IFC_get_stat")).ok());
    auto len = conn.recv_bytes(13);
    ASSERT_TRUE(len.ok());
    const double waited = seconds_until_closed(conn);
    EXPECT_GE(waited, 4.5);
    EXPECT_EQ(output_after_session(server),
              "waiting... connected... GETIFC_get_stat        \n"
              "\nether_recv_unit_data(): select() timeout\n"
              "ether_send_all_data(): ether_recv_unit_data() error\nwaiting... ");
}

TEST(TransferDeadline, SlowPayloadStopsBeforeTheChunkPastTenSeconds) {
    server_process server;
    auto conn = server.connect();
    const std::string body(5 * 1024, 'x');
    ASSERT_TRUE(conn.send_bytes(header("PUT" + std::to_string(body.size()))).ok());
    // Each chunk comes three seconds after its "NEXT": within every 5-second wait, but the
    // fifth chunk would start twelve seconds into the transfer.
    int chunks_sent = 0;
    for (int chunk = 0; chunk < 5; ++chunk) {
        auto next = conn.recv_bytes(4);
        if (!next.ok()) break;
        ASSERT_EQ(next.value(), "NEXT");
        std::this_thread::sleep_for(3s);
        ASSERT_TRUE(conn.send_bytes(body.substr(chunk * 1024, 1024)).ok());
        ++chunks_sent;
    }
    EXPECT_EQ(chunks_sent, 4);
    EXPECT_TRUE(conn.server_closed(5s));
    EXPECT_EQ(output_after_session(server),
              "waiting... connected... PUT5120                \n"
              "ether_recv_all_data(): time_out\nwaiting... ");
}

TEST(TransferDeadline, SlowAcknowledgementsStopAnAnswerPastTenSeconds) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ifc_client::unique_fd server_end(fds[0]);
    ifc_client::unique_fd client_end(fds[1]);
    int on = 1;
    ::ioctl(server_end.get(), FIONBIO, &on);
    std::thread client([fd = client_end.get()] {
        for (int i = 0; i < 5; ++i) {
            std::this_thread::sleep_for(3s);
            if (::send(fd, "NEXT", 4, MSG_NOSIGNAL) != 4) return;
        }
    });
    const std::string answer(5 * 1024, 'a');
    const std::string out = test_support::capture_stdout(
        [&] { EXPECT_EQ(ether_send_all_data(server_end.get(), answer.data(), 5 * 1024, 10), -1); });
    client.join();
    EXPECT_EQ(out, "ether_send_all_data(): time_out\n");
}

// A client that drips a chunk one byte every 4 seconds keeps every 5-second wait alive, but
// the transfer ends at its 10-second deadline plus one wait all the same; the next client is
// served right after.
TEST(TransferDeadline, APayloadDrippedByteByByteEndsWithinFifteenSeconds) {
    server_process server;
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(header("PUT1024")).ok());
    ASSERT_EQ(conn.recv_bytes(4).value(), "NEXT");
    const auto start = clock_type::now();
    for (int i = 0; i < 10 && conn.send_bytes("x").ok(); ++i) {
        if (conn.server_closed(4s)) break;
    }
    const double lasted = seconds_since(start);
    EXPECT_GE(lasted, 13.0);
    EXPECT_LE(lasted, 16.0);
    EXPECT_EQ(output_after_session(server),
              "waiting... connected... PUT1024                \n"
              "\nether_recv_unit_data(): select() timeout\nwaiting... ");
    auto next = server.connect();
    EXPECT_TRUE(next.get("IFC_get_stat").ok());
}

}  // namespace
