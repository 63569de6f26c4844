// With no rules the proxy cannot be told from the controller: a table of the wire tests of
// the server (header kinds, PUT lengths, payload framing, acknowledgements, closes, queued
// and vanishing clients), each run once straight at a real server and once through the proxy,
// must see the same bytes and the same closes.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "proxy/byte_text.h"
#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using test_support::get_header;
using test_support::header;
using test_support::payload;
using test_support::put_raw;

using connector = std::function<ifc_client::connection()>;

// What a client saw, step by step.
class transcript {
  public:
    void got(ifc_client::connection& c, std::size_t n) {
        auto bytes = c.recv_bytes(n);
        lines_.push_back(bytes
                             ? "got " + proxy::quoted(bytes.value(), 64)
                             : "got nothing: " + std::string(ifc_client::errc_name(bytes.code())));
    }
    // Nothing arrives for a while (what does arrive is shown).
    void quiet(ifc_client::connection& c, std::chrono::milliseconds wait = 150ms) {
        lines_.push_back("quiet " + proxy::quoted(c.recv_available(wait)));
    }
    void closed(ifc_client::connection& c) {
        lines_.push_back(c.server_closed(3s) ? "closed" : "still open");
    }
    void note(std::string line) { lines_.push_back(std::move(line)); }
    // A GET of the machine status on c: its answer, or the failure.
    void serving(ifc_client::connection& c) {
        auto answer = c.get("IFC_get_stat");
        lines_.push_back(answer
                             ? "serving " + answer.value()
                             : "not serving: " + std::string(ifc_client::errc_name(answer.code())));
    }
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    std::vector<std::string> lines_;
};

struct wire_case {
    const char* name;
    std::function<void(const connector&, transcript&)> run;
};

void PrintTo(const wire_case& c, std::ostream* os) {
    *os << c.name;
}

void closes_silently(const std::string& first_bytes, const connector& open, transcript& t) {
    auto c = open();
    c.send_bytes(header(first_bytes));
    t.closed(c);
    t.quiet(c, 0ms);
    auto next = open();
    t.serving(next);
}

void put_length(const std::string& text, std::size_t reply, const connector& open, transcript& t) {
    auto c = open();
    c.send_bytes(header("PUT" + text));
    t.got(c, reply);
    t.quiet(c);
    t.serving(c);
}

void payload_framing(std::size_t size, bool all_at_once, const connector& open, transcript& t) {
    const std::string name = "MLETOFF_set_btnstat";
    auto c = open();
    t.note(proxy::quoted(
        put_raw(c, payload(name, std::string(size - name.size() - 1, 'x')), all_at_once), 64));
    t.serving(c);
}

void wrong_ack(const std::string& ack, bool then_close, const connector& open, transcript& t) {
    auto c = open();
    c.send_bytes(get_header("IFC_get_on_off_1") + ack);
    if (then_close) c.close_sending();
    t.got(c, 13);
    t.closed(c);
    auto next = open();
    t.serving(next);
}

