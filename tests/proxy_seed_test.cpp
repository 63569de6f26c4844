// Repeatability: the same terminal traffic through the proxy with the same seed meets the same
// faults, request by request, and writes the same journal but for times and addresses; another
// seed meets other faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/support/proxy_process.h"
#include "tests/support/server_process.h"

namespace {

using nlohmann::json;

// Rules of every kind that draws from the seed (probability, a delay range, a random byte)
// and of the kinds that end a connection, so that the traffic has to reconnect.
const char* const rules = R"({"rules": [
  {"kind": "GET", "probability": 0.2, "action": "corrupt", "position": "random"},
  {"kind": "PUT", "probability": 0.1, "action": "err"},
  {"kind": "GET", "command": "IFC_get_on_off_*", "probability": 0.05, "action": "cut",
   "at": "before_len"},
  {"kind": "PUT", "command": "IFC_hst_*", "every": 7, "action": "cut", "at": "before_fin",
   "mode": "reset"},
  {"probability": 0.3, "action": "delay", "seconds": [0, 0.001]},
  {"kind": "GET", "probability": 0.1, "limit": 40, "action": "stall", "at": "after_chunk",
   "chunk": 1, "seconds": 0.001}
]})";

constexpr int request_count = 1000;

// The same traffic every time: reads whose answers do not change by themselves, writes that
// change no file (a durable save costs milliseconds), pings; a failed exchange is followed by a
// new connection.
void run_traffic(test_support::proxy_process& proxy) {
    std::mt19937 pick(2026);
    auto c = proxy.connect();
    for (int i = 0; i < request_count; ++i) {
        const int colour = static_cast<int>(pick() % 6) + 1;
        const std::string n = std::to_string(colour);
        bool ok = true;
        switch (pick() % 6) {
            case 0:
                ok = c.get("IFC_get_stat").ok();
                break;
            case 1:
                ok = c.get("IFC_get_on_off_" + n).ok();
                break;
            case 2:
                ok = c.get("IFC_get_Tot_Twt_" + n).ok();
                break;
            case 3: {
                auto put = c.put("IFC_hst_clear", n + " tw");
                ok = put.ok() || put.code() == ifc_client::errc::rejected;
                break;
            }
            case 4: {
                auto put = c.put("MLETOFF_set_btnstat", std::to_string(pick() % 2));
                ok = put.ok() || put.code() == ifc_client::errc::rejected;
                break;
            }
            case 5:
                ok = c.ping().ok();
                break;
        }
        if (!ok || !c.is_open()) c = proxy.connect();
    }
    c.disconnect();
}

// The journal without the start line, and without what differs from run to run by nature:
// times, durations and addresses; connection by connection (a terminal that comes back at
// once may open its next connection before the proxy has written the last one's close).
std::vector<json> comparable(const test_support::journal_lines& journal) {
    std::vector<json> lines;
    for (json line : journal) {
        if (line["event"] == "start") continue;
        for (auto it = line.begin(); it != line.end();) {
            const std::string& key = it.key();
            if (key == "time" || key == "terminal" || key.ends_with("_ms")) {
                it = line.erase(it);
            } else {
                ++it;
            }
        }
        lines.push_back(line);
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const json& a, const json& b) { return a["conn"] < b["conn"]; });
    return lines;
}

// Per request line: the connection, the request and its faults.
std::vector<json> fault_sequence(const test_support::journal_lines& journal) {
    std::vector<json> faults;
    for (const json& line : test_support::lines_of_event(journal, "request")) {
        faults.push_back({line["conn"], line["seq"], line["faults"]});
    }
    return faults;
}

test_support::journal_lines journal_of_a_run(const std::string& seed) {
    test_support::server_process server;
    test_support::proxy_process proxy(server.port(),
                                      test_support::proxy_options{rules, {"--seed", seed}});
    run_traffic(proxy);

    // The last connection's close line marks the end of the journal.
    proxy.wait_for("close", test_support::lines_of_event(proxy.journal(), "open").size());
    return proxy.journal();
}

TEST(SameSeed, GivesTheSameFaultsRequestByRequest) {
    const auto first = journal_of_a_run("42");
    const auto second = journal_of_a_run("42");
    const auto faults = fault_sequence(first);
    ASSERT_GE(faults.size(), static_cast<std::size_t>(request_count));
    EXPECT_EQ(fault_sequence(second), faults);
    // The first line that differs, rather than two whole journals.
    const auto a = comparable(first);
    const auto b = comparable(second);
    EXPECT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (a[i] == b[i]) continue;
        ADD_FAILURE() << "line " << i << " differs:\n" << a[i].dump() << "\n" << b[i].dump();
        break;
    }
    // The rules did act, in all their ways.
    const std::string text = json(faults).dump();
    for (const char* action : {"corrupt", "err", "cut", "delay", "stall"}) {
        EXPECT_NE(text.find(std::string("\"action\":\"") + action + "\""), std::string::npos)
            << action;
    }
    EXPECT_EQ(first.front()["seed"], 42);

    const auto other = journal_of_a_run("43");
    EXPECT_NE(fault_sequence(other), faults);
}

}  // namespace
