// Replays every example of docs/gateway.md against the real ifc-gateway executable polling a
// real server: each ```api block's request, its status and its answer (an expected object may
// leave members out; "..." stands for any value; an array ending in "..." may go on), and each
// line of a ```metrics block as a line of /metrics.
#include <gtest/gtest.h>

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
    int examples = 0;
    for (const auto& block : blocks) {
        if (block.kind == "metrics") {
            const std::string metrics = client.Get("/metrics")->body;
            for (const auto& line : block.lines) {
                EXPECT_NE(metrics.find("\n" + line.text + "\n"), std::string::npos)
                    << "docs/gateway.md:" << line.number << ": " << line.text;
            }
            continue;
        }
        const api_example e = parse_example(block);
        ++examples;
        SCOPED_TRACE("docs/gateway.md:" + std::to_string(e.line) + ": " + e.method + " " + e.path);
        httplib::Result r = e.method == "GET"
                                ? client.Get(e.path.c_str(), e.headers)
                                : client.Patch(e.path.c_str(), e.headers, e.body,
                                               e.headers.count("Content-Type")
                                                   ? e.headers.find("Content-Type")->second.c_str()
                                                   : "application/json");
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, e.status) << r->body;
        const json expected = json::parse(e.answer, nullptr, false);
        ASSERT_FALSE(expected.is_discarded()) << "the example's answer is not JSON";
        EXPECT_EQ(difference(expected, json::parse(r->body, nullptr, false)), "") << r->body;
    }
    EXPECT_GE(examples, 15);
}

}  // namespace
