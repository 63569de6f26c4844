// Every fault action, against a scripted client and a real server behind the proxy: what the
// client sees (bytes, timing, close or reset) and what the journal line says of it.
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
using nlohmann::json;
using test_support::get_header;
using test_support::header;
using test_support::payload;

const std::string status_answer = "color:1 mode:0 totw_sw:0 ";

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

class ProxyFaults : public testing::Test {
  protected:
    // The proxy in front of the server, with these rules.
    void start(const std::string& rules) {
        proxy = std::make_unique<test_support::proxy_process>(
            server.port(), test_support::proxy_options{rules, {"--seed", "11"}});
    }
    // The nth request line of the journal (1 for the first), once it is there.
    json request(std::size_t n) {
        const auto lines = proxy->wait_for("request", n);
        if (lines.size() < n) {
            ADD_FAILURE() << "the journal has " << lines.size() << " request lines";
            return json::object();
        }
        return lines[n - 1];
    }
    // The only fault of a request line.
    static json fault_of(const json& line) {
        if (!line.contains("faults") || line["faults"].size() != 1) return json::object();
        return line["faults"][0];
    }

    test_support::server_process server;
    std::unique_ptr<test_support::proxy_process> proxy;
};

TEST_F(ProxyFaults, DelayHoldsTheRequestBeforeItReachesTheController) {
    start(R"({"rules": [{"kind": "GET", "action": "delay", "seconds": 0.3}]})");
    auto c = proxy->connect();
    const auto start = clock_type::now();
    auto answer = c.get("IFC_get_stat");
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer.value(), status_answer);
    EXPECT_GE(seconds_since(start), 0.29);
    const json line = request(1);
    EXPECT_EQ(fault_of(line),
              json::parse(R"({"rule": 0, "action": "delay", "seconds": 0.3, "applied": true})"));
    EXPECT_GE(line["first_byte_ms"].get<double>(), 290);
}

TEST_F(ProxyFaults, DelayRangeDrawsWithinIt) {
    start(R"({"rules": [{"kind": "PING", "action": "delay", "seconds": [0.05, 0.15]}]})");
    auto c = proxy->connect();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(c.ping().ok());
    for (std::size_t n = 1; n <= 3; ++n) {
        const double drawn = fault_of(request(n))["seconds"].get<double>();
        EXPECT_GE(drawn, 0.05);
        EXPECT_LE(drawn, 0.15);
    }
}

TEST_F(ProxyFaults, StallBeforeTheLengthHeaderHoldsItBack) {
    start(R"({"rules": [{"kind": "GET", "action": "stall", "at": "before_len", "seconds": 0.5}]})");
    auto c = proxy->connect();
    ASSERT_TRUE(c.send_bytes(get_header("IFC_get_stat")).ok());
    EXPECT_EQ(c.recv_available(350ms), "");
    auto len = c.recv_bytes(13);
    ASSERT_TRUE(len.ok());
    EXPECT_EQ(len.value(), "LEN0000000025");
    ASSERT_TRUE(c.send_bytes("NEXT").ok());
    EXPECT_EQ(c.recv_bytes(25).value(), status_answer);
    const json line = request(1);
    EXPECT_EQ(line["outcome"], "ok");
    EXPECT_EQ(fault_of(line)["at"], "before_len");
    EXPECT_EQ(fault_of(line)["applied"], true);
    EXPECT_GE(line["first_byte_ms"].get<double>(), 450);
}

TEST_F(ProxyFaults, StallAfterAPayloadChunkHoldsTheNextNext) {
    start(R"({"rules": [{"kind": "PUT", "command": "MLETOFF_*", "action": "stall",
                         "at": "after_chunk", "chunk": 1, "seconds": 0.5}]})");
    auto c = proxy->connect();
    const std::string body = payload("MLETOFF_set_btnstat", std::string(1100, '7'));
    ASSERT_TRUE(c.send_bytes(header("PUT" + std::to_string(body.size()))).ok());
    EXPECT_EQ(c.recv_bytes(4).value(), "NEXT");
    ASSERT_TRUE(c.send_bytes(body.substr(0, 1024)).ok());
    const auto start = clock_type::now();
    EXPECT_EQ(c.recv_bytes(4).value(), "NEXT");
    EXPECT_GE(seconds_since(start), 0.45);
    ASSERT_TRUE(c.send_bytes(body.substr(1024)).ok());
    EXPECT_EQ(c.recv_bytes(3).value(), "FIN");
    const json line = request(1);
    EXPECT_EQ(line["command"], "MLETOFF_set_btnstat");
    EXPECT_EQ(line["chunks"], 2);
    EXPECT_EQ(fault_of(line), json::parse(R"({"rule": 0, "action": "stall", "at": "after_chunk",
                                              "chunk": 1, "seconds": 0.5, "applied": true})"));
}

