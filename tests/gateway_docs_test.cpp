// Replays every example of docs/gateway.md against the real ifc-gateway executable polling a
// real server: each ```api block's request, its status and its answer (an expected object may
// leave members out; "..." stands for any value; an array ending in "..." may go on), and each
// line of a ```metrics block as a line of /metrics. The ```mill blocks, in the same form, go to
// a gateway with a state directory (a real SQLite file), the token file of the ```tokens block
// and three servers of one group; a GET there is asked again, for up to 15 s, until its answer
// holds (a roll-out takes its time). An answer that is not JSON (an export) is compared line
// by line: a line that is a JSON object as an object, any other as text, up to a line "...".
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tests/support/doc_examples.h"
#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/spawned_program.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

// Where actual differs from expected, as a path and the two values; empty when it does not.
std::string difference(const json& expected, const json& actual, const std::string& path = "") {
    if (expected == "...") return "";
    if (expected.is_object()) {
        if (!actual.is_object()) return path + ": expected an object, got " + actual.dump();
        for (const auto& [key, value] : expected.items()) {
            if (!actual.contains(key)) return path + "/" + key + ": missing";
            if (auto d = difference(value, actual[key], path + "/" + key); !d.empty()) return d;
        }
        return "";
    }
    if (expected.is_array()) {
        if (!actual.is_array()) return path + ": expected an array, got " + actual.dump();
        const bool open = !expected.empty() && expected.back() == "...";
        const std::size_t count = expected.size() - (open ? 1 : 0);
        if (open ? actual.size() < count : actual.size() != count) {
            return path + ": " + std::to_string(actual.size()) + " elements, expected " +
                   (open ? "at least " : "") + std::to_string(count);
        }
        for (std::size_t i = 0; i < count; ++i) {
            const auto d = difference(expected[i], actual[i], path + "/" + std::to_string(i));
            if (!d.empty()) return d;
        }
        return "";
    }
    return expected == actual ? ""
                              : path + ": expected " + expected.dump() + ", got " + actual.dump();
}

struct api_example {
    int line = 0;
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
    int status = 0;
    std::string answer;
};

api_example parse_example(const test_support::doc_block& block) {
    api_example e;
    e.line = block.first_line;
    bool answer = false;
    for (std::size_t i = 0; i < block.lines.size(); ++i) {
        const std::string& text = block.lines[i].text;
        if (i == 0) {
            const auto blank = text.find(' ');
            e.method = text.substr(0, blank);
            e.path = text.substr(blank + 1);
        } else if (text.starts_with("=> ")) {
            e.status = std::stoi(text.substr(3));
            answer = true;
        } else if (answer) {
            e.answer += text + "\n";
        } else if (text.front() == '{' || text.front() == '[' || !e.body.empty()) {
            e.body += text + "\n";
        } else {
            const auto colon = text.find(": ");
            e.headers.emplace(text.substr(0, colon), text.substr(colon + 2));
        }
    }
    return e;
}

httplib::Result send(httplib::Client& client, const api_example& e) {
    const auto type = e.headers.count("Content-Type") ? e.headers.find("Content-Type")->second
                                                      : std::string("application/json");
    if (e.method == "GET") return client.Get(e.path.c_str(), e.headers);
    if (e.method == "DELETE") return client.Delete(e.path.c_str(), e.headers);
    if (e.method == "POST") {
        if (e.body.empty()) {
            httplib::Headers typed = e.headers;
            typed.emplace("Content-Type", type);
            return client.Post(e.path.c_str(), typed);
        }
        return client.Post(e.path.c_str(), e.headers, e.body, type.c_str());
    }
    return client.Patch(e.path.c_str(), e.headers, e.body, type.c_str());
}

// Where an answer that is not JSON differs from the expected lines; empty when it does not.
std::string text_difference(const std::string& expected, const std::string& actual) {
    std::istringstream want(expected), got(actual);
    std::string w, g;
    for (int line = 1; std::getline(want, w); ++line) {
        if (w == "...") return "";
        if (!std::getline(got, g)) return "line " + std::to_string(line) + ": missing";
        if (!g.empty() && g.back() == '\r') g.pop_back();
        const json expected_json = json::parse(w, nullptr, false);
        const std::string d = expected_json.is_object()
                                  ? difference(expected_json, json::parse(g, nullptr, false))
                                  : (w == g ? "" : "expected \"" + w + "\", got \"" + g + "\"");
        if (!d.empty()) return "line " + std::to_string(line) + ": " + d;
    }
    return std::getline(got, g) ? "more lines than expected" : "";
}

