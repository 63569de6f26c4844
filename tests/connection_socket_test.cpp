// How the server sets up the socket of each connection it serves.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "lib/protocol.h"
#include "server/tcp9002.h"
#include "tests/support/workdir.h"

namespace {

std::string header(std::string_view token, std::string_view rest) {
    std::string h(token);
    h += rest;
    h.resize(protocol::header_len, ' ');
    return h;
}

// Nagle's algorithm holds back a token sent while the one before is not yet acknowledged,
// until the client's delayed acknowledgement comes (about 40 ms on Linux): a client that sends
// a payload ahead of the "NEXT"s would wait that long for each further "NEXT" and the "FIN".
// So every connection has it turned off. (How long the exchange takes is shown by
// bench/server_bench, case "3 chunks ahead".)
TEST(ConnectionSocket, TokensGoOutWithoutWaitingForAcknowledgements) {
    test_support::scoped_workdir dir;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int served = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(served, 0);
    const int probe = ::dup(served);  // the socket outlives the server's close of its end

    // A whole session sent at once: a GET and its acknowledgement, then DISCONNECT.
    const std::string session = header(protocol::get_token, "IFC_get_stat") +
                                std::string(protocol::next_token) +
                                header(protocol::disconnect_token, "");
    ASSERT_EQ(::send(client, session.data(), session.size(), 0),
              static_cast<ssize_t>(session.size()));
    tcp9002_serve(served);

    int nodelay = 0;
    socklen_t size = sizeof nodelay;
    ASSERT_EQ(::getsockopt(probe, IPPROTO_TCP, TCP_NODELAY, &nodelay, &size), 0);
    EXPECT_NE(nodelay, 0);
    char reply[64] = {};
    EXPECT_GT(::recv(client, reply, sizeof reply, 0), protocol::len_header_len);
    ::close(probe);
    ::close(client);
    ::close(listener);
}

}  // namespace
