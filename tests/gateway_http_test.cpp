// The gateway's HTTP side: who may write, what a write must look like, how bad HTTP input is
// answered, and the metrics and probe endpoints.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <nlohmann/json.hpp>

#include "client/unique_fd.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/loopback.h"
#include "tests/support/raw_http.h"
#include "tests/support/server_process.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;
using test_support::local_controller;

constexpr const char* json_type = "application/json";

gateway::http_settings read_only_http() {
    gateway::http_settings http;
    http.read_only = true;
    return http;
}

// A token file of today's form: one token.
gateway::mill::token_table one_token(std::string token) {
    gateway::mill::token_table table;
    if (!token.empty()) table.tokens.push_back({"token", std::move(token), false});
    table.single = true;
    return table;
}

gateway::http_settings http_with_token(std::string token) {
    gateway::http_settings http;
    http.tokens = one_token(std::move(token));
    return http;
}

class GatewayHttp : public ::testing::Test {
  protected:
    test_support::server_process server;

    std::string snapshot_of(test_support::gateway_harness& gateway) {
        return gateway.client().Get("/api/controllers/loom1")->body;
    }
};

TEST_F(GatewayHttp, ReadOnlyRefusesEveryWrite) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port())},
                                          test_support::fast_polls(), read_only_http());
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    for (const char* path : {"/api/controllers/loom1/status", "/api/controllers/loom1/targets/1"}) {
        auto r = gateway.client().Patch(path, R"({"color":2,"to":95})", json_type);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 403);
        EXPECT_NE(json::parse(r->body)["message"].get<std::string>().find("read-only"),
                  std::string::npos);
    }
    auto conn = server.connect();
    EXPECT_EQ(conn.get("IFC_get_stat").value(), "color:1 mode:0 totw_sw:0 ");
    // Reads go on.
    EXPECT_EQ(gateway.client().Get("/api/controllers/loom1")->status, 200);
}

TEST_F(GatewayHttp, WritesNeedTheBearerTokenWhenOneIsSet) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port())},
                                          test_support::fast_polls(), http_with_token("s3cret"));
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    const std::string path = "/api/controllers/loom1/targets/1";
    auto client = gateway.client();
    auto none = client.Patch(path.c_str(), R"({"to":95})", json_type);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(none->get_header_value("WWW-Authenticate"), "Bearer");
    for (const char* wrong : {"Bearer s3cre", "Bearer s3cret2", "Basic s3cret", "s3cret"}) {
        auto r = client.Patch(path.c_str(), {{"Authorization", wrong}}, R"({"to":95})", json_type);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 401) << wrong;
    }
    auto conn = server.connect();
    EXPECT_EQ(conn.get("IFC_get_Tot_Twt_1").value(), "to:90 tw:240 ");
    conn.disconnect();
    auto right =
        client.Patch(path.c_str(), {{"Authorization", "Bearer s3cret"}}, R"({"to":95})", json_type);
    ASSERT_TRUE(right);
    EXPECT_EQ(right->status, 200);
    // Reads need no token.
    EXPECT_EQ(client.Get("/api/controllers")->status, 200);
}

// A page elsewhere whose host name it points at 127.0.0.1 sends its own name as the Host:
// without a token, writes are taken only when addressed to a loopback name.
TEST_F(GatewayHttp, WritesWithoutATokenMustAddressTheGatewayByALoopbackName) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    const std::string path = "/api/controllers/loom1/status";
    struct host_case {
        const char* host;
        int status;
    };
    for (const auto& c : {host_case{"evil.example", 403}, host_case{"evil.example:8090", 403},
                          host_case{"127.0.0.1.evil.example", 403}, host_case{"", 403},
                          host_case{"localhost:8090", 200}, host_case{"127.0.0.1", 200},
                          host_case{"[::1]:8090", 200}}) {
        auto client = gateway.client();
        client.set_default_headers({{"Host", c.host}});
        auto r = client.Patch(path.c_str(), R"({"color":2})", json_type);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status) << c.host;
    }
}

