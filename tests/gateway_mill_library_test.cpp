// The gateway's settings library, comparisons, assignments and drift through its API, against
// real servers and a real SQLite file: versions saved from a machine read fresh, listed newest
// first, shown, exported and imported as the same document, hidden but kept; drift that
// appears when a value is changed at the machine (with the client library, directly on the
// server) and goes when it is changed back, in the drift route and the fleet list alike.
#include <gtest/gtest.h>

#include "client/document_json.h"
#include "client/settings_access.h"
#include "gateway/write_reason.h"
#include "tests/support/files.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/http_json.h"
#include "tests/support/mill_looms.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test_support::get_json;
using test_support::json_answer;
using test_support::post_json;

void set_main_on(test_support::loom_hall& hall, int index, int colour, int value) {
    auto conn = hall.server(index).connect();
    const ifc_client::change c{"main_on", value};
    ASSERT_TRUE(ifc_client::write_valves(conn, colour, {&c, 1}).ok());
    conn.disconnect();
}

class GatewayMillLibrary : public ::testing::Test {
  protected:
    void start(int looms) {
        hall = std::make_unique<test_support::loom_hall>(looms);
        std::vector<gateway::controller_address> controllers;
        for (int i = 0; i < looms; ++i) {
            controllers.push_back(test_support::local_controller(test_support::loom_hall::name(i),
                                                                 hall->server(i).port()));
        }
        gateway = std::make_unique<test_support::gateway_harness>(
            controllers, test_support::fast_polls(), gateway::http_settings{}, dir.path());
        ASSERT_TRUE(gateway->wait_polled());
        client = std::make_unique<httplib::Client>(gateway->client());
    }

    json_answer save(const std::string& controller, const std::string& style,
                     const std::string& note = "") {
        return post_json(*client, "/api/library",
                         {{"controller", controller}, {"style", style}, {"note", note}});
    }

    test_support::temp_dir dir;
    std::unique_ptr<test_support::loom_hall> hall;
    std::unique_ptr<test_support::gateway_harness> gateway;
    std::unique_ptr<httplib::Client> client;
};

TEST_F(GatewayMillLibrary, VersionsAreSavedListedShownExportedImportedAndHidden) {
    start(2);
    const auto first = save("loom1", "denim-12", "as delivered");
    ASSERT_EQ(first.status, 201) << first.text;
    EXPECT_EQ(first.body["label"], "denim-12 v1");
    EXPECT_EQ(first.body["source"], "loom1");
    EXPECT_EQ(first.body["saved_by"], "local");
    // The machine is read fresh: a change made a moment ago is in the next version.
    set_main_on(*hall, 0, 2, 111);
    const auto second = save("loom1", "denim-12");
    ASSERT_EQ(second.status, 201) << second.text;
    EXPECT_EQ(second.body["version"], 2);

    const auto list = get_json(*client, "/api/library");
    ASSERT_EQ(list.status, 200);
    ASSERT_EQ(list.body["versions"].size(), 2u);
    EXPECT_EQ(list.body["versions"][0]["version"], 2);  // newest first
    EXPECT_FALSE(list.body["versions"][0].contains("document"));
    const auto shown = get_json(*client, "/api/library/denim-12/2");
    ASSERT_EQ(shown.status, 200);
    EXPECT_EQ(shown.body["document"]["colours"][1]["valves"]["main_on"], 111);
    EXPECT_EQ(shown.body["note"], "");

    // Exported as a document; imported under another name, the same settings.
    auto exported = client->Get("/api/library/denim-12/2/document");
    ASSERT_TRUE(exported);
    EXPECT_EQ(exported->status, 200);
    EXPECT_EQ(exported->get_header_value("Content-Disposition"),
              "attachment; filename=\"denim-12-v2.json\"");
    const auto doc = ifc_client::parse_document(exported->body);
    ASSERT_TRUE(doc.ok()) << exported->body;
    EXPECT_EQ(doc->name, "denim-12");
    const auto imported = post_json(*client, "/api/library/import",
                                    {{"style", "denim-13"},
                                     {"note", "from hall 1"},
                                     {"document", json::parse(exported->body)}});
    ASSERT_EQ(imported.status, 201) << imported.text;
    EXPECT_EQ(imported.body["label"], "denim-13 v1");
    const auto same = get_json(*client, "/api/compare?a=denim-12/2&b=denim-13/1");
    ASSERT_EQ(same.status, 200) << same.text;
    EXPECT_TRUE(same.body["equal"]);

    // Hidden: no longer listed, still shown and compared; a hidden version is not assigned.
    const auto hidden = test_support::send_json(*client, "DELETE", "/api/library/denim-12/1", "");
    ASSERT_EQ(hidden.status, 200) << hidden.text;
    EXPECT_EQ(hidden.body["hidden"], true);
    EXPECT_EQ(get_json(*client, "/api/library/denim-12").body["versions"].size(), 1u);
    EXPECT_EQ(get_json(*client, "/api/library/denim-12?hidden=1").body["versions"].size(), 2u);
    EXPECT_EQ(get_json(*client, "/api/library?hidden=1").body["versions"].size(), 3u);
    EXPECT_EQ(get_json(*client, "/api/library/denim-12/1").status, 200);
    const auto refused =
        post_json(*client, "/api/assignments",
                  {{"controllers", {"loom1"}}, {"style", "denim-12"}, {"version", 1}});
    EXPECT_EQ(refused.status, 409) << refused.text;

    // Between a version and a machine: a's value is "from", the machine's "to".
    const auto differs = get_json(*client, "/api/compare?a=denim-12/2&b=@loom2");
    ASSERT_EQ(differs.status, 200) << differs.text;
    EXPECT_FALSE(differs.body["equal"]);
    EXPECT_EQ(differs.body["a"]["label"], "denim-12 v2");
    EXPECT_EQ(differs.body["b"]["label"], "loom2");
    ASSERT_EQ(differs.body["differences"].size(), 1u);
    EXPECT_EQ(
        differs.body["differences"][0],
        json(
            {{"section", "valves"}, {"colour", 2}, {"key", "main_on"}, {"from", 111}, {"to", 90}}));
}

