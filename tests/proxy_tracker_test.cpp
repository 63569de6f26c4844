// The protocol tracker alone: streams from both sides, whole or byte by byte, and the records,
// fragments, decisions and ends it makes of them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "proxy/tracker.h"
#include "proxy/wire.h"
#include "tests/support/wire.h"

namespace {

using namespace std::chrono_literals;
using proxy::side;
using test_support::get_header;
using test_support::header;
using test_support::payload;

constexpr side T = side::terminal;
constexpr side C = side::controller;

const proxy::time_point t0{};

struct step {
    side from;
    std::string bytes;
    std::chrono::milliseconds at{0};  // time of the step since t0
};

// An end of one side's stream, after the steps.
struct ending {
    side who;
    std::chrono::milliseconds at;
    bool reset = false;
};

// Feeds steps the way the relay does: bytes the tracker holds wait, and are fed again after
// the other side has moved. piece: bytes per feed (0: a step at once).
class harness {
  public:
    explicit harness(std::size_t piece = 0) : piece_(piece), tracker_(64, t0) {}

    void send(const step& s) {
        held_[index(s.from)] += s.bytes;
        now_ = t0 + s.at;
        drain();
    }
    void end(const ending& e) {
        now_ = t0 + e.at;
        drain();
        tracker_.end(e.who, e.reset, now_);
        collect();
    }

    std::vector<proxy::request_record> records;
    std::vector<proxy::fragment> fragments;
    std::vector<proxy::pending_request> decisions;
    std::vector<std::string> decided_commands;
    proxy::tracker& tracker() { return tracker_; }
    const std::string& held(side s) const { return held_[index(s)]; }

  private:
    static int index(side s) { return s == T ? 0 : 1; }

    void drain() {
        bool moved = true;
        while (moved) {
            moved = false;
            for (const side s : {C, T}) {
                std::string& bytes = held_[index(s)];
                while (!bytes.empty()) {
                    const std::size_t n =
                        piece_ == 0 ? bytes.size() : std::min(piece_, bytes.size());
                    const proxy::feed_result r =
                        tracker_.feed(s, std::string_view(bytes).substr(0, n), now_, fragments);
                    if (r.why == proxy::stop::decision) {
                        decisions.push_back(tracker_.pending());
                        decided_commands.emplace_back(tracker_.pending().command);
                    }
                    bytes.erase(0, r.consumed);
                    collect();
                    if (r.consumed == 0) break;
                    moved = true;
                }
            }
        }
    }
    void collect() {
        for (auto& r : tracker_.take_finished())
            records.push_back(std::move(r));
    }