// Reads too must name the gateway as it is known, unless a token guards it: a page on a name
// its owner points at the gateway's address cannot read the API from an operator's browser.
TEST_F(GatewayHttp, ReadsNameAHostTheGatewayTakes) {
    struct host_case {
        const char* label;
        bool loopback;
        const char* token;
        const char* allowed;  // --allowed-host, or ""
        const char* host;
        int status;
    };
    const host_case cases[] = {
        {"loopback name", true, "", "", "localhost:8090", 200},
        {"other name on loopback", true, "", "", "evil.example", 403},
        {"address elsewhere on loopback", true, "", "", "10.0.0.5:8090", 403},
        {"allowed name", true, "", "gateway.hall1", "gateway.hall1:8090", 200},
        {"address away from loopback", false, "", "", "10.0.0.5:8090", 200},
        {"v6 address away from loopback", false, "", "", "[fd00::5]:8090", 200},
        {"name away from loopback", false, "", "", "evil.example:8090", 403},
        {"any name with a token", true, "s3cret", "", "evil.example", 200},
        {"a token and an allowed list", true, "s3cret", "gateway.hall1", "evil.example", 403},
    };
    for (const auto& c : cases) {
        gateway::http_settings http;
        http.loopback = c.loopback;
        http.read_only = !c.loopback;
        http.tokens = one_token(c.token);
        if (*c.allowed) http.allowed_hosts.push_back(c.allowed);
        test_support::gateway_harness gateway({local_controller("loom1", server.port())},
                                              test_support::fast_polls(), http);
        auto client = gateway.client();
        client.set_default_headers({{"Host", c.host}});
        auto r = client.Get("/api/controllers");
        ASSERT_TRUE(r) << c.label;
        EXPECT_EQ(r->status, c.status) << c.label;
    }
}

// A form on another site can post text/plain or a form encoding without asking; it cannot post
// JSON. So a write must say it is JSON.
TEST_F(GatewayHttp, WritesMustBeJson) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    const std::string path = "/api/controllers/loom1/status";
    for (const char* type :
         {"text/plain", "application/x-www-form-urlencoded", "multipart/form-data", ""}) {
        auto r = gateway.client().Patch(path.c_str(), R"({"color":2})", type);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 415) << type;
    }
    auto charset =
        gateway.client().Patch(path.c_str(), R"({"color":2})", "application/json; charset=utf-8");
    ASSERT_TRUE(charset);
    EXPECT_EQ(charset->status, 200);
}

