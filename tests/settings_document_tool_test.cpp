// Settings documents through the tools, against real servers over TCP: ifc-client export, diff
// and apply (with a dry run, a scope, faults in the middle from ifc-proxy, damaged controllers),
// the outcome-unknown status of the write commands, and ifc-settings export and write with their
// round trips through files and a live server. Every document the tools write is checked
// against the schema in docs/.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "client/document_diff.h"
#include "client/document_json.h"
#include "client/document_read.h"
#include "client/settings_access.h"
#include "tests/support/case_names.h"
#include "tests/support/documents.h"
#include "tests/support/files.h"
#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"
#include "tests/support/tool_process.h"

namespace {

using ifc_client::settings_document;
using nlohmann::json;
using test_support::read_file;
using test_support::run_client;
using test_support::run_settings_tool;
using test_support::server_process;
using test_support::tool_run;

// ifc-client's exit statuses (ifc-client --help), and ifc-settings' own.
constexpr int ok = 0, different = 1, cannot_connect = 2, rejected = 5, not_applied = 6,
              outcome_unknown = 7, bad_document = 8;
constexpr int settings_unusable = 2, settings_not_sound = 3, settings_bad_document = 4;

// Record indexes in the default tables.
constexpr int VAL_main_on = 7, ifc_Twt = 1;

std::string context(const tool_run& run) {
    return "status " + std::to_string(run.status) + "\nstdout:\n" + run.out + "\nstderr:\n" +
           run.err;
}

std::string address(const server_process& s) {
    return "127.0.0.1:" + std::to_string(s.port());
}

// What the server holds now, read through the library.
settings_document held_by(const server_process& s) {
    auto conn = s.connect();
    auto doc = ifc_client::read_document(conn);
    EXPECT_TRUE(doc.ok()) << (doc.ok() ? "" : doc.failure().detail);
    return doc.ok() ? doc.value() : settings_document{};
}

settings_document document_in(const std::string& path) {
    const auto text = read_file(path);
    EXPECT_TRUE(text) << path;
    auto doc = ifc_client::parse_document(text.value_or(""));
    EXPECT_TRUE(doc.ok()) << path << ": " << (doc.ok() ? "" : doc.failure().detail);
    return doc.ok() ? doc.value() : settings_document{};
}

std::vector<std::string> described(const settings_document& a, const settings_document& b) {
    std::vector<std::string> lines;
    for (const auto& d : ifc_client::diff_documents(a, b))
        lines.push_back(ifc_client::describe(d));
    return lines;
}

// One value changed in every section: status, selection, targets of colour 2, valves of
// colour 3, histogram selection.
void change_every_section(const server_process& s) {
    auto conn = s.connect();
    const ifc_client::change color[] = {{"color", 3}};
    const ifc_client::change sub3[] = {{"sub3", 1}};
    const ifc_client::change tw[] = {{"tw", 245}};
    const ifc_client::change main_on[] = {{"main_on", 100}};
    ASSERT_TRUE(ifc_client::write_status(conn, color).ok());
    ASSERT_TRUE(ifc_client::write_selection(conn, sub3).ok());
    ASSERT_TRUE(ifc_client::write_targets(conn, 2, tw).ok());
    ASSERT_TRUE(ifc_client::write_valves(conn, 3, main_on).ok());
    ASSERT_TRUE(
        ifc_client::write_histogram_selection(conn, ifc_client::histogram_side::left, 4, "tbw")
            .ok());
}

const std::vector<std::string> every_section_lines{
    "status  color  1 -> 3",          "selection  sub3  0 -> 1",
    "colour 2  tw  240 -> 245",       "colour 3  main_on  90 -> 100",
    "histogram  left_colour  1 -> 4", "histogram  left_item  tw -> tbw"};

class DocumentTool : public testing::Test {
  protected:
    // Every document a test writes itself is checked against the schema as well, at its end.
    void TearDown() override {
        if (!written.empty()) test_support::expect_valid_by_schema(written);
    }

