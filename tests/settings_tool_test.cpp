// ifc-settings on the settings files: fresh images, a changed file, damaged files, short and
// long files, and that it never writes the file it looks at.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ifc/ifc_net.h"
#include "tests/support/case_names.h"
#include "tests/support/files.h"
#include "tests/support/store_tables.h"
#include "tests/support/tool_process.h"
#include "valve/vfp_ifc.h"

namespace {

using nlohmann::json;
using test_support::run_settings_tool;
using test_support::tool_run;

constexpr int sound = 0, usage = 1, unreadable = 2, not_sound = 3;

std::string context(const tool_run& run) {
    return "status " + std::to_string(run.status) + "\nstdout:\n" + run.out + "\nstderr:\n" +
           run.err;
}

void put_int32(std::string& bytes, std::size_t offset, std::int32_t value) {
    for (int k = 0; k < 4; ++k) {
        bytes[offset + k] =
            static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * k)) & 0xff);
    }
}

json check_json(const std::string& path, int expected_status) {
    const tool_run run = run_settings_tool({"--json", "check", path});
    EXPECT_EQ(run.status, expected_status) << context(run);
    return json::parse(run.out);
}

bool has_entry_with(const json& list, std::string_view text) {
    for (const auto& entry : list) {
        if (entry.get<std::string>().find(text) != std::string::npos) return true;
    }
    return false;
}

class SettingsTool : public ::testing::Test {
  protected:
    std::string write(std::string_view name, std::string_view bytes) {
        const std::string path = dir.file(name);
        test_support::write_file(path, bytes);
        return path;
    }
    test_support::temp_dir dir;
    const std::string ifc_defaults = test_support::bytes_of(ifc_net::i4_init);
    const std::string valve_defaults = test_support::bytes_of(vfp_ifc::i4_init);
};

TEST_F(SettingsTool, FreshImagesAreSoundAndEqualTheDefaults) {
    // STAT_2 holds item 10 above its max of 6 in the defaults: a note, not a problem.
    json report = check_json(write("ifc_set.set", ifc_defaults), sound);
    EXPECT_EQ(report["table"], "interface");
    EXPECT_EQ(report["sound"], true);
    EXPECT_TRUE(report["problems"].empty());
    EXPECT_TRUE(report["differences"].empty());
    EXPECT_EQ(report["notes"].size(), 2u) << report["notes"];
    EXPECT_TRUE(has_entry_with(report["notes"], "(STAT_2): slot 1 = 10 is outside 0..6"));

    report = check_json(write("valve_fp.set", valve_defaults), sound);
    EXPECT_EQ(report["table"], "valve");
    EXPECT_TRUE(report["problems"].empty());
    EXPECT_TRUE(report["notes"].empty());
    EXPECT_TRUE(report["differences"].empty());

    const tool_run text = run_settings_tool({"check", dir.file("valve_fp.set")});
    EXPECT_EQ(text.status, sound) << context(text);
    EXPECT_NE(text.out.find("sound: the server can use this file"), std::string::npos);
}

TEST_F(SettingsTool, DumpShowsEveryRecord) {
    const tool_run run =
        run_settings_tool({"--json", "dump", write("valve_fp.set", valve_defaults)});
    ASSERT_EQ(run.status, sound) << context(run);
    const json dump = json::parse(run.out);
    ASSERT_EQ(dump["records"].size(), 112u);
    EXPECT_EQ(dump["records"][0], json::parse(R"({"index":0,"type":1,"name":"VAL_pin_open",
        "name_terminated":true,"slots":[0,70,70,70,70,70,70],"min":0,"max":359,"group":"g1",
        "in_use":true})"));
    EXPECT_EQ(dump["records"][110]["type"], 3);
    EXPECT_EQ(dump["records"][110]["min"], -10);
    EXPECT_EQ(dump["records"][111]["in_use"], false);

    const tool_run table = run_settings_tool({"dump", write("ifc_set.set", ifc_defaults)});
    ASSERT_EQ(table.status, sound) << context(table);
    const auto lines = test_support::lines_of(table.out);
    ASSERT_EQ(lines.size(), 12u) << table.out;  // file line, heading, 10 records
    EXPECT_TRUE(lines[1].starts_with("index  type  name")) << lines[1];
    EXPECT_NE(lines[2].find("Tot"), std::string::npos);
    EXPECT_NE(lines[2].find("  90  "), std::string::npos) << lines[2];
    EXPECT_NE(lines[11].find("(terminator)"), std::string::npos) << lines[11];
}

