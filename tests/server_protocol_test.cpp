// The request protocol over real TCP: header kinds and the connection's fate after each,
// payload framing, dispatch of names, and clients that misbehave or vanish.
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/case_names.h"
#include "tests/support/server_process.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using test_support::get_header;
using test_support::header;
using test_support::nexts_then_fin;
using test_support::payload;
using test_support::put_raw;

const std::string default_status = "color:1 mode:0 totw_sw:0 ";

class ServerProtocol : public testing::Test {
  protected:
    // The connection still serves requests: a GET on it gets its full answer.
    void expect_still_serving(ifc_client::connection& conn) {
        auto answer = conn.get("IFC_get_stat");
        ASSERT_TRUE(answer.ok()) << answer.failure().detail;
        EXPECT_EQ(answer.value(), default_status);
    }

    // The server closed the connection without sending a byte.
    void expect_closed_silently(ifc_client::connection& conn) {
        EXPECT_TRUE(conn.server_closed(3s));
        EXPECT_EQ(conn.recv_available(0ms), "");
    }

    test_support::server_process server;
};

TEST_F(ServerProtocol, PingIsAnsweredWithNothingAndKeepsTheConnection) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(header(std::string("PING\0\xff\x01zz", 9))).ok());
    EXPECT_EQ(conn.recv_available(200ms), "");
    expect_still_serving(conn);
}

TEST_F(ServerProtocol, DisconnectClosesWithoutReplyAndTheNextClientIsServed) {
    auto first = server.connect();
    ASSERT_TRUE(first.send_bytes(header("DISCONNECTanything")).ok());
    expect_closed_silently(first);
    auto second = server.connect();
    expect_still_serving(second);
}

struct header_case {
    const char* name;
    std::string first_bytes;
};

void PrintTo(const header_case& c, std::ostream* os) {
    *os << c.name;
}

class UnknownHeader : public ServerProtocol, public testing::WithParamInterface<header_case> {};

TEST_P(UnknownHeader, ClosesTheConnectionWithoutAByte) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(header(GetParam().first_bytes)).ok());
    expect_closed_silently(conn);
    auto next = server.connect();
    expect_still_serving(next);
}

INSTANTIATE_TEST_SUITE_P(FirstBytes, UnknownHeader,
                         testing::Values(header_case{"GetInLowerCase", "getIFC_get_stat"},
                                         header_case{"GetMixedCase", "GEt"},
                                         header_case{"PingMixedCase", "PINg"},
                                         header_case{"PingCutShort", "PIN"},
                                         header_case{"DisconnectMixedCase", "DISCONNECt"},
                                         header_case{"DisconnectCutShort", "DISCONNEC"},
                                         header_case{"LeadingBlank", " GETIFC_get_stat"},
                                         header_case{"OtherWord", "HELLO"},
                                         header_case{"AllNul", std::string(23, '\0')},
                                         header_case{"NulBeforeGet", std::string("\0GET", 4)}),
                         test_support::case_name());

struct put_length_case {
    const char* name;
    std::string text;
    std::string reply;  // what the server answers instead of "NEXT"
};

void PrintTo(const put_length_case& c, std::ostream* os) {
    *os << c.name;
}

class PutLength : public ServerProtocol, public testing::WithParamInterface<put_length_case> {};

TEST_P(PutLength, OutOfRangeIsRefusedAndZeroEndsAtOnceBothKeepingTheConnection) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(header("PUT" + GetParam().text)).ok());
    auto reply = conn.recv_bytes(GetParam().reply.size());
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.value(), GetParam().reply);
    EXPECT_EQ(conn.recv_available(100ms), "");
    expect_still_serving(conn);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, PutLength,
    testing::Values(put_length_case{"OneAboveTheLimit", "256001", "ERR!"},
                    put_length_case{"MinusOne", "-1", "ERR!"},
                    put_length_case{"AboveInt32", "2147483648", "ERR!"},
                    put_length_case{"TwentyDigits", "99999999999999999999", "ERR!"},
                    put_length_case{"BelowInt32", "-2147483649", "ERR!"},
                    put_length_case{"Zero", "0", "FIN"}, put_length_case{"Empty", "", "FIN"},
                    put_length_case{"Letters", "abc", "FIN"},
                    put_length_case{"BlanksAndPlusZero", "  +0", "FIN"},
                    put_length_case{"MinusZero", "-0", "FIN"},
                    put_length_case{"NulBeforeDigit",
                                    std::string("\0"
                                                "5",
                                                2),
                                    "FIN"}),
    test_support::case_name());

