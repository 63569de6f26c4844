// Every example of docs/protocol.md, replayed against a freshly started server and compared
// byte for byte, so that the guide cannot drift from the server.
//
// ```wire blocks, the bytes on the connection:
//   C: "bytes"          the client sends them
//   S: "bytes"          the server sends exactly these bytes next
//   S: closed           the server closes the connection
//   S: nothing          the server sends nothing (within a short wait)
// ```exchange blocks, requests through a client:
//   GET name            followed by  => "answer"  or  =~ "regular expression"
//   PUT name "argument"
//   PING
//   RESTART             once the requests before it are served, the server is stopped and
//                       started again on the same directory
//   REMOVE file         a settings file is deleted (as an operator would)
// Both kinds:
//   FILE name size N | FILE name @offset int32 V | FILE name @offset hex HH HH ...
//   LOG "line"          the server's standard output holds this line once the block ends
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/commands.h"
#include "tests/support/doc_examples.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;
using test_support::doc_block;
using test_support::doc_line;
using test_support::first_word;
using test_support::server_process;

const std::string guide_path = std::string(IFC_SOURCE_DIR) + "/docs/protocol.md";

std::vector<doc_block> guide_blocks(std::initializer_list<std::string_view> kinds) {
    const auto text = test_support::read_file(guide_path);
    if (!text) ADD_FAILURE() << "cannot read " << guide_path;
    return test_support::fenced_blocks(text.value_or(""), kinds);
}

std::string where(const doc_line& line) {
    return "docs/protocol.md:" + std::to_string(line.number) + ": " + line.text;
}

// Quoted bytes of a line; records a failure (and gives nullopt) when they do not parse.
std::optional<std::string> bytes_of(std::string_view text) {
    std::string error;
    auto bytes = test_support::parse_byte_string(text, error);
    if (!bytes) ADD_FAILURE() << error;
    return bytes;
}

// A name and nothing after it but an optional comment.
std::optional<std::string> single_name(std::string_view text) {
    std::string_view rest;
    const std::string_view name = first_word(text, rest);
    if (name.empty() || (!rest.empty() && rest.front() != '#')) {
        ADD_FAILURE() << "one name expected";
        return std::nullopt;
    }
    return std::string(name);
}

