// The valve on/off timing commands over the wire, against the valve settings file, and the
// let-off button command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/protocol.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/workdir.h"
#include "valve/vfp_ifc.h"

namespace {

using test_support::int32_at;
using test_support::read_file;
using test_support::slot_offset;

const char* const valve_file = "valve_fp.set";
constexpr std::size_t valve_file_size = 8960;
constexpr int colours = 6;

const std::string default_answer =
    "ATC_TO_DELAY:0 pin_on:70 abs_on:215 abs_off:255 main_on:90 main_off:160 tandem_on:95 "
    "tandem_off:150 stretch_on:0 stretch_off:0 sub1_on:95 sub1_off:135 sub2_on:115 "
    "sub2_off:155 sub3_on:135 sub3_off:175 sub4_on:150 sub4_off:190 sub5_on:165 "
    "sub5_off:205 sub6_on:185 sub6_off:280 sub7_on:200 sub7_off:300 sub8_on:220 "
    "sub8_off:300 sub9_on:0 sub9_off:0 sub10_on:0 sub10_off:0 sub11_on:0 sub11_off:0 "
    "sub12_on:0 sub12_off:0 sub13_on:0 sub13_off:0 sub14_on:0 sub14_off:0 sub15_on:0 "
    "sub15_off:0 sub16_on:0 sub16_off:0 sub17_on:0 sub17_off:0 sub18_on:0 sub18_off:0 ";

// A key of the answer, the index of the record behind it in the default valve table (record
// i lies at byte 80 * i of the file) and its default value.
struct valve_key {
    std::string key;
    int record;
    std::int32_t initial;
};

// The keys in answer order, read from the default answer. The first nine records are spread
// over the table; sub1_on .. sub18_off are the consecutive records 15 .. 50.
const std::vector<valve_key>& valve_keys() {
    static const std::vector<valve_key> keys = [] {
        constexpr std::array<int, 9> first_records{0, 3, 4, 7, 8, 9, 10, 55, 56};
        std::vector<valve_key> k;
        std::size_t pos = default_answer.find(' ') + 1;  // after ATC_TO_DELAY:0
        while (pos < default_answer.size()) {
            const std::size_t colon = default_answer.find(':', pos);
            const std::size_t end = default_answer.find(' ', colon);
            const std::size_t i = k.size();
            const int record = i < first_records.size()
                                   ? first_records[i]
                                   : 15 + static_cast<int>(i - first_records.size());
            k.push_back({default_answer.substr(pos, colon - pos), record,
                         std::stoi(default_answer.substr(colon + 1, end - colon - 1))});
            pos = end + 1;
        }
        return k;
    }();
    return keys;
}

// answer with the value of key replaced.
std::string with_value(std::string answer, std::string_view key, std::string_view value) {
    const std::string token = " " + std::string(key) + ":";
    const std::size_t at = answer.find(token);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no key " << key;
        return answer;
    }
    const std::size_t start = at + token.size();
    answer.replace(start, answer.find(' ', start) - start, value);
    return answer;
}

std::string get_name(int colour) {
    return "IFC_get_on_off_" + std::to_string(colour);
}
std::string set_name(int colour) {
    return "IFC_set_on_off_" + std::to_string(colour);
}

// What the server should hold: the values of every key per colour, and the file bytes.
struct valve_model {
    std::array<std::vector<std::int32_t>, colours + 1> values;
    std::string file;

    explicit valve_model(std::string initial_file) : file(std::move(initial_file)) {
        for (auto& v : values) {
            for (const auto& k : valve_keys())
                v.push_back(k.initial);
        }
    }

    void set(std::size_t key_index, int colour, std::int32_t value) {
        values[static_cast<std::size_t>(colour)][key_index] = value;
        const std::size_t at = slot_offset(valve_keys()[key_index].record, colour);
        for (int b = 0; b < 4; ++b) {
            file[at + static_cast<std::size_t>(b)] =
                static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * b)) & 0xff);
        }
    }

    std::string answer(int colour) const {
        std::string text = "ATC_TO_DELAY:0 ";
        for (std::size_t i = 0; i < valve_keys().size(); ++i) {
            text += std::string(valve_keys()[i].key) + ":" +
                    std::to_string(values[static_cast<std::size_t>(colour)][i]) + " ";
        }
        return text;
    }
};

std::size_t key_index(std::string_view key) {
    for (std::size_t i = 0; i < valve_keys().size(); ++i) {
        if (key == valve_keys()[i].key) return i;
    }
    ADD_FAILURE() << "no key " << key;
    return 0;
}

