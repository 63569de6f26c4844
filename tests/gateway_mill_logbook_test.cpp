// The logbook through the gateway: a write of the API recorded with the name of the token that
// made it, its address and reason (the settings' writes and the library's saves, imports,
// hides and assignments alike); a change made at the machine (the client library, directly
// on the server) recorded as an outside change; filters, pages and the CSV and JSON lines
// exports. Named tokens: each writes under its name, a read-only one reads but cannot write.
#include <gtest/gtest.h>

#include <sstream>

#include "client/document_json.h"
#include "client/settings_access.h"
#include "gateway/mill/named_tokens.h"
#include "tests/support/files.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/http_json.h"
#include "tests/support/mill_looms.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test_support::get_json;
using test_support::json_answer;

const httplib::Headers anna = {{"Authorization", "Bearer anna-token"}};
const httplib::Headers mes = {{"Authorization", "Bearer mes-token"}};

class GatewayMillLogbook : public ::testing::Test {
  protected:
    void SetUp() override {
        gateway::http_settings http;
        auto tokens = gateway::mill::parse_token_file(
            "# people and systems\nanna anna-token\nmes mes-token read-only\n", "tokens");
        ASSERT_TRUE(tokens.ok());
        http.tokens = tokens.value();
        gateway = std::make_unique<test_support::gateway_harness>(
            std::vector{test_support::local_controller("loom1", hall.server(0).port())},
            test_support::fast_polls(), http, dir.path());
        ASSERT_TRUE(gateway->wait_polled());
        client = std::make_unique<httplib::Client>(gateway->client());
    }

    json_answer patch(const std::string& path, const json& body, const httplib::Headers& who) {
        return test_support::send_json(*client, "PATCH", path, body.dump(), who);
    }

    // The logbook's entries for query, once there are count of them.
    json entries(const std::string& query, std::size_t count) {
        return test_support::wait_json(
                   *client, "/api/logbook?" + query,
                   [count](const json_answer& a) { return a.body["entries"].size() >= count; })
            .body["entries"];
    }

    test_support::loom_hall hall{1};
    test_support::temp_dir dir;
    std::unique_ptr<test_support::gateway_harness> gateway;
    std::unique_ptr<httplib::Client> client;
};

TEST_F(GatewayMillLogbook, NamedTokensWriteUnderTheirNamesAndReadOnlyOnesCannot) {
    const auto written = patch("/api/controllers/loom1/valves/2",
                               {{"main_on", 111}, {"reason", "left edge fault"}}, anna);
    ASSERT_EQ(written.status, 200) << written.text;
    const auto refused = patch("/api/controllers/loom1/valves/2", {{"main_on", 112}}, mes);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body["message"], "the token mes may read but not write");
    EXPECT_EQ(patch("/api/controllers/loom1/valves/2", {{"main_on", 112}}, {}).status, 401);
    EXPECT_EQ(patch("/api/controllers/loom1/valves/2", {{"main_on", 112}},
                    {{"Authorization", "Bearer anna-tokem"}})
                  .status,
              401);
    EXPECT_EQ(test_support::post_json(*client, "/api/library",
                                      {{"controller", "loom1"}, {"style", "denim-12"}}, mes)
                  .status,
              403);
    // A read needs no token; the read-only token reads too.
    EXPECT_EQ(get_json(*client, "/api/logbook", mes).status, 200);
    const auto too_long = patch("/api/controllers/loom1/valves/2",
                                {{"main_on", 113}, {"reason", std::string(501, 'x')}}, anna);
    EXPECT_EQ(too_long.status, 400) << too_long.text;

    const json found = entries("controller=loom1&section=valves", 1);
    ASSERT_EQ(found.size(), 1u) << found.dump();
    EXPECT_EQ(found[0]["who"], "anna");
    EXPECT_EQ(found[0]["origin"], "gateway");
    EXPECT_EQ(found[0]["address"], "127.0.0.1");
    EXPECT_EQ(found[0]["reason"], "left edge fault");
    EXPECT_EQ(found[0]["colour"], 2);
    EXPECT_EQ(found[0]["key"], "main_on");
    EXPECT_EQ(found[0]["old_value"], "90");
    EXPECT_EQ(found[0]["new_value"], "111");
    // Saving a version goes in the logbook under the name too.
    ASSERT_EQ(test_support::post_json(*client, "/api/library",
                                      {{"controller", "loom1"}, {"style", "denim-12"}}, anna)
                  .status,
              201);
    EXPECT_EQ(entries("section=library&who=anna", 1).size(), 1u);
}

