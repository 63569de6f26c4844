// What /metrics and /probe carry, against a real server: each --metrics choice holds what the
// guide's sizing table says (and everything of the smaller choices), /probe labels a
// controller as /metrics does, the histograms are cumulative and count every poll and every
// hold of the controller's slot, and drift shows only for a controller compared with its
// version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "gateway/duration_histogram.h"
#include "gateway/metrics.h"
#include "tests/support/files.h"
#include "tests/support/gateway_harness.h"
#include "tests/support/server_process.h"
#include "tests/support/wait.h"

namespace {

using test_support::local_controller;

struct sample {
    std::string series;  // name{labels}
    std::string name;
    double value = 0;
    std::size_t bytes = 0;  // of its line
};

std::vector<sample> samples_of(const std::string& text) {
    std::vector<sample> samples;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.starts_with('#')) continue;
        const auto blank = line.rfind(' ');
        sample s;
        s.series = line.substr(0, blank);
        s.name = s.series.substr(0, s.series.find('{'));
        s.value = std::stod(line.substr(blank + 1));
        s.bytes = line.size() + 1;
        samples.push_back(s);
    }
    return samples;
}

std::set<std::string> series_of(const std::vector<sample>& samples, const std::string& label) {
    std::set<std::string> series;
    for (const auto& s : samples) {
        if (label.empty() ? s.series.find("controller=") == std::string::npos
                          : s.series.find(label) != std::string::npos) {
            series.insert(s.series);
        }
    }
    return series;
}

std::string body(const httplib::Result& r) {
    EXPECT_TRUE(r);
    if (!r) return "";
    EXPECT_EQ(r->status, 200) << r->body;
    return r->body;
}

// A row of the guide's sizing table.
struct sizing_row {
    std::size_t gateway_series = 0;
    std::size_t probe_series = 0;
    double kib = 0;
    std::size_t fleet_of_500 = 0;
};

std::size_t digits_of(const std::string& cell) {
    std::string digits;
    for (char c : cell)
        if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
    return digits.empty() ? 0 : std::stoul(digits);
}

std::map<std::string, sizing_row> sizing_table(const std::string& guide) {
    std::map<std::string, sizing_row> rows;
    std::istringstream lines(guide);
    for (std::string line; std::getline(lines, line);) {
        for (std::string_view choice : gateway::metrics_detail_names) {
            if (!line.starts_with("| `" + std::string(choice) + "` |")) continue;
            std::vector<std::string> cells;
            std::istringstream row(line);
            for (std::string cell; std::getline(row, cell, '|');)
                cells.push_back(cell);
            if (cells.size() < 6) continue;
            const auto kib_at = cells[4].find_first_of("0123456789");
            rows[std::string(choice)] =
                sizing_row{digits_of(cells[2]), digits_of(cells[3]),
                           kib_at == std::string::npos ? 0 : std::stod(cells[4].substr(kib_at)),
                           digits_of(cells[5])};
        }
    }
    return rows;
}

std::size_t gateway_own_series(const std::string& guide) {
    const std::string marker = "The gateway adds ";
    const auto at = guide.find(marker);
    return at == std::string::npos ? 0 : std::stoul(guide.substr(at + marker.size()));
}