// The file's identity and last change: a save rewrites it (new mtime, or a new inode when
// it is replaced).
struct file_stamp {
    ino_t inode;
    timespec mtime;
};

class ValveCommands : public ::testing::Test {
  protected:
    std::string valve_path() const { return server_.workfile(valve_file); }

    std::string get(ifc_client::connection& conn, int colour) {
        auto answer = conn.get(get_name(colour));
        EXPECT_TRUE(answer.ok()) << get_name(colour);
        return answer.ok() ? answer.value() : std::string();
    }

    // Sends the argument, then waits until the server has run it: the let-off line with a
    // fresh marker reaches the captured output after the connection ends.
    void put_and_settle(int colour, std::string_view argument) {
        auto conn = server_.connect();
        ASSERT_TRUE(conn.put(set_name(colour), argument).ok());
        settle(conn);
    }

    void settle(ifc_client::connection& conn) {
        const std::string marker = "settled " + std::to_string(++settles_);
        ASSERT_TRUE(conn.put("MLETOFF_set_btnstat", marker).ok());
        ASSERT_TRUE(conn.disconnect().ok());
        ASSERT_TRUE(server_.wait_for_stdout(marker + "\n"));
    }

    // Creates the file with the defaults (a read does), then backdates it, so that any save
    // after this shows in its mtime whatever the clock's granularity.
    file_stamp prepare_backdated_file() {
        {
            auto conn = server_.connect();
            EXPECT_EQ(get(conn, 1), default_answer);
            settle(conn);
        }
        const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, valve_path().c_str(), old_times, 0), 0);
        return stamp();
    }

    file_stamp stamp() const {
        struct stat st {};
        EXPECT_EQ(stat(valve_path().c_str(), &st), 0);
        return {st.st_ino, st.st_mtim};
    }

    test_support::server_process server_;
    int settles_ = 0;
};

TEST_F(ValveCommands, FreshTableAnswersTheDefaultsInEveryColour) {
    ASSERT_EQ(default_answer.size(), 554u);
    ASSERT_EQ(valve_keys().size(), 45u);
    ASSERT_EQ(valve_keys().back().record, 50);
    auto conn = server_.connect();
    for (int colour = 1; colour <= colours; ++colour) {
        EXPECT_EQ(get(conn, colour), default_answer) << "colour " << colour;
    }
    const auto bytes = read_file(valve_path());
    ASSERT_TRUE(bytes.has_value()) << "the first read creates the file";
    EXPECT_EQ(bytes->size(), valve_file_size);
}

// Each key in turn, each in another colour: after every write all six answers and every byte
// of the file are as expected, so a value that lands in the wrong record, slot or colour shows.
TEST_F(ValveCommands, EachEditChangesItsKeyInItsColourOnly) {
    auto conn = server_.connect();
    get(conn, 1);
    auto initial = read_file(valve_path());
    ASSERT_TRUE(initial.has_value());
    valve_model model(*initial);
    for (std::size_t i = 0; i < valve_keys().size(); ++i) {
        const int colour = static_cast<int>(i % colours) + 1;
        const std::int32_t value = 1000 + static_cast<std::int32_t>(i);
        const std::string key = valve_keys()[i].key;
        ASSERT_TRUE(conn.put(set_name(colour), key + ":" + std::to_string(value)).ok());
        model.set(i, colour, value);
        for (int c = 1; c <= colours; ++c) {
            ASSERT_EQ(get(conn, c), model.answer(c)) << key << " in colour " << colour;
        }
        const auto bytes = read_file(valve_path());
        ASSERT_TRUE(bytes.has_value());
        ASSERT_EQ(int32_at(*bytes, slot_offset(valve_keys()[i].record, colour)), value) << key;
        ASSERT_TRUE(*bytes == model.file) << "other bytes changed after " << key;
    }
}

TEST_F(ValveCommands, ChangesLastAcrossARestart) {
    put_and_settle(2, "main_on:100 pin_on:80 ");
    server_.restart();
    auto conn = server_.connect();
    const auto bytes = read_file(valve_path());
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(int32_at(*bytes, slot_offset(7, 2)), 100);
    EXPECT_EQ(int32_at(*bytes, slot_offset(0, 2)), 80);
    const std::string answer = get(conn, 2);
    EXPECT_NE(answer.find(" pin_on:80 abs_on:215 abs_off:255 main_on:100 main_off:160 "),
              std::string::npos)
        << answer;
    EXPECT_EQ(get(conn, 1), default_answer);
}

