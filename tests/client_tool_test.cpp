// ifc-client, the executable, against a real server over TCP: every raw and typed command,
// read-modify-write seen through GET and in the settings files, JSON parsed back, raw bytes,
// the exit statuses, --interval, and batch mode from standard input.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/ifc_settings.h"
#include "tests/support/loopback.h"
#include "tests/support/server_process.h"
#include "tests/support/terminal.h"
#include "tests/support/tool_process.h"

namespace {

using nlohmann::json;
using test_support::answer_of;
using test_support::int32_at;
using test_support::read_file;
using test_support::run_client;
using test_support::slot_offset;
using test_support::tool_run;
namespace rec = test_support::ifc_record;

// The exit statuses documented in ifc-client --help.
constexpr int ok = 0, usage = 1, cannot_connect = 2, unknown_command = 3, protocol_error = 4,
              rejected = 5, not_applied = 6;

// Record indexes in the default valve table.
constexpr int VAL_pin_open = 0, VAL_main_on = 7, VAL_main_off = 8;

std::string context(const tool_run& run) {
    return "status " + std::to_string(run.status) + "\nstdout:\n" + run.out + "\nstderr:\n" +
           run.err;
}

json json_of(const tool_run& run) {
    EXPECT_EQ(run.status, ok) << context(run);
    const auto lines = test_support::lines_of(run.out);
    EXPECT_EQ(lines.size(), 1u) << context(run);
    return json::parse(lines.empty() ? "null" : lines.front());
}

// Everything in the file but the given int32 slots is as it was.
void expect_only_changed(const std::string& before, const std::string& after,
                         const std::vector<std::size_t>& offsets) {
    ASSERT_EQ(before.size(), after.size());
    std::string masked_before = before, masked_after = after;
    for (std::size_t offset : offsets) {
        masked_before.replace(offset, 4, 4, '\0');
        masked_after.replace(offset, 4, 4, '\0');
    }
    EXPECT_TRUE(masked_before == masked_after) << "bytes outside the named slots changed";
}

class ClientTool : public ::testing::Test {
  protected:
    tool_run client(const std::vector<std::string>& args, std::string_view input = "") {
        return run_client(server.port(), args, input);
    }
    std::string get(std::string_view name) {
        auto conn = server.connect();
        return answer_of(conn, name);
    }
    std::string valve_file() { return read_file(server.workfile("valve_fp.set")).value_or(""); }