    std::string write_document(const std::string& name, const settings_document& doc) {
        const std::string path = dir.file(name);
        written.push_back(ifc_client::format_document(doc));
        test_support::write_file(path, written.back());
        return path;
    }

    test_support::temp_dir dir;
    std::vector<std::string> written;
};

// A technician exports loom 7, applies the document to loom 8 with a dry run first, and diff
// then says that the two are equal.
TEST_F(DocumentTool, LoomToLoomWithADryRunFirst) {
    server_process loom7, loom8;
    change_every_section(loom7);
    const std::string doc_path = dir.file("loom7.json");
    tool_run run = run_client(
        loom7.port(), {"export", "-o", doc_path, "--name", "loom 7", "--note", "style 4711"});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(run.out, "exported the settings of 127.0.0.1:" + std::to_string(loom7.port()) +
                           " to " + doc_path + "\n");
    const settings_document doc = document_in(doc_path);
    EXPECT_EQ(doc.name, "loom 7");
    EXPECT_EQ(doc.note, "style 4711");
    EXPECT_EQ(doc.source.controller, "127.0.0.1");
    EXPECT_EQ(doc.source.address, address(loom7));
    EXPECT_EQ(doc.program, "ifc-client");
    EXPECT_TRUE(described(doc, held_by(loom7)).empty());

    // Standard output by default: the same document.
    run = run_client(loom7.port(), {"export"});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_TRUE(described(ifc_client::parse_document(run.out).value(), doc).empty());

    run = run_client(loom8.port(), {"diff", doc_path, address(loom8)});
    EXPECT_EQ(run.status, different) << context(run);
    std::vector<std::string> expected;
    for (const std::string& line : every_section_lines) {
        // A's value, then B's: the document's, then loom 8's.
        const std::size_t arrow = line.rfind(" -> ");
        const std::size_t start = line.rfind("  ", arrow) + 2;
        expected.push_back(line.substr(0, start) + line.substr(arrow + 4) + " -> " +
                           line.substr(start, arrow - start));
    }
    EXPECT_EQ(test_support::lines_of(run.out), expected);
    EXPECT_EQ(run.err, "");

    const auto files_before = read_file(loom8.workfile("ifc_set.set"));
    run = run_client(loom8.port(), {"apply", doc_path, "--dry-run"});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_TRUE(run.out.starts_with("dry run, nothing sent: applying " + doc_path + " to " +
                                    address(loom8) +
                                    " writes 6 values in 5 settings lines, 5 PUTs:\n"))
        << run.out;
    EXPECT_NE(run.out.find("colour 3 valves (1 PUT)\n  main_on  90 -> 100\n"), std::string::npos);
    EXPECT_EQ(read_file(loom8.workfile("ifc_set.set")), files_before);
    EXPECT_EQ(run_client(loom8.port(), {"diff", doc_path, address(loom8)}).status, different);

    run = run_client(loom8.port(), {"--json", "apply", doc_path});
    ASSERT_EQ(run.status, ok) << context(run);
    const json applied = json::parse(run.out);
    EXPECT_EQ(applied["applied"], true);
    EXPECT_EQ(applied["puts"], 5);
    EXPECT_EQ(applied["steps"].size(), 5u);
    EXPECT_EQ(applied["steps"][3], json::parse(R"({"section": "valves", "colour": 3, "puts": 1,
        "changes": [{"key": "main_on", "from": 90, "to": 100, "now": 100}],
        "outcome": "applied"})"));

    run = run_client(loom8.port(), {"diff", doc_path, address(loom8)});
    EXPECT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(run.out,
              "equal: " + doc_path + " and " + address(loom8) + " hold the same settings\n");
    EXPECT_EQ(run_client(loom8.port(), {"diff", address(loom7), address(loom8)}).status, ok);
    // Applying again finds nothing to write.
    run = run_client(loom8.port(), {"apply", doc_path});
    EXPECT_EQ(run.status, ok);
    EXPECT_EQ(run.out,
              address(loom8) + " holds every value of " + doc_path + " already; nothing written\n");

    test_support::expect_valid_by_schema({*read_file(doc_path)});
}

// One PUT per settings line that differs (per item for the selection, per side for the
// histogram selection), counted on the wire by ifc-proxy's journal; the scope limits what is
// read and written.
TEST_F(DocumentTool, ApplyWritesOnlyWhatDiffersOnePutPerLine) {
    server_process server;
    test_support::proxy_process proxy(server.port());
    const std::string path = write_document("every.json", test_support::every_value_changed());

    tool_run run =
        run_client(proxy.port(), {"--json", "apply", path, "--only", "valves", "--colours", "3,2"});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(json::parse(run.out)["puts"], 2);
    settings_document now = held_by(server);
    const settings_document wanted = test_support::every_value_changed();
    EXPECT_EQ(now.colour(2)->valves, wanted.colour(2)->valves);
    EXPECT_EQ(now.colour(3)->valves, wanted.colour(3)->valves);
    const settings_document defaults = test_support::model_document({});
    EXPECT_EQ(now.colour(1)->valves, defaults.colour(1)->valves);
    EXPECT_EQ(now.status, defaults.status);
    // Read: 2 valve lines; then per line a read, the write and its read-back.
    const auto puts_in_journal = [&](std::size_t connections) {
        proxy.wait_for("close", connections);
        std::size_t puts = 0;
        for (const json& line : proxy.requests())
            puts += line["kind"] == "PUT";
        return puts;
    };
    EXPECT_EQ(puts_in_journal(1), 2u);

    run = run_client(proxy.port(), {"--json", "apply", path});
    ASSERT_EQ(run.status, ok) << context(run);
    const json report = json::parse(run.out);
    // 1 status, 25 selection items, 6 targets, 4 valve lines left, 2 histogram sides.
    EXPECT_EQ(report["puts"], 38);
    EXPECT_EQ(report["steps"].size(), 13u);
    EXPECT_EQ(puts_in_journal(2), 40u);
    EXPECT_TRUE(described(held_by(server), wanted).empty());
}

struct fault_case {
    const char* name;
    const char* rules;
    std::vector<std::string> options;
    int status;
    std::string error;  // the start of the error line
};

void PrintTo(const fault_case& c, std::ostream* os) {
    *os << c.name;
}

class DocumentToolFault : public testing::TestWithParam<fault_case> {};

// The document changes 4 lines, in this order: status, targets of colours 1 and 2, valves of
// colour 2. The fault hits the third step; the first two are written back, and so is the
// third when it landed. The restore is checked on the server itself.
TEST_P(DocumentToolFault, InTheMiddleOfAnApplyIsRestored) {
    const fault_case& c = GetParam();
    server_process server;
    const settings_document before = held_by(server);
    settings_document wanted = before;
    (*wanted.status)[0].value = 3;
    (*wanted.colour_block(1).targets)[0].value = 95;
    (*wanted.colour_block(2).targets)[1].value = 250;
    (*wanted.colour_block(2).valves)[3].value = 100;
    test_support::temp_dir dir;
    const std::string path = dir.file("wanted.json");
    test_support::write_file(path, ifc_client::format_document(wanted));
    test_support::expect_valid_by_schema({*read_file(path)});

    test_support::proxy_process proxy(server.port(), {c.rules, {"--seed", "1"}});
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"apply", path});
    const tool_run run = run_client(proxy.port(), args);
    EXPECT_EQ(run.status, c.status) << context(run);
    EXPECT_TRUE(run.err.starts_with("ifc-client: " + c.error)) << run.err;
    EXPECT_TRUE(run.err.ends_with("; every line changed was written back\n")) << run.err;
    EXPECT_NE(run.out.find("status: applied (1 PUT)\n  color  1 -> 3\n"
                           "colour 1 targets: applied (1 PUT)\n  to  90 -> 95\n"
                           "colour 2 targets: "),
              std::string::npos)
        << run.out;
    // Read again before the restore: an unknown outcome is told as what the line held.
    if (c.status == outcome_unknown) {
        EXPECT_NE(run.out.find("; read again: the write had landed\n  tw  240 -> 250\n"),
                  std::string::npos)
            << run.out;
    }
    EXPECT_NE(run.out.find("writing back what was changed:\n"), std::string::npos);
    EXPECT_NE(run.out.find("status: restored (1 PUT)\n  color  3 -> 1\n"), std::string::npos);
    EXPECT_NE(run.out.find("the server holds again what it held before"), std::string::npos);
    EXPECT_EQ(run.out.find("colour 2 valves"), std::string::npos) << "a step after the fault ran";
    EXPECT_TRUE(described(before, held_by(server)).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DocumentToolFault,
    testing::Values(
        // The controller has the whole write and runs it; the connection ends before its FIN.
        fault_case{"CutBeforeFin",
                   R"({"rules": [{"kind": "PUT", "nth": 3, "action": "cut", "at": "before_fin"}]})",
                   {},
                   outcome_unknown,
                   "colour 2 targets: outcome unknown: no FIN after the whole request was sent "
                   "(connection closed by the server: after 0 of 3 bytes)"},
        // The FIN never comes; the connection stays open, the client's time-out ends the wait.
        fault_case{"LostFin",
                   R"({"rules": [{"kind": "PUT", "nth": 3, "action": "drop_fin"}]})",
                   {"--timeout", "0.5"},
                   outcome_unknown,
                   "colour 2 targets: outcome unknown: no FIN after the whole request was sent "
                   "(time-out"},
        // The read-back after the third write is cut: the write landed, unconfirmed.
        fault_case{"CutReadBack",
                   R"({"rules": [{"kind": "GET", "command": "IFC_get_Tot_Twt_2", "nth": 3,
                                  "action": "cut", "at": "before_len", "mode": "reset"}]})",
                   {},
                   outcome_unknown,
                   "colour 2 targets: outcome unknown: the write went out; reading it back "
                   "failed: "},
        // Refused before it reached the controller: nothing of it landed.
        fault_case{"RefusedWrite",
                   R"({"rules": [{"kind": "PUT", "nth": 3, "action": "err"}]})",
                   {},
                   rejected,
                   "colour 2 targets: failed: rejected by the server: payload of 29 bytes "
                   "refused"}),
    test_support::case_name());