// Read, change some values, send back: exactly those change. Sending a read answer back
// unchanged changes nothing, and another colour's answer copies that colour.
TEST_F(ValveCommands, ReadAnswerSentBackChangesOnlyWhatWasEdited) {
    put_and_settle(3, "abs_on:1 sub18_off:359 stretch_on:-7");
    auto conn = server_.connect();
    const std::string before = get(conn, 3);
    const auto file_before = read_file(valve_path());

    ASSERT_TRUE(conn.put(set_name(3), before).ok());
    EXPECT_EQ(get(conn, 3), before);
    EXPECT_TRUE(read_file(valve_path()) == file_before);

    const std::string edited = with_value(with_value(before, "main_off", "170"), "sub9_on", "9");
    ASSERT_TRUE(conn.put(set_name(3), edited).ok());
    EXPECT_EQ(get(conn, 3), edited);
    for (int c : {1, 2, 4, 5, 6})
        EXPECT_EQ(get(conn, c), default_answer) << "colour " << c;

    ASSERT_TRUE(conn.put(set_name(5), edited).ok());
    EXPECT_EQ(get(conn, 5), edited) << "colour 3's line copied to colour 5";
}

struct value_case {
    const char* argument;
    const char* key;
    std::int32_t stored;
};

TEST_F(ValveCommands, ValuesAreReadAsAtoiReadsThem) {
    // Beyond the int32 range a value stores the nearest limit (atoi's result is undefined
    // there); a value text of 50 or more characters takes no row, so it stores nothing.
    const std::vector<value_case> cases{
        {"main_on:abc", "main_on", 0},
        {"main_on:-5", "main_on", -5},
        {"main_on:12x", "main_on", 12},
        {"main_on:+7", "main_on", 7},
        {"main_on:007", "main_on", 7},
        {"main_on:", "main_on", 0},
        {"main_on:1000", "main_on", 1000},
        {"main_on:2147483647", "main_on", 2147483647},
        {"main_on:2147483648", "main_on", 2147483647},
        {"main_on:-2147483648", "main_on", -2147483647 - 1},
        {"main_on:-2147483649", "main_on", -2147483647 - 1},
        {"main_on:99999999999999999999999999999999999999999999999", "main_on", 2147483647},
        {"main_on:5 main_on:6", "main_on", 6},
        {"main_on:100 main_on:120", "main_on", 120},
        {"main_on:1 main_on:abc", "main_on", 0},
        {"main_off:160 main_off:11 :7 main_off:200", "main_off", 11},
        {"main_off:12 main_off:99999999999999999999999999999999999999999999999999", "main_off", 12},
        {"pin_on:80", "pin_on", 80},
        {"   sub18_off:18   ", "sub18_off", 18},
    };
    auto conn = server_.connect();
    for (const auto& c : cases) {
        ASSERT_TRUE(conn.put(set_name(4), c.argument).ok());
        const std::string answer = get(conn, 4);
        const std::string token = " " + std::string(c.key) + ":" + std::to_string(c.stored) + " ";
        EXPECT_NE(answer.find(token), std::string::npos) << c.argument << " -> " << answer;
        const auto bytes = read_file(valve_path());
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(int32_at(*bytes, slot_offset(valve_keys()[key_index(c.key)].record, 4)), c.stored)
            << c.argument;
    }
    EXPECT_EQ(get(conn, 3), default_answer);
}

TEST_F(ValveCommands, EmptyNameEndsTheWalkAfterApplyingWhatCameBefore) {
    put_and_settle(1, "main_on:100 :7 main_off:200 pin_on:1");
    auto conn = server_.connect();
    EXPECT_EQ(get(conn, 1), with_value(default_answer, "main_on", "100"));
}

// Lines that name nothing the commands know change nothing and save nothing.
const std::vector<std::string> lines_that_write_nothing{
    "",
    "      ",
    "ATC_TO_DELAY:5",
    "sub19_on:10 sub19_off:10 sub20_on:1 sub20_off:1",
    "Main_on:3 MAIN_ON:3 main_on_:3 VAL_main_on:3 _main_on:3",
    "main_on main_on= main_on;4",
    ":5 main_on:100",
    "main_on :100",
    "\nmain_on:1 main_on\t:1 main_on\r:1",
    "main_on:12345678901234567890123456789012345678901234567890",
    std::string(40, 'm') + ":1",
    std::string(300, 'x') + " " + std::string(3000, ' '),
};