TEST(GatewayMetrics, EachChoiceCarriesWhatTheGuidesSizingTableSays) {
    const auto guide = test_support::read_file(IFC_SOURCE_DIR "/docs/gateway.md");
    ASSERT_TRUE(guide);
    const auto table = sizing_table(*guide);
    ASSERT_EQ(table.size(), gateway::metrics_detail_names.size());

    test_support::server_process server;
    test_support::gateway_harness gateway({local_controller("loom1", server.port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    auto client = gateway.client();
    const std::string label = "controller=\"loom1\"";
    const std::string probe =
        "/probe?target=127.0.0.1:" + std::to_string(server.port()) + "&name=loom1&metrics=";

    std::set<std::string> smaller, smaller_probed;
    for (std::string_view choice : gateway::metrics_detail_names) {
        SCOPED_TRACE(choice);
        const auto fleet =
            samples_of(body(client.Get(("/metrics?metrics=" + std::string(choice)).c_str())));
        const auto probed = samples_of(body(client.Get((probe + std::string(choice)).c_str())));
        const auto series = series_of(fleet, label);
        const auto probed_series = series_of(probed, label);
        std::size_t bytes = 0;
        for (const auto& s : fleet)
            if (s.series.find(label) != std::string::npos) bytes += s.bytes;

        const sizing_row& row = table.at(std::string(choice));
        EXPECT_EQ(series.size(), row.gateway_series);
        EXPECT_EQ(probed_series.size(), row.probe_series);
        EXPECT_EQ(probed_series.size(), probed.size()) << "a probed sample without the label";
        EXPECT_EQ(row.fleet_of_500, 500 * row.gateway_series);
        EXPECT_NEAR(static_cast<double>(bytes) / 1024, row.kib, row.kib / 10) << bytes << " bytes";
        EXPECT_EQ(series_of(fleet, "").size(), gateway_own_series(*guide));
        std::cout << choice << ": " << series.size() << " series, " << probed_series.size()
                  << " probed, " << bytes << " bytes, " << series_of(fleet, "").size()
                  << " of the gateway\n";

        // Each choice carries everything of the smaller ones.
        EXPECT_TRUE(std::includes(series.begin(), series.end(), smaller.begin(), smaller.end()));
        EXPECT_TRUE(std::includes(probed_series.begin(), probed_series.end(),
                                  smaller_probed.begin(), smaller_probed.end()));
        smaller = series;
        smaller_probed = probed_series;
        // One label scheme: what a probe answers of a controller, /metrics names alike (the
        // probe's own duration aside).
        for (const auto& s : probed_series) {
            if (s.starts_with("ifc_probe_duration_seconds")) continue;
            EXPECT_TRUE(series.contains(s)) << s;
        }
    }
    // Without ?metrics= the gateway's own choice, basic by default.
    const auto fleet = samples_of(body(client.Get("/metrics")));
    EXPECT_EQ(series_of(fleet, label).size(), table.at("basic").gateway_series);
}

struct histogram_seen {
    std::vector<std::pair<double, double>> buckets;  // le, cumulative count
    double sum = -1;
    double count = -1;
};

histogram_seen histogram_in(const std::vector<sample>& samples, const std::string& name,
                            const std::string& controller) {
    histogram_seen seen;
    const std::string label = "{controller=\"" + controller + "\"";
    for (const auto& s : samples) {
        if (s.series.find(label) == std::string::npos) continue;
        if (s.name == name + "_bucket") {
            const auto le_at = s.series.find("le=\"") + 4;
            const std::string le = s.series.substr(le_at, s.series.find('"', le_at) - le_at);
            seen.buckets.emplace_back(le == "+Inf" ? INFINITY : std::stod(le), s.value);
        } else if (s.name == name + "_sum") {
            seen.sum = s.value;
        } else if (s.name == name + "_count") {
            seen.count = s.value;
        }
    }
    return seen;
}

double value_of(const std::vector<sample>& samples, const std::string& series) {
    for (const auto& s : samples)
        if (s.series == series) return s.value;
    ADD_FAILURE() << "no " << series;
    return -1;
}

TEST(GatewayMetrics, HistogramsAreCumulativeAndCountEveryPollAndSlotHold) {
    test_support::server_process server;
    test_support::gateway_harness gateway({local_controller("loom1", server.port()),
                                           local_controller("gone", test_support::free_port())});
    ASSERT_TRUE(gateway.wait_reachable("loom1", true));
    ASSERT_TRUE(gateway.wait_polled());
    auto client = gateway.client();
    // A write session holds the slot once besides the polls.
    auto write =
        client.Patch("/api/controllers/loom1/targets/2", R"({"to":95})", "application/json");
    ASSERT_TRUE(write);
    ASSERT_EQ(write->status, 200) << write->body;
    // The write's answer goes out before its session has closed the connection and counted the
    // hold, and a scrape is rendered at most once a second: wait (bounded) until it shows.
    std::vector<sample> samples;
    const auto write_counted = [&] {
        samples = samples_of(body(client.Get("/metrics")));
        return histogram_in(samples, "ifc_slot_hold_seconds", "loom1").count ==
               value_of(samples, "ifc_polls_total{controller=\"loom1\"}") + 1;
    };
    EXPECT_TRUE(test_support::wait_until(write_counted, std::chrono::seconds(5)));

    for (const std::string controller : {"loom1", "gone"}) {
        const double polls =
            value_of(samples, "ifc_polls_total{controller=\"" + controller + "\"}");
        for (const std::string name : {"ifc_poll_duration_seconds", "ifc_slot_hold_seconds"}) {
            SCOPED_TRACE(controller + " " + name);
            const histogram_seen h = histogram_in(samples, name, controller);
            ASSERT_EQ(h.buckets.size(), gateway::duration_bounds.size() + 1);
            EXPECT_EQ(h.buckets.front().first, 0.001);
            EXPECT_EQ(h.buckets[h.buckets.size() - 2].first, 10);
            for (std::size_t i = 1; i < h.buckets.size(); ++i) {
                EXPECT_LT(h.buckets[i - 1].first, h.buckets[i].first);
                EXPECT_LE(h.buckets[i - 1].second, h.buckets[i].second);
            }
            EXPECT_TRUE(std::isinf(h.buckets.back().first));
            EXPECT_EQ(h.buckets.back().second, h.count);
            EXPECT_GE(h.sum, 0);
            if (h.count > 0) {
                EXPECT_GT(h.sum, 0);
            }
        }
        EXPECT_EQ(histogram_in(samples, "ifc_poll_duration_seconds", controller).count, polls);
        // Every poll of loom1 connected, and the write session; nothing ever connected to gone.
        EXPECT_EQ(histogram_in(samples, "ifc_slot_hold_seconds", controller).count,
                  controller == "loom1" ? polls + 1 : 0);
    }
}

TEST(GatewayMetrics, ADurationOnABoundIsCountedInThatBucket) {
    const std::vector<std::pair<double, std::size_t>> cases{
        {0, 0}, {0.0005, 0}, {0.001, 0}, {0.0011, 1}, {0.002, 1}, {0.7, 9}, {10, 12}, {10.5, 13}};
    for (const auto& [seconds, bucket] : cases) {
        gateway::duration_histogram h;
        h.observe(seconds);
        EXPECT_EQ(h.buckets[bucket], 1u) << seconds;
        EXPECT_EQ(h.count, 1u);
        EXPECT_EQ(h.sum, seconds);
    }
}

TEST(GatewayMetrics, DriftValuesOnlyForAControllerComparedWithItsVersion) {
    std::vector<gateway::controller_view> views(4);
    const char* names[] = {"unassigned", "not_compared", "drifting", "same"};
    for (std::size_t i = 0; i < views.size(); ++i)
        views[i].address.name = names[i];
    const gateway::library_version_ref denim{"denim-12", 3};
    views[1].drift = gateway::drift_summary{denim, std::nullopt};
    views[2].drift = gateway::drift_summary{denim, 7};
    views[3].drift = gateway::drift_summary{denim, 0};
    const std::string text =
        gateway::fleet_metrics(views, gateway::steady_clock::now(), gateway::metrics_detail::basic);
    EXPECT_EQ(text.find("ifc_drift_values{controller=\"unassigned\""), std::string::npos);
    EXPECT_EQ(text.find("ifc_drift_values{controller=\"not_compared\""), std::string::npos);
    EXPECT_NE(text.find("\nifc_drift_values{controller=\"drifting\"} 7\n"), std::string::npos);
    EXPECT_NE(text.find("\nifc_drift_values{controller=\"same\"} 0\n"), std::string::npos);
    EXPECT_EQ(text.find("# TYPE ifc_drift_values gauge"), text.rfind("# TYPE ifc_drift_values"));

    // With no controller compared, the family is not announced at all.
    views.resize(2);
    EXPECT_EQ(
        gateway::fleet_metrics(views, gateway::steady_clock::now(), gateway::metrics_detail::basic)
            .find("ifc_drift_values"),
        std::string::npos);
}

}  // namespace