std::string printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        if (c == '\0') {
            out += "\\0";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

template <class T>
std::optional<T> number(std::string_view text, int base = 10) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// FILE name size N | FILE name @offset int32 V | FILE name @offset hex HH ...
// The server changes a file after it has answered "FIN", so the check waits a little for it.
void check_file(const server_process& server, std::string_view expectation) {
    std::string_view rest;
    const std::string name(first_word(expectation, rest));
    const std::string_view where_word = first_word(rest, rest);
    const auto matches = [&](const std::string& bytes) -> std::optional<bool> {
        if (where_word == "size") {
            const auto size = number<std::size_t>(rest);
            if (!size) return std::nullopt;
            return bytes.size() == *size;
        }
        if (!where_word.starts_with("@")) return std::nullopt;
        const auto offset = number<std::size_t>(where_word.substr(1));
        const std::string_view form = first_word(rest, rest);
        if (!offset) return std::nullopt;
        if (form == "int32") {
            const auto value = number<std::int32_t>(rest);
            if (!value) return std::nullopt;
            return *offset + 4 <= bytes.size() && test_support::int32_at(bytes, *offset) == *value;
        }
        if (form != "hex") return std::nullopt;
        std::string expected;
        while (!rest.empty()) {
            const auto byte = number<unsigned>(first_word(rest, rest), 16);
            if (!byte || *byte > 0xFF) return std::nullopt;
            expected += static_cast<char>(*byte);
        }
        return *offset + expected.size() <= bytes.size() &&
               bytes.compare(*offset, expected.size(), expected) == 0;
    };
    std::optional<bool> ok;
    const auto end = std::chrono::steady_clock::now() + 2s;
    do {
        const std::string bytes = test_support::read_file(server.workfile(name)).value_or("");
        ok = matches(bytes);
        if (!ok || *ok) break;
        std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < end);
    ASSERT_TRUE(ok.has_value()) << "malformed FILE line";
    EXPECT_TRUE(*ok) << name << " ("
                     << test_support::read_file(server.workfile(name)).value_or("").size()
                     << " bytes) does not hold what the guide says";
}

// LOG lines are checked once the block's connection has ended: the server flushes its
// standard output before it accepts the next connection.
void check_logs(const server_process& server, const std::vector<std::string>& logs) {
    for (const auto& line : logs) {
        EXPECT_TRUE(server.wait_for_stdout(line + "\n", 5s)) << "missing line: " << printable(line);
        std::istringstream lines(server.stdout_text());
        std::string printed;
        bool found = false;
        while (std::getline(lines, printed))
            found = found || printed == line;
        EXPECT_TRUE(found) << "no whole line " << printable(line) << " in\n"
                           << printable(server.stdout_text());
    }
}

// LOG and FILE lines, the same in both kinds of block; true when line was one of them.
bool common_line(const server_process& server, std::string_view word, std::string_view rest,
                 std::vector<std::string>& logs) {
    if (word == "LOG") {
        if (auto bytes = bytes_of(rest)) logs.push_back(*bytes);
        return true;
    }
    if (word == "FILE") {
        std::string_view expectation = rest.substr(0, rest.find('#'));
        while (!expectation.empty() && expectation.back() == ' ')
            expectation.remove_suffix(1);
        check_file(server, expectation);
        return true;
    }
    return false;
}

void replay_wire(const doc_block& block) {
    server_process server;
    auto conn = server.connect();
    std::vector<std::string> logs;
    bool closed = false;
    for (const auto& line : block.lines) {
        SCOPED_TRACE(where(line));
        std::string_view rest;
        const std::string_view word = first_word(line.text, rest);
        if (common_line(server, word, rest, logs)) continue;
        if (word == "C:") {
            const auto bytes = bytes_of(rest);
            ASSERT_TRUE(bytes.has_value());
            // It is the client's turn: the server has said all it had to say.
            ASSERT_EQ(printable(conn.recv_available(50ms)), "") << "bytes the guide does not show";
            ASSERT_TRUE(conn.send_bytes(*bytes).ok());
        } else if (word == "S:" && rest.starts_with("closed")) {
            EXPECT_TRUE(conn.server_closed(3s)) << "the connection is still open";
            closed = true;
        } else if (word == "S:" && rest.starts_with("nothing")) {
            EXPECT_EQ(printable(conn.recv_available(300ms)), "");
        } else if (word == "S:") {
            const auto bytes = bytes_of(rest);
            ASSERT_TRUE(bytes.has_value());
            const auto got = conn.recv_bytes(bytes->size());
            ASSERT_TRUE(got.ok()) << got.failure().detail;
            ASSERT_EQ(printable(got.value()), printable(*bytes));
        } else {
            FAIL() << "unknown line in a wire block";
        }
    }
    if (!closed) {
        EXPECT_EQ(printable(conn.recv_available(300ms)), "") << "bytes the guide does not show";
    }
    conn = server.connect();  // the block's connection ends; the next accept flushes the output
    check_logs(server, logs);
}

void replay_exchange(const doc_block& block) {
    server_process server;
    auto conn = server.connect();
    std::vector<std::string> logs;
    for (std::size_t i = 0; i < block.lines.size(); ++i) {
        const doc_line& line = block.lines[i];
        SCOPED_TRACE(where(line));
        std::string_view rest;
        const std::string_view word = first_word(line.text, rest);
        if (common_line(server, word, rest, logs)) continue;
        if (word == "GET") {
            const auto name = single_name(rest);
            ASSERT_TRUE(name.has_value());
            ASSERT_LT(i + 1, block.lines.size()) << "GET without its answer line";
            const doc_line& expect = block.lines[++i];
            std::string_view expected_text;
            const std::string_view arrow = first_word(expect.text, expected_text);
            ASSERT_TRUE(arrow == "=>" || arrow == "=~") << where(expect);
            const auto expected = bytes_of(expected_text);
            ASSERT_TRUE(expected.has_value()) << where(expect);
            const auto got = conn.get(*name);
            ASSERT_TRUE(got.ok()) << got.failure().detail;
            if (arrow == "=>") {
                EXPECT_EQ(printable(got.value()), printable(*expected)) << where(expect);
            } else {
                EXPECT_TRUE(std::regex_match(got.value(), std::regex(*expected)))
                    << where(expect) << "\nanswer: " << printable(got.value());
            }
        } else if (word == "PUT") {
            std::string_view argument;
            const std::string name(first_word(rest, argument));
            const auto bytes = bytes_of(argument);
            ASSERT_TRUE(bytes.has_value());
            ASSERT_TRUE(conn.put(name, *bytes).ok());
        } else if (word == "PING") {
            ASSERT_TRUE(conn.ping().ok());
        } else if (word == "RESTART") {
            // A write runs after its "FIN": the server is stopped only once it has served this
            // connection, which it has when it answers on the next one (an unknown name
            // answers without touching any file).
            conn.disconnect();
            conn = server.connect();
            EXPECT_EQ(conn.get("IFC_none").code(), ifc_client::errc::unknown_command);
            server.restart();
            conn = server.connect();
        } else if (word == "REMOVE") {
            const auto name = single_name(rest);
            ASSERT_TRUE(name.has_value());
            ASSERT_EQ(::unlink(server.workfile(*name).c_str()), 0) << *name;
        } else {
            FAIL() << "unknown line in an exchange block";
        }
    }
    conn.disconnect();
    check_logs(server, logs);
}

// Each block of the kind on a server of its own.
void replay_all(std::string_view kind, void (*replay)(const doc_block&)) {
    const auto blocks = guide_blocks({kind});
    ASSERT_FALSE(blocks.empty()) << "no " << kind << " blocks";
    for (const auto& block : blocks) {
        SCOPED_TRACE(std::string(kind) +
                     " block at docs/protocol.md:" + std::to_string(block.first_line));
        replay(block);
    }
}

TEST(ProtocolGuide, WireExamplesMatchTheServerByteForByte) {
    replay_all("wire", replay_wire);
}

TEST(ProtocolGuide, ExchangeExamplesMatchTheServer) {
    replay_all("exchange", replay_exchange);
}

// The guide shows every command of the server at work at least once.
TEST(ProtocolGuide, EveryCommandHasAnExample) {
    std::set<std::string> shown;
    for (const auto& block : guide_blocks({"exchange"})) {
        for (const auto& line : block.lines) {
            std::string_view rest;
            const std::string_view word = first_word(line.text, rest);
            if (word == "GET" || word == "PUT") shown.insert(std::string(first_word(rest, rest)));
        }
    }
    // Every command the client knows of, and so every command of the server's tables.
    std::vector<std::string> commands = ifc_client::commands::read_commands();
    for (std::string& name : ifc_client::commands::write_commands())
        commands.push_back(std::move(name));
    for (const auto& command : commands) {
        EXPECT_TRUE(shown.contains(command)) << command << " has no example in the guide";
    }
}

}  // namespace
