// ifc-client's words before anything is sent: help and version texts, the messages and exit
// statuses of mistyped or missing words and refused values, and the completion words. The
// client is pointed at a port where nothing listens: had it tried to send anything, it would
// end with "cannot connect" instead.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/case_names.h"
#include "tests/support/server_process.h"
#include "tests/support/tool_process.h"

namespace {

using test_support::tool_run;

constexpr int ok = 0, usage = 1, unknown_command = 3, document = 8;

struct words_case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string err;  // the whole of standard error: one line, or nothing
};

void PrintTo(const words_case& c, std::ostream* os) {
    *os << c.name;
}

class ClientWords : public testing::TestWithParam<words_case> {};

TEST_P(ClientWords, AreRefusedWithTheirMessage) {
    const words_case& c = GetParam();
    const tool_run run = test_support::run_client(test_support::free_port(), c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Refused, ClientWords,
    testing::Values(
        words_case{"MistypedCommand",
                   {"stauts"},
                   usage,
                   "ifc-client: unknown command 'stauts'; did you mean 'status'?\n"},
        words_case{"UnknownCommand",
                   {"frobnicate"},
                   usage,
                   "ifc-client: unknown command 'frobnicate' (see 'ifc-client --help')\n"},
        words_case{"MistypedOption",
                   {"--hots", "10.0.0.5", "status"},
                   usage,
                   "ifc-client: unknown option '--hots'; did you mean '--host'?\n"},
        words_case{"MistypedOptionAfterTheCommand",
                   {"status", "--jsno"},
                   usage,
                   "ifc-client: unknown option '--jsno'; did you mean '--json'?\n"},
        words_case{"HistogramWithoutWord",
                   {"histogram"},
                   usage,
                   "ifc-client: usage: histogram needs one of: left, right, select, clear, set "
                   "(see 'ifc-client help histogram')\n"},
        words_case{"MistypedHistogramWord",
                   {"histogram", "lefft"},
                   usage,
                   "ifc-client: usage: unknown histogram word 'lefft'; did you mean 'left'?\n"},
        words_case{"MistypedHistogramItem",
                   {"histogram", "select", "left", "3", "tbww"},
                   usage,
                   "ifc-client: usage: unknown histogram item 'tbww'; did you mean 'tbw'?\n"},
        words_case{"MistypedValveKey",
                   {"valves", "3", "mian_on=100"},
                   usage,
                   "ifc-client: usage: unknown valve key 'mian_on'; did you mean 'main_on'? "
                   "('ifc-client valves 3' shows every key)\n"},
        words_case{"UnknownStatusKeyListsTheFew",
                   {"status", "colour=2"},
                   usage,
                   "ifc-client: usage: unknown status key 'colour'; did you mean 'color'?\n"},
        words_case{"UnknownTargetKey",
                   {"targets", "1", "x=1"},
                   usage,
                   "ifc-client: usage: unknown target key 'x' (keys: to, tw)\n"},
        words_case{"MissingColour",
                   {"targets"},
                   usage,
                   "ifc-client: usage: targets needs COLOUR, a weft colour 1..6 (e.g. "
                   "'ifc-client targets 1')\n"},
        words_case{"ColourOutsideItsRange",
                   {"valves", "7"},
                   usage,
                   "ifc-client: usage: colour 7 is not a weft colour 1..6\n"},
        words_case{"ColourNotANumber",
                   {"timing", "red"},
                   usage,
                   "ifc-client: usage: 'red' is not a weft colour 1..6\n"},
        words_case{"MissingName",
                   {"get"},
                   usage,
                   "ifc-client: usage: get needs NAME, the name of a read command (e.g. "
                   "'ifc-client get IFC_get_stat')\n"},
        words_case{"TargetAboveItsRange",
                   {"targets", "2", "to=99999"},
                   usage,
                   "ifc-client: usage: to=99999 is outside 50..150 (--force sends it all the "
                   "same)\n"},
        words_case{"TargetBelowItsRange",
                   {"targets", "2", "to=-1"},
                   usage,
                   "ifc-client: usage: to=-1 is outside 50..150 (--force sends it all the "
                   "same)\n"},
        words_case{"ModeOutsideItsRange",
                   {"status", "mode=9"},
                   usage,
                   "ifc-client: usage: mode=9 is outside 0..6 (--force sends it all the same)\n"},
        words_case{"NoColourZero",
                   {"status", "color=0"},
                   usage,
                   "ifc-client: usage: color=0 is outside 1..6 (--force sends it all the "
                   "same)\n"},
        words_case{"AngleOutsideItsRange",
                   {"valves", "1", "main_on=360"},
                   usage,
                   "ifc-client: usage: main_on=360 is outside 0..359 (--force sends it all the "
                   "same)\n"},
        words_case{"FlagOutsideItsRange",
                   {"select", "pin=2"},
                   usage,
                   "ifc-client: usage: pin=2 is outside 0..1 (--force sends it all the same)\n"},
        words_case{"SelectAllTakesNoValue",
                   {"select", "all=1"},
                   usage,
                   "ifc-client: usage: 'ifc-client select all' deselects every item and takes "
                   "no value; no word selects them all\n"},
        words_case{"UnknownWriteCommand",
                   {"put", "IFC_set_stat_1", "x"},
                   unknown_command,
                   "ifc-client: unknown write command 'IFC_set_stat_1'; did you mean "
                   "'IFC_set_stat'? (--force sends it all the same)\n"},
        words_case{"HostWithABadPort",
                   {"--host", "10.0.0.5:x", "status"},
                   usage,
                   "ifc-client: usage: --host 10.0.0.5:x: expected HOST or HOST:PORT with a "
                   "port 1..65535\n"},
        words_case{"HostAndPortDisagree",
                   {"--host", "10.0.0.5:9100", "--port", "9200", "status"},
                   usage,
                   "ifc-client: usage: --host 10.0.0.5:9100 and --port 9200 name different "
                   "ports\n"},
        words_case{"DiffWithOneSide",
                   {"diff", "loom7.json"},
                   document,
                   "ifc-client: usage: diff needs A and B, each a document, a settings "
                   "directory or a server HOST[:PORT] (e.g. 'ifc-client diff loom7.json "
                   "10.0.0.8')\n"},
        words_case{"MistypedDiffOptionIsNoDifference",
                   {"diff", "--onyl", "valves", "a.json", "b.json"},
                   document,
                   "ifc-client: unknown option '--onyl'; did you mean '--only'?\n"},
        words_case{"ApplyWithoutDocument",
                   {"apply", "--dry-run"},
                   usage,
                   "ifc-client: usage: apply needs DOC, one settings document (e.g. 'ifc-client "
                   "apply loom7.json --dry-run')\n"},
        words_case{"UnknownSection",
                   {"apply", "loom7.json", "--only", "valve"},
                   usage,
                   "ifc-client: usage: unknown section 'valve' (sections: status, selection, "
                   "targets, valves, histogram-selection)\n"},
        words_case{"ColourOutsideTheScope",
                   {"apply", "loom7.json", "--colours", "1,7"},
                   usage,
                   "ifc-client: usage: colour 7 is not a weft colour 1..6\n"},
        words_case{"HelpOfAMistypedCommand",
                   {"help", "valvs"},
                   usage,
                   "ifc-client: no command 'valvs'; did you mean 'valves'?\n"}),
    test_support::case_name());

struct answer_case {
    const char* name;
    std::vector<std::string> args;
    std::string out;  // what standard output holds (whole, or its start: see whole)
    bool whole;
};

void PrintTo(const answer_case& c, std::ostream* os) {
    *os << c.name;
}

class ClientAnswers : public testing::TestWithParam<answer_case> {};

TEST_P(ClientAnswers, WithoutAServer) {
    const answer_case& c = GetParam();
    const tool_run run = test_support::run_tool(IFC_CLIENT_PATH, c.args);
    EXPECT_EQ(run.status, ok) << run.err;
    EXPECT_EQ(run.err, "");
    if (c.whole) {
        EXPECT_EQ(run.out, c.out);
    } else {
        EXPECT_TRUE(run.out.starts_with(c.out)) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ClientAnswers,
    testing::Values(
        answer_case{"Version", {"--version"}, "ifc-client 1.", false},
        answer_case{"HelpCommand", {"help"}, "ifc-client: reads and changes", false},
        answer_case{"HelpOfACommand",
                    {"help", "valves"},
                    "valve on and off angles of a weft colour\nUsage: ifc-client valves",
                    false},
        answer_case{"CommandHelpOption", {"histogram", "--help"}, "a histogram (simulated)", false},
        answer_case{"CompletesCommands", {"__complete", "va"}, "valves\n", true},
        answer_case{"CompletesHelpTopics", {"__complete", "help", "ti"}, "timing\n", true},
        answer_case{"CompletesOptions", {"__complete", "--ho"}, "--host\n", true},
        answer_case{"NothingForAnOptionsValue", {"__complete", "--port", ""}, "", true},
        answer_case{"CompletesColours", {"__complete", "valves", ""}, "1\n2\n3\n4\n5\n6\n", true},
        answer_case{"CompletesKeys",
                    {"__complete", "valves", "3", "main_o"},
                    "main_on=\nmain_off=\n",
                    true},
        answer_case{"LeavesOutKeysAlreadyGiven",
                    {"__complete", "status", "color=2", ""},
                    "mode=\ntotw_sw=\n",
                    true},
        answer_case{"CompletesSelectAll", {"__complete", "select", "a"}, "all\nabs=\n", true},
        answer_case{"CompletesHistogramItems",
                    {"__complete", "histogram", "select", "left", "3", "tw"},
                    "tw\ntw_tbw\n",
                    true},
        answer_case{"CompletesSections",
                    {"__complete", "apply", "x.json", "--only", "h"},
                    "histogram-selection\n",
                    true},
        answer_case{"CompletesCommandNames",
                    {"__complete", "--json", "get", "IFC_get_st"},
                    "IFC_get_stat\n",
                    true}),
    test_support::case_name());

// The help names every command, option and exit status, and the things a technician cannot
// guess: the meaning of the summary values and of mode as far as it is known, and that the
// measurements are simulated.
TEST(ClientHelp, DocumentsEveryCommandOptionAndExitStatus) {
    const tool_run run = test_support::run_tool(IFC_CLIENT_PATH, {"--help"});
    EXPECT_EQ(run.status, ok);
    for (std::string_view word : {"--host HOST[:PORT]",
                                  "--port",
                                  "--timeout",
                                  "--wait",
                                  "--json",
                                  "--raw",
                                  "--interval",
                                  "--count",
                                  "--force",
                                  "--version",
                                  "status [color=N] [mode=N] [totw_sw=N]",
                                  "what their values mean is not documented",
                                  "select all",
                                  "Deselects every item at once",
                                  "targets COLOUR",
                                  "timing COLOUR",
                                  "The server simulates these measurements",
                                  "valves COLOUR [KEY=ANGLE ...]",
                                  "sub18_off",
                                  "histogram left|right",
                                  "ival1 ival0 fval ival3",
                                  "histogram select",
                                  "tw_tbw",
                                  "get NAME",
                                  "put NAME",
                                  "ping",
                                  "help [COMMAND]",
                                  "ifc-settings check",
                                  "IFC_get_hist_cntdatL",
                                  "MLETOFF_set_btnstat",
                                  "6  not applied",
                                  "export [-o FILE] [--name NAME] [--note TEXT]",
                                  "diff A B [--only SECTIONS] [--colours LIST]",
                                  "apply DOC [--dry-run]",
                                  "settings-document.schema.json",
                                  "7  outcome unknown",
                                  "8  a settings document"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
}

}  // namespace