TEST_F(GatewayMillLibrary, RequestsThatCannotBeAnsweredSayWhy) {
    start(1);
    ASSERT_EQ(save("loom1", "denim-12").status, 201);
    struct request_case {
        const char* method;
        const char* path;
        std::string body;
        int status;
    };
    const request_case cases[] = {
        {"GET", "/api/library/nothing", "", 404},
        {"GET", "/api/library/denim-12/9", "", 404},
        {"GET", "/api/library/denim-12/first", "", 404},
        {"GET", "/api/library/denim-12/9/document", "", 404},
        {"DELETE", "/api/library/denim-12/9", "", 404},
        {"POST", "/api/library", R"({"controller": "loom9", "style": "denim-12"})", 404},
        {"POST", "/api/library", R"({"controller": "loom1", "style": "denim 12"})", 400},
        {"POST", "/api/library", R"({"controller": "loom1"})", 400},
        {"POST", "/api/library", R"({"controller": "loom1", "style": 12})", 400},
        {"POST", "/api/library", R"([1, 2])", 400},
        {"POST", "/api/library/import", R"({"style": "denim-13"})", 400},
        {"POST", "/api/library/import", R"({"style": "denim-13", "document": {"format": 1}})", 400},
        {"POST", "/api/library", R"({"controller": "loom1", "style": "denim-12", "reason": 5})",
         400},
        // A reason is refused as the settings' writes refuse it, before anything is written.
        {"DELETE", "/api/library/denim-12/1", R"({"reason": 5})", 400},
        {"DELETE", "/api/library/denim-12/1",
         json{{"reason", std::string(gateway::max_reason_bytes + 1, 'x')}}.dump(), 400},
        {"DELETE", "/api/library/denim-12/1", "[]", 400},
        {"POST", "/api/assignments",
         R"({"controllers": ["loom1"], "style": "denim-12", "version": 1, "reason": true})", 400},
        {"GET", "/api/compare?a=denim-12/1", "", 400},
        {"GET", "/api/compare?a=denim-12/1&b=@loom9", "", 404},
        {"GET", "/api/compare?a=denim-12&b=@loom1", "", 400},
        {"POST", "/api/assignments", R"({"style": "denim-12", "version": 1})", 400},
        {"POST", "/api/assignments",
         R"({"controllers": ["loom1"], "group": "hall1", "style": "denim-12", "version": 1})", 400},
        {"POST", "/api/assignments", R"({"group": "hall9", "style": "denim-12", "version": 1})",
         404},
        {"POST", "/api/assignments", R"({"controllers": ["loom1"], "style": "denim-12"})", 400},
        {"POST", "/api/assignments",
         R"({"controllers": ["loom1"], "style": "denim-12", "version": 4})", 404},
        {"GET", "/api/controllers/loom9/drift", "", 404},
    };
    for (const auto& c : cases) {
        const auto a = c.method == std::string("GET")
                           ? get_json(*client, c.path)
                           : test_support::send_json(*client, c.method, c.path, c.body);
        EXPECT_EQ(a.status, c.status)
            << c.method << " " << c.path << " " << c.body << ": " << a.text;
        EXPECT_TRUE(a.body.contains("message")) << c.path << ": " << a.text;
    }
    EXPECT_EQ(get_json(*client, "/api/library/denim-12/1").body["hidden"], false);
    EXPECT_TRUE(get_json(*client, "/api/assignments").body["assignments"].empty());
}