const wire_case wire_cases[] = {
    {"ping_keeps_the_connection",
     [](const connector& open, transcript& t) {
         auto c = open();
         c.send_bytes(header(std::string("PING\0\xff\x01zz", 9)));
         t.quiet(c);
         t.serving(c);
     }},
    {"disconnect_closes_and_the_next_is_served",
     [](const connector& open, transcript& t) { closes_silently("DISCONNECTanything", open, t); }},
    {"lower_case_get",
     [](const connector& open, transcript& t) { closes_silently("getIFC_get_stat", open, t); }},
    {"ping_cut_short",
     [](const connector& open, transcript& t) { closes_silently("PIN", open, t); }},
    {"nul_bytes",
     [](const connector& open, transcript& t) { closes_silently(std::string(23, '\0'), open, t); }},
    {"put_too_long",
     [](const connector& open, transcript& t) { put_length("256001", 4, open, t); }},
    {"put_negative", [](const connector& open, transcript& t) { put_length("-1", 4, open, t); }},
    {"put_beyond_int",
     [](const connector& open, transcript& t) { put_length("99999999999999999999", 4, open, t); }},
    {"put_zero", [](const connector& open, transcript& t) { put_length("0", 3, open, t); }},
    {"put_no_digits", [](const connector& open, transcript& t) { put_length("abc", 3, open, t); }},
    {"put_length_read_as_atoi",
     [](const connector& open, transcript& t) {
         auto c = open();
         c.send_bytes(header("PUT  +20xyz") + payload("IFC_hst_clear", "1 tw  "));
         t.got(c, 7);
         t.serving(c);
     }},
    {"unknown_get_name",
     [](const connector& open, transcript& t) {
         auto c = open();
         c.send_bytes(get_header("IFC_get_nothing"));
         t.got(c, 13);
         t.closed(c);
     }},
    {"name_filled_with_nuls",
     [](const connector& open, transcript& t) {
         auto c = open();
         c.send_bytes(std::string("GETIFC_get_stat") + std::string(8, '\0'));
         t.got(c, 13);
         t.closed(c);
     }},
    {"twenty_character_name",
     [](const connector& open, transcript& t) {
         auto c = open();
         auto answer = c.get("IFC_get_hist_cntdatL");
         t.note(answer ? answer.value() : "failed");
     }},
    {"get_with_its_next_at_once",
     [](const connector& open, transcript& t) {
         auto c = open();
         c.send_bytes(get_header("IFC_get_stat") + "NEXT");
         t.got(c, 13 + 25);
         t.quiet(c);
     }},
    {"header_in_pieces",
     [](const connector& open, transcript& t) {
         auto c = open();
         const std::string whole = get_header("IFC_get_stat");
         for (const auto& [from, to] : {std::pair{0, 2}, {2, 9}, {9, 22}, {22, 23}}) {
             c.send_bytes(whole.substr(from, to - from));
             std::this_thread::sleep_for(50ms);
         }
         t.got(c, 13);
     }},
    {"payload_of_one_chunk",
     [](const connector& open, transcript& t) { payload_framing(1024, false, open, t); }},
    {"payload_of_two_chunks",
     [](const connector& open, transcript& t) { payload_framing(1025, false, open, t); }},
    {"largest_payload",
     [](const connector& open, transcript& t) { payload_framing(256000, false, open, t); }},
    {"largest_payload_at_once",
     [](const connector& open, transcript& t) { payload_framing(256000, true, open, t); }},
    {"next_in_lower_case",
     [](const connector& open, transcript& t) { wrong_ack("next", false, open, t); }},
    {"next_garbled",
     [](const connector& open, transcript& t) { wrong_ack("XXXX", false, open, t); }},
    {"half_a_next_then_close",
     [](const connector& open, transcript& t) { wrong_ack("NE", true, open, t); }},
    {"close_instead_of_next",
     [](const connector& open, transcript& t) { wrong_ack("", true, open, t); }},
    {"client_vanishes_with_a_reset",
     [](const connector& open, transcript& t) {
         for (int round = 0; round < 3; ++round) {
             auto c = open();
             c.send_bytes(get_header("IFC_get_on_off_1") + "NEXT");
             c.abort();
         }
         auto next = open();
         t.serving(next);
     }},
    {"second_client_waits_for_the_first",
     [](const connector& open, transcript& t) {
         auto first = open();
         t.serving(first);
         auto second = open();
         second.send_bytes(get_header("IFC_get_stat"));
         t.quiet(second, 300ms);
         first.disconnect();
         t.got(second, 13);
     }},
    {"many_requests_on_one_connection",
     [](const connector& open, transcript& t) {
         auto c = open();
         for (int i = 0; i < 20; ++i) {
             c.put("IFC_set_to_tw_3", "to:" + std::to_string(i) + " tw:7");
             c.ping();
             auto answer = c.get("IFC_get_Tot_Twt_3");
             t.note(answer ? answer.value() : "failed");
         }
     }},
};

class PassThrough : public testing::TestWithParam<wire_case> {
  protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<test_support::server_process>();
        proxy_ = std::make_unique<test_support::proxy_process>(server_->port());
    }
    static void TearDownTestSuite() {
        proxy_.reset();
        server_.reset();
    }

    static std::unique_ptr<test_support::server_process> server_;
    static std::unique_ptr<test_support::proxy_process> proxy_;
};

std::unique_ptr<test_support::server_process> PassThrough::server_;
std::unique_ptr<test_support::proxy_process> PassThrough::proxy_;

TEST_P(PassThrough, SeesWhatTheControllerSends) {
    transcript direct;
    GetParam().run([] { return server_->connect(); }, direct);
    transcript proxied;
    GetParam().run([] { return proxy_->connect(); }, proxied);
    ASSERT_FALSE(direct.lines().empty());
    EXPECT_EQ(proxied.lines(), direct.lines());
}

INSTANTIATE_TEST_SUITE_P(Wire, PassThrough, testing::ValuesIn(wire_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
