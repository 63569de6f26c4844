#include "lib/line2matrix2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lib/lib_fp.h"

namespace {

using rows = std::vector<std::pair<std::string, std::string>>;

l2m2_row make_row(const std::string& name, const std::string& value) {
    l2m2_row row{};
    std::memcpy(row.data(), name.data(), name.size());
    std::memcpy(row.data() + l2m2_value_offset, value.data(), value.size());
    return row;
}

// Parses a copy of line (the parser wants writable text) and checks all 500 rows byte for
// byte: the expected rows first, every other row all zero.
void expect_parse(const std::string& line, const rows& expected) {
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    line2matrix2(text.data());
    EXPECT_EQ(std::string(text.data(), line.size()), line) << "the text is only read";
    for (std::size_t r = 0; r < l2m2.size(); ++r) {
        const l2m2_row want =
            r < expected.size() ? make_row(expected[r].first, expected[r].second) : l2m2_row{};
        ASSERT_EQ(l2m2[r], want) << "row " << r << " of line \"" << line.substr(0, 60) << "\"";
    }
}

std::string repeat(char c, std::size_t n) {
    return std::string(n, c);
}

struct parse_case {
    const char* what;
    std::string line;
    rows expected;
};

TEST(Line2Matrix2, SplitsTokensAtTheirFirstColon) {
    const std::vector<parse_case> cases{
        {"two tokens", "pin_on:70 main_on:90", {{"pin_on", "70"}, {"main_on", "90"}}},
        {"runs of spaces, leading and trailing", "  a:1   b:2  ", {{"a", "1"}, {"b", "2"}}},
        {"trailing space of an answer", "a:1 b:2 ", {{"a", "1"}, {"b", "2"}}},
        {"two colons", "a:1:2", {{"a", "1:2"}}},
        {"empty value", "a: b:2", {{"a", ""}, {"b", "2"}}},
        {"leading colon gives an empty name", ":5 b:2", {{"", "5"}, {"b", "2"}}},
        {"line feed is no separator", "a:1\nb:2", {{"a", "1\nb:2"}}},
        {"tab and carriage return are no separators", "a:1\tb:2\r", {{"a", "1\tb:2\r"}}},
        {"empty text", "", {}},
        {"spaces only", "     ", {}},
        {"a NUL ends the text", std::string("a:1\0b:2", 7), {{"a", "1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_parse(c.line, c.expected);
    }
}

// Tokens that do not fit a row are skipped whole, never cut: a cut name could become another
// key, a cut value another number. The kept rows stay in token order.
TEST(Line2Matrix2, SkipsTokensThatDoNotFitARow) {
    const std::string name29 = repeat('n', 29);
    const std::string value49 = repeat('7', 49);
    const std::vector<parse_case> cases{
        {"no colon", "abc b:2 main_on", {{"b", "2"}}},
        {"largest name and value: a 79-character token",
         name29 + ":" + value49,
         {{name29, value49}}},
        {"name of 30", "a:1 " + repeat('n', 30) + ":1 b:2", {{"a", "1"}, {"b", "2"}}},
        {"value of 50", "a:1 main_on:" + repeat('1', 50) + " b:2", {{"a", "1"}, {"b", "2"}}},
        {"token of 80 made of a short name", "k:" + repeat('9', 78) + " b:2", {{"b", "2"}}},
        {"a token longer than a row", repeat('x', 300) + ":1 b:2", {{"b", "2"}}},
        {"an over-long token with an empty name still ends the walk",
         ":" + repeat('5', 60) + " b:2",
         {{"", ""}, {"b", "2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_parse(c.line, c.expected);
    }
}

TEST(Line2Matrix2, KeepsTheFirst500TokensThatFit) {
    std::string line;
    rows expected;
    for (int i = 0; i < 10; ++i)
        line += "skipped ";  // no colon: takes no row
    for (int i = 0; i < l2m2_rows + 20; ++i) {
        const std::string name = "k" + std::to_string(i);
        const std::string value = std::to_string(i * 3);
        line += name + ":" + value + " ";
        if (i < l2m2_rows) expected.emplace_back(name, value);
    }
    expect_parse(line, expected);
}

TEST(Line2Matrix2, LineOfTheWholeTransferBufferStaysInsideTheMatrix) {
    // 256000 bytes with the NUL: one giant token, then many small ones.
    expect_parse(repeat('x', 255999), {});
    std::string many;
    rows expected;
    while (many.size() + 4 < 256000)
        many += "x:1 ";
    for (int i = 0; i < l2m2_rows; ++i)
        expected.emplace_back("x", "1");
    expect_parse(many, expected);
}

TEST(Line2Matrix2, EachCallClearsWhatTheLastOneLeft) {
    expect_parse("alpha:12345 beta:2 gamma:3", {{"alpha", "12345"}, {"beta", "2"}, {"gamma", "3"}});
    expect_parse("b:1", {{"b", "1"}});
    expect_parse("   ", {});
}

// Within the limits of a row the scanner splits exactly as the C library tokenizer with the
// separator " " would: compared on random lines of short tokens that all hold a colon.
TEST(Line2Matrix2, SplitsAsStrtokDoesWithinTheLimits) {
    std::mt19937 random(20240611);
    const std::string alphabet = "ab1:-\n\t";
    for (int round = 0; round < 2000; ++round) {
        std::string line(random() % 4, ' ');
        const int tokens = static_cast<int>(random() % 12);
        for (int t = 0; t < tokens; ++t) {
            std::string token(random() % 20, 'x');
            for (char& c : token)
                c = alphabet[random() % alphabet.size()];
            token.insert(random() % (token.size() + 1), 1, ':');
            line += token + std::string(1 + random() % 3, ' ');
        }
        rows expected;
        std::vector<char> copy(line.begin(), line.end());
        copy.push_back('\0');
        for (char* token = std::strtok(copy.data(), " "); token != nullptr;
             token = std::strtok(nullptr, " ")) {
            char* colon = std::strchr(token, ':');
            expected.emplace_back(std::string(token, colon), std::string(colon + 1));
        }
        SCOPED_TRACE(line);
        expect_parse(line, expected);
    }
}

TEST(Line2Matrix2, NullTextLeavesAnEmptyMatrix) {
    expect_parse("a:1", {{"a", "1"}});
    line2matrix2(nullptr);
    for (const auto& row : l2m2)
        ASSERT_EQ(row, l2m2_row{});
}

}  // namespace
