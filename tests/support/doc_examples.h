// The example blocks of a markdown guide, so that a test can replay them against the server:
// fenced blocks whose info string names their kind (```wire, ```exchange), and the quoted
// byte strings written in them.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

struct doc_line {
    int number;  // line number in the markdown file, from 1
    std::string text;
};

struct doc_block {
    std::string kind;
    int first_line;
    // Blank lines and lines that hold only a "# comment" are left out. A line that starts
    // with a quote (after blanks) continues the line before it and is joined to it.
    std::vector<doc_line> lines;
};

// Every fenced block whose info string is one of kinds, in file order.
std::vector<doc_block> fenced_blocks(std::string_view markdown,
                                     std::initializer_list<std::string_view> kinds);

// Bytes written as one or more double-quoted strings, each optionally repeated with "* N",
// concatenated; then blanks and an optional "# comment". Escapes: \" \\ \0 \n \r \t \xHH.
// nullopt, with the reason in error, when text is not of that form.
std::optional<std::string> parse_byte_string(std::string_view text, std::string& error);

// The first word of text (up to a blank) and, in rest, what follows it without leading
// blanks.
std::string_view first_word(std::string_view text, std::string_view& rest);

}  // namespace test_support