TEST_F(ServerProtocol, PutLengthIsReadAsAtoiReadsIt) {
    auto conn = server.connect();
    // Leading blanks, a sign, digits, then anything: 20 bytes of payload.
    const std::string body = payload("IFC_hst_clear", "1 tw  ");
    ASSERT_EQ(body.size(), 20u);
    ASSERT_TRUE(conn.send_bytes(header("PUT  +20xyz") + body).ok());
    auto reply = conn.recv_bytes(7);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.value(), "NEXTFIN");
    expect_still_serving(conn);
}

TEST_F(ServerProtocol, UnknownGetNameGetsLengthMinusOneAndTheConnectionCloses) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(get_header("IFC_get_nothing")).ok());
    auto reply = conn.recv_bytes(13);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.value(), "LEN-000000001");
    EXPECT_TRUE(conn.server_closed(3s));
}

TEST_F(ServerProtocol, GetNameMustBeFilledWithSpacesNotNuls) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(std::string("GETIFC_get_stat") + std::string(8, '\0')).ok());
    auto reply = conn.recv_bytes(13);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.value(), "LEN-000000001");
}

TEST_F(ServerProtocol, TwentyCharacterNameFillsTheFieldExactly) {
    auto conn = server.connect();
    auto answer = conn.get("IFC_get_hist_cntdatL");
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer->size(), 144u);
}

TEST_F(ServerProtocol, GetAnswerAndFramingAreByteExact) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(get_header("IFC_get_stat") + "NEXT").ok());
    auto reply = conn.recv_bytes(13 + default_status.size());
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.value(), "LEN0000000025" + default_status);
    EXPECT_EQ(conn.recv_available(100ms), "");
}

TEST_F(ServerProtocol, HeaderArrivingInPiecesIsServedAsOne) {
    auto conn = server.connect();
    const std::string whole = get_header("IFC_get_stat");
    for (const std::size_t cut : {0u, 2u, 9u, 22u}) {
        const std::size_t next = cut == 22 ? 23 : (cut == 0 ? 2 : (cut == 2 ? 9 : 22));
        ASSERT_TRUE(conn.send_bytes(whole.substr(cut, next - cut)).ok());
        std::this_thread::sleep_for(50ms);
    }
    auto reply = conn.recv_bytes(13);
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.value(), "LEN0000000025");
}

struct payload_case {
    const char* name;
    std::size_t size;
    int chunks;
    bool all_at_once;
};

void PrintTo(const payload_case& c, std::ostream* os) {
    *os << c.name;
}

class PayloadFraming : public ServerProtocol, public testing::WithParamInterface<payload_case> {};