TEST_F(GatewayMillLogbook, TheLibrarysWritesKeepTheirReasons) {
    struct write_case {
        const char* method;
        const char* path;
        json body;
        // The logbook entry the write makes.
        const char* section;
        const char* key;  // URL-encoded
        const char* controller;
        const char* new_value;
    };
    const json document =
        json::parse(ifc_client::format_document(test_support::default_settings()));
    const write_case cases[] = {
        // A reason given wins over the note, which stands for it otherwise.
        {"POST",
         "/api/library",
         {{"controller", "loom1"},
          {"style", "denim-12"},
          {"note", "as delivered"},
          {"reason", "new yarn lot"}},
         "library",
         "denim-12%20v1",
         "",
         "saved"},
        {"POST",
         "/api/library/import",
         {{"style", "denim-13"}, {"document", document}, {"reason", "from hall 1"}},
         "library",
         "denim-13%20v1",
         "",
         "saved"},
        {"POST",
         "/api/assignments",
         {{"controllers", {"loom1"}},
          {"style", "denim-12"},
          {"version", 1},
          {"reason", "style change"}},
         "assignment",
         "version",
         "loom1",
         "denim-12 v1"},
        {"DELETE",
         "/api/library/denim-13/1",
         {{"reason", "wrong yarn count"}},
         "library",
         "denim-13%20v1",
         "",
         "hidden"},
    };
    for (const auto& c : cases) {
        const auto answer = test_support::send_json(*client, c.method, c.path, c.body.dump(), anna);
        ASSERT_LT(answer.status, 300) << c.method << " " << c.path << ": " << answer.text;
        const json found = entries(std::string("section=") + c.section + "&key=" + c.key +
                                       "&who=anna&controller=" + c.controller,
                                   1);
        const auto entry = std::find_if(found.begin(), found.end(), [&](const json& e) {
            return e["new_value"] == c.new_value;
        });
        ASSERT_NE(entry, found.end()) << c.method << " " << c.path << ": " << found.dump();
        EXPECT_EQ((*entry)["reason"], c.body["reason"]) << c.method << " " << c.path;
        EXPECT_EQ((*entry)["address"], "127.0.0.1");
    }
}

TEST_F(GatewayMillLogbook, OutsideChangesFiltersPagesAndExports) {
    ASSERT_EQ(patch("/api/controllers/loom1/targets/1", {{"to", 95}}, anna).status, 200);
    {
        // At the machine, not through the gateway.
        auto conn = hall.server(0).connect();
        const ifc_client::change c{"main_on", 100};
        ASSERT_TRUE(ifc_client::write_valves(conn, 3, {&c, 1}).ok());
        conn.disconnect();
    }
    const json outside = entries("origin=outside", 1);
    ASSERT_EQ(outside.size(), 1u) << outside.dump();
    EXPECT_EQ(outside[0]["controller"], "loom1");
    EXPECT_EQ(outside[0]["colour"], 3);
    EXPECT_EQ(outside[0]["new_value"], "100");
    EXPECT_FALSE(outside[0]["since"].is_null());
    EXPECT_TRUE(outside[0]["who"].is_null() || outside[0]["who"] == "") << outside[0].dump();

    const json both = entries("controller=loom1&order=oldest", 2);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0]["origin"], "gateway");
    EXPECT_EQ(both[1]["origin"], "outside");
    EXPECT_EQ(entries("who=anna", 1).size(), 1u);
    EXPECT_EQ(entries("key=main_on", 1).size(), 1u);
    EXPECT_TRUE(
        get_json(*client, "/api/logbook?until=2020-01-01T00:00:00Z").body["entries"].empty());
    EXPECT_TRUE(get_json(*client, "/api/logbook?from=4102444800000").body["entries"].empty());

    // Page by page, newest first: each entry once.
    const auto first = get_json(*client, "/api/logbook?controller=loom1&limit=1");
    ASSERT_EQ(first.body["entries"].size(), 1u);
    ASSERT_TRUE(first.body["next"].is_string()) << first.text;
    EXPECT_EQ(first.body["entries"][0]["origin"], "outside");
    const auto second = get_json(*client, "/api/logbook?controller=loom1&limit=1&after=" +
                                              first.body["next"].get<std::string>());
    ASSERT_EQ(second.body["entries"].size(), 1u);
    EXPECT_EQ(second.body["entries"][0]["origin"], "gateway");

    auto csv = client->Get("/api/logbook.csv?controller=loom1&order=oldest");
    ASSERT_TRUE(csv);
    EXPECT_EQ(csv->status, 200);
    EXPECT_EQ(csv->get_header_value("Content-Type"), "text/csv; charset=utf-8");
    EXPECT_TRUE(csv->body.starts_with(
        "id,at,since,controller,section,colour,key,old_value,new_value,origin,who,address,reason,"
        "rollout\r\n"))
        << csv->body;
    EXPECT_EQ(std::count(csv->body.begin(), csv->body.end(), '\n'), 3);
    EXPECT_NE(csv->body.find(",anna,127.0.0.1,"), std::string::npos) << csv->body;

    auto lines = client->Get("/api/logbook.jsonl?controller=loom1&order=oldest");
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->get_header_value("Content-Type"), "application/jsonl");
    std::istringstream in(lines->body);
    std::vector<json> parsed;
    for (std::string line; std::getline(in, line);)
        parsed.push_back(json::parse(line));
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0]["who"], "anna");
    EXPECT_EQ(parsed[1]["origin"], "outside");

    for (const char* bad :
         {"limit=0", "limit=1001", "order=up", "from=yesterday", "after=zz", "origin=elsewhere"}) {
        const auto a = get_json(*client, std::string("/api/logbook?") + bad);
        EXPECT_EQ(a.status, 400) << bad << ": " << a.text;
    }
}

}  // namespace