    test_support::server_process server;
};

TEST_F(ClientTool, RawGetPutAndPing) {
    tool_run run = client({"--raw", "get", "IFC_get_stat"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(run.out, "color:1 mode:0 totw_sw:0 ");  // the answer bytes, nothing added

    run = client({"put", "IFC_set_stat", "color:3 mode:1 totw_sw:0"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(get("IFC_get_stat"), "color:3 mode:1 totw_sw:0 ");
    // Several words make one argument, joined by single blanks.
    run = client({"put", "IFC_set_to_tw_4", "to:91", "tw:241"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(get("IFC_get_Tot_Twt_4"), "to:91 tw:241 ");

    const json answer = json_of(client({"--json", "get", "IFC_get_Tot_Twt_4"}));
    EXPECT_EQ(answer["answer"], "to:91 tw:241 ");
    EXPECT_EQ(answer["values"]["tw"], 241);

    run = client({"ping"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_TRUE(server.wait_for_stdout("PING"));
}

TEST_F(ClientTool, StatusAndTargetsReadModifyWrite) {
    json status = json_of(client({"--json", "status"}));
    EXPECT_EQ(status["values"], json::parse(R"({"color":1,"mode":0,"totw_sw":0})"));

    // The write command needs all three items: the other two keep their values.
    status = json_of(client({"--json", "status", "totw_sw=1"}));
    EXPECT_EQ(status["values"], json::parse(R"({"color":1,"mode":0,"totw_sw":1})"));
    EXPECT_EQ(status["applied"], true);
    EXPECT_EQ(get("IFC_get_stat"), "color:1 mode:0 totw_sw:1 ");
    EXPECT_EQ(test_support::ifc_slot(server, rec::STAT_1, 3), 1);

    const std::string file_before = test_support::ifc_settings(server);
    tool_run run = client({"targets", "2", "to=95"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_NE(run.out.find("changed to: 90 -> 95"), std::string::npos) << run.out;
    EXPECT_EQ(get("IFC_get_Tot_Twt_2"), "to:95 tw:240 ");
    EXPECT_EQ(get("IFC_get_Tot_Twt_1"), "to:90 tw:240 ");
    // Only slot 2 of "Tot" changed in the file: "Twt" was sent back with its own value.
    expect_only_changed(file_before, test_support::ifc_settings(server),
                        {slot_offset(rec::Tot, 2)});
    EXPECT_EQ(test_support::ifc_slot(server, rec::Tot, 2), 95);

    const json targets = json_of(client({"--json", "targets", "2"}));
    EXPECT_EQ(targets["colour"], 2);
    EXPECT_EQ(targets["values"], json::parse(R"({"to":95,"tw":240})"));
}

TEST_F(ClientTool, ValvesReadModifyWriteChangesOnlyTheNamedKeys) {
    ASSERT_EQ(get("IFC_get_on_off_1").size(), 554u);  // creates the valve file
    const std::string file_before = valve_file();
    const std::string colour1 = get("IFC_get_on_off_1");

    const json result = json_of(client({"--json", "valves", "3", "main_on=100", "pin_on=80"}));
    EXPECT_EQ(result["applied"], true);
    EXPECT_EQ(result["values"]["main_on"], 100);
    EXPECT_EQ(result["values"]["pin_on"], 80);
    EXPECT_EQ(result["values"]["main_off"], 160);
    ASSERT_EQ(result["changes"].size(), 2u);
    EXPECT_EQ(result["changes"][0],
              json::parse(R"({"key":"main_on","from":90,"to":100,"now":100})"));

    const std::string colour3 = get("IFC_get_on_off_3");
    EXPECT_NE(colour3.find(" pin_on:80 "), std::string::npos);
    EXPECT_NE(colour3.find(" main_on:100 main_off:160 "), std::string::npos);
    EXPECT_EQ(get("IFC_get_on_off_1"), colour1);
    const std::string file_after = valve_file();
    expect_only_changed(file_before, file_after,
                        {slot_offset(VAL_main_on, 3), slot_offset(VAL_pin_open, 3)});
    EXPECT_EQ(int32_at(file_after, slot_offset(VAL_main_on, 3)), 100);
    EXPECT_EQ(int32_at(file_after, slot_offset(VAL_main_off, 3)), 160);

    // The table shows the valves side by side and lists the change.
    const tool_run run = client({"valves", "3", "main_off=170"});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_NE(run.out.find("changed main_off: 160 -> 170"), std::string::npos) << run.out;
    bool main_row = false;
    for (const std::string& line : test_support::lines_of(run.out)) {
        main_row |= line.starts_with("main ") && line.ends_with(" 100  170");
    }
    EXPECT_TRUE(main_row) << run.out;
}

TEST_F(ClientTool, RefusedValveChangesSendNothing) {
    ASSERT_FALSE(get("IFC_get_on_off_1").empty());
    const std::string file_before = valve_file();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"valves", "1", "main_on=100", "sub19_on=5"},
          std::vector<std::string>{"valves", "1", "ATC_TO_DELAY=5"},
          std::vector<std::string>{"valves", "1", "main_on=360"},
          std::vector<std::string>{"valves", "1", "main_on"},
          std::vector<std::string>{"valves", "7", "main_on=1"}}) {
        const tool_run run = client(args);
        EXPECT_EQ(run.status, usage) << context(run);
        EXPECT_EQ(test_support::lines_of(run.err).size(), 1u) << context(run);
        EXPECT_TRUE(run.out.empty()) << context(run);
    }
    const tool_run unknown = client({"valves", "1", "sub19_on=5"});
    EXPECT_NE(unknown.err.find("unknown valve key 'sub19_on'"), std::string::npos) << unknown.err;
    EXPECT_EQ(valve_file(), file_before);
    EXPECT_EQ(server.stdout_text().find("IFC_set_on_off"), std::string::npos);
}

TEST_F(ClientTool, SelectionSetsFlagsAndClearsAll) {
    json result = json_of(client({"--json", "select", "main=1", "sub20=1"}));
    EXPECT_EQ(result["values"]["main"], 1);
    EXPECT_EQ(result["values"]["sub20"], 1);
    EXPECT_EQ(result["values"]["pin"], 0);
    EXPECT_EQ(test_support::ifc_slot(server, rec::V, 4), 1);
    EXPECT_EQ(test_support::ifc_slot(server, rec::S4, 2), 1);

    result = json_of(client({"--json", "select", "all"}));
    EXPECT_EQ(result["applied"], true);
    for (const auto& [key, value] : result["values"].items())
        EXPECT_EQ(value, 0) << key;

    EXPECT_EQ(client({"select", "sub21=1"}).status, usage);
    EXPECT_EQ(client({"select", "pin=2"}).status, usage);
    EXPECT_EQ(client({"status", "color=7"}).status, usage);
}

TEST_F(ClientTool, TimingAndHistograms) {
    const json timing = json_of(client({"--json", "timing", "2"}));
    EXPECT_EQ(timing["measured"], json::parse(R"({"to":92,"tw":252})"));
    EXPECT_EQ(timing["averages"]["tb1"], 130);
    EXPECT_EQ(timing["averages"]["tbw"], 228);
    EXPECT_EQ(timing["averages"].size(), 11u);

    const json left = json_of(client({"--json", "histogram", "left"}));
    EXPECT_EQ(left["side"], "left");
    EXPECT_EQ(left["colour"], 1);
    EXPECT_EQ(left["item"], "tw");
    EXPECT_EQ(left["summary"], json::parse("[234, 500, 4.65, 190, 500]"));
    ASSERT_EQ(left["bins"].size(), 46u);
    EXPECT_EQ(left["bins"][23], 300);

    // The chart: one row per bin with its count and a bar, the peak's 50 cells long.
    const tool_run chart = client({"histogram", "right"});
    EXPECT_EQ(chart.status, ok) << context(chart);
    EXPECT_NE(chart.out.find("right histogram: colour 2, item tw"), std::string::npos);
    EXPECT_NE(chart.out.find("summary: ival1 234, ival0 500, fval 4.52, ival3 190, ival2 500"),
              std::string::npos)
        << chart.out;
    int bins = 0, bars = 0;
    for (const std::string& line : test_support::lines_of(chart.out)) {
        std::istringstream row(line);
        int bin = -1, count = -1;
        std::string bar;
        if (!(row >> bin >> count)) continue;
        row >> bar;
        EXPECT_EQ(bin, bins++);
        if (count == 0) {
            EXPECT_TRUE(bar.empty()) << line;
        }
        if (count == 300) {
            EXPECT_EQ(bar, std::string(50, '#')) << line;
        }
        if (!bar.empty()) ++bars;
    }
    EXPECT_EQ(bins, 46) << chart.out;
    EXPECT_EQ(bars, 19) << chart.out;

    const tool_run raw = client({"--raw", "histogram", "left"});
    EXPECT_EQ(raw.out, get("IFC_get_hist_cntdatL"));

    const json chosen = json_of(client({"--json", "histogram", "select", "left", "3", "tbw"}));
    EXPECT_EQ(chosen["left"], json::parse(R"({"colour":3,"item":"tbw"})"));
    EXPECT_EQ(chosen["applied"], true);
    EXPECT_EQ(get("IFC_get_hst_select"), "3 tbw 2 tw");
    EXPECT_EQ(client({"histogram", "select", "left", "3", "xx"}).status, usage);

    EXPECT_EQ(client({"histogram", "clear", "1", "tw_tbw"}).status, ok);
    EXPECT_EQ(client({"histogram", "set", "1", "tw", "5", "2", "tbw", "5", "100"}).status, ok);
    EXPECT_TRUE(server.wait_for_stdout("set_histo(L c=1, i=10, t=5, R c=2, i=9, t=5, samp=100)"));
    EXPECT_NE(server.stdout_text().find("clear_histo: color=1, item_no=11"), std::string::npos);
}

TEST_F(ClientTool, ErrorExitsAreDistinctAndOneLineEach) {
    tool_run run = client({"get", "IFC_get_nothing"});
    EXPECT_EQ(run.status, unknown_command) << context(run);
    EXPECT_EQ(test_support::lines_of(run.err).size(), 1u) << context(run);
    EXPECT_TRUE(run.out.empty());

    run = client({"frobnicate"});
    EXPECT_EQ(run.status, usage) << context(run);
    EXPECT_EQ(test_support::lines_of(run.err).size(), 1u) << context(run);
    EXPECT_EQ(client({"--json", "--raw", "status"}).status, usage);
    EXPECT_EQ(client({"--interval", "1", "status", "mode=1"}).status, usage);
    EXPECT_EQ(client({"get", "IFC_get_a_name_of_21_c"}).status, usage);

    // A payload above the server's 256000 bytes is answered "ERR!". Too long for a
    // command-line word, so it comes as a batch line.
    run = client({}, "put IFC_set_stat " + std::string(256000, 'x') + "\n");
    EXPECT_EQ(run.status, rejected) << run.err;
    EXPECT_EQ(test_support::lines_of(run.err).size(), 1u);

    // Something that accepts connections but never answers: a time-out.
    {
        const auto silent = test_support::listen_on_loopback();
        run = run_client(silent.port, {"--timeout", "0.3", "--wait", "0", "status"});
        EXPECT_EQ(run.status, protocol_error) << context(run);
        EXPECT_NE(run.err.find("time-out"), std::string::npos) << run.err;
    }

    // Nobody listens on the port of a server that has ended.
    const std::uint16_t port = server.port();
    server.kill();
    run = run_client(port, {"status"});
    EXPECT_EQ(run.status, cannot_connect) << context(run);
    EXPECT_EQ(test_support::lines_of(run.err).size(), 1u) << context(run);
    EXPECT_TRUE(run.err.starts_with("ifc-client: cannot connect")) << run.err;
}

TEST_F(ClientTool, WriteThatDoesNotTakeIsReportedAsNotApplied) {
    // A settings file in which "VAL_main_on" has an unusable type: the server reads it as 0
    // and refuses to store into it, silently.
    ASSERT_FALSE(get("IFC_get_on_off_1").empty());
    std::string damaged = valve_file();
    damaged[80 * VAL_main_on] = 9;
    test_support::write_file(server.workfile("valve_fp.set"), damaged);
    const tool_run run = client({"valves", "1", "main_on=100"});
    EXPECT_EQ(run.status, not_applied) << context(run);
    EXPECT_NE(run.err.find("main_on=100 (reads 0)"), std::string::npos) << run.err;
}

TEST_F(ClientTool, IntervalRepeatsAReadCommandCountTimes) {
    const tool_run run = client({"--json", "--interval", "0.05", "--count", "3", "status"});
    EXPECT_EQ(run.status, ok) << context(run);
    const auto lines = test_support::lines_of(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    for (const std::string& line : lines)
        EXPECT_EQ(json::parse(line)["values"]["color"], 1);

    const tool_run raw = client({"--raw", "--interval", "0.05", "--count", "2", "targets", "1"});
    EXPECT_EQ(raw.out, "to:90 tw:240 \nto:90 tw:240 ");
}

TEST_F(ClientTool, BatchRunsOneCommandPerLineAndStopsAtTheFirstFailure) {
    const std::string script =
        "# set up colour 2\n"
        "\n"
        "targets 2 to=100 tw=250\n"
        "put IFC_set_on_off_2 \"main_on:111 \"\n"
        "--json valves 2\n"
        "status\n";
    tool_run run = client({}, script);
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(get("IFC_get_Tot_Twt_2"), "to:100 tw:250 ");
    EXPECT_NE(get("IFC_get_on_off_2").find(" main_on:111 "), std::string::npos);
    EXPECT_NE(run.out.find("\"main_on\":111"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("machine status"), std::string::npos) << run.out;

    run = client({"--json"}, "status\nvalves 2 nozzle=1\ntargets 2 to=1\n");
    EXPECT_EQ(run.status, usage) << context(run);
    EXPECT_TRUE(run.err.starts_with("ifc-client: line 2: ")) << run.err;
    EXPECT_EQ(test_support::lines_of(run.out).size(), 1u) << run.out;  // only line 1 ran
    EXPECT_EQ(get("IFC_get_Tot_Twt_2"), "to:100 tw:250 ");

    run = client({}, "status\nquit\nstatus mode=5\n");
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(get("IFC_get_stat"), "color:1 mode:0 totw_sw:0 ");
}

// At a terminal: a prompt, commands with line editing and Tab completion, errors that do not
// end the session and do not point to the command line's --help, and a history file.
TEST_F(ClientTool, PromptAtATerminal) {
    const test_support::temp_dir home;
    test_support::terminal_program client(IFC_CLIENT_PATH,
                                          {"--port", std::to_string(server.port())}, home.path());
    const std::string prompt = "ifc 127.0.0.1:" + std::to_string(server.port()) + "> ";
    EXPECT_TRUE(client.read_until(prompt)) << client.screen();
    client.type("targets 9\r");
    EXPECT_TRUE(client.read_until("colour 9 is not a weft colour 1..6")) << client.screen();
    client.type("stauts\r");
    EXPECT_TRUE(client.read_until("unknown command 'stauts'; did you mean 'status'?"))
        << client.screen();
    client.type("frobnicate\r");
    EXPECT_TRUE(client.read_until("unknown command 'frobnicate' (type 'help')")) << client.screen();
    // Tab completes the command and the key, which takes its value without a blank between.
    client.type("sta\t mo\t4\r");
    EXPECT_TRUE(client.read_until("changed mode: 0 -> 4")) << client.screen();
    client.type("quit\r");
    EXPECT_EQ(client.wait_exit(), ok) << client.screen();
    EXPECT_EQ(client.screen().find("--help"), std::string::npos) << client.screen();
    EXPECT_EQ(get("IFC_get_stat"), "color:1 mode:4 totw_sw:0 ");
    const std::string history = read_file(home.file(".ifc_client_history")).value_or("");
    EXPECT_NE(history.find("mode=4"), std::string::npos) << history;
}

// --raw writes the answer bytes alone, but at a terminal it ends them with a line feed, so
// that the shell's prompt starts on a line of its own.
TEST_F(ClientTool, RawOutputEndsWithALineFeedAtATerminal) {
    const test_support::temp_dir home;
    test_support::terminal_program client(
        IFC_CLIENT_PATH, {"--port", std::to_string(server.port()), "--raw", "get", "IFC_get_stat"},
        home.path());
    EXPECT_EQ(client.wait_exit(), ok) << client.screen();
    EXPECT_EQ(client.screen(), "color:1 mode:0 totw_sw:0 \r\n");
}

}  // namespace