    std::size_t piece_;
    proxy::tracker tracker_;
    std::string held_[2];
    proxy::time_point now_ = t0;
};

// "KIND command outcome" and, when the detail is not empty, ": detail".
std::string summary_of(const proxy::request_record& r) {
    std::string text = std::string(proxy::kind_name(r.kind));
    if (!r.command.empty()) text += " " + r.command;
    text += " " + std::string(proxy::outcome_name(r.result));
    if (!r.detail.empty()) text += ": " + r.detail;
    return text;
}

struct stream_case {
    const char* name;
    std::vector<step> steps;
    std::vector<std::string> records;  // summary_of each record, in order
    std::vector<ending> ends = {};     // after the steps
    std::string closed_by = {};        // the ending's by, when there are ends
    std::string reason = {};           // a part of the ending's reason
    // The details quote what came in one piece: byte by byte they quote less.
    bool same_byte_by_byte = true;
};

std::vector<step> get_exchange(const std::string& name, const std::string& answer) {
    char len[16];
    std::snprintf(len, sizeof len, "LEN%010zu", answer.size());
    std::vector<step> steps{{T, get_header(name)}, {C, len}};
    for (std::size_t at = 0; at < answer.size(); at += 1024) {
        steps.push_back({T, "NEXT"});
        steps.push_back({C, answer.substr(at, 1024)});
    }
    return steps;
}

std::vector<step> put_exchange(const std::string& body) {
    std::vector<step> steps{{T, header("PUT" + std::to_string(body.size()))}};
    for (std::size_t at = 0; at < body.size(); at += 1024) {
        steps.push_back({C, "NEXT"});
        steps.push_back({T, body.substr(at, 1024)});
    }
    steps.push_back({C, "FIN"});
    return steps;
}

std::vector<step> operator+(std::vector<step> a, const std::vector<step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string status_answer = "color:1 mode:0 totw_sw:0 ";

const stream_case stream_cases[] = {
    {"get_one_chunk", get_exchange("IFC_get_stat", status_answer), {"GET IFC_get_stat ok"}},
    {"get_two_chunks",
     get_exchange("IFC_get_on_off_1", std::string(1025, 'a')),
     {"GET IFC_get_on_off_1 ok"}},
    {"get_empty_answer",
     {{T, get_header("IFC_get_x")}, {C, "LEN0000000000"}},
     {"GET IFC_get_x ok"}},
    {"get_unknown_name",
     {{T, get_header("IFC_get_nothing")}, {C, "LEN-000000001"}},
     {"GET IFC_get_nothing unknown_command: no read command is named \"IFC_get_nothing\""},
     {{C, 1ms}},
     "controller",
     "unknown command"},
    {"get_sent_with_its_next_at_once",
     {{T, get_header("IFC_get_stat") + "NEXT"}, {C, "LEN0000000025"}, {C, status_answer}},
     {"GET IFC_get_stat ok"}},
    {"put_in_step",
     put_exchange(payload("IFC_set_to_tw_2", "to:95 tw:245")),
     {"PUT IFC_set_to_tw_2 ok"}},
    {"put_all_at_once",
     {{T, header("PUT28") + payload("IFC_set_to_tw_2", "to:95 tw:245")}, {C, "NEXT"}, {C, "FIN"}},
     {"PUT IFC_set_to_tw_2 ok"}},
    {"put_two_chunks",
     put_exchange(payload("MLETOFF_set_btnstat", std::string(1100, '7'))),
     {"PUT MLETOFF_set_btnstat ok"}},
    {"put_length_refused",
     {{T, header("PUT256001")}, {C, "ERR!"}, {T, header("PING")}},
     {"PUT err: the length 256001 is outside 0..256000", "PING ok"}},
    {"put_negative_length",
     {{T, header("PUT-1")}, {C, "ERR!"}},
     {"PUT err: the length -1 is outside 0..256000"}},
    {"put_length_zero", {{T, header("PUT0")}, {C, "FIN"}}, {"PUT ok"}},
    {"put_length_read_as_atoi",
     {{T, header("PUT  +20xyz") + payload("IFC_hst_clear", "1 tw  ")}, {C, "NEXT"}, {C, "FIN"}},
     {"PUT IFC_hst_clear ok"}},
    {"put_without_a_nul", put_exchange("IFC_set_stat"), {"PUT ok"}},
    {"ping_and_disconnect",
     {{T, header("PING\xff\x01zz")}, {T, header("DISCONNECTanything")}},
     {"PING ok", "DISCONNECT ok"},
     {{C, 1ms}},
     "terminal",
     "DISCONNECT"},
    {"unknown_header",
     {{T, header("HELLO")}},
     {"unknown violation_by_terminal: a header of no known kind: \"HELLO                  \""},
     {{C, 1ms}},
     "controller",
     "closed the connection after the terminal's protocol violation"},
    {"next_with_a_line_end",
     get_exchange("IFC_get_stat", status_answer) + std::vector<step>{{T, "\n"}} +
         std::vector<step>{{T, get_header("IFC_get_stat")}},
     {"GET IFC_get_stat ok",
      "unknown violation_by_terminal: a header of no known kind: \"\\nGETIFC_get_stat       \" "
      "(sent 5 bytes where NEXT belongs)"}},
    {"payload_longer_than_its_length",
     put_exchange(payload("IFC_hst_clear", "1 tw  ")) +
         std::vector<step>{{T, "x" + get_header("IFC_get_stat")}},
     {"PUT IFC_hst_clear ok",
      "unknown violation_by_terminal: a header of no known kind: \"xGETIFC_get_stat       \" "
      "(sent 1 byte more than the PUT length 20)"}},
    {"next_after_an_empty_answer",
     {{T, get_header("IFC_get_x")}, {C, "LEN0000000000"}, {T, "NEXT" + get_header("IFC_get_x")}},
     {"GET IFC_get_x ok",
      "unknown violation_by_terminal: a header of no known kind: \"NEXTGETIFC_get_x       \" "
      "(NEXT sent after an answer of length 0, which needs none)"}},
    {"next_in_lower_case",
     {{T, get_header("IFC_get_stat")}, {C, "LEN0000000025"}, {T, "next"}},
     {"GET IFC_get_stat violation_by_terminal: sent \"next\" where NEXT belongs"}},
    {"bad_length_header",
     {{T, get_header("IFC_get_stat")}, {C, "LEN00000000x5"}},
     {"GET IFC_get_stat violation_by_controller: sent \"LEN00000000x5\" where the length "
      "header LEN%010d belongs"}},
    {"controller_speaks_unasked",
     {{C, "hello"}},
     {},
     {{C, 1ms}},
     "controller",
     "controller violated the protocol: sent \"hello\" while no request was waiting",
     false},
    {"answer_before_the_next",
     {{T, get_header("IFC_get_stat")}, {C, "LEN0000000025color"}},
     {"GET IFC_get_stat violation_by_controller: sent \"color\" before the terminal's NEXT 1"},
     {},
     "",
     "",
     false},
    {"second_next_before_the_first_chunk",
     {{T, header("PUT2000")}, {C, "NEXTNEXT"}},
     {"PUT violation_by_controller: sent \"NEXT\" before the terminal's payload chunk 1 was "
      "complete"},
     {},
     "",
     "",
     false},
    {"err_for_a_length_in_range",
     {{T, header("PUT28")}, {C, "ERR!"}},
     {"PUT violation_by_controller: answered ERR! to a PUT of 28 bytes, within the limit of "
      "256000"}},
    {"controller_waited_out_a_next",
     {{T, get_header("IFC_get_stat")}, {C, "LEN0000000025"}},
     {"GET IFC_get_stat timeout: the controller waited 5 s for NEXT 1"},
     {{C, 5001ms}},
     "controller",
     "time-out"},
    {"controller_waited_out_half_a_next",
     {{T, get_header("IFC_get_stat")}, {C, "LEN0000000025"}, {T, "NE"}},
     {"GET IFC_get_stat timeout: the controller waited 5 s for NEXT 1 (it sent \"NE\")"},
     {{C, 5001ms}},
     "controller",
     "time-out"},
    {"controller_closes_early",
     {{T, get_header("IFC_get_stat")}, {C, "LEN0000000025"}},
     {"GET IFC_get_stat closed_by_controller: the controller closed the connection after 0 of "
      "25 answer bytes"},
     {{C, 1000ms}},
     "controller",
     "closed the connection during a request"},
    {"idle_connection", {}, {}, {{C, 5000ms}}, "controller", "time-out: no request for 5 s"},
    {"header_cut_short",
     {{T, "GETIFC_get"}},
     {},
     {{T, 10ms}, {C, 11ms}},
     "terminal",
     "closed after 10 of the 23 bytes of a header"},
    {"header_stopped_short",
     {{T, "GETIFC_get"}},
     {},
     {{C, 5010ms}},
     "controller",
     "time-out: 10 of the 23 bytes of a header and nothing more for 5 s"},
};

void PrintTo(const stream_case& c, std::ostream* os) {
    *os << c.name;
}

class Streams : public testing::TestWithParam<stream_case> {};

TEST_P(Streams, GiveTheirRecordsWholeAndByteByByte) {
    for (const std::size_t piece : {std::size_t{0}, std::size_t{1}}) {
        if (piece == 1 && !GetParam().same_byte_by_byte) continue;
        SCOPED_TRACE(piece == 0 ? "whole" : "byte by byte");
        harness h(piece);
        for (const step& s : GetParam().steps)
            h.send(s);
        for (const ending& e : GetParam().ends)
            h.end(e);
        std::vector<std::string> got;
        for (const auto& r : h.records)
            got.push_back(summary_of(r));
        EXPECT_EQ(got, GetParam().records);
        if (!GetParam().ends.empty()) {
            EXPECT_EQ(h.tracker().ending().by, GetParam().closed_by);
            EXPECT_NE(h.tracker().ending().reason.find(GetParam().reason), std::string::npos)
                << h.tracker().ending().reason;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Tracker, Streams, testing::ValuesIn(stream_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Tracker, TransferPastItsDeadlineIsATimeOut) {
    harness h;
    const std::vector<step> steps{{T, get_header("IFC_get_on_off_1")},
                                  {C, "LEN0000003000"},
                                  {T, "NEXT", 3000ms},
                                  {C, std::string(1024, 'a'), 3000ms},
                                  {T, "NEXT", 6000ms},
                                  {C, std::string(1024, 'a'), 6000ms}};
    for (const step& s : steps)
        h.send(s);
    // The controller stops before chunk 3: its transfer began more than ten seconds ago, the
    // last NEXT came four seconds ago.
    h.end({C, 10100ms});
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].result, proxy::outcome::timeout);
    EXPECT_NE(h.records[0].detail.find("passed its limit of 10 s"), std::string::npos)
        << h.records[0].detail;
}

TEST(Tracker, RecordHoldsTextCountsAndTimes) {
    harness h;
    h.send({T, get_header("IFC_get_stat")});
    h.send({C, "LEN0000000025", 2ms});
    h.send({T, "NEXT", 3ms});
    h.send({C, status_answer, 4ms});
    ASSERT_EQ(h.records.size(), 1u);
    const proxy::request_record& r = h.records[0];
    EXPECT_EQ(r.seq, 1);
    EXPECT_EQ(r.text, status_answer);
    EXPECT_EQ(r.text_size, status_answer.size());
    EXPECT_EQ(r.length, 25);
    EXPECT_EQ(r.chunks, 1);
    EXPECT_EQ(r.bytes_from_terminal, 27u);
    EXPECT_EQ(r.bytes_from_controller, 38u);
    EXPECT_EQ(r.first_answer_byte, t0 + 2ms);
    EXPECT_EQ(r.ended - r.started, 4ms);
}

TEST(Tracker, TextIsKeptUpToItsLimit) {
    harness h;
    for (const step& s : put_exchange(payload("MLETOFF_set_btnstat", std::string(100, 'z'))))
        h.send(s);
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].text, std::string(64, 'z'));
    EXPECT_EQ(h.records[0].text_size, 100u);
}

TEST(Tracker, NulFilledNameIsNoted) {
    harness h;
    h.send({T, std::string("GETIFC_get_stat") + std::string(8, '\0')});
    h.send({C, "LEN-000000001"});
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].command, "IFC_get_stat");
    EXPECT_EQ(h.records[0].result, proxy::outcome::unknown_command);
    EXPECT_NE(h.records[0].note.find("NUL"), std::string::npos);
}