// A controller whose settings file is damaged: the document's value cannot land, and apply
// says so (and writes back what it had changed) instead of reporting success; export refuses
// values that no document may hold.
TEST_F(DocumentTool, DamagedControllerIsSaidNotHidden) {
    server_process server;
    held_by(server);  // the files exist now
    std::string valves = *read_file(server.workfile("valve_fp.set"));
    valves[80 * VAL_main_on] = 9;  // an unusable type: reads as 0, stores nothing
    test_support::write_file(server.workfile("valve_fp.set"), valves);

    settings_document wanted = test_support::model_document({});
    (*wanted.status)[0].value = 2;
    const std::string path = write_document("wanted.json", wanted);
    tool_run run = run_client(server.port(), {"apply", path});
    EXPECT_EQ(run.status, not_applied) << context(run);
    EXPECT_EQ(run.err,
              "ifc-client: colour 1 valves: not applied: the read-back shows main_on=0 (asked "
              "for 90); every line changed was written back\n");
    EXPECT_EQ((*held_by(server).status)[0].value, 1);

    // A record missing from the interface file: the server answers tw:0, outside 190..290.
    std::string interface = *read_file(server.workfile("ifc_set.set"));
    interface[80 * ifc_Twt + 4 + 2] = 'x';  // "Twt" -> "Twx"
    test_support::write_file(server.workfile("ifc_set.set"), interface);
    run = run_client(server.port(), {"export"});
    EXPECT_EQ(run.status, bad_document) << context(run);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "ifc-client: the server holds values that no settings document may hold: "
              "colours[0].targets.tw: 0 is outside 190..290 (and 5 more); a settings file in "
              "its working directory may be damaged (ifc-settings check tells)\n");
    // ifc-settings reads the same file and says which record is missing.
    run = run_settings_tool({"export", server.workdir()});
    EXPECT_EQ(run.status, settings_not_sound) << context(run);
    EXPECT_NE(run.err.find("colours[0].targets.tw: record \"Twt\" slot 1 of ifc_set.set cannot "
                           "be read (missing, or of an unusable type)"),
              std::string::npos)
        << run.err;
}

