// The recipes of docs/proxy.md: each rules file in docs/proxy-rules is shown in the guide as it
// is, is sound, and does to a terminal against a real controller what its recipe says.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "proxy/rules.h"
#include "tests/support/files.h"
#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"
#include "tests/support/tool_process.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;
using nlohmann::json;

const std::string rules_dir = std::string(IFC_SOURCE_DIR) + "/docs/proxy-rules";
const std::string guide = std::string(IFC_SOURCE_DIR) + "/docs/proxy.md";
const std::string block_start = "```json docs/proxy-rules/";

// The rules blocks of the guide: file name -> the block's text.
std::map<std::string, std::string> blocks_of_the_guide() {
    std::map<std::string, std::string> blocks;
    const auto lines = test_support::lines_of(test_support::read_file(guide).value_or(""));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].starts_with(block_start)) continue;
        const std::string name = lines[i].substr(block_start.size());
        std::string text;
        for (++i; i < lines.size() && lines[i] != "```"; ++i)
            text += lines[i] + "\n";
        blocks[name] = text;
    }
    return blocks;
}

std::vector<std::string> rules_files() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(rules_dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Recipes, EveryRulesFileIsShownInTheGuideAsItIs) {
    const auto blocks = blocks_of_the_guide();
    std::vector<std::string> shown;
    for (const auto& [name, text] : blocks) {
        shown.push_back(name);
        EXPECT_EQ(text, test_support::read_file(rules_dir + "/" + name).value_or("(no file)"))
            << name;
    }
    EXPECT_EQ(shown, rules_files());
}

TEST(Recipes, EveryRulesFileIsSound) {
    for (const std::string& name : rules_files()) {
        const auto run = test_support::run_proxy({"--check-rules", rules_dir + "/" + name});
        EXPECT_EQ(run.status, 0) << run.output;
    }
}

// A real controller and the proxy with a recipe's rules, seed 1.
struct recipe_run {
    explicit recipe_run(const std::string& name)
        : proxy(server.port(), test_support::proxy_options{
                                   test_support::read_file(rules_dir + "/" + name).value_or(""),
                                   {"--seed", "1"}}) {}

    ifc_client::connection connect(std::chrono::milliseconds timeout = 5000ms) const {
        auto endpoint = proxy.endpoint();
        endpoint.timeout = timeout;
        auto opened = ifc_client::connection::open(endpoint);
        if (!opened) throw std::runtime_error("cannot connect: " + opened.failure().detail);
        return std::move(opened.value());
    }
    json request(std::size_t n) const {
        const auto lines = proxy.wait_for("request", n);
        return lines.size() >= n ? lines[n - 1] : json::object();
    }
    // The faults of the nth request line that were applied.
    std::size_t applied(std::size_t n) const {
        const json line = request(n);
        if (!line.contains("faults")) return 0;
        return static_cast<std::size_t>(
            std::count_if(line["faults"].begin(), line["faults"].end(),
                          [](const json& f) { return f.value("applied", false); }));
    }

    test_support::server_process server;
    test_support::proxy_process proxy;
};

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A valve line longer than a chunk, of keys the command skips: no file is written for it.
std::string long_valve_line() {
    std::string line;
    while (line.size() < 1100)
        line += "sub19_on:10 ";
    return line;
}

using scenario = std::function<void(recipe_run&)>;

