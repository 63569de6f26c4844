// A real Prometheus server scraping a real gateway: the exposition passes promtool's checks,
// and queries return each controller's ifc_up, both from the gateway's own list of controllers
// and from Prometheus's list of targets through /probe. Needs Debian's prometheus package
// (installed by scripts/install-deps.sh); without it the test fails under CI and is skipped
// elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

// The instances (or controllers) whose ifc_up is 1 in the query's answer.
std::vector<std::string> up_labels(const std::string& answer, const std::string& label) {
    std::vector<std::string> names;
    const json parsed = json::parse(answer, nullptr, false);
    if (parsed.is_discarded() || parsed.value("status", "") != "success") return names;
    for (const auto& sample : parsed["data"]["result"]) {
        if (sample["value"][1] == "1" && sample["metric"].contains(label)) {
            names.push_back(sample["metric"][label]);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(GatewayPrometheus, ScrapesEachControllersUpDirectlyAndThroughProbe) {
    if (const auto missing = tools_missing(); !missing.empty()) {
        if (under_ci()) FAIL() << "missing:" << missing << " (scripts/install-deps.sh installs it)";
        GTEST_SKIP() << "missing:" << missing << " (scripts/install-deps.sh installs it)";
    }
    test_support::server_process loom1;
    test_support::server_process loom2;
    test_support::temp_dir dir;
    const auto gateway_port = test_support::free_port();
    const std::string gateway_address = "127.0.0.1:" + std::to_string(gateway_port);
    test_support::spawned_program gateway(
        IFC_GATEWAY_PATH, dir.path(),
        {"--listen", gateway_address, "--poll", "0.5", "--controller",
         "loom1=127.0.0.1:" + std::to_string(loom1.port()), "--controller",
         "loom2=127.0.0.1:" + std::to_string(loom2.port())});
    ASSERT_TRUE(gateway.wait_for_stdout("controller loom2", 10s)) << gateway.stdout_text();
    httplib::Client to_gateway("127.0.0.1", gateway_port);

    // promtool's checks of both expositions, the fleet's and a probe's.
    for (const std::string& path :
         {std::string("/metrics"), "/probe?target=127.0.0.1:" + std::to_string(loom1.port())}) {
        auto r = to_gateway.Get(path.c_str());
        ASSERT_TRUE(r);
        test_support::write_file(dir.file("exposition.txt"), r->body);
        const auto checked = test_support::run_command(
            {"sh", "-c", "promtool check metrics < '" + dir.file("exposition.txt") + "'"});
        EXPECT_EQ(checked.status, 0) << path << ":\n" << checked.output;
        EXPECT_EQ(checked.output, "") << path;
    }

    const auto prometheus_port = test_support::free_port();
    test_support::write_file(dir.file("prometheus.yml"),
                             "global:\n"
                             "  scrape_interval: 1s\n"
                             "scrape_configs:\n"
                             "  - job_name: gateway\n"
                             "    static_configs:\n"
                             "      - targets: ['" +
                                 gateway_address +
                                 "']\n"
                                 "  - job_name: looms\n"
                                 "    metrics_path: /probe\n"
                                 "    static_configs:\n"
                                 "      - targets: ['127.0.0.1:" +
                                 std::to_string(loom1.port()) +
                                 "', '127.0.0.1:" + std::to_string(loom2.port()) +
                                 "']\n"
                                 "    relabel_configs:\n"
                                 "      - source_labels: [__address__]\n"
                                 "        target_label: __param_target\n"
                                 "      - source_labels: [__param_target]\n"
                                 "        target_label: instance\n"
                                 "      - target_label: __address__\n"
                                 "        replacement: " +
                                 gateway_address + "\n");
    const auto config_checked =
        test_support::run_command({"promtool", "check", "config", dir.file("prometheus.yml")});
    ASSERT_EQ(config_checked.status, 0) << config_checked.output;
    test_support::spawned_program prometheus(
        test_support::find_in_path("prometheus"), dir.path(),
        {"--config.file=" + dir.file("prometheus.yml"), "--storage.tsdb.path=" + dir.file("data"),
         "--web.listen-address=127.0.0.1:" + std::to_string(prometheus_port)});

    httplib::Client to_prometheus("127.0.0.1", prometheus_port);
    std::vector<std::string> controllers;
    std::vector<std::string> probed;
    const std::vector<std::string> names{"loom1", "loom2"};
    const std::vector<std::string> targets{"127.0.0.1:" + std::to_string(loom1.port()),
                                           "127.0.0.1:" + std::to_string(loom2.port())};
    auto sorted_targets = targets;
    std::sort(sorted_targets.begin(), sorted_targets.end());
    const auto end = std::chrono::steady_clock::now() + 40s;
    while (std::chrono::steady_clock::now() < end &&
           (controllers != names || probed != sorted_targets)) {
        std::this_thread::sleep_for(500ms);
        if (auto r = to_prometheus.Get("/api/v1/query?query=ifc_up%7Bjob%3D%22gateway%22%7D")) {
            controllers = up_labels(r->body, "controller");
        }
        if (auto r = to_prometheus.Get("/api/v1/query?query=ifc_up%7Bjob%3D%22looms%22%7D")) {
            probed = up_labels(r->body, "instance");
        }
    }
    EXPECT_EQ(controllers, names) << prometheus.stderr_text().substr(0, 2000);
    EXPECT_EQ(probed, sorted_targets);
}

}  // namespace