// The write commands: a write whose FIN (or read-back) is lost has an outcome of its own, and
// a read on a new connection tells what the server holds.
TEST_F(DocumentTool, WriteCommandsReportAnUnknownOutcome) {
    server_process server;
    test_support::proxy_process proxy(
        server.port(),
        {R"({"rules": [{"kind": "PUT", "nth": 1, "action": "cut", "at": "before_fin"},
                       {"kind": "PUT", "nth": 2, "action": "drop_fin"},
                       {"kind": "PUT", "nth": 3, "action": "cut", "at": "before_fin"}]})",
         {"--seed", "1"}});
    tool_run run = run_client(proxy.port(), {"valves", "1", "main_on=100"});
    EXPECT_EQ(run.status, outcome_unknown) << context(run);
    EXPECT_EQ(run.err,
              "ifc-client: outcome unknown: no FIN after the whole request was sent (connection "
              "closed by the server: after 0 of 3 bytes); read again on a new connection, the "
              "server holds the requested values\n");
    EXPECT_NE(run.out.find("main     100  160"), std::string::npos) << run.out;

    run = run_client(proxy.port(), {"--timeout", "0.5", "--json", "targets", "3", "to=99"});
    EXPECT_EQ(run.status, outcome_unknown) << context(run);
    EXPECT_EQ(json::parse(run.out),
              json::parse(R"({"command": "targets", "colour": 3, "values": {"to": 99, "tw": 240},
                              "applied": null})"));

    run = run_client(proxy.port(), {"put", "IFC_set_stat", "color:2 mode:0 totw_sw:0"});
    EXPECT_EQ(run.status, outcome_unknown) << context(run);
    EXPECT_EQ(run.err,
              "ifc-client: outcome unknown: no FIN after the whole request was sent (connection "
              "closed by the server: after 0 of 3 bytes)\n");
}

