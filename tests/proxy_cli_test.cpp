// ifc-proxy as a program: its command line and exit statuses, the summary and rules-check
// jobs, a controller that cannot be reached, reloading the rules on SIGHUP, stopping on
// SIGTERM, and the journal on standard output.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/loopback.h"
#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"
#include "tests/support/tool_process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test_support::run_proxy;

struct usage_case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string output;  // a part of what it prints
};

void PrintTo(const usage_case& c, std::ostream* os) {
    *os << c.name;
}

class CommandLine : public testing::TestWithParam<usage_case> {};

TEST_P(CommandLine, EndsWithItsStatusAndSaysWhy) {
    const auto run = run_proxy(GetParam().args);
    EXPECT_EQ(run.status, GetParam().status) << run.output;
    EXPECT_NE(run.output.find(GetParam().output), std::string::npos) << run.output;
}

const usage_case usage_cases[] = {
    {"help", {"--help"}, 0, "--rules FILE"},
    {"version", {"--version"}, 0, "ifc-proxy 1.0.0\n"},
    {"unknown_option",
     {"--bogus"},
     2,
     "ifc-proxy: usage: The following argument was not expected: --bogus (see ifc-proxy "
     "--help)\n"},
    {"listen_without_a_port",
     {"--listen", "localhost"},
     2,
     "--listen: 'localhost' is not HOST:PORT"},
    {"port_out_of_range", {"--to", "127.0.0.1:70000"}, 2, "--to: '127.0.0.1:70000' is not"},
    {"unknown_host", {"--to", "no-such-host.invalid:9002"}, 2, "--to: no-such-host.invalid: "},
    {"missing_rules_file",
     {"--rules", "/nonexistent.json"},
     2,
     "ifc-proxy: /nonexistent.json: cannot read: No such file or directory\n"},
    {"max_connections_out_of_range",
     {"--max-connections", "0"},
     2,
     "--max-connections: Value 0 not in range 1 to 4096"},
    {"summary_with_relay_options",
     {"--summary", "j", "--seed", "1"},
     2,
     "--summary and --check-rules stand alone"},
    {"summary_of_no_file",
     {"--summary", "/nonexistent.jsonl"},
     1,
     "/nonexistent.jsonl: cannot read"},
};

INSTANTIATE_TEST_SUITE_P(Proxy, CommandLine, testing::ValuesIn(usage_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RulesFile, ThatIsUnsoundStopsTheStartWithStatusTwo) {
    test_support::temp_dir dir;
    const std::string file = dir.file("rules.json");
    test_support::write_file(file, R"({"rules": [{"kind": "GET", "action": "err"}]})");
    const auto run = run_proxy(
        {"--rules", file, "--listen", "127.0.0.1:" + std::to_string(test_support::free_port())});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output,
              "ifc-proxy: " + file + ": rules[0]: field 'action': err needs \"kind\": PUT\n");
}

TEST(RulesFile, IsCheckedAndShownInWords) {
    test_support::temp_dir dir;
    const std::string file = dir.file("rules.json");
    test_support::write_file(file, R"({"rules": [
        {"kind": "GET", "command": "IFC_get_stat", "nth": 2, "action": "stall",
         "at": "before_len", "seconds": 3}]})");
    const auto run = run_proxy({"--check-rules", file});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, file +
                              ": 1 rule\n  rules[0]: the 2nd GET of IFC_get_stat: stall 3 s "
                              "before_len\n");
}

// Files that once ended the proxy: a number beyond a double, and a value nested 100 000 deep.
const std::vector<std::pair<std::string, std::string>> hostile_rules{
    {R"({"rules": [{"action": "refuse", "seconds": 1e400}]})", "number overflow parsing '1e400'"},
    {R"({"rules": [{"action": "delay", "seconds": )" + std::string(100000, '[') +
         std::string(100000, ']') + "}]}",
     "values nested more than 32 deep"},
};