// The example's answer compared with what the gateway answered; empty when it holds.
std::string example_difference(const api_example& e, const httplib::Result& r) {
    if (!r) return "no answer";
    if (r->status != e.status) {
        return "status " + std::to_string(r->status) + ", expected " + std::to_string(e.status);
    }
    const json expected = json::parse(e.answer, nullptr, false);
    if (expected.is_discarded()) return text_difference(e.answer, r->body);
    return difference(expected, json::parse(r->body, nullptr, false));
}

// Replays the examples of the blocks of kind, in file order, with the lines of the ```metrics
// blocks among them checked at their place; the number of examples.
int replay(const std::vector<test_support::doc_block>& blocks, std::string_view kind,
           httplib::Client& client, bool wait_for_reads) {
    int examples = 0;
    for (const auto& block : blocks) {
        if (block.kind == "metrics") {
            const auto metrics = client.Get("/metrics");
            for (const auto& line : block.lines) {
                EXPECT_TRUE(metrics &&
                            metrics->body.find("\n" + line.text + "\n") != std::string::npos)
                    << "docs/gateway.md:" << line.number << ": " << line.text;
            }
            continue;
        }
        if (block.kind != kind) continue;
        const api_example e = parse_example(block);
        ++examples;
        SCOPED_TRACE("docs/gateway.md:" + std::to_string(e.line) + ": " + e.method + " " + e.path);
        httplib::Result r = send(client, e);
        const auto give_up = std::chrono::steady_clock::now() + 15s;
        while (wait_for_reads && e.method == "GET" && !example_difference(e, r).empty() &&
               std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(50ms);
            r = send(client, e);
        }
        EXPECT_EQ(example_difference(e, r), "") << (r ? r->body : "");
    }
    return examples;
}

class GatewayDocs : public ::testing::Test {
  protected:
    void SetUp() override {
        markdown = test_support::read_file(IFC_SOURCE_DIR "/docs/gateway.md").value_or("");
        ASSERT_FALSE(markdown.empty());
    }
    std::string markdown;
};

TEST_F(GatewayDocs, EveryExampleHoldsAgainstARealGatewayAndServer) {
    test_support::server_process server;
    const auto http_port = test_support::free_port();
    test_support::temp_dir dir;
    test_support::spawned_program gateway(
        IFC_GATEWAY_PATH, dir.path(),
        {"--listen", "127.0.0.1:" + std::to_string(http_port), "--poll", "0.2", "--metrics", "full",
         "--controller", "loom1=127.0.0.1:" + std::to_string(server.port()) + ",group=hall1",
         "--controller", "loom9=127.0.0.1:" + std::to_string(test_support::free_port())});
    ASSERT_TRUE(gateway.wait_for_stdout("loom1 (", 10s)) << gateway.stdout_text();
    httplib::Client client("127.0.0.1", http_port);
    client.set_read_timeout(10, 0);

    const auto blocks = test_support::fenced_blocks(markdown, {"api", "metrics"});
    EXPECT_GE(replay(blocks, "api", client, false), 15);
}

TEST_F(GatewayDocs, EveryMillExampleHoldsAgainstARealGatewayServersAndDatabase) {
    test_support::server_process loom1, loom2, loom3;
    const auto http_port = test_support::free_port();
    test_support::temp_dir dir;
    const auto blocks = test_support::fenced_blocks(markdown, {"mill", "tokens"});
    std::string tokens;
    for (const auto& block : blocks) {
        if (block.kind != "tokens") continue;
        for (const auto& line : block.lines)
            tokens += line.text + "\n";
    }
    ASSERT_FALSE(tokens.empty()) << "no ```tokens block";
    test_support::write_file(dir.file("tokens"), tokens);
    std::vector<std::string> args = {"--listen",     "127.0.0.1:" + std::to_string(http_port),
                                     "--poll",       "0.2",
                                     "--state-dir",  dir.file("state"),
                                     "--token-file", dir.file("tokens")};
    int n = 1;
    for (const auto* server : {&loom1, &loom2, &loom3}) {
        args.push_back("--controller");
        args.push_back("loom" + std::to_string(n++) +
                       "=127.0.0.1:" + std::to_string(server->port()) + ",group=hall2");
    }
    test_support::spawned_program gateway(IFC_GATEWAY_PATH, dir.path(), args);
    for (const char* name : {"loom1 (", "loom2 (", "loom3 ("}) {
        ASSERT_TRUE(gateway.wait_for_stdout(name, 10s)) << gateway.stdout_text();
    }
    httplib::Client client("127.0.0.1", http_port);
    client.set_read_timeout(10, 0);
    EXPECT_GE(replay(blocks, "mill", client, true), 20);
}

}  // namespace
