// The journal's lines as a reader gets them, and the summary of a journal.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "proxy/journal.h"
#include "proxy/summary.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const proxy::connection_label conn{3, "127.0.0.1:40000"};

proxy::request_record get_record(std::string answer) {
    proxy::request_record r;
    r.seq = 2;
    r.kind = proxy::request_kind::get;
    r.command = "IFC_get_stat";
    r.text = answer;
    r.text_size = answer.size();
    r.length = static_cast<long long>(answer.size());
    r.chunks = 1;
    r.bytes_from_terminal = 27;
    r.bytes_from_controller = 13 + answer.size();
    r.started = proxy::time_point{};
    r.first_answer_byte = r.started + 1234567ns;
    r.ended = r.started + 2500us;
    return r;
}

TEST(JournalLine, OfARequestHoldsEverythingAboutIt) {
    const json line = json::parse(proxy::request_line(conn, get_record("color:1 "), {}).dump());
    EXPECT_EQ(line, json::parse(R"({"event": "request", "conn": 3, "terminal": "127.0.0.1:40000",
        "seq": 2, "kind": "GET", "command": "IFC_get_stat", "length": 8, "answer": "color:1 ",
        "chunks": 1, "bytes_from_terminal": 27, "bytes_from_controller": 21,
        "first_byte_ms": 1.235, "total_ms": 2.5, "outcome": "ok", "faults": []})"));
}

TEST(JournalLine, ShowsBytesThatAreNotPrintableAsHexAndSaysWhenTextIsCut) {
    proxy::request_record r = get_record(std::string("a\0\xff", 3));
    r.text_size = 300;
    const json line = proxy::request_line(conn, r, {});
    EXPECT_FALSE(line.contains("answer"));
    EXPECT_EQ(line["answer_hex"], "6100ff");
    EXPECT_EQ(line["truncated"], true);

    proxy::request_record unknown;
    unknown.kind = proxy::request_kind::unknown;
    unknown.header = std::string("HELLO\0", 6);
    unknown.result = proxy::outcome::violation_by_terminal;
    unknown.detail = "a header of no known kind";
    const json bad = proxy::request_line(conn, unknown, {});
    EXPECT_EQ(bad["header_hex"], "48454c4c4f00");
    EXPECT_FALSE(bad.contains("command"));
    EXPECT_EQ(bad["outcome"], "violation_by_terminal");
    EXPECT_EQ(bad["detail"], "a header of no known kind");
}

TEST(JournalLine, ShowsEachFaultWithWhatItDid) {
    proxy::fault_report corrupt;
    corrupt.rule = 1;
    corrupt.label = "garble";
    corrupt.what = proxy::action::corrupt;
    corrupt.position = 6;
    corrupt.from = 0x31;
    corrupt.to = 0xce;
    corrupt.applied = true;
    proxy::fault_report missed;
    missed.what = proxy::action::stall;
    missed.at = proxy::point::after_chunk;
    missed.chunk = 3;
    missed.seconds = 2;
    missed.missed = "the answer has 1 chunk";
    const json line = proxy::request_line(conn, get_record("x"), {corrupt, missed});
    EXPECT_EQ(line["faults"], json::parse(R"([
        {"rule": 1, "label": "garble", "action": "corrupt", "position": 6, "from": "31",
         "to": "ce", "applied": true},
        {"rule": 0, "action": "stall", "at": "after_chunk", "chunk": 3, "seconds": 2,
         "applied": false, "missed": "the answer has 1 chunk"}])"));
}

TEST(JournalLine, OfTheStartRecordsTheSeed) {
    proxy::start_facts facts;
    facts.version = "1.0.0";
    facts.listen = "127.0.0.1:9102";
    facts.to = "127.0.0.1:9002";
    facts.seed = 18446744073709551615ull;
    facts.text_max = 256;
    const json line = proxy::start_line(facts);
    EXPECT_EQ(line["seed"], 18446744073709551615ull);
    EXPECT_EQ(line["rules"], nullptr);
}

