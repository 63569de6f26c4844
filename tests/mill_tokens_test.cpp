// The gateway's token file by name: "NAME TOKEN [read-only]" lines, comments and blank lines;
// today's one-token file still read as one token; every malformed line refused with its file
// and line; a presented token found among all of them, or not at all.
#include <gtest/gtest.h>

#include <string>

#include "gateway/mill/named_tokens.h"
#include "tests/support/case_names.h"
#include "tests/support/files.h"

namespace {

using gateway::mill::parse_token_file;

struct accepted_case {
    const char* name;
    std::string text;
    bool single;
    // "name:token:rw" or "name:token:ro", one per token, in order.
    std::vector<std::string> tokens;
};
void PrintTo(const accepted_case& c, std::ostream* os) {
    *os << c.name;
}

class TokenFileAccepts : public ::testing::TestWithParam<accepted_case> {};

TEST_P(TokenFileAccepts, TheTokensAndTheirNames) {
    auto table = parse_token_file(GetParam().text, "tokens");
    ASSERT_TRUE(table.ok()) << table.failure().detail;
    EXPECT_EQ(table->single, GetParam().single);
    std::vector<std::string> got;
    for (const auto& t : table->tokens)
        got.push_back(t.name + ":" + t.token + ":" + (t.read_only ? "ro" : "rw"));
    EXPECT_EQ(got, GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TokenFileAccepts,
    ::testing::Values(
        accepted_case{"todays_single_token", "Xk9-secret\n", true, {"token:Xk9-secret:rw"}},
        accepted_case{"single_token_with_blanks_and_cr",
                      "  Xk9-secret \r\nignored line here\n",
                      true,
                      {"token:Xk9-secret:rw"}},
        accepted_case{
            "single_token_without_line_feed", "Xk9-secret", true, {"token:Xk9-secret:rw"}},
        accepted_case{
            "named_tokens",
            "# who may write\n"
            "anna    anna-token-1\n"
            "\n"
            "mes.system  mes-token-2 read-only\r\n"
            "ben@hall2\tben-token-3\n",
            false,
            {"anna:anna-token-1:rw", "mes.system:mes-token-2:ro", "ben@hall2:ben-token-3:rw"}}),
    test_support::case_name{});

struct refused_case {
    const char* name;
    std::string text;
    const char* message;
};
void PrintTo(const refused_case& c, std::ostream* os) {
    *os << c.name;
}

class TokenFileRefuses : public ::testing::TestWithParam<refused_case> {};

TEST_P(TokenFileRefuses, WithTheFileAndLine) {
    auto table = parse_token_file(GetParam().text, "tokens");
    ASSERT_FALSE(table.ok());
    EXPECT_EQ(table.failure().detail, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TokenFileRefuses,
    ::testing::Values(
        refused_case{"empty", "", "tokens holds no token"},
        refused_case{"comments_only", "# nobody yet\n\n", "tokens holds no token"},
        refused_case{"too_many_words", "anna t1 read-only extra\n",
                     "tokens:1: a line is NAME TOKEN, or NAME TOKEN read-only"},
        refused_case{"lone_word_after_named_lines", "# team\nanna t1\nben\n",
                     "tokens:3: a line is NAME TOKEN, or NAME TOKEN read-only"},
        refused_case{"bad_name", "anna/k t1\n",
                     "tokens:1: a name is 1 to 64 letters, digits, '-', '_', '.' and '@'"},
        refused_case{"reserved_name", "local t1\n",
                     "tokens:1: the name 'local' is what the logbook records for a write on "
                     "loopback without a token; choose another"},
        refused_case{"unknown_mark", "anna t1 readonly\n",
                     "tokens:1: unknown mark 'readonly' (only read-only)"},
        refused_case{"name_twice", "anna t1\nanna t2\n", "tokens:2: the name anna is given twice"},
        refused_case{"token_twice", "anna t1\nben t1\n",
                     "tokens:2: this token is given to another name already"},
        refused_case{"control_character_in_single_token",
                     "abc\x01"
                     "def\n",
                     "tokens:1: the token holds characters other than visible ASCII"}),
    test_support::case_name{});

TEST(TokenTable, FindsThePresentedTokenAmongAllAndNothingElse) {
    auto table = parse_token_file("anna anna-token\nben ben-token read-only\n", "tokens");
    ASSERT_TRUE(table.ok());
    ASSERT_NE(table->find("ben-token"), nullptr);
    EXPECT_EQ(table->find("ben-token")->name, "ben");
    EXPECT_TRUE(table->find("ben-token")->read_only);
    EXPECT_EQ(table->find("anna-token")->name, "anna");
    for (const char* wrong : {"", "anna-toke", "anna-tokenx", "ANNA-TOKEN", "ben-token "}) {
        EXPECT_EQ(table->find(wrong), nullptr) << wrong;
    }
}

TEST(TokenTable, IsReadFromItsFileWithABound) {
    test_support::temp_dir dir;
    test_support::write_file(dir.file("tokens"), "anna anna-token\n");
    auto table = gateway::mill::read_token_file(dir.file("tokens"));
    ASSERT_TRUE(table.ok());
    EXPECT_EQ(table->tokens.size(), 1u);
    EXPECT_FALSE(gateway::mill::read_token_file(dir.file("missing")).ok());
    test_support::write_file(dir.file("huge"),
                             std::string(gateway::mill::largest_token_file + 1, 'x'));
    auto huge = gateway::mill::read_token_file(dir.file("huge"));
    ASSERT_FALSE(huge.ok());
    EXPECT_NE(huge.failure().detail.find("larger than"), std::string::npos)
        << huge.failure().detail;
}

}  // namespace