TEST(RulesFile, ThatIsHostileIsRefusedByTheCheckWithStatusTwo) {
    test_support::temp_dir dir;
    const std::string file = dir.file("rules.json");
    for (const auto& [text, message] : hostile_rules) {
        test_support::write_file(file, text);
        const auto run = run_proxy({"--check-rules", file});
        EXPECT_EQ(run.status, 2) << run.output;
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
    }
}

TEST(Listen, OnAPortInUseEndsWithStatusOne) {
    const auto taken = test_support::listen_on_loopback();
    const auto run = run_proxy({"--listen", "127.0.0.1:" + std::to_string(taken.port)});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot listen on 127.0.0.1:" + std::to_string(taken.port)),
              std::string::npos)
        << run.output;
}

TEST(Controller, ThatCannotBeReachedResetsTheTerminal) {
    test_support::proxy_process proxy(test_support::free_port());
    // The reset may come while the terminal still connects, or at its first request.
    if (auto c = ifc_client::connection::open(proxy.endpoint())) {
        auto answer = c.value().get("IFC_get_stat");
        ASSERT_FALSE(answer.ok());
        EXPECT_EQ(answer.code(), ifc_client::errc::closed);
    }
    const auto closes = proxy.wait_for("close", 1);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0]["by"], "proxy");
    EXPECT_NE(
        closes[0]["reason"].get<std::string>().find("cannot reach the controller at 127.0.0.1:"),
        std::string::npos);
}

TEST(Summary, OfARealJournal) {
    test_support::server_process server;
    test_support::proxy_process proxy(server.port());
    {
        auto c = proxy.connect();
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(c.get("IFC_get_stat").ok());
        ASSERT_TRUE(c.put("IFC_set_stat", "color:1 mode:0 totw_sw:0 ").ok());
        c.disconnect();
    }
    ASSERT_EQ(proxy.wait_for("close", 1).size(), 1u);
    const auto run = run_proxy({"--summary", proxy.journal_path()});
    EXPECT_EQ(run.status, 0);
    const auto lines = test_support::lines_of(run.output);
    ASSERT_GE(lines.size(), 6u) << run.output;
    EXPECT_EQ(lines[0].find(proxy.journal_path() + ": 5 requests on 1 connection, seed "), 0u);
    EXPECT_EQ(lines[2].substr(0, 40), "kind        command       count  failed ");
    EXPECT_EQ(lines[3].substr(0, 40), "DISCONNECT  -                 1       0 ");
    EXPECT_EQ(lines[4].substr(0, 40), "GET         IFC_get_stat      3       0 ");
    EXPECT_EQ(lines[5].substr(0, 40), "PUT         IFC_set_stat      1       0 ");
}

class Reload : public testing::Test {
  protected:
    void start(const std::string& rules) {
        proxy = std::make_unique<test_support::proxy_process>(
            server.port(), test_support::proxy_options{rules, {}});
    }
    // Whether a GET through the proxy now meets a fault.
    bool get_is_faulted(std::size_t request_number) {
        auto c = proxy->connect();
        EXPECT_TRUE(c.get("IFC_get_stat").ok());
        c.disconnect();
        const auto lines = proxy->wait_for("request", request_number + 1);
        return lines.size() > request_number && !lines[request_number - 1]["faults"].empty();
    }

    test_support::server_process server;
    std::unique_ptr<test_support::proxy_process> proxy;
};

TEST_F(Reload, OnSighupPutsTheNewRulesInForce) {
    start(R"({"rules": []})");
    EXPECT_FALSE(get_is_faulted(1));
    test_support::write_file(proxy->rules_path(),
                             R"({"rules": [{"kind": "GET", "action": "delay", "seconds": 0}]})");
    ::kill(proxy->pid(), SIGHUP);
    ASSERT_TRUE(proxy->wait_for_stderr("reloaded 1 rule from "));
    EXPECT_TRUE(get_is_faulted(3));
    const auto reloads = proxy->wait_for("reload", 1);
    ASSERT_EQ(reloads.size(), 1u);
    EXPECT_EQ(reloads[0]["ok"], true);
    EXPECT_EQ(reloads[0]["rule_count"], 1);
}