TEST(Percentile, IsTheNearestRank) {
    const std::vector<double> values{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(proxy::percentile(values, 50), 5);
    EXPECT_EQ(proxy::percentile(values, 90), 9);
    EXPECT_EQ(proxy::percentile(values, 99), 10);
    EXPECT_EQ(proxy::percentile({7}, 50), 7);
    EXPECT_EQ(proxy::percentile({}, 50), 0);
}

TEST(Summary, CountsFailuresFaultsAndLatenciesPerCommand) {
    std::ostringstream journal;
    journal << R"({"event":"start","seed":7})" << '\n' << R"({"event":"open","conn":1})" << '\n';
    for (int i = 1; i <= 10; ++i) {
        journal << R"({"event":"request","kind":"GET","command":"IFC_get_stat","total_ms":)" << i
                << R"(,"outcome":"ok","faults":[]})" << '\n';
    }
    journal << R"({"event":"request","kind":"PUT","command":"IFC_set_stat","total_ms":2.5,)"
            << R"("outcome":"cut","faults":[{"action":"cut","applied":true}]})" << '\n'
            << R"({"event":"request","kind":"PUT","command":"IFC_set_stat","total_ms":1.5,)"
            << R"("outcome":"ok","faults":[{"action":"stall","applied":false}]})" << '\n'
            << R"({"event":"request","kind":"PING","total_ms":0,"outcome":"ok","faults":[]})"
            << '\n'
            << "not a journal line\n";
    std::istringstream in(journal.str());
    const proxy::journal_summary summary = proxy::summarize(in);
    EXPECT_EQ(proxy::render_summary(summary, "j.jsonl"),
              "j.jsonl: 13 requests on 1 connection, seed 7\n"
              "\n"
              "kind  command       count  failed  faulted  p50 ms  p90 ms  p99 ms  max ms\n"
              "GET   IFC_get_stat     10       0        0   5.000   9.000  10.000  10.000\n"
              "PING  -                 1       0        0   0.000   0.000   0.000   0.000\n"
              "PUT   IFC_set_stat      2       1        1   1.500   2.500   2.500   2.500\n"
              "\n"
              "failures\n"
              "kind  command       outcome  count\n"
              "PUT   IFC_set_stat  cut          1\n"
              "\n"
              "skipped 1 line that is not a journal line\n");
}

TEST(Summary, NamesARequestEndedBeforeItsNameWasKnown) {
    std::istringstream in(R"({"event":"request","kind":"GET","total_ms":0.5,"outcome":"err",)"
                          R"("faults":[{"action":"err","applied":true}]})"
                          "\n");
    EXPECT_EQ(proxy::render_summary(proxy::summarize(in), "j.jsonl"),
              "j.jsonl: 1 request on 0 connections\n"
              "\n"
              "kind  command            count  failed  faulted  p50 ms  p90 ms  p99 ms  max ms\n"
              "GET   (before the name)      1       1        1   0.500   0.500   0.500   0.500\n"
              "\n"
              "failures\n"
              "kind  command            outcome  count\n"
              "GET   (before the name)  err          1\n");
}

TEST(Summary, OfAHandMadeJournalShowsNoControlBytesAndSkipsUnsoundDurations) {
    std::istringstream in(
        R"({"event":"request","kind":"GET\u001b[2J","command":"a\u0007b\u009b","total_ms":1,)"
        R"("outcome":"x\r","faults":[]})"
        "\n"
        R"({"event":"request","kind":"GET","command":"IFC_get_stat","total_ms":-5,)"
        R"("outcome":"ok","faults":[]})"
        "\n"
        R"({"event":"request","kind":"GET","command":"IFC_get_stat","total_ms":"7",)"
        R"("outcome":"ok","faults":[]})"
        "\n");
    const std::string text = proxy::render_summary(proxy::summarize(in), "j.jsonl");
    EXPECT_EQ(
        text,
        "j.jsonl: 1 request on 0 connections\n"
        "\n"
        "kind        command         count  failed  faulted  p50 ms  p90 ms  p99 ms  max ms\n"
        "GET\\x1b[2J  a\\x07b\\xc2\\x9b      1       1        0   1.000   1.000   1.000   1.000\n"
        "\n"
        "failures\n"
        "kind        command         outcome  count\n"
        "GET\\x1b[2J  a\\x07b\\xc2\\x9b  x\\x0d        1\n"
        "\n"
        "skipped 2 lines that are not journal lines\n");
}

TEST(Summary, SkipsALineTooLongForAJournalWithoutKeepingIt) {
    std::string journal(9 * 1024 * 1024, 'x');
    journal += "\n";
    journal += R"({"event":"request","kind":"PING","total_ms":0,"outcome":"ok","faults":[]})";
    std::istringstream in(journal);
    const proxy::journal_summary summary = proxy::summarize(in);
    EXPECT_EQ(summary.requests, 1);
    EXPECT_EQ(summary.skipped_lines, 1);
}

}  // namespace