// A request past a bound is refused as soon as the bound is passed, before the rest is read:
// header fields in many lines each shorter than the bound, a body announced or sent in chunks
// past its bound, a compressed body, a method no route uses (whatever its body), a path that
// does not decode.
TEST_F(GatewayHttp, BadHttpInputGetsAClientErrorAndTheGatewayServesOn) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    const std::string patch_head =
        "PATCH /api/controllers/loom1/status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
        "application/json\r\n";
    std::string header_lines;
    for (int line = 0; line < 20; ++line)
        header_lines += "X-Fill-" + std::to_string(line) + ": " + std::string(1000, 'a') + "\r\n";
    std::string chunks;
    for (int chunk = 0; chunk < 10; ++chunk)
        chunks += "2000\r\n" + std::string(0x2000, ' ') + "\r\n";
    chunks += "0\r\n\r\n";
    const std::string deep = std::string(20000, '[') + std::string(20000, ']');
    struct bad_input {
        const char* what;
        std::string bytes;
        int status;
    };
    const bad_input inputs[] = {
        {"garbage", "GARBAGE\r\n\r\n", 400},
        {"no version", "GET /api/controllers\r\n\r\n", 400},
        {"huge header",
         "GET / HTTP/1.1\r\nHost: x\r\nX-Filler: " + std::string(20000, 'a') + "\r\n\r\n", 431},
        {"many header lines", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header_lines + "\r\n", 431},
        {"huge target", "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", 431},
        {"body too large", patch_head + "Content-Length: 200000\r\n\r\n" + std::string(200000, ' '),
         413},
        {"chunked body too large", patch_head + "Transfer-Encoding: chunked\r\n\r\n" + chunks, 413},
        {"other transfer coding", patch_head + "Transfer-Encoding: gzip\r\n\r\n{}", 501},
        {"compressed body", patch_head + "Content-Encoding: gzip\r\nContent-Length: 4\r\n\r\nabcd",
         415},
        {"unused method with a compressed body",
         "PRI / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Encoding: br\r\nContent-Length: "
         "788\r\n\r\n" +
             std::string(788, 'x'),
         405},
        {"OPTIONS", "OPTIONS /api/controllers HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 405},
        {"DELETE", "DELETE /api/controllers/loom1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 405},
        {"bad escape", "GET /api/%zz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400},
        {"NUL in the path", "GET /static/a%00.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 400},
        {"nested too deep",
         patch_head + "Content-Length: " + std::to_string(deep.size()) + "\r\n\r\n" + deep, 400},
        {"read by another host name", "GET /api/controllers HTTP/1.1\r\nHost: evil.example\r\n\r\n",
         403},
        {"read without a host", "GET /api/controllers HTTP/1.0\r\n\r\n", 403},
    };
    for (const auto& input : inputs) {
        const std::string answer = test_support::raw_exchange(gateway.port(), input.bytes);
        EXPECT_EQ(test_support::status_of(answer), input.status)
            << input.what << ": " << answer.substr(0, 60);
        const auto body = answer.find("\r\n\r\n");
        if (body != std::string::npos) {
            EXPECT_TRUE(json::parse(answer.substr(body + 4))["message"].is_string()) << input.what;
        }
    }
    auto r = gateway.client().Get("/api/controllers");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    auto conn = server.connect();
    EXPECT_EQ(conn.get("IFC_get_stat").value(), "color:1 mode:0 totw_sw:0 ");
}

TEST_F(GatewayHttp, ErrorsAreJsonObjectsWithAMessage) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    for (const char* path : {"/api/nothing", "/api/controllers/loom1/valves"}) {
        auto r = gateway.client().Get(path);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 404);
        EXPECT_EQ(r->get_header_value("Content-Type"), json_type);
        EXPECT_TRUE(json::parse(r->body)["message"].is_string()) << r->body;
    }
}

TEST_F(GatewayHttp, PagesAndTheirFilesAreServedFromTheBinary) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    auto client = gateway.client();
    struct page {
        const char* path;
        int status;
        const char* type;
        const char* contains;
    };
    const page pages[] = {
        {"/", 200, "text/html; charset=utf-8", "fleet.js"},
        {"/machines/loom1", 200, "text/html; charset=utf-8", "dial.js"},
        {"/machines/loom9", 404, "text/plain", "loom9"},
        {"/static/dial.js", 200, "text/javascript; charset=utf-8", "arcPath"},
        {"/static/panel.css", 200, "text/css; charset=utf-8", "--focus"},
        {"/static/none.js", 404, "text/plain", "not found"},
        // The mill's pages are served whether or not the gateway keeps a state: each says why
        // it shows nothing without one.
        {"/library", 200, "text/html; charset=utf-8", "library.js"},
        {"/compare", 200, "text/html; charset=utf-8", "compare.js"},
        {"/rollouts", 200, "text/html; charset=utf-8", "rollouts.js"},
        {"/rollouts/12", 200, "text/html; charset=utf-8", "rollout.js"},
        {"/rollouts/first", 404, "text/plain", "first"},
        {"/logbook", 200, "text/html; charset=utf-8", "logbook.js"},
        {"/static/mill.js", 200, "text/javascript; charset=utf-8", "revealLinks"},
    };
    for (const auto& p : pages) {
        auto r = client.Get(p.path);
        ASSERT_TRUE(r) << p.path;
        EXPECT_EQ(r->status, p.status) << p.path;
        EXPECT_EQ(r->get_header_value("Content-Type"), p.type) << p.path;
        EXPECT_NE(r->body.find(p.contains), std::string::npos) << p.path;
        EXPECT_EQ(r->get_header_value("X-Content-Type-Options"), "nosniff");
    }
}

