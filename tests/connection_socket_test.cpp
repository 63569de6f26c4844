// How the server sets up the socket of each connection it serves.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "client/connection.h"
#include "protocol/protocol.h"
#include "server/tcp9002.h"
#include "tests/support/loopback.h"
#include "tests/support/wire.h"
#include "tests/support/workdir.h"

namespace {

using namespace std::chrono_literals;

// Nagle's algorithm holds back a token sent while the one before is not yet acknowledged,
// until the client's delayed acknowledgement comes (about 40 ms on Linux): a client that sends
// a payload ahead of the "NEXT"s would wait that long for each further "NEXT" and the "FIN".
// So every connection has it turned off. (How long the exchange takes is shown by
// bench/server_bench, case "3 chunks ahead".)
TEST(ConnectionSocket, TokensGoOutWithoutWaitingForAcknowledgements) {
    test_support::scoped_workdir dir;
    const auto listener = test_support::listen_on_loopback();
    auto client = ifc_client::connection::open({"127.0.0.1", listener.port, 5s});
    ASSERT_TRUE(client.ok());
    const int served = ::accept(listener.fd.get(), nullptr, nullptr);
    ASSERT_GE(served, 0);
    const int probe = ::dup(served);  // the socket outlives the server's close of its end

    // A whole session sent at once: a GET and its acknowledgement, then DISCONNECT.
    const std::string session = test_support::get_header("IFC_get_stat") +
                                std::string(protocol::next_token) +
                                test_support::header(protocol::disconnect_token);
    ASSERT_TRUE(client->send_bytes(session).ok());
    tcp9002_serve(served);

    int nodelay = 0;
    socklen_t size = sizeof nodelay;
    ASSERT_EQ(::getsockopt(probe, IPPROTO_TCP, TCP_NODELAY, &nodelay, &size), 0);
    EXPECT_NE(nodelay, 0);
    EXPECT_GT(client->recv_available(5s).size(),
              static_cast<std::size_t>(protocol::len_header_len));
    ::close(probe);
}

}  // namespace