// What each recipe's section of the guide promises, acted out.
const std::map<std::string, scenario> scenarios{
    {"slow-controller.json",
     [](recipe_run& r) {
         auto c = r.connect();
         for (std::size_t n = 1; n <= 3; ++n) {
             const auto start = clock_type::now();
             ASSERT_TRUE(c.get("IFC_get_stat").ok());
             const double drawn = r.request(n)["faults"][0]["seconds"].get<double>();
             EXPECT_GE(drawn, 0.05);
             EXPECT_LE(drawn, 0.5);
             EXPECT_GE(seconds_since(start), drawn - 0.001);
         }
     }},
    {"cut-answer.json",
     [](recipe_run& r) {
         auto c = r.connect();
         ASSERT_TRUE(c.get("IFC_get_stat").ok());
         ASSERT_TRUE(c.get("IFC_get_stat").ok());
         auto third = c.get("IFC_get_stat");
         EXPECT_EQ(third.code(), ifc_client::errc::closed);
         EXPECT_EQ(third.failure().detail, "connection reset");
         auto again = r.connect();
         EXPECT_TRUE(again.get("IFC_get_stat").ok());
         EXPECT_EQ(r.request(3)["outcome"], "cut");
         EXPECT_EQ(r.applied(3), 1u);
     }},
    {"lost-write.json",
     [](recipe_run& r) {
         auto c = r.connect();
         EXPECT_EQ(c.put("IFC_set_to_tw_2", "to:95 tw:245").code(), ifc_client::errc::closed);
         auto again = r.connect();
         EXPECT_EQ(again.get("IFC_get_Tot_Twt_2").value(), "to:95 tw:245 ");
         EXPECT_EQ(r.request(1)["outcome"], "cut");
     }},
    {"refused-write.json",
     [](recipe_run& r) {
         auto c = r.connect();
         EXPECT_TRUE(c.put("MLETOFF_set_btnstat", "1").ok());
         EXPECT_EQ(c.put("MLETOFF_set_btnstat", "2").code(), ifc_client::errc::rejected);
         EXPECT_TRUE(c.put("MLETOFF_set_btnstat", "3").ok());
         EXPECT_EQ(r.request(2)["outcome"], "err");
         EXPECT_EQ(r.applied(2), 1u);
     }},
    {"garbled-answer.json",
     [](recipe_run& r) {
         std::string clean;
         {
             auto direct = r.server.connect();
             clean = direct.get("IFC_get_on_off_1").value();
         }
         auto c = r.connect();
         std::size_t garbled = 0;
         for (std::size_t n = 1; n <= 12; ++n) {
             const std::string answer = c.get("IFC_get_on_off_1").value();
             std::vector<std::size_t> changed;
             for (std::size_t i = 0; i < clean.size(); ++i) {
                 if (answer[i] != clean[i]) changed.push_back(i);
             }
             EXPECT_EQ(changed.size(), r.applied(n));
             if (changed.empty()) continue;
             ++garbled;
             EXPECT_EQ(r.request(n)["faults"][0]["position"], changed[0]);
         }
         EXPECT_GE(garbled, 1u);
         EXPECT_LT(garbled, 12u);
     }},
    {"lost-fin.json",
     [](recipe_run& r) {
         auto c = r.connect(1500ms);
         EXPECT_EQ(c.put("MLETOFF_set_btnstat", "1").code(), ifc_client::errc::timeout);
         auto again = r.connect();
         EXPECT_TRUE(again.get("IFC_get_stat").ok());
         EXPECT_EQ(r.request(1)["outcome"], "ok");
         EXPECT_EQ(r.applied(1), 1u);
     }},
    {"slow-link.json",
     [](recipe_run& r) {
         auto c = r.connect();
         const auto start = clock_type::now();
         ASSERT_TRUE(c.get("IFC_get_on_off_1").ok());
         EXPECT_GE(seconds_since(start), 0.55);
         ASSERT_TRUE(c.get("IFC_get_stat").ok());
         EXPECT_EQ(r.applied(1), 1u);
         EXPECT_EQ(r.applied(2), 0u);  // only valve answers go slowly
     }},
    {"controller-away.json",
     [](recipe_run& r) {
         auto c = r.connect();
         for (int i = 0; i < 4; ++i)
             ASSERT_TRUE(c.get("IFC_get_stat").ok());
         EXPECT_EQ(c.get("IFC_get_stat").code(), ifc_client::errc::closed);
         EXPECT_EQ(ifc_client::connection::open(r.proxy.endpoint()).code(),
                   ifc_client::errc::refused);
         ASSERT_EQ(r.proxy.wait_for("listen", 1, 5s).size(), 1u);
         auto again = r.connect();
         EXPECT_TRUE(again.get("IFC_get_stat").ok());
         EXPECT_EQ(r.applied(5), 2u);
     }},
    {"stalled-valve-write.json",
     [](recipe_run& r) {
         auto c = r.connect();
         for (int colour = 1; colour <= 3; ++colour) {
             const auto start = clock_type::now();
             ASSERT_TRUE(c.put("IFC_set_on_off_" + std::to_string(colour), long_valve_line()).ok());
             if (colour == 3) {
                 EXPECT_GE(seconds_since(start), 1.95);
             }
         }
         EXPECT_EQ(r.applied(1), 0u);
         EXPECT_EQ(r.applied(2), 0u);
         EXPECT_EQ(r.applied(3), 1u);
     }},
};

class Recipe : public testing::TestWithParam<std::string> {};

TEST_P(Recipe, DoesWhatItsSectionSays) {
    recipe_run run(GetParam());
    scenarios.at(GetParam())(run);
}

// The recipes whose scenario waits out a controller's limit are in proxy_docs_slow_test.
const std::vector<std::string> slow_recipes{"no-answer.json"};

std::vector<std::string> fast_recipes() {
    std::vector<std::string> names;
    for (const auto& [name, run] : scenarios)
        names.push_back(name);
    return names;
}

TEST(Recipes, EachHasAScenario) {
    std::vector<std::string> covered = fast_recipes();
    covered.insert(covered.end(), slow_recipes.begin(), slow_recipes.end());
    std::sort(covered.begin(), covered.end());
    EXPECT_EQ(covered, rules_files());
}

INSTANTIATE_TEST_SUITE_P(Docs, Recipe, testing::ValuesIn(fast_recipes()), [](const auto& info) {
    std::string name = info.param.substr(0, info.param.find('.'));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

}  // namespace