// ifc-settings: export of files, write into an empty directory, export again: the same
// document; a document exported from a live server, written as files, read back by a server
// to the same values.
TEST_F(DocumentTool, SettingsFilesRoundTrip) {
    server_process server;
    change_every_section(server);
    const std::string a = dir.file("a.json"), b = dir.file("b.json");
    tool_run run = run_settings_tool({"export", "-o", a, "--name", "from files", server.workdir()});
    ASSERT_EQ(run.status, ok) << context(run);
    const settings_document from_files = document_in(a);
    EXPECT_EQ(described(from_files, held_by(server)), std::vector<std::string>{});
    EXPECT_EQ(from_files.source.files, (std::vector<std::string>{server.workfile("ifc_set.set"),
                                                                 server.workfile("valve_fp.set")}));
    EXPECT_EQ(from_files.program, "ifc-settings");

    const test_support::temp_dir empty;
    run = run_settings_tool({"write", a, "--dir", empty.path()});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(run.out, empty.file("ifc_set.set") +
                           ": created from the defaults with the document's 44 values (5 differ "
                           "from the defaults)\n" +
                           empty.file("valve_fp.set") +
                           ": created from the defaults with the document's 270 values (1 "
                           "differs from the defaults)\n");
    run = run_settings_tool({"export", "-o", b, empty.path()});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(run_client(server.port(), {"diff", a, b}).status, ok);
    // The files are the server's own bytes.
    EXPECT_EQ(read_file(empty.file("ifc_set.set")), read_file(server.workfile("ifc_set.set")));
    EXPECT_EQ(read_file(empty.file("valve_fp.set")), read_file(server.workfile("valve_fp.set")));

    // From a live server to the files of a replacement controller, which reads them back.
    const std::string live = dir.file("live.json");
    ASSERT_EQ(run_client(server.port(), {"export", "-o", live}).status, ok);
    server_process replacement;  // has not touched its working directory yet
    run = run_settings_tool({"write", live, "--dir", replacement.workdir()});
    ASSERT_EQ(run.status, ok) << context(run);
    run = run_client(replacement.port(), {"diff", live, address(replacement)});
    EXPECT_EQ(run.status, ok) << context(run);

    test_support::expect_valid_by_schema({*read_file(a), *read_file(b), *read_file(live)});
}