TEST_F(ProxyFaults, CutBeforeTheLengthHeaderClosesWithoutAByte) {
    start(R"({"rules": [{"kind": "GET", "nth": 2, "action": "cut", "at": "before_len"}]})");
    auto c = proxy->connect();
    ASSERT_TRUE(c.get("IFC_get_stat").ok());
    ASSERT_TRUE(c.send_bytes(get_header("IFC_get_stat")).ok());
    EXPECT_TRUE(c.server_closed(3s));
    EXPECT_EQ(c.recv_available(0ms), "");
    const json line = request(2);
    EXPECT_EQ(line["outcome"], "cut");
    EXPECT_EQ(line["detail"], "rules[0]: cut (close) before the length header");
    const auto closes = proxy->wait_for("close", 1);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0]["by"], "proxy");
    // The controller is free for the next terminal.
    auto next = proxy->connect();
    EXPECT_TRUE(next.get("IFC_get_stat").ok());
}

TEST_F(ProxyFaults, CutAfterAPayloadChunkResetsTheConnection) {
    start(R"({"rules": [{"kind": "PUT", "action": "cut", "at": "after_chunk", "chunk": 1,
                         "mode": "reset"}]})");
    auto c = proxy->connect();
    auto put = c.put("MLETOFF_set_btnstat", std::string(1100, '7'));
    ASSERT_FALSE(put.ok());
    EXPECT_EQ(put.code(), ifc_client::errc::closed);
    EXPECT_EQ(put.failure().detail, "connection reset");
    EXPECT_EQ(request(1)["outcome"], "cut");
}

TEST_F(ProxyFaults, CutBeforeFinLeavesTheTerminalNotKnowingTheWriteHappened) {
    start(R"({"rules": [{"kind": "PUT", "command": "IFC_set_to_tw_*", "action": "cut",
                         "at": "before_fin"}]})");
    auto c = proxy->connect();
    auto put = c.put("IFC_set_to_tw_2", "to:95 tw:245");
    ASSERT_FALSE(put.ok());
    EXPECT_EQ(put.code(), ifc_client::errc::closed);
    // The controller had the whole payload: the write was done.
    auto direct = server.connect();
    EXPECT_EQ(direct.get("IFC_get_Tot_Twt_2").value(), "to:95 tw:245 ");
    const json line = request(1);
    EXPECT_EQ(line["outcome"], "cut");
    EXPECT_EQ(line["argument"], "to:95 tw:245");
}

TEST_F(ProxyFaults, ErrTakesThePlaceOfTheFirstNextAndTheControllerNeverSeesThePut) {
    start(R"({"rules": [{"kind": "PUT", "nth": 2, "action": "err"}]})");
    auto c = proxy->connect();
    ASSERT_TRUE(c.put("MLETOFF_set_btnstat", "1").ok());
    auto put = c.put("IFC_set_to_tw_2", "to:95 tw:245");
    ASSERT_FALSE(put.ok());
    EXPECT_EQ(put.code(), ifc_client::errc::rejected);
    // The connection goes on, and nothing was written.
    EXPECT_EQ(c.get("IFC_get_Tot_Twt_2").value(), "to:90 tw:240 ");
    ASSERT_TRUE(c.put("IFC_set_to_tw_2", "to:95 tw:245").ok());  // the third PUT passes
    const json line = request(2);
    EXPECT_EQ(line["kind"], "PUT");
    EXPECT_EQ(line["outcome"], "err");
    EXPECT_EQ(line["bytes_from_controller"], 0);
    EXPECT_EQ(fault_of(line), json::parse(R"({"rule": 0, "action": "err", "applied": true})"));
    EXPECT_EQ(fault_of(request(1)), json::object());
    EXPECT_EQ(request(4)["outcome"], "ok");
}

TEST_F(ProxyFaults, CorruptChangesExactlyTheNamedByte) {
    start(R"({"rules": [{"kind": "GET", "action": "corrupt", "position": 6}]})");
    auto c = proxy->connect();
    auto answer = c.get("IFC_get_stat");
    ASSERT_TRUE(answer.ok());
    std::string expected = status_answer;
    expected[6] = static_cast<char>(~'1');
    EXPECT_EQ(answer.value(), expected);
    EXPECT_EQ(fault_of(request(1)), json::parse(R"({"rule": 0, "action": "corrupt", "position": 6,
                                                    "from": "31", "to": "ce", "applied": true})"));
}

TEST_F(ProxyFaults, CorruptAtRandomChangesOneByteAndSaysWhich) {
    start(R"({"rules": [{"kind": "GET", "action": "corrupt", "position": "random"}]})");
    auto c = proxy->connect();
    auto answer = c.get("IFC_get_on_off_1");
    ASSERT_TRUE(answer.ok());
    c.disconnect();
    auto direct = server.connect();
    const std::string clean = direct.get("IFC_get_on_off_1").value();
    ASSERT_EQ(answer->size(), clean.size());
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < clean.size(); ++i) {
        if (answer.value()[i] != clean[i]) changed.push_back(i);
    }
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(fault_of(request(1))["position"], changed[0]);
}

