// The gateway's command line and config file.
#include <gtest/gtest.h>

#include <sstream>

#include "gateway/options.h"
#include "tests/support/files.h"

namespace {

struct controller_case {
    std::string label;
    std::string text;
    bool ok;
    std::string name;
    std::string host;
    std::uint16_t port;
    std::string group = "";
};

void PrintTo(const controller_case& c, std::ostream* out) {
    *out << c.label;
}

class ControllerText : public ::testing::TestWithParam<controller_case> {};

TEST_P(ControllerText, IsReadOrRefused) {
    const auto& c = GetParam();
    auto parsed = gateway::parse_controller(c.text);
    ASSERT_EQ(parsed.ok(), c.ok) << (parsed.ok() ? "" : parsed.failure().detail);
    if (!c.ok) return;
    EXPECT_EQ(parsed->name, c.name);
    EXPECT_EQ(parsed->host, c.host);
    EXPECT_EQ(parsed->port, c.port);
    EXPECT_EQ(parsed->group, c.group);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ControllerText,
    ::testing::Values(
        controller_case{"with_port", "loom1=10.0.0.7:9002", true, "loom1", "10.0.0.7", 9002},
        controller_case{"default_port", "loom2=10.0.0.8", true, "loom2", "10.0.0.8", 9002},
        controller_case{"host_name", "hall-3.a_b=loom.local:9100", true, "hall-3.a_b", "loom.local",
                        9100},
        controller_case{"ipv6", "v6=[::1]:9002", true, "v6", "::1", 9002},
        controller_case{"no_name", "=10.0.0.7", false, "", "", 0},
        controller_case{"no_equals", "10.0.0.7:9002", false, "", "", 0},
        controller_case{"name_with_slash", "a/b=10.0.0.7", false, "", "", 0},
        controller_case{"port_zero", "a=10.0.0.7:0", false, "", "", 0},
        controller_case{"port_too_big", "a=10.0.0.7:65536", false, "", "", 0},
        controller_case{"port_not_a_number", "a=10.0.0.7:x", false, "", "", 0},
        controller_case{"empty_port", "a=10.0.0.7:", false, "", "", 0},
        controller_case{"no_host", "a=:9002", false, "", "", 0},
        controller_case{"bare_ipv6", "a=::1", false, "", "", 0},
        controller_case{"group", "loom7=10.0.3.7:9002,group=hall2", true, "loom7", "10.0.3.7", 9002,
                        "hall2"},
        controller_case{"group_default_port", "loom7=10.0.3.7,group=hall-2.a_b", true, "loom7",
                        "10.0.3.7", 9002, "hall-2.a_b"},
        controller_case{"group_ipv6", "v6=[::1]:9003,group=lab", true, "v6", "::1", 9003, "lab"},
        controller_case{"group_empty", "a=10.0.0.7,group=", false, "", "", 0},
        controller_case{"group_blank", "a=10.0.0.7,group=hall 2", false, "", "", 0},
        controller_case{"group_too_long", "a=10.0.0.7,group=" + std::string(65, 'g'), false, "", "",
                        0},
        controller_case{"group_twice", "a=10.0.0.7,group=h1,group=h2", false, "", "", 0},
        controller_case{"unknown_setting", "a=10.0.0.7,hall=2", false, "", "", 0},
        controller_case{"trailing_comma", "a=10.0.0.7:9002,", false, "", "", 0},
        controller_case{"host_not_utf8", "a=\xff\xfe:9002", false, "", "", 0},
        controller_case{"host_with_slash", "a=evil/x:9002", false, "", "", 0}),
    [](const auto& info) { return info.param.label; });

gateway::parse_outcome parse(std::vector<std::string> args) {
    return gateway::parse_options(args);
}

TEST(GatewayOptions, DefaultsListenOnLoopbackAndPollEveryTwoSeconds) {
    const auto parsed = parse({"--controller", "loom1=127.0.0.1"});
    ASSERT_TRUE(parsed.settings);
    EXPECT_EQ(parsed.settings->listen.host, "127.0.0.1");
    EXPECT_EQ(parsed.settings->listen.port, 8090);
    EXPECT_EQ(parsed.settings->poll, std::chrono::milliseconds(2000));
    EXPECT_FALSE(parsed.settings->read_only);
}

TEST(GatewayOptions, LoopbackIsTheLoopbackNetworkOnly) {
    for (const char* host : {"127.0.0.1", "127.1.2.3", "localhost", "::1"}) {
        EXPECT_TRUE((gateway::listen_address{host, 8090}.loopback())) << host;
    }
    for (const char* host : {"0.0.0.0", "10.0.0.7", "127.evil.example", "::", "128.0.0.1"}) {
        EXPECT_FALSE((gateway::listen_address{host, 8090}.loopback())) << host;
    }
}

TEST(GatewayOptions, WritesOutsideLoopbackNeedATokenOrReadOnly) {
    const auto open = parse({"--listen", "0.0.0.0:8090"});
    EXPECT_FALSE(open.settings);
    EXPECT_EQ(open.exit_status, 1);
    EXPECT_NE(open.output.find("--token-file"), std::string::npos);
    EXPECT_TRUE(parse({"--listen", "0.0.0.0:8090", "--read-only"}).settings);

    test_support::temp_dir dir;
    test_support::write_file(dir.file("token"), "  s3cret \n");
    const auto with_token = parse({"--listen", "0.0.0.0:8090", "--token-file", dir.file("token")});
    ASSERT_TRUE(with_token.settings);
    ASSERT_EQ(with_token.settings->tokens.tokens.size(), 1u);
    EXPECT_EQ(with_token.settings->tokens.tokens[0].token, "s3cret");
    test_support::write_file(dir.file("empty"), "\n");
    EXPECT_FALSE(parse({"--token-file", dir.file("empty")}).settings);
    EXPECT_FALSE(parse({"--token-file", dir.file("missing")}).settings);
}

TEST(GatewayOptions, ConfigFileHoldsTheSameEntries) {
    test_support::temp_dir dir;
    test_support::write_file(dir.file("gateway.conf"),
                             "# the mill's first hall\n"
                             "listen = 127.0.0.1:8091\n"
                             "controller = loom1=10.0.0.7:9002\n"
                             "controller = loom2=10.0.0.8\n"
                             "controller = loom7=10.0.3.7:9002,group=hall2\n"
                             "controller = \"loom8=10.0.3.8,group=hall2\"\n"
                             "poll = 5\n"
                             "read-only = true\n");
    const auto parsed = parse({"--config", dir.file("gateway.conf")});
    ASSERT_TRUE(parsed.settings) << parsed.output;
    EXPECT_EQ(parsed.settings->listen.port, 8091);
    ASSERT_EQ(parsed.settings->controllers.size(), 4u);
    EXPECT_EQ(parsed.settings->controllers[1].name, "loom2");
    EXPECT_EQ(parsed.settings->controllers[1].group, "");
    // A comma in a value does not split it: the group belongs to its controller.
    for (std::size_t i : {2u, 3u}) {
        EXPECT_EQ(parsed.settings->controllers[i].name, i == 2 ? "loom7" : "loom8");
        EXPECT_EQ(parsed.settings->controllers[i].group, "hall2");
    }
    EXPECT_EQ(parsed.settings->poll, std::chrono::milliseconds(5000));
    EXPECT_TRUE(parsed.settings->read_only);

    test_support::write_file(dir.file("typo.conf"), "controlers = loom1=10.0.0.7\n");
    const auto typo = parse({"--config", dir.file("typo.conf")});
    EXPECT_FALSE(typo.settings);
    EXPECT_EQ(typo.exit_status, 1);

    test_support::write_file(dir.file("bad-group.conf"), "controller = loom1=10.0.0.7,grup=h\n");
    const auto bad_group = parse({"--config", dir.file("bad-group.conf")});
    EXPECT_FALSE(bad_group.settings);
    EXPECT_NE(bad_group.output.find("\"grup=h\" is not group=GROUP"), std::string::npos)
        << bad_group.output;
}

// The example the package installs reads as it says, its example controllers and their groups
// too.
TEST(GatewayOptions, ShippedExampleConfigurationHoldsWithItsExamplesTurnedOn) {
    const auto example = test_support::read_file(IFC_SOURCE_DIR "/packaging/ifc-gateway.conf");
    ASSERT_TRUE(example);
    std::string text;
    std::istringstream lines(*example);
    for (std::string line; std::getline(lines, line);)
        text += (line.starts_with("# controller = ") || line.starts_with("# logbook-days = ")
                     ? line.substr(2)
                     : line) +
                "\n";
    test_support::temp_dir dir;
    test_support::write_file(dir.file("gateway.conf"), text);
    const auto parsed = parse({"--config", dir.file("gateway.conf")});
    ASSERT_TRUE(parsed.settings) << parsed.output;
    ASSERT_EQ(parsed.settings->controllers.size(), 3u);
    EXPECT_EQ(parsed.settings->controllers[0].group, "");
    EXPECT_EQ(parsed.settings->controllers[1].name, "loom1");
    EXPECT_EQ(parsed.settings->controllers[1].group, "hall1");
    EXPECT_EQ(parsed.settings->controllers[2].group, "hall1");
    EXPECT_EQ(parsed.settings->logbook_days, 365);
}

TEST(GatewayOptions, StateDirectoryAndLogbookRetention) {
    const auto none = parse({});
    ASSERT_TRUE(none.settings);
    EXPECT_EQ(none.settings->state_dir, "");
    EXPECT_EQ(none.settings->logbook_days, 365);
    const auto given = parse({"--state-dir", "/var/lib/ifc-gateway", "--logbook-days", "90"});
    ASSERT_TRUE(given.settings) << given.output;
    EXPECT_EQ(given.settings->state_dir, "/var/lib/ifc-gateway");
    EXPECT_EQ(given.settings->logbook_days, 90);
    for (const char* days : {"0", "36501", "-1", "a year"}) {
        const auto refused = parse({"--state-dir", "/tmp/x", "--logbook-days", days});
        EXPECT_FALSE(refused.settings) << days;
        EXPECT_EQ(refused.exit_status, 1) << days;
    }
    EXPECT_TRUE(parse({"--logbook-days", "36500"}).settings);
}

// The token file in either form: today's single token, or named tokens (some read-only); a
// file of neither form is refused with its line.
TEST(GatewayOptions, TokenFileOfNamedTokens) {
    test_support::temp_dir dir;
    test_support::write_file(dir.file("tokens"),
                             "# the mill's people\nanna 0f3c9a1e\nmes 9b2e4d7a read-only\n");
    const auto named = parse({"--listen", "0.0.0.0:8090", "--token-file", dir.file("tokens")});
    ASSERT_TRUE(named.settings) << named.output;
    const auto& tokens = named.settings->http_side().tokens.tokens;
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].name, "anna");
    EXPECT_FALSE(tokens[0].read_only);
    EXPECT_EQ(tokens[1].name, "mes");
    EXPECT_TRUE(tokens[1].read_only);
    test_support::write_file(dir.file("bad"), "anna 0f3c9a1e\nben\n");
    const auto bad = parse({"--token-file", dir.file("bad")});
    EXPECT_FALSE(bad.settings);
    EXPECT_NE(bad.output.find(":2:"), std::string::npos) << bad.output;
}