// write changes the slots of the document's values and nothing else, replaces a file only
// when a value changes, and refuses (writing nothing) what it cannot do.
TEST_F(DocumentTool, SettingsWriteLeavesEveryOtherByte) {
    server_process server;
    held_by(server);
    // A mark in a field no document sets: the group tag of "VAL_main_on".
    std::string valves = *read_file(server.workfile("valve_fp.set"));
    valves[80 * VAL_main_on + 68] = 'Z';
    test_support::write_file(server.workfile("valve_fp.set"), valves);
    const std::string interface = *read_file(server.workfile("ifc_set.set"));

    settings_document part;
    part.colour_block(3).valves = test_support::model_document({}).colour(3)->valves;
    (*part.colour_block(3).valves)[3].value = 100;  // main_on
    const std::string path = write_document("part.json", part);
    tool_run run = run_settings_tool({"write", path, "--dir", server.workdir()});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(run.out, server.workfile("valve_fp.set") +
                           ": written: 1 of the document's 45 values changed\n");
    std::string expected = valves;
    const std::int32_t hundred = 100;
    std::memcpy(expected.data() + test_support::slot_offset(VAL_main_on, 3), &hundred, 4);
    EXPECT_TRUE(read_file(server.workfile("valve_fp.set")) == expected);
    EXPECT_EQ(read_file(server.workfile("ifc_set.set")), interface);
    run = run_settings_tool({"--json", "write", path, "--dir", server.workdir()});
    ASSERT_EQ(run.status, ok) << context(run);
    EXPECT_EQ(json::parse(run.out)["files"][0]["written"], false);
    EXPECT_EQ(run_client(server.port(), {"valves", "3"}).out.find("main     100  160") !=
                  std::string::npos,
              true);

    // Refused, nothing written: a short file, a record the value cannot go into, a document
    // that is not sound, a directory that is not there.
    settings_document whole = test_support::model_document({});
    (*whole.status)[0].value = 2;
    const std::string doc_path = write_document("whole.json", whole);
    test_support::write_file(server.workfile("ifc_set.set"), interface.substr(0, 400));
    run = run_settings_tool({"write", doc_path, "--dir", server.workdir()});
    EXPECT_EQ(run.status, settings_not_sound) << context(run);
    EXPECT_NE(run.err.find("ifc_set.set: 400 of 800 bytes: shorter than its table"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(read_file(server.workfile("ifc_set.set")), interface.substr(0, 400));
    EXPECT_TRUE(read_file(server.workfile("valve_fp.set")) == expected);

    std::string damaged = interface;
    damaged[80 * ifc_Twt + 4 + 2] = 'x';
    test_support::write_file(server.workfile("ifc_set.set"), damaged);
    run = run_settings_tool({"write", doc_path, "--dir", server.workdir()});
    EXPECT_EQ(run.status, settings_not_sound) << context(run);
    EXPECT_NE(run.err.find("colours[0].targets.tw: record \"Twt\" slot 1 of ifc_set.set cannot be "
                           "written"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(read_file(server.workfile("ifc_set.set")), damaged);

    test_support::write_file(doc_path,
                             "{\"format\": {\"name\": \"ifc-settings-document\", "
                             "\"version\": 1}, \"status\": {\"color\": 9}}");
    run = run_settings_tool({"write", doc_path, "--dir", server.workdir()});
    EXPECT_EQ(run.status, settings_bad_document) << context(run);
    EXPECT_EQ(run.err, "ifc-settings: " + doc_path +
                           ": status: the key \"mode\" is missing (and 1 more problem)\n");
    run = run_settings_tool({"write", path, "--dir", dir.file("nowhere")});
    EXPECT_EQ(run.status, settings_unusable) << context(run);
}

// A settings file name that is no regular file (a FIFO nobody writes) holds no command of
// ifc-settings up: it is named and refused. Two files of one table are a usage error.
TEST_F(DocumentTool, SettingsFilesThatCannotBeUsed) {
    const std::string fifo = dir.file("ifc_set.set");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"export", dir.path()}, {"check", fifo}, {"dump", fifo}}) {
        const tool_run run = run_settings_tool(args);
        EXPECT_EQ(run.status, settings_unusable) << context(run);
        EXPECT_EQ(run.err, "ifc-settings: cannot read " + fifo + ": not a regular file\n");
    }
    const std::string image = test_support::settings_model{}.interface_image();
    test_support::write_file(dir.file("a.set"), image);
    test_support::write_file(dir.file("b.set"), image);
    const tool_run run = run_settings_tool({"export", dir.file("a.set"), dir.file("b.set")});
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_EQ(run.err, "ifc-settings: usage: " + dir.file("a.set") + " and " + dir.file("b.set") +
                           " both hold the interface table\n");
}

// diff takes a document, a settings directory or a server on either side.
TEST_F(DocumentTool, DiffOfDocumentsFilesAndServers) {
    server_process server;
    auto conn = server.connect();
    const ifc_client::change main_on[] = {{"main_on", 100}};
    ASSERT_TRUE(ifc_client::write_valves(conn, 2, main_on).ok());
    conn.disconnect();
    const std::string defaults = write_document("defaults.json", test_support::model_document({}));
    settings_document part;
    part.colour_block(2).valves = held_by(server).colour(2)->valves;
    const std::string valves2 = write_document("valves2.json", part);
    const std::string newer_path = dir.file("newer.json");
    test_support::write_file(newer_path,
                             R"({"format": {"name": "ifc-settings-document", "version": 2}})");

    const std::string at = address(server), files = server.workdir();
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"document and server",
         {"diff", defaults, at},
         different,
         "colour 2  main_on  90 -> 100\n",
         ""},
        {"files and server",
         {"diff", files, at},
         ok,
         "equal: " + files + " and " + at + " hold the same settings\n",
         ""},
        {"files and document",
         {"diff", files, defaults},
         different,
         "colour 2  main_on  100 -> 90\n",
         ""},
        {"a part, in its scope",
         {"diff", "--only", "valves", "--colours", "2", valves2, at},
         ok,
         "equal: " + valves2 + " and " + at + " hold the same settings\n",
         ""},
        {"a part, colour 1 only in B",
         {"diff", "--only", "targets,valves", "--colours", "1", valves2, at},
         different,
         "colour 1  targets  only in " + at + "\ncolour 1  valves  only in " + at + "\n",
         ""},
        {"standard input", {"diff", "-", at}, different, "colour 2  main_on  90 -> 100\n", ""},
        {"missing document",
         {"diff", dir.file("none.json"), at},
         bad_document,
         "",
         "ifc-client: cannot open " + dir.file("none.json") + ": No such file or directory\n"},
        {"newer document",
         {"diff", newer_path, at},
         bad_document,
         "",
         "ifc-client: " + newer_path +
             ": format.version: 2 is newer than this program reads: it reads version 1 (a "
             "newer program wrote the document)\n"},
        {"no server there",
         {"diff", defaults, "127.0.0.1:" + std::to_string(test_support::free_port())},
         cannot_connect,
         "",
         ""},
    };
    const std::string stdin_text = *read_file(defaults);
    for (const auto& c : cases) {
        const tool_run run = run_client(server.port(), c.args, stdin_text);
        EXPECT_EQ(run.status, c.status) << c.name << "\n" << context(run);
        EXPECT_EQ(run.out, c.out) << c.name;
        if (!c.err.empty()) {
            EXPECT_EQ(run.err, c.err) << c.name;
        }
    }
}

}  // namespace