TEST_F(SettingsTool, ChangedValuesAreListedAgainstTheDefaults) {
    std::string bytes = valve_defaults;
    put_int32(bytes, test_support::slot_offset(7, 2), 100);  // VAL_main_on, colour 2
    put_int32(bytes, test_support::slot_offset(8, 3), 400);  // VAL_main_off above its max
    const json report = check_json(write("valve_fp.set", bytes), sound);
    ASSERT_EQ(report["differences"].size(), 2u);
    EXPECT_EQ(report["differences"][0], json::parse(R"({"index":7,"name":"VAL_main_on",
        "fields":[{"field":"slot 2","value":"100","default":"90"}]})"));
    EXPECT_TRUE(has_entry_with(report["notes"], "(VAL_main_off): slot 3 = 400 is outside 0..359"));
}

TEST_F(SettingsTool, DamagedFilesAreNotSound) {
    struct damage {
        const char* what;
        void (*apply)(std::string&);
        const char* problem;
    };
    const damage cases[] = {
        {"type outside 1..5", [](std::string& b) { put_int32(b, 80 * 2, 9); },
         "(STAT_1): type 9 is not 1..5"},
        {"name without NUL", [](std::string& b) { b.replace(80 * 4 + 4, 28, 28, 'V'); },
         ": the name has no NUL byte"},
        {"no terminator", [](std::string& b) { put_int32(b, 80 * 9, 1); }, "no terminator"},
        {"terminator too early", [](std::string& b) { put_int32(b, 80 * 5, 0); },
         "record S1 is missing"},
    };
    for (const damage& d : cases) {
        SCOPED_TRACE(d.what);
        std::string bytes = ifc_defaults;
        d.apply(bytes);
        const json report = check_json(write("ifc_set.set", bytes), not_sound);
        EXPECT_EQ(report["sound"], false);
        EXPECT_TRUE(has_entry_with(report["problems"], d.problem)) << report["problems"];
    }
    const tool_run text = run_settings_tool({"check", dir.file("ifc_set.set")});
    EXPECT_NE(text.out.find("NOT SOUND"), std::string::npos) << text.out;
}

TEST_F(SettingsTool, ShortAndLongFiles) {
    // Recognised by its name; the server would replace it by the defaults.
    json report = check_json(write("ifc_set.set", ifc_defaults.substr(0, 799)), not_sound);
    EXPECT_EQ(report["size"], 799);
    EXPECT_TRUE(has_entry_with(report["problems"], "short file: 799 of 800 bytes"));
    EXPECT_EQ(check_json(write("valve_fp.set", ""), not_sound)["problems"].size(), 1u);

    // A short file under another name: the table cannot be told without --table.
    const std::string other = write("backup.bin", valve_defaults.substr(0, 4000));
    tool_run run = run_settings_tool({"check", other});
    EXPECT_EQ(run.status, unreadable) << context(run);
    EXPECT_EQ(test_support::lines_of(run.err).size(), 1u);
    run = run_settings_tool({"--table", "valve", "check", other});
    EXPECT_EQ(run.status, not_sound) << context(run);
    // By its size alone a full image is recognised.
    EXPECT_EQ(check_json(write("copy.bin", valve_defaults), sound)["table"], "valve");

    report = check_json(write("ifc_set.set", ifc_defaults + "extra"), sound);
    EXPECT_TRUE(has_entry_with(report["notes"], "805 bytes, 800 expected"));

    run = run_settings_tool({"dump", write("odd.bin", ifc_defaults.substr(0, 170))});
    EXPECT_EQ(run.status, sound) << context(run);
    EXPECT_NE(run.out.find("10 bytes at the end do not make a whole record"), std::string::npos);
}

TEST_F(SettingsTool, NeverWritesTheFileAndReportsUsageAndMissingFiles) {
    const std::string path = write("ifc_set.set", ifc_defaults.substr(0, 100));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    EXPECT_EQ(run_settings_tool({"check", path}).status, not_sound);
    EXPECT_EQ(run_settings_tool({"dump", path}).status, sound);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(test_support::read_file(path), ifc_defaults.substr(0, 100));
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    const tool_run missing = run_settings_tool({"check", dir.file("missing.set")});
    EXPECT_EQ(missing.status, unreadable);
    EXPECT_EQ(missing.err, "ifc-settings: cannot open " + dir.file("missing.set") +
                               ": No such file or directory\n");
    const tool_run directory = run_settings_tool({"check", dir.path()});
    EXPECT_EQ(directory.status, unreadable);
    EXPECT_EQ(directory.err, "ifc-settings: cannot read " + dir.path() + ": Is a directory\n");
    EXPECT_EQ(run_settings_tool({"inspect", path}).status, usage);
    EXPECT_EQ(run_settings_tool({"--table", "other", "check", path}).status, usage);
    EXPECT_EQ(run_settings_tool({}).status, usage);
}