TEST(GatewayOptions, BoundsAndReachAreReadAndChecked) {
    const auto parsed =
        parse({"--allowed-host", "gateway.hall1.example", "--probe-allow", "10.0.0.0/16",
               "--probe-allow", "fd00::7", "--max-connections", "100",
               "--max-connections-per-address", "10", "--request-deadline", "2.5",
               "--write-deadline", "8", "--max-queued-writes", "5", "--max-probes", "3"});
    ASSERT_TRUE(parsed.settings) << parsed.output;
    const gateway::http_settings http = parsed.settings->http_side();
    EXPECT_EQ(http.allowed_hosts, std::vector<std::string>{"gateway.hall1.example"});
    ASSERT_EQ(http.probe_allow.size(), 2u);
    EXPECT_TRUE(http.probe_allow[0].contains("10.0.200.7"));
    EXPECT_FALSE(http.probe_allow[0].contains("10.1.0.7"));
    EXPECT_FALSE(http.probe_allow[0].contains("loom.local"));
    EXPECT_TRUE(http.probe_allow[1].contains("fd00::7"));
    EXPECT_FALSE(http.probe_allow[1].contains("fd00::8"));
    EXPECT_EQ(http.max_connections, 100);
    EXPECT_EQ(http.max_connections_per_address, 10);
    EXPECT_EQ(http.request_deadline, std::chrono::milliseconds(2500));
    EXPECT_EQ(http.max_probes, 3);
    EXPECT_EQ(parsed.settings->polls().write_deadline, std::chrono::milliseconds(8000));
    EXPECT_EQ(parsed.settings->polls().max_queued_writes, 5u);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--probe-allow", "10.0.0.0/33"},
          std::vector<std::string>{"--probe-allow", "loom.local"},
          std::vector<std::string>{"--allowed-host", "a b"},
          // Less than twice a connection and an exchange: no room for a read-back.
          std::vector<std::string>{"--write-deadline", "5"}}) {
        const auto refused = parse(args);
        EXPECT_FALSE(refused.settings) << args[0] << " " << args[1];
        EXPECT_EQ(refused.exit_status, 1);
    }
}