TEST(Tracker, NextSentAheadWaitsForTheLengthHeader) {
    harness h;
    h.send({T, get_header("IFC_get_stat") + "NEXT"});
    EXPECT_EQ(h.held(T), "NEXT");  // which request it belongs to depends on the length
    h.send({C, "LEN0000000025"});
    EXPECT_EQ(h.held(T), "");
}

TEST(Tracker, NextHeaderWaitsUntilTheAnswerIsOver) {
    harness h;
    h.send({T, get_header("IFC_get_stat") + "NEXT" + header("PING")});
    h.send({C, "LEN0000000025"});
    EXPECT_EQ(h.held(T), header("PING"));
    h.send({C, status_answer});
    EXPECT_EQ(h.held(T), "");
    EXPECT_EQ(h.records.size(), 2u);
}

TEST(Tracker, FragmentsMarkChunksTokensAndTheEndOfTheRequest) {
    harness h;
    for (const step& s : get_exchange("IFC_get_on_off_1", std::string(1025, 'a')))
        h.send(s);
    struct seen {
        proxy::piece what;
        std::size_t size;
        int index;
        std::size_t offset;
        bool completes;
        bool ends_request;
        bool operator==(const seen&) const = default;
    };
    std::vector<seen> got;
    for (const auto& f : h.fragments)
        got.push_back({f.what, f.size, f.index, f.offset, f.completes, f.ends_request});
    const std::vector<seen> expected{
        {proxy::piece::header, 23, 0, 0, true, false},
        {proxy::piece::len, 13, 0, 0, true, false},
        {proxy::piece::next, 4, 1, 0, true, false},
        {proxy::piece::answer, 1024, 1, 0, true, false},
        {proxy::piece::next, 4, 2, 0, true, false},
        {proxy::piece::answer, 1, 2, 1024, true, true},
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(h.fragments[1].length, 1025);
}

TEST(Tracker, PutIsDecidedOnAtItsHeaderAndAgainWhenItsCommandIsKnown) {
    harness h;
    for (const step& s : put_exchange(payload("IFC_set_stat", "color:2 mode:0 totw_sw:0 "))) {
        h.send(s);
    }
    ASSERT_EQ(h.decisions.size(), 2u);
    EXPECT_EQ(h.decisions[0].point, proxy::decision_point::header);
    EXPECT_FALSE(h.decisions[0].command_known);
    EXPECT_EQ(h.decisions[0].length, 38);
    EXPECT_EQ(h.decisions[1].point, proxy::decision_point::command);
    EXPECT_TRUE(h.decisions[1].command_known);
    EXPECT_EQ(h.decided_commands[1], "IFC_set_stat");
}

TEST(Tracker, RequestsWithoutPayloadAreDecidedOnOnceWithTheirCommandKnown) {
    harness h;
    h.send({T, header("PUT0")});
    h.send({C, "FIN"});
    h.send({T, get_header("IFC_get_stat")});
    ASSERT_EQ(h.decisions.size(), 2u);
    EXPECT_TRUE(h.decisions[0].command_known);
    EXPECT_TRUE(h.decisions[1].command_known);
    EXPECT_EQ(h.decided_commands[1], "IFC_get_stat");
}

TEST(Tracker, ErrAnsweredByTheProxyEndsThePutAndTheNextHeaderFollows) {
    proxy::tracker t(64, t0);
    std::vector<proxy::fragment> out;
    const std::string stream = header("PUT28") + header("PING");
    auto r = t.feed(T, stream, t0, out);
    ASSERT_EQ(r.why, proxy::stop::decision);
    EXPECT_EQ(r.consumed, 23u);
    t.answer_err(t0, "by the proxy");
    r = t.feed(T, std::string_view(stream).substr(23), t0, out);
    const auto records = t.take_finished();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].result, proxy::outcome::err);
    EXPECT_EQ(records[1].kind, proxy::request_kind::ping);
}

