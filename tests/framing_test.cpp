// The three transfer operations on one end of a socket pair; the test plays the client on
// the other end. Everything a step needs from the client is written in advance, so the
// operations never have to wait.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "client/unique_fd.h"
#include "server/ether_com.h"
#include "tests/support/capture.h"
#include "tests/support/case_names.h"

namespace {

using ifc_client::unique_fd;
using test_support::capture_stdout;

struct socket_pair {
    unique_fd server;
    unique_fd client;

    socket_pair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair");
        server.reset(fds[0]);
        client.reset(fds[1]);
        int on = 1;
        ::ioctl(server.get(), FIONBIO, &on);
    }

    void client_sends(const std::string& bytes) const {
        ASSERT_EQ(::write(client.get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // For more bytes than the pair's buffers hold: written from a second thread while the
    // server end reads.
    std::thread client_sends_in_background(const std::string& bytes) const {
        return std::thread([fd = client.get(), &bytes] {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t k = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (k <= 0) return;
                done += static_cast<std::size_t>(k);
            }
        });
    }
    void client_closes_sending() const { ::shutdown(client.get(), SHUT_WR); }
    // Everything the server end has sent so far.
    std::string client_receives() const {
        std::string all;
        char buf[65536];
        for (;;) {
            const ssize_t k = ::recv(client.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (k <= 0) return all;
            all.append(buf, static_cast<std::size_t>(k));
        }
    }
};

std::string repeat(const std::string& token, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += token;
    return all;
}

std::string pattern(int len) {
    std::string text(static_cast<std::size_t>(len), '\0');
    for (int i = 0; i < len; ++i)
        text[i] = static_cast<char>('a' + i % 26);
    return text;
}

struct send_case {
    const char* name;
    int len;
    int acks;  // "NEXT" tokens the client must send
};

void PrintTo(const send_case& c, std::ostream* os) {
    *os << c.name;
}

class SendAllData : public testing::TestWithParam<send_case> {};

TEST_P(SendAllData, SendsLengthHeaderThenOneChunkPerNext) {
    const int len = GetParam().len, acks = GetParam().acks;
    socket_pair pair;
    const std::string answer = pattern(len > 0 ? len : 0);
    pair.client_sends(repeat("NEXT", acks));
    EXPECT_EQ(ether_send_all_data(pair.server.get(), answer.data(), len, 10), len < 0 ? 0 : len);
    char header[16];
    std::snprintf(header, sizeof header, "LEN%010d", len);
    EXPECT_EQ(pair.client_receives(), std::string(header) + answer);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SendAllData,
                         testing::Values(send_case{"Empty", 0, 0}, send_case{"OneByte", 1, 1},
                                         send_case{"OneFullChunk", 1024, 1},
                                         send_case{"OneByteOverAChunk", 1025, 2},
                                         send_case{"ThreeChunks", 2 * 1024 + 452, 3},
                                         send_case{"UnknownCommand", -1, 0}),
                         test_support::case_name());

TEST(SendAllData, AnswerOfMinusOneIsExactlyTheThirteenByteHeader) {
    socket_pair pair;
    char buf[1] = {};
    EXPECT_EQ(ether_send_all_data(pair.server.get(), buf, -1, 10), 0);
    EXPECT_EQ(pair.client_receives(), "LEN-000000001");
}

TEST(SendAllData, SecondChunkWaitsForTheSecondNext) {
    socket_pair pair;
    const std::string answer = pattern(1025);
    pair.client_sends("NEXT");
    pair.client_closes_sending();  // no second "NEXT" will come
    const std::string out = capture_stdout(
        [&] { EXPECT_EQ(ether_send_all_data(pair.server.get(), answer.data(), 1025, 10), -1); });
    EXPECT_EQ(pair.client_receives(), "LEN0000001025" + answer.substr(0, 1024));
    EXPECT_EQ(out, "");  // a client that closes early fails the send without a message
}

struct bad_ack_case {
    const char* name;
    std::string ack;
    bool close_after;
    std::string message;
};

void PrintTo(const bad_ack_case& c, std::ostream* os) {
    *os << c.name;
}

class SendAllDataBadAck : public testing::TestWithParam<bad_ack_case> {};

TEST_P(SendAllDataBadAck, FailsWithItsMessage) {
    const auto& c = GetParam();
    socket_pair pair;
    pair.client_sends(c.ack);
    if (c.close_after) pair.client_closes_sending();
    const std::string answer = pattern(10);
    const std::string out = capture_stdout(
        [&] { EXPECT_EQ(ether_send_all_data(pair.server.get(), answer.data(), 10, 10), -1); });
    EXPECT_EQ(out, c.message);
    EXPECT_EQ(pair.client_receives(), "LEN0000000010");
}

INSTANTIATE_TEST_SUITE_P(
    Acks, SendAllDataBadAck,
    testing::Values(bad_ack_case{"LowerCase", "next", false,
                                 "ether_send_all_data(): can't found \"NEXT\"\n"},
                    bad_ack_case{"LastLetterLowerCase", "NEXt", false,
                                 "ether_send_all_data(): can't found \"NEXT\"\n"},
                    bad_ack_case{"NulInsteadOfT", std::string("NEX\0", 4), false,
                                 "ether_send_all_data(): can't found \"NEXT\"\n"},
                    bad_ack_case{"HalfThenClose", "NE", true, ""},
                    bad_ack_case{"NothingThenClose", "", true, ""}),
    test_support::case_name());

TEST(SendAllData, MessagesFollowTheDebugFlag) {
    socket_pair pair;
    pair.client_sends("next");
    const std::string answer = pattern(10);
    deb_ether_com = 0;
    const std::string out = capture_stdout(
        [&] { EXPECT_EQ(ether_send_all_data(pair.server.get(), answer.data(), 10, 10), -1); });
    deb_ether_com = 1;
    EXPECT_EQ(out, "");
}

TEST(SendAllData, PeerGoneFailsWithoutEndingTheProcess) {
    socket_pair pair;
    pair.client.reset();  // writing to it now would raise SIGPIPE without protection
    const std::string answer = pattern(10);
    const std::string out = capture_stdout(
        [&] { EXPECT_EQ(ether_send_all_data(pair.server.get(), answer.data(), 10, 10), -1); });
    EXPECT_EQ(out, "ether_send_all_data(): send() error\n");
}

struct recv_case {
    const char* name;
    int len;
    int nexts;
};

void PrintTo(const recv_case& c, std::ostream* os) {
    *os << c.name;
}

class RecvAllData : public testing::TestWithParam<recv_case> {};

TEST_P(RecvAllData, AsksForEachChunkAndEndsWithFin) {
    const int len = GetParam().len, nexts = GetParam().nexts;
    socket_pair pair;
    // The whole payload arrives at once, before any "NEXT": it is still read chunk by chunk.
    const std::string payload = pattern(len);
    std::thread writer = pair.client_sends_in_background(payload);
    std::vector<char> buf(static_cast<std::size_t>(len) + 1);
    EXPECT_EQ(ether_recv_all_data(pair.server.get(), buf.data(), len, 10), len);
    writer.join();
    EXPECT_EQ(std::string(buf.data(), static_cast<std::size_t>(len)), payload);
    EXPECT_EQ(pair.client_receives(), repeat("NEXT", nexts) + "FIN");
}

INSTANTIATE_TEST_SUITE_P(Lengths, RecvAllData,
                         testing::Values(recv_case{"Empty", 0, 0}, recv_case{"OneByte", 1, 1},
                                         recv_case{"OneFullChunk", 1024, 1},
                                         recv_case{"OneByteOverAChunk", 1025, 2},
                                         recv_case{"LargestPayload", 256000, 250}),
                         test_support::case_name());

TEST(RecvAllData, LeavesBytesBeyondThePayloadInTheStream) {
    socket_pair pair;
    pair.client_sends("abcdefPING");
    char buf[8] = {};
    EXPECT_EQ(ether_recv_all_data(pair.server.get(), buf, 6, 10), 6);
    EXPECT_EQ(std::string(buf, 6), "abcdef");
    char rest[4];
    EXPECT_EQ(ether_recv_unit_data(pair.server.get(), rest, 4, 5), 4);
    EXPECT_EQ(std::string(rest, 4), "PING");
}

TEST(RecvAllData, ClientClosingInsideAChunkFailsWithoutFin) {
    socket_pair pair;
    pair.client_sends("abc");
    pair.client_closes_sending();
    char buf[16];
    const std::string out =
        capture_stdout([&] { EXPECT_EQ(ether_recv_all_data(pair.server.get(), buf, 10, 10), -1); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(pair.client_receives(), "NEXT");
}

TEST(RecvAllData, NegativeLengthReceivesNothingButFin) {
    socket_pair pair;
    char buf[1];
    EXPECT_EQ(ether_recv_all_data(pair.server.get(), buf, -5, 10), 0);
    EXPECT_EQ(pair.client_receives(), "FIN");
}

TEST(RecvUnitData, ZeroBytesReturnAtOnce) {
    socket_pair pair;
    char buf[1];
    EXPECT_EQ(ether_recv_unit_data(pair.server.get(), buf, 0, 5), 0);
}

TEST(RecvUnitData, AssemblesPiecesAndReportsAShortEnd) {
    socket_pair pair;
    pair.client_sends("PI");
    pair.client_sends("NG");
    pair.client_sends("xyz");
    pair.client_closes_sending();
    char buf[23];
    EXPECT_EQ(ether_recv_unit_data(pair.server.get(), buf, 4, 5), 4);
    EXPECT_EQ(std::string(buf, 4), "PING");
    EXPECT_EQ(ether_recv_unit_data(pair.server.get(), buf, 23, 5), 3);
}

TEST(EtherInit, PortInUseReportsBindInPerrorForm) {
    int first = -1;
    ASSERT_EQ(ether_init(&first, 0), 1);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(first, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    int second = -1;
    const std::string err = test_support::capture_stderr(
        [&] { EXPECT_EQ(ether_init(&second, ntohs(addr.sin_port)), -1); });
    EXPECT_EQ(err, "server: bind: Address already in use\n");
    ::close(first);
}

}  // namespace