TEST(GatewayOptions, UsageErrorsExitWithStatusOne) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--controller", "a=1.2.3.4", "--controller", "a=1.2.3.5"},
          std::vector<std::string>{"--poll", "0"}, std::vector<std::string>{"--listen", "x:y"},
          std::vector<std::string>{"--bogus"}, std::vector<std::string>{"stray"}}) {
        const auto parsed = parse(args);
        EXPECT_FALSE(parsed.settings) << args[0];
        EXPECT_EQ(parsed.exit_status, 1) << args[0];
        EXPECT_TRUE(parsed.to_stderr);
        EXPECT_TRUE(parsed.output.starts_with("ifc-gateway: ")) << parsed.output;
    }
    const auto help = parse({"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_NE(help.output.find("--controller"), std::string::npos);
    EXPECT_NE(help.output.find("--config FILE"), std::string::npos);
    EXPECT_NE(help.output.find("Exit status"), std::string::npos);
}

// A mistake in the config file is told with the file, the line and what to write instead.
struct config_mistake_case {
    std::string label;
    std::string file;  // after a comment line, so that the mistake is on line 2
    std::vector<std::string> more_args;
    std::string message;  // after "ifc-gateway: FILE:", or empty when the file is good
};

void PrintTo(const config_mistake_case& c, std::ostream* out) {
    *out << c.label;
}

class ConfigMistake : public ::testing::TestWithParam<config_mistake_case> {};

TEST_P(ConfigMistake, NamesTheFileTheLineAndTheNearestOption) {
    const auto& c = GetParam();
    test_support::temp_dir dir;
    const std::string path = dir.file("gateway.conf");
    test_support::write_file(path, "# hall 1\n" + c.file);
    std::vector<std::string> args{"--config", path};
    args.insert(args.end(), c.more_args.begin(), c.more_args.end());
    const auto parsed = parse(args);
    if (c.message.empty()) {
        EXPECT_TRUE(parsed.settings) << parsed.output;
        return;
    }
    EXPECT_FALSE(parsed.settings);
    EXPECT_EQ(parsed.exit_status, 1);
    EXPECT_TRUE(parsed.to_stderr);
    EXPECT_EQ(parsed.output, "ifc-gateway: " + path + ":" + c.message + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigMistake,
    ::testing::Values(
        config_mistake_case{"letter_doubled",
                            "polll = 3\n",
                            {},
                            "2: unknown option \"polll\"; did you mean --poll?"},
        config_mistake_case{"letter_left_out",
                            "listen = 127.0.0.1:8090\ncontroler = a=10.0.0.7\n",
                            {},
                            "3: unknown option \"controler\"; did you mean --controller?"},
        config_mistake_case{"underscore_for_dash",
                            "read_only = true\n",
                            {},
                            "2: unknown option \"read_only\"; did you mean --read-only?"},
        config_mistake_case{"flag_without_value",
                            "read-onyl\n",
                            {},
                            "2: unknown option \"read-onyl\"; did you mean --read-only?"},
        config_mistake_case{"nothing_near",
                            "colour = 3\n",
                            {},
                            "2: unknown option \"colour\" (ifc-gateway --help lists the options)"},
        config_mistake_case{"section",
                            "[hall1]\npoll = 3\n",
                            {},
                            "2: the file has no sections ([hall1]): write name = value lines"},
        config_mistake_case{"bad_value",
                            "poll = 0\n",
                            {},
                            "2: --poll: Value 0 not in range 0.100000 to 3600.000000"},
        config_mistake_case{"bad_choice",
                            "metrics = most\n",
                            {},
                            "2: --metrics: most not in {basic,settings,full}"},
        // The command line wins over the file: its value is not read.
        config_mistake_case{"overridden_value", "poll = 0\n", {"--poll", "3"}, ""},
        config_mistake_case{"good", "poll = 3\nmetrics = full\nread-only\n", {}, ""}),
    [](const auto& info) { return info.param.label; });

TEST(GatewayOptions, MetricsChoiceIsBasicUnlessGiven) {
    EXPECT_EQ(parse({}).settings->http_side().metrics, gateway::metrics_detail::basic);
    EXPECT_EQ(parse({"--metrics", "settings"}).settings->http_side().metrics,
              gateway::metrics_detail::settings);
    EXPECT_EQ(parse({"--metrics", "full"}).settings->http_side().metrics,
              gateway::metrics_detail::full);
    const auto refused = parse({"--metrics", "everything"});
    EXPECT_FALSE(refused.settings);
    EXPECT_NE(refused.output.find("basic,settings,full"), std::string::npos) << refused.output;
}

}  // namespace