TEST(Tracker, AfterAViolationEveryByteIsUntracked) {
    harness h;
    h.send({T, header("HELLO")});
    h.send({T, "anything"});
    h.send({C, "whatever"});
    EXPECT_FALSE(h.tracker().following());
    ASSERT_GE(h.fragments.size(), 3u);
    EXPECT_EQ(h.fragments[h.fragments.size() - 2].what, proxy::piece::untracked);
    EXPECT_EQ(h.fragments.back().what, proxy::piece::untracked);
    EXPECT_EQ(h.records.size(), 1u);  // the violation, and nothing after it
}

TEST(Tracker, TerminalClosingMidPayloadEndsThePutAsClosedByTheTerminal) {
    harness h;
    h.send({T, header("PUT100")});
    h.send({C, "NEXT"});
    h.send({T, std::string(50, 'x')});
    h.end({T, 1ms});
    EXPECT_TRUE(h.records.empty());  // the controller decides the fate
    h.end({C, 2ms});
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(summary_of(h.records[0]),
              "PUT closed_by_terminal: the terminal closed before sending payload chunk 1 (50 "
              "of 100 bytes came)");
    EXPECT_EQ(h.tracker().ending().by, "terminal");
}

TEST(Tracker, ProxyCutEndsTheRequestAndTheConnection) {
    harness h;
    h.send({T, get_header("IFC_get_stat")});
    h.tracker().cut(t0, "rules[0]: cut");
    const auto records = h.tracker().take_finished();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, proxy::outcome::cut);
    EXPECT_EQ(h.tracker().ending().by, "proxy");
}