TEST_F(Reload, OfAnUnsoundFileKeepsTheRulesInForceAndSaysSo) {
    start(R"({"rules": [{"kind": "GET", "action": "delay", "seconds": 0}]})");
    test_support::write_file(proxy->rules_path(), R"({"rules": [{"kind": "GET"}]})");
    ::kill(proxy->pid(), SIGHUP);
    const std::string message = "reload refused: " + proxy->rules_path() +
                                ": rules[0]: field 'action': required: one of delay, stall, cut, "
                                "err, corrupt, drop_fin, throttle, refuse; the 1 rule in force "
                                "stays\n";
    ASSERT_TRUE(proxy->wait_for_stderr(message)) << proxy->stderr_text();
    EXPECT_TRUE(get_is_faulted(1));
    const auto reloads = proxy->wait_for("reload", 1);
    ASSERT_EQ(reloads.size(), 1u);
    EXPECT_EQ(reloads[0]["ok"], false);
    EXPECT_EQ(reloads[0]["kept"], 1);
}

TEST_F(Reload, OfAHostileFileKeepsTheProxyAndItsRules) {
    start(R"({"rules": [{"kind": "GET", "action": "delay", "seconds": 0}]})");
    for (std::size_t i = 0; i < hostile_rules.size(); ++i) {
        test_support::write_file(proxy->rules_path(), hostile_rules[i].first);
        ::kill(proxy->pid(), SIGHUP);
        ASSERT_EQ(proxy->wait_for("reload", i + 1).size(), i + 1) << proxy->stderr_text();
        EXPECT_NE(proxy->wait_for("reload", i + 1)[i]["error"].get<std::string>().find(
                      hostile_rules[i].second),
                  std::string::npos);
    }
    EXPECT_TRUE(proxy->running());
    EXPECT_TRUE(get_is_faulted(1));
}

TEST(Stop, OnSigtermClosesItsConnectionsAndEndsWithStatusZero) {
    test_support::server_process server;
    test_support::proxy_process proxy(server.port());
    auto c = proxy.connect();
    ASSERT_TRUE(c.get("IFC_get_stat").ok());
    EXPECT_EQ(proxy.terminate(), 0);
    EXPECT_TRUE(c.server_closed(3s));
    const auto journal = proxy.journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back()["event"], "stop");
    EXPECT_EQ(journal.back()["signal"], "SIGTERM");
    const auto closes = test_support::lines_of_event(journal, "close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0]["reason"], "the proxy stopped");
}

TEST(Journal, KeepsAsMuchOfAnAnswerAsTextMaxSays) {
    test_support::server_process server;
    test_support::proxy_process proxy(server.port(),
                                      test_support::proxy_options{"", {"--text-max", "8"}});
    auto c = proxy.connect();
    ASSERT_TRUE(c.get("IFC_get_stat").ok());
    const auto requests = proxy.wait_for("request", 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["answer"], "color:1 ");
    EXPECT_EQ(requests[0]["truncated"], true);
    EXPECT_EQ(requests[0]["length"], 25);
}

TEST(Journal, GoesToStandardOutputWithADash) {
    test_support::server_process server;
    test_support::temp_dir dir;
    const std::uint16_t port = test_support::free_port();
    test_support::spawned_program proxy(
        IFC_PROXY_PATH, dir.path(),
        {"--journal", "-", "--seed", "5", "--listen", "127.0.0.1:" + std::to_string(port), "--to",
         "127.0.0.1:" + std::to_string(server.port())});
    ASSERT_TRUE(proxy.wait_for_stdout("\"event\":\"start\"", 10s));
    const auto first = json::parse(test_support::lines_of(proxy.stdout_text()).front());
    EXPECT_EQ(first["seed"], 5);
}

}  // namespace