TEST_F(ProxyFaults, CorruptPastTheAnswerIsMissedAndSaysWhy) {
    start(R"({"rules": [{"kind": "GET", "action": "corrupt", "position": 100}]})");
    auto c = proxy->connect();
    EXPECT_EQ(c.get("IFC_get_stat").value(), status_answer);
    const json fault = fault_of(request(1));
    EXPECT_EQ(fault["applied"], false);
    EXPECT_EQ(fault["missed"], "the answer has 25 bytes");
}

TEST_F(ProxyFaults, DropFinLeavesTheTerminalWaiting) {
    start(R"({"rules": [{"kind": "PUT", "action": "drop_fin"}]})");
    auto c = proxy->connect();
    const std::string body = payload("IFC_hst_clear", "1 tw");
    ASSERT_TRUE(c.send_bytes(header("PUT" + std::to_string(body.size()))).ok());
    EXPECT_EQ(c.recv_bytes(4).value(), "NEXT");
    ASSERT_TRUE(c.send_bytes(body).ok());
    EXPECT_EQ(c.recv_available(300ms), "");
    // The controller finished the exchange and reads the next header.
    EXPECT_EQ(c.get("IFC_get_stat").value(), status_answer);
    const json line = request(1);
    EXPECT_EQ(line["outcome"], "ok");
    EXPECT_EQ(fault_of(line), json::parse(R"({"rule": 0, "action": "drop_fin", "applied": true})"));
}

TEST_F(ProxyFaults, ThrottleRelaysAtTheGivenRateForItsRequestOnly) {
    start(R"({"rules": [{"kind": "GET", "command": "IFC_get_on_off_1", "action": "throttle",
                         "bytes_per_second": 500}]})");
    auto c = proxy->connect();
    auto start = clock_type::now();
    auto answer = c.get("IFC_get_on_off_1");  // 23 + 13 + 4 + 554 bytes
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer->size(), 554u);
    EXPECT_GE(seconds_since(start), 1.0);
    // The same bytes for another colour, not throttled (well under the second the throttle takes,
    // also on a loaded machine).
    start = clock_type::now();
    ASSERT_TRUE(c.get("IFC_get_on_off_2").ok());
    EXPECT_LT(seconds_since(start), 0.5);
    EXPECT_EQ(fault_of(request(1))["bytes_per_second"], 500.0);
    EXPECT_EQ(request(2)["faults"], json::array());
}

TEST_F(ProxyFaults, RefuseTurnsNewTerminalsAwayForAWhile) {
    start(R"({"rules": [{"kind": "GET", "nth": 1, "action": "refuse", "seconds": 0.6}]})");
    auto c = proxy->connect();
    ASSERT_TRUE(c.get("IFC_get_stat").ok());
    auto refused = ifc_client::connection::open(proxy->endpoint());
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.code(), ifc_client::errc::refused);
    // The connection at hand goes on.
    EXPECT_TRUE(c.get("IFC_get_stat").ok());
    c.disconnect();
    ASSERT_EQ(proxy->wait_for("listen", 1, 5s).size(), 1u);
    auto later = proxy->connect();
    EXPECT_TRUE(later.get("IFC_get_stat").ok());
    const auto refusals = proxy->wait_for("refuse", 1);
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0]["seconds"], 0.6);
}

TEST_F(ProxyFaults, RuleAimsAtTheThirdPutOfValveAnglesAfterItsSecondChunk) {
    start(R"({"rules": [{"kind": "PUT", "command": "IFC_set_on_off_*", "nth": 3,
                         "action": "cut", "at": "after_chunk", "chunk": 2}]})");
    auto c = proxy->connect();
    // A valve line of 2100 bytes: three chunks.
    std::string line;
    while (line.size() < 2100)
        line += "main_on:100 ";
    ASSERT_TRUE(c.put("IFC_set_on_off_1", "pin_on:71 ").ok());
    ASSERT_TRUE(c.put("IFC_set_stat", "color:1 mode:0 totw_sw:0 ").ok());
    ASSERT_TRUE(c.put("IFC_set_on_off_2", "pin_on:72 ").ok());
    auto third = c.put("IFC_set_on_off_3", line);
    EXPECT_EQ(third.code(), ifc_client::errc::closed);
    const auto requests = proxy->wait_for("request", 4);
    ASSERT_EQ(requests.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(requests[i]["faults"], json::array()) << i;
    EXPECT_EQ(requests[3]["command"], "IFC_set_on_off_3");
    EXPECT_EQ(requests[3]["chunks"], 2);
    EXPECT_EQ(requests[3]["detail"], "rules[0]: cut (close) after payload chunk 2");
}

}  // namespace