struct length_case {
    std::string text;  // after "PUT"
    long long length;
    bool refused;
};

TEST(Wire, PutLengthIsReadAsTheControllerReadsIt) {
    constexpr long long high = std::numeric_limits<std::int32_t>::max();
    constexpr long long low = std::numeric_limits<std::int32_t>::min();
    const length_case cases[] = {
        {"28", 28, false},
        {"  +20xyz", 20, false},
        {"\t7", 7, false},
        {"", 0, false},
        {"abc", 0, false},
        {std::string("\0"
                     "5",
                     2),
         0, false},
        {"256000", 256000, false},
        {"256001", 256001, true},
        {"-1", -1, true},
        {"2147483648", high, true},
        {"99999999999999999999", high, true},
        {"-2147483649", low, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(proxy::wire::put_length(c.text), c.length) << c.text;
        EXPECT_EQ(proxy::wire::length_refused(proxy::wire::put_length(c.text)), c.refused)
            << c.text;
    }
}

TEST(Wire, LengthHeaderIsLenAndTenCharacters) {
    long long len = 0;
    EXPECT_TRUE(proxy::wire::parse_len_header("LEN0000000025", len));
    EXPECT_EQ(len, 25);
    EXPECT_TRUE(proxy::wire::parse_len_header("LEN-000000001", len));
    EXPECT_EQ(len, -1);
    for (const char* bad : {"LEN00000000x5", "LEX0000000025", "LEN000000025", "LEN9999999999"}) {
        EXPECT_FALSE(proxy::wire::parse_len_header(bad, len)) << bad;
    }
}

}  // namespace
