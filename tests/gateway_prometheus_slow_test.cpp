// A real Prometheus server scraping a real gateway: every metrics choice passes promtool's
// checks, in both modes, and one query per controller (ifc_up{controller="loom1"}) answers
// both the gateway's own scrape and Prometheus's probe of the same controller through /probe,
// with the relabelling the guide shows. Needs Debian's prometheus package
// (installed by scripts/install-deps.sh); without it the test fails under CI and is skipped
// elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <thread>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tests/support/files.h"
#include "tests/support/server_process.h"
#include "tests/support/spawned_program.h"

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

bool under_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0';
}

std::string tools_missing() {
    std::string missing;
    for (const char* tool : {"prometheus", "promtool"}) {
        if (test_support::find_in_path(tool).empty()) missing += std::string(" ") + tool;
    }
    return missing;
}

// The values of label in the query's answer, sorted, for the samples whose value is value
// (any value when empty).
std::vector<std::string> label_values(const std::string& answer, const std::string& label,
                                      const std::string& value = "1") {
    std::vector<std::string> found;
    const json parsed = json::parse(answer, nullptr, false);
    if (parsed.is_discarded() || parsed.value("status", "") != "success") return found;
    for (const auto& sample : parsed["data"]["result"]) {
        if ((value.empty() || sample["value"][1] == value) && sample["metric"].contains(label)) {
            found.push_back(sample["metric"][label]);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string query_path(const std::string& query) {
    return "/api/v1/query?query=" + httplib::detail::encode_query_param(query);
}

TEST(GatewayPrometheus, EveryChoicePassesPromtoolAndBothModesLabelAControllerAlike) {
    if (const auto missing = tools_missing(); !missing.empty()) {
        if (under_ci()) FAIL() << "missing:" << missing << " (scripts/install-deps.sh installs it)";
        GTEST_SKIP() << "missing:" << missing << " (scripts/install-deps.sh installs it)";
    }
    test_support::server_process loom1;
    test_support::server_process loom2;
    test_support::temp_dir dir;
    const auto gateway_port = test_support::free_port();
    const std::string gateway_address = "127.0.0.1:" + std::to_string(gateway_port);
    const std::string loom1_address = "127.0.0.1:" + std::to_string(loom1.port());
    const std::string loom2_address = "127.0.0.1:" + std::to_string(loom2.port());
    test_support::spawned_program gateway(
        IFC_GATEWAY_PATH, dir.path(),
        {"--listen", gateway_address, "--poll", "0.5", "--controller", "loom1=" + loom1_address,
         "--controller", "loom2=" + loom2_address});
    ASSERT_TRUE(gateway.wait_for_stdout("controller loom2", 10s)) << gateway.stdout_text();
    httplib::Client to_gateway("127.0.0.1", gateway_port);

    // promtool's checks of every choice, the fleet's exposition and a probe's.
    for (const std::string choice : {"basic", "settings", "full"}) {
        for (const std::string& path :
             {"/metrics?metrics=" + choice,
              "/probe?target=" + loom1_address + "&name=loom1&metrics=" + choice,
              "/probe?target=" + loom1_address + "&metrics=" + choice}) {
            auto r = to_gateway.Get(path.c_str());
            ASSERT_TRUE(r);
            ASSERT_EQ(r->status, 200) << path;
            test_support::write_file(dir.file("exposition.txt"), r->body);
            const auto checked = test_support::run_command(
                {"sh", "-c", "promtool check metrics < '" + dir.file("exposition.txt") + "'"});
            EXPECT_EQ(checked.status, 0) << path << ":\n" << checked.output;
            EXPECT_EQ(checked.output, "") << path;
        }
    }

    // The guide's three jobs: the gateway, its set-points in a job that keeps only them, and
    // the probes with NAME=HOST:PORT targets.
    const auto prometheus_port = test_support::free_port();
    std::string config = R"yaml(global:
  scrape_interval: 1s
scrape_configs:
  - job_name: gateway
    static_configs:
      - targets: ["GATEWAY"]
  - job_name: gateway-settings
    params:
      metrics: [settings]
    static_configs:
      - targets: ["GATEWAY"]
    metric_relabel_configs:
      - source_labels: [__name__]
        regex: ifc_(device_selected|valve_angle_degrees)
        action: keep
  - job_name: looms
    metrics_path: /probe
    static_configs:
      - targets: ["loom1=LOOM1", "loom2=LOOM2"]
    relabel_configs:
      - source_labels: [__address__]
        regex: "(.+)=(.+)"
        target_label: __param_name
        replacement: "$1"
      - source_labels: [__address__]
        regex: "(.+)=(.+)"
        target_label: __param_target
        replacement: "$2"
      - source_labels: [__param_target]
        target_label: instance
      - target_label: __address__
        replacement: GATEWAY
)yaml";
    const std::vector<std::pair<std::string, std::string>> addresses{
        {"GATEWAY", gateway_address}, {"LOOM1", loom1_address}, {"LOOM2", loom2_address}};
    for (const auto& [placeholder, address] : addresses) {
        for (auto at = config.find(placeholder); at != std::string::npos;
             at = config.find(placeholder)) {
            config.replace(at, placeholder.size(), address);
        }
    }
    test_support::write_file(dir.file("prometheus.yml"), config);
    const auto config_checked =
        test_support::run_command({"promtool", "check", "config", dir.file("prometheus.yml")});
    ASSERT_EQ(config_checked.status, 0) << config_checked.output;
    test_support::spawned_program prometheus(
        test_support::find_in_path("prometheus"), dir.path(),
        {"--config.file=" + dir.file("prometheus.yml"), "--storage.tsdb.path=" + dir.file("data"),
         "--web.listen-address=127.0.0.1:" + std::to_string(prometheus_port)});

    // One query per controller, the same in both modes, answers both jobs; the settings job
    // holds the set-points and nothing else.
    httplib::Client to_prometheus("127.0.0.1", prometheus_port);
    const std::vector<std::string> both{"gateway", "looms"};
    const std::vector<std::string> names{"loom1", "loom2"};
    std::map<std::string, std::vector<std::string>> jobs;
    std::vector<std::string> kept, dropped{"?"};
    const auto done = [&] {
        return jobs["loom1"] == both && jobs["loom2"] == both && kept == names && dropped.empty();
    };
    const auto end = std::chrono::steady_clock::now() + 40s;
    while (std::chrono::steady_clock::now() < end && !done()) {
        std::this_thread::sleep_for(500ms);
        for (const std::string name : {"loom1", "loom2"}) {
            if (auto r = to_prometheus.Get(query_path("ifc_up{controller=\"" + name + "\"}"))) {
                jobs[name] = label_values(r->body, "job");
            }
        }
        if (auto r = to_prometheus.Get(query_path(
                "count by (controller) (ifc_valve_angle_degrees{job=\"gateway-settings\"})"))) {
            kept = label_values(r->body, "controller", "");
        }
        if (auto r = to_prometheus.Get(query_path("ifc_up{job=\"gateway-settings\"}"))) {
            dropped = label_values(r->body, "controller", "");
        }
    }
    EXPECT_EQ(jobs["loom1"], both) << prometheus.stderr_text().substr(0, 2000);
    EXPECT_EQ(jobs["loom2"], both);
    EXPECT_EQ(kept, names);
    EXPECT_TRUE(dropped.empty());
}

}  // namespace