TEST_F(ValveCommands, UnknownKeysAndBlankLinesLeaveTheFileUntouched) {
    const file_stamp before = prepare_backdated_file();
    const auto bytes_before = read_file(valve_path());
    for (const auto& line : lines_that_write_nothing) {
        put_and_settle(2, line);
        const file_stamp after = stamp();
        EXPECT_EQ(after.inode, before.inode) << "\"" << line << "\"";
        EXPECT_EQ(after.mtime.tv_sec, before.mtime.tv_sec) << "\"" << line << "\"";
        EXPECT_EQ(after.mtime.tv_nsec, before.mtime.tv_nsec) << "\"" << line << "\"";
        EXPECT_TRUE(read_file(valve_path()) == bytes_before) << "\"" << line << "\"";
    }
}

TEST_F(ValveCommands, UnknownKeysAndBlankLinesCreateNoFile) {
    for (const auto& line : lines_that_write_nothing) {
        put_and_settle(6, line);
        EXPECT_FALSE(test_support::file_exists(valve_path())) << "\"" << line << "\"";
    }
}

TEST_F(ValveCommands, ArgumentEndsAtItsFirstNul) {
    put_and_settle(1, std::string("main_on:5\0main_off:6", 20));
    auto conn = server_.connect();
    EXPECT_EQ(get(conn, 1), with_value(default_answer, "main_on", "5"));
}

TEST_F(ValveCommands, LargestPayloadIsHandledWithoutHarm) {
    // A whole transfer buffer of tokens: the first 500 rows are walked, the rest dropped.
    std::string line;
    const std::string name = set_name(1);
    while (line.size() + 12 <= protocol::max_payload - name.size() - 1)
        line += "main_on:7   ";
    put_and_settle(1, line);
    auto conn = server_.connect();
    EXPECT_NE(get(conn, 1).find(" main_on:7 "), std::string::npos);
}

// A record that cannot be read (here: an unusable type in a file written elsewhere) shows 0;
// sending that 0 back stores nothing, because the write fails for the same reason.
TEST_F(ValveCommands, UnreadableRecordShowsZeroAndCannotBeWritten) {
    prepare_backdated_file();
    auto bytes = read_file(valve_path());
    ASSERT_TRUE(bytes.has_value());
    const std::size_t main_on = 80 * 7;
    ASSERT_EQ(bytes->substr(main_on + 4, 12), std::string("VAL_main_on\0", 12));
    (*bytes)[main_on] = 6;  // type 6: found by name, unusable
    test_support::write_file(valve_path(), *bytes);

    auto conn = server_.connect();
    const std::string answer = get(conn, 1);
    EXPECT_EQ(answer, with_value(default_answer, "main_on", "0"));
    ASSERT_TRUE(conn.put(set_name(1), with_value(answer, "main_off", "161")).ok());
    EXPECT_EQ(get(conn, 1),
              with_value(with_value(default_answer, "main_on", "0"), "main_off", "161"));
    const auto after = read_file(valve_path());
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->substr(main_on, 80), bytes->substr(main_on, 80));
}

// The workers take colour numbers 1 to 6 only; any other does nothing, not even a load.
TEST(ValveWorkers, ColourOutside1To6DoesNothing) {
    test_support::scoped_workdir workdir;
    std::array<char, 2048> buf{};
    for (int colour : {0, 7, -1}) {
        EXPECT_EQ(get_on_off(buf.data(), colour), 0);
        char arg[] = "main_on:5";
        EXPECT_EQ(set_on_off(arg, 9, colour), -1);
    }
    EXPECT_FALSE(test_support::file_exists(workdir.file(valve_file)));
    EXPECT_EQ(std::string(buf.data(), static_cast<std::size_t>(get_on_off(buf.data(), 1))),
              default_answer);
}

// The let-off button command prints its text, up to a NUL, as one line on standard output
// right after the echo of its PUT header.
TEST(LetOffButton, PrintsItsArgumentAsOneLine) {
    test_support::server_process server;
    const std::vector<std::pair<std::string, std::string>> cases{
        {"1", "1"},
        {"", ""},
        {"button on", "button on"},
        {std::string("ab\0cd", 5), "ab"},
    };
    auto conn = server.connect();
    for (const auto& [argument, line] : cases) {
        ASSERT_TRUE(conn.put("MLETOFF_set_btnstat", argument).ok());
    }
    ASSERT_TRUE(conn.disconnect().ok());
    std::string want;
    for (const auto& [argument, line] : cases) {
        std::string header = "PUT" + std::to_string(20 + argument.size());
        header.resize(protocol::header_len, ' ');
        want += header + "\n" + line + "\n";
    }
    ASSERT_TRUE(server.wait_for_stdout(want)) << server.stdout_text();
}

}  // namespace