TEST_P(PayloadFraming, OneNextPerChunkThenFinAndTheCommandRuns) {
    const payload_case& c = GetParam();
    const std::string name = "MLETOFF_set_btnstat";
    const std::string argument(c.size - name.size() - 1, 'x');
    auto conn = server.connect();
    EXPECT_EQ(put_raw(conn, payload(name, argument), c.all_at_once), nexts_then_fin(c.chunks));
    expect_still_serving(conn);
    conn.disconnect();
    // The let-off command prints its argument as one line.
    ASSERT_TRUE(server.wait_for_stdout("DISCONNECT"));
    EXPECT_NE(server.stdout_text().find("\n" + argument + "\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PayloadFraming,
                         testing::Values(payload_case{"Smallest", 21, 1, false},
                                         payload_case{"OneFullChunk", 1024, 1, false},
                                         payload_case{"OneByteOverAChunk", 1025, 2, false},
                                         payload_case{"Largest", 256000, 250, false},
                                         payload_case{"OneByteOverAChunkAllAtOnce", 1025, 2, true},
                                         payload_case{"LargestAllAtOnce", 256000, 250, true}),
                         test_support::case_name());

TEST_F(ServerProtocol, PayloadsThatNameNoCommandAreReportedOnlyOnStandardOutput) {
    auto conn = server.connect();
    for (const std::string& body :
         {std::string("IFC_set_stat"),                           // no NUL at all
          payload("IFC_set_stat ", "color:2 mode:0 totw_sw:0"),  // trailing space in the name
          payload("", "color:2 mode:0 totw_sw:0"),               // empty name
          payload("IFC_hst_s", "1 tw"),                          // prefix of a name
          payload("ifc_set_stat", "color:2 mode:0 totw_sw:0")}) {
        EXPECT_EQ(put_raw(conn, body, false), nexts_then_fin(1));
    }
    expect_still_serving(conn);
    conn.disconnect();
    ASSERT_TRUE(server.wait_for_stdout("DISCONNECT"));
    const std::string out = server.stdout_text();
    EXPECT_NE(out.find("\nCOMMAND END not found\n"), std::string::npos);
    std::size_t not_found = 0;
    for (std::size_t at = out.find("\nnot found\n"); at != std::string::npos;
         at = out.find("\nnot found\n", at + 1)) {
        ++not_found;
    }
    EXPECT_EQ(not_found, 4u);
}

TEST_F(ServerProtocol, ArgumentKeepsItsInnerNulBytes) {
    auto conn = server.connect();
    // The let-off command prints up to the first NUL of its argument.
    EXPECT_EQ(put_raw(conn, payload("MLETOFF_set_btnstat", std::string("ab\0cd", 5)), false),
              nexts_then_fin(1));
    conn.disconnect();
    ASSERT_TRUE(server.wait_for_stdout("DISCONNECT"));
    EXPECT_NE(server.stdout_text().find("\nab\n"), std::string::npos);
    EXPECT_EQ(server.stdout_text().find("cd"), std::string::npos);
}

struct ack_case {
    const char* name;
    std::string ack;
    bool then_close;  // the client ends its sending side after the acknowledgement
};

void PrintTo(const ack_case& c, std::ostream* os) {
    *os << c.name;
}

class WrongAcknowledgement : public ServerProtocol, public testing::WithParamInterface<ack_case> {};

TEST_P(WrongAcknowledgement, EndsTheConnectionAndTheNextClientIsServed) {
    auto conn = server.connect();
    ASSERT_TRUE(conn.send_bytes(get_header("IFC_get_on_off_1") + GetParam().ack).ok());
    if (GetParam().then_close) conn.close_sending();
    auto len = conn.recv_bytes(13);
    ASSERT_TRUE(len.ok());
    EXPECT_EQ(len.value(), "LEN0000000554");
    expect_closed_silently(conn);
    auto next = server.connect();
    expect_still_serving(next);
}

INSTANTIATE_TEST_SUITE_P(Acks, WrongAcknowledgement,
                         testing::Values(ack_case{"LowerCase", "next", false},
                                         ack_case{"LastLetterLowerCase", "NEXt", false},
                                         ack_case{"OtherWord", "XXXX", false},
                                         ack_case{"HalfThenClose", "NE", true},
                                         ack_case{"NothingThenClose", "", true}),
                         test_support::case_name());

TEST_F(ServerProtocol, ClientVanishingDuringAGetDoesNotHarmTheServer) {
    for (const bool with_reset : {false, true}) {
        for (int round = 0; round < 3; ++round) {
            auto conn = server.connect();
            ASSERT_TRUE(conn.send_bytes(get_header("IFC_get_on_off_1") + "NEXT").ok());
            if (with_reset) {
                conn.abort();  // the server's answer meets a reset: no SIGPIPE may end it
            } else {
                conn.close();
            }
        }
    }
    auto next = server.connect();
    expect_still_serving(next);
    EXPECT_TRUE(server.running());
}

TEST_F(ServerProtocol, QueuedClientIsServedAfterTheFirstLeaves) {
    auto first = server.connect();
    expect_still_serving(first);
    auto second = server.connect();  // waits in the listening queue
    ASSERT_TRUE(second.send_bytes(get_header("IFC_get_stat")).ok());
    EXPECT_EQ(second.recv_available(300ms), "");  // not served while the first is connected
    first.disconnect();
    auto len = second.recv_bytes(13);
    ASSERT_TRUE(len.ok());
    EXPECT_EQ(len.value(), "LEN0000000025");
}

TEST_F(ServerProtocol, ManyRequestsOnOneConnection) {
    auto conn = server.connect();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(conn.put("IFC_set_to_tw_3", "to:" + std::to_string(i) + " tw:7").ok());
        ASSERT_TRUE(conn.ping().ok());
        auto answer = conn.get("IFC_get_Tot_Twt_3");
        ASSERT_TRUE(answer.ok());
        EXPECT_EQ(answer.value(), "to:" + std::to_string(i) + " tw:7 ");
    }
}

}  // namespace