TEST_F(GatewayMillLibrary, DriftAppearsWhenAMachineChangesAndGoesWhenItIsChangedBack) {
    start(2);
    ASSERT_EQ(save("loom1", "denim-12").status, 201);
    const auto assigned = post_json(*client, "/api/assignments",
                                    {{"controllers", {"loom1", "loom2"}},
                                     {"style", "denim-12"},
                                     {"version", 1},
                                     {"reason", "style change"}});
    ASSERT_EQ(assigned.status, 200) << assigned.text;
    ASSERT_EQ(assigned.body["assignments"].size(), 2u);
    EXPECT_EQ(assigned.body["assignments"][0]["label"], "denim-12 v1");
    EXPECT_EQ(get_json(*client, "/api/assignments").body["assignments"].size(), 2u);

    const auto drift_of = [&](const char* controller) {
        return get_json(*client, std::string("/api/controllers/") + controller + "/drift");
    };
    const auto matches = drift_of("loom1");
    ASSERT_EQ(matches.status, 200);
    EXPECT_EQ(matches.body["summary"], "matches denim-12 v1");
    // The list shows it as soon as the assignment is made.
    const auto listed_drift = [&](int index) {
        return get_json(*client, "/api/controllers").body[index]["drift"];
    };
    const json matching = {{"version", {{"name", "denim-12"}, {"version", 1}}}, {"differences", 0}};
    EXPECT_TRUE(test_support::wait_until([&] { return listed_drift(0) == matching; }, 5s))
        << listed_drift(0);

    // Changed at the machine, not through the gateway: the next poll shows it.
    set_main_on(*hall, 1, 2, 111);
    const auto differs = test_support::wait_json(
        *client, "/api/controllers/loom2/drift",
        [](const json_answer& a) { return a.body.value("values", 0) == 1; });
    ASSERT_TRUE(differs.body.is_object()) << differs.text;
    EXPECT_EQ(differs.body["summary"], "1 value differs from denim-12 v1") << differs.text;
    EXPECT_EQ(differs.body["differences"][0]["key"], "main_on");
    EXPECT_EQ(differs.body["differences"][0]["to"], 111);
    EXPECT_TRUE(test_support::wait_until([&] { return listed_drift(1)["differences"] == 1; }, 5s));
    const auto snapshot = get_json(*client, "/api/controllers/loom2");
    EXPECT_EQ(snapshot.body["drift"]["differences"], 1);
    EXPECT_EQ(drift_of("loom1").body["values"], 0);

    set_main_on(*hall, 1, 2, 90);
    const auto back = test_support::wait_json(
        *client, "/api/controllers/loom2/drift",
        [](const json_answer& a) { return a.body.value("values", 1) == 0; });
    EXPECT_EQ(back.body["summary"], "matches denim-12 v1");

    // Assignment removed: no drift at all.
    const auto removed =
        post_json(*client, "/api/assignments",
                  {{"controllers", {"loom2"}}, {"style", nullptr}, {"version", nullptr}});
    ASSERT_EQ(removed.status, 200) << removed.text;
    EXPECT_TRUE(removed.body["assignments"].empty());
    EXPECT_TRUE(drift_of("loom2").body.is_null());
    EXPECT_TRUE(test_support::wait_until([&] { return listed_drift(1).is_null(); }, 5s));
}

}  // namespace