TEST_F(GatewayHttp, MetricsNameEachControllerAndFamily) {
    test_support::gateway_harness gateway({local_controller("loom1", server.port()),
                                           local_controller("gone", test_support::free_port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    ASSERT_TRUE(gateway.wait_polled());
    auto r = gateway.client().Get("/metrics?metrics=full");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_TRUE(r->get_header_value("Content-Type").starts_with("text/plain; version=0.0.4"));
    const std::string& text = r->body;
    for (const char* sample :
         {"ifc_up{controller=\"loom1\"} 1\n", "ifc_up{controller=\"gone\"} 0\n",
          "ifc_target_degrees{controller=\"loom1\",colour=\"3\",item=\"tw\"} 240\n",
          "ifc_valve_angle_degrees{controller=\"loom1\",colour=\"1\",valve=\"main\",edge=\"on\"} "
          "90\n",
          "ifc_arrival_bin_samples{controller=\"loom1\",side=\"left\",bin=\"23\"} 300\n",
          "ifc_arrival_fval{controller=\"loom1\",side=\"right\"} 4.52\n",
          "ifc_writes_total{controller=\"gone\",outcome=\"applied\"} 0\n",
          "ifc_machine_colour{controller=\"loom1\"} 1\n",
          "ifc_poll_duration_seconds_bucket{controller=\"gone\",le=\"+Inf\"} ",
          "ifc_gateway_build_info{version=\"1.0.0\"} 1\n", "\nprocess_open_fds "}) {
        EXPECT_NE(text.find(sample), std::string::npos) << sample;
    }
    // Each family is announced once, before its samples.
    std::size_t families = 0;
    for (std::size_t at = text.find("# TYPE "); at != std::string::npos;
         at = text.find("# TYPE ", at + 1)) {
        ++families;
    }
    EXPECT_EQ(text.find("# TYPE ifc_up"), text.rfind("# TYPE ifc_up"));
    EXPECT_GT(families, 15u);
    EXPECT_EQ(text.find("ATC_TO_DELAY"), std::string::npos);
}

// /probe reaches the configured controllers, and other addresses only where --probe-allow
// opens them: a page elsewhere cannot use the gateway to reach (or time) another service.
TEST_F(GatewayHttp, ProbeReachesOnlyTheControllersAndWhatProbeAllowOpens) {
    const auto other_service = test_support::listen_on_loopback();
    const std::string configured = "127.0.0.1:" + std::to_string(server.port());
    const std::string elsewhere = "127.0.0.1:" + std::to_string(other_service.port);
    {
        test_support::gateway_harness gateway({local_controller("loom1", server.port())});
        auto client = gateway.client();
        auto up = client.Get(("/probe?target=" + configured).c_str());
        ASSERT_TRUE(up);
        EXPECT_EQ(up->status, 200);
        // Without a name, the controller label is the target as written.
        EXPECT_NE(up->body.find("\nifc_up{controller=\"" + configured + "\"} 1\n"),
                  std::string::npos)
            << up->body.substr(0, 300);
        EXPECT_NE(up->body.find("ifc_target_degrees{controller=\"" + configured +
                                "\",colour=\"1\",item=\"to\"} 90\n"),
                  std::string::npos);
        for (const std::string& target :
             {elsewhere, std::string("10.0.0.7:9002"),
              std::string("localhost:") + std::to_string(server.port())}) {
            auto refused = client.Get(("/probe?target=" + target).c_str());
            ASSERT_TRUE(refused);
            EXPECT_EQ(refused->status, 403) << target;
        }
        for (const std::string& bad :
             {std::string("/probe"), std::string("/probe?target=127.0.0.1:99999"),
              std::string("/probe?target=:1"), std::string("/probe?target=%FF%FE:9002"),
              "/probe?target=" + configured + "&name=a%2Fb",
              "/probe?target=" + configured + "&name=",
              "/probe?target=" + configured + "&metrics=all",
              std::string("/metrics?metrics=all")}) {
            auto r = client.Get(bad.c_str());
            ASSERT_TRUE(r);
            EXPECT_EQ(r->status, 400) << bad;
        }
    }
    // Nothing connected to the other service.
    pollfd waiting{other_service.fd.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&waiting, 1, 0), 0);

    gateway::http_settings open;
    open.probe_allow.push_back(*gateway::parse_network("127.0.0.0/8"));
    test_support::gateway_harness gateway({}, test_support::fast_polls(), open);
    auto down = gateway.client().Get(
        ("/probe?target=127.0.0.1:" + std::to_string(test_support::free_port())).c_str());
    ASSERT_TRUE(down);
    EXPECT_EQ(down->status, 200);
    EXPECT_NE(down->body.find("\nifc_up{controller=\"127.0.0.1:"), std::string::npos);
    EXPECT_NE(down->body.find("\"} 0\n"), std::string::npos);
    EXPECT_EQ(down->body.find("ifc_target_degrees"), std::string::npos);
}

}  // namespace