// A file of random bytes: a short verdict first, the first few problems and notes with a count
// of the rest, and no line that sounds as if the file were sound.
TEST_F(SettingsTool, RandomBytesAreSummarisedWithoutASoundSoundingLine) {
    std::string bytes(ifc_defaults.size(), '\0');
    std::uint32_t state = 12345;
    for (char& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<char>(state >> 24);
    }
    const std::string path = write("ifc_set.set", bytes);
    const tool_run run = run_settings_tool({"check", path});
    EXPECT_EQ(run.status, not_sound) << context(run);
    const auto lines = test_support::lines_of(run.out);
    ASSERT_GE(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[0], path + ": the interface table, 800 bytes");
    EXPECT_TRUE(lines[1].starts_with("NOT SOUND: ")) << lines[1];
    EXPECT_LE(lines.size(), 20u) << run.out;
    EXPECT_NE(run.out.find(" more problems (--json lists them all)"), std::string::npos);
    EXPECT_EQ(run.out.find("default values"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("sound: "), std::string::npos) << run.out;
    // The JSON form keeps every problem.
    const json report = check_json(path, not_sound);
    EXPECT_GT(report["problems"].size(), 5u);

    // A short file whose records equal the defaults is not sound either.
    const tool_run short_file =
        run_settings_tool({"check", write("ifc_set.set", ifc_defaults.substr(0, 400))});
    EXPECT_EQ(short_file.status, not_sound);
    EXPECT_EQ(short_file.out.find("default values"), std::string::npos) << short_file.out;
    EXPECT_TRUE(short_file.out.starts_with(dir.file("ifc_set.set") +
                                           ": the interface table, 400 bytes of 800\n"))
        << short_file.out;
}

struct usage_case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out_start;  // what standard output starts with
    std::string err;        // standard error, whole
};

void PrintTo(const usage_case& c, std::ostream* os) {
    *os << c.name;
}

class SettingsToolUsage : public ::testing::TestWithParam<usage_case> {};

TEST_P(SettingsToolUsage, AnswersWithoutReadingAFile) {
    const usage_case& c = GetParam();
    const tool_run run = run_settings_tool(c.args);
    EXPECT_EQ(run.status, c.status) << context(run);
    EXPECT_TRUE(run.out.starts_with(c.out_start)) << run.out;
    EXPECT_EQ(run.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Words, SettingsToolUsage,
    ::testing::Values(
        usage_case{"Version", {"--version"}, sound, "ifc-settings 1.", ""},
        usage_case{"Help", {"--help"}, sound, "ifc-settings: shows and checks", ""},
        usage_case{"MistypedCommand",
                   {"chek", "x.set"},
                   usage,
                   "",
                   "ifc-settings: unknown command 'chek'; did you mean 'check'?\n"},
        usage_case{"UnknownCommand",
                   {"inspect", "x.set"},
                   usage,
                   "",
                   "ifc-settings: unknown command 'inspect' (see 'ifc-settings --help')\n"},
        usage_case{"MistypedOption",
                   {"--jsn", "check", "x.set"},
                   usage,
                   "",
                   "ifc-settings: unknown option '--jsn'; did you mean '--json'?\n"},
        usage_case{"WriteWithoutDirectory",
                   {"write", "loom7.json"},
                   usage,
                   "",
                   "ifc-settings: usage: --dir is required (see 'ifc-settings --help')\n"},
        usage_case{"ExportOfNothing",
                   {"export", "-o", "x.json"},
                   usage,
                   "",
                   "ifc-settings: usage: PATHS is required (see 'ifc-settings --help')\n"},
        usage_case{"CompletesCommands", {"__complete", "ch"}, sound, "check\n", ""},
        usage_case{
            "CompletesTheOptionsOfWrite", {"__complete", "write", "--d"}, sound, "--dir\n", ""},
        usage_case{
            "CompletesTables", {"__complete", "--table", ""}, sound, "interface\nvalve\n", ""},
        usage_case{"LeavesFileNamesToTheShell", {"__complete", "dump", ""}, sound, "", ""}),
    test_support::case_name());

}  // namespace
