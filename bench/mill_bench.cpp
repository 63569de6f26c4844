// The gateway's mill on its state, each figure beside what it is compared with:
//   logbook:   a logbook of 1 000 000 entries (500 machines, 13 weeks) in the SQLite store:
//              the time to fill it, a filtered page (one machine, one week, 100 entries) p50 and
//              p99 (target: p99 below 50 ms), pages of other filters, the database's size, and
//              one step of the retention (the logbook's step) p50 and p99;
//   drift:     the work the mill adds to every poll (the snapshot as a document, the drift
//              check against the assigned version, the watch for outside changes) beside the
//              poll itself (connect, 29 reads, disconnect against the real ifc-server) and
//              beside the gateway's own work per poll today (rendering the controller's JSON);
//   roll-out:  a version rolled out to 100 controllers (real ifc-server processes on loopback):
//              the dry run, the total time one at a time and four at a time, and each
//              controller's slot held per write (read, writes, read-backs) p50, p99, max.
//
//   mill_bench [--entries N] [--controllers N]
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/gateway_bench_support.h"
#include "client/commands.h"
#include "client/document_read.h"
#include "gateway/controller_json.h"
#include "gateway/controller_poller.h"
#include "gateway/mill/change_watch.h"
#include "gateway/mill/direct_machine_access.h"
#include "gateway/mill/drift.h"
#include "gateway/mill/logbook.h"
#include "gateway/mill/rollout_runner.h"
#include "gateway/mill/settings_library.h"
#include "gateway/mill/snapshot_document.h"
#include "gateway/state/sqlite_store.h"

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
using gateway::state::instant;
using namespace gateway_bench;

double ms_since(steady::time_point start) {
    return std::chrono::duration<double, std::milli>(steady::now() - start).count();
}

ifc_client::endpoint at(std::uint16_t port) {
    return {"127.0.0.1", port, 10000ms};
}

std::string loom(int i) {
    return "loom" + std::to_string(i + 1);
}

std::uint64_t file_size(const std::string& path) {
    std::error_code ignored;
    const auto size = std::filesystem::file_size(path, ignored);
    return ignored ? 0 : size;
}

// --- the logbook ------------------------------------------------------------------------------

void logbook_figures(std::size_t entries) {
    constexpr int machines = 500;
    constexpr int weeks = 13;
    const instant start = gateway::state::parse_instant("2026-09-07T00:00:00Z").value();
    const auto span = std::chrono::days(7 * weeks);
    scratch_dir dir;
    std::printf("logbook: %zu entries over %d machines and %d weeks\n", entries, machines, weeks);
    double fill_ms = 0;
    {
        gateway::state::sqlite_store store(dir.path);
        const char* keys[] = {"main_on", "main_off", "sub3_on", "sub3_off", "pin_on", "to", "tw"};
        const char* writers[] = {"", "", "anna", "ben", "mes"};
        std::mt19937 random(7);
        std::vector<gateway::state::log_entry> batch;
        const auto fill_start = steady::now();
        for (std::size_t i = 0; i < entries; ++i) {
            gateway::state::log_entry e;
            // In time order, as a logbook fills.
            e.at = start + std::chrono::milliseconds(static_cast<std::int64_t>(
                               static_cast<double>(i) / static_cast<double>(entries) *
                               static_cast<double>(std::chrono::milliseconds(span).count())));
            e.controller = loom(static_cast<int>(random() % machines));
            e.section = "valves";
            e.colour = static_cast<int>(random() % 6) + 1;
            e.key = keys[random() % 7];
            e.old_value = std::to_string(random() % 360);
            e.new_value = std::to_string(random() % 360);
            e.who = writers[random() % 5];
            if (e.who.empty()) {
                e.origin = gateway::state::change_origin::outside;
                e.since = e.at - 1s;
            } else {
                e.address = "10.0.0.5";
            }
            batch.push_back(std::move(e));
            if (batch.size() == 10000 || i + 1 == entries) {
                if (!store.append_log(batch)) die("cannot fill the logbook");
                batch.clear();
            }
        }
        fill_ms = ms_since(fill_start);

        std::vector<double> page_ms;
        std::size_t rows = 0;
        for (int q = 0; q < 1000; ++q) {
            gateway::state::log_query query;
            query.controller = loom(static_cast<int>(random() % machines));
            query.from = start + std::chrono::days(7 * static_cast<int>(random() % weeks));
            query.until = *query.from + std::chrono::days(7);
            const auto t = steady::now();
            auto page = store.query_log(query);
            page_ms.push_back(ms_since(t));
            if (!page) die("query: " + page.failure().reason);
            rows += page->entries.size();
        }
        const timing machine_week = percentiles(page_ms);
        std::printf("  filled in %.1f s (%.0f entries/s, transactions of 10 000)\n", fill_ms / 1000,
                    static_cast<double>(entries) / (fill_ms / 1000));
        std::printf(
            "  page, one machine, one week (%.0f entries on average): p50 %.2f ms, p99 "
            "%.2f ms, max %.2f ms (target: p99 below 50 ms)\n",
            static_cast<double>(rows) / 1000.0, machine_week.p50, machine_week.p99,
            machine_week.max);

        const auto other = [&](const char* what, auto make) {
            std::vector<double> ms;
            for (int q = 0; q < 200; ++q) {
                gateway::state::log_query query = make();
                const auto t = steady::now();
                if (!store.query_log(query)) die("query failed");
                ms.push_back(ms_since(t));
            }
            const timing t = percentiles(ms);
            std::printf("  page, %s: p50 %.2f ms, p99 %.2f ms\n", what, t.p50, t.p99);
        };
        other("the whole mill, newest 100", [] { return gateway::state::log_query{}; });
        other("the whole mill, one week", [&] {
            gateway::state::log_query q;
            q.from = start + std::chrono::days(7 * static_cast<int>(random() % weeks));
            q.until = *q.from + std::chrono::days(7);
            return q;
        });
        other("one writer, one week", [&] {
            gateway::state::log_query q;
            q.who = "ben";
            q.from = start + std::chrono::days(7 * static_cast<int>(random() % weeks));
            q.until = *q.from + std::chrono::days(7);
            return q;
        });
        other("one machine, one key, all time", [&] {
            gateway::state::log_query q;
            q.controller = loom(static_cast<int>(random() % machines));
            q.key = "main_on";
            return q;
        });

        // The retention: the oldest week goes, a step at a time as the logbook's writer does.
        const std::size_t step = gateway::mill::logbook_options{}.prune_step;
        std::vector<double> step_ms;
        const instant cutoff = start + std::chrono::days(7);
        ::sync();
        for (;;) {
            const auto t = steady::now();
            auto removed = store.prune_log(cutoff, step);
            step_ms.push_back(ms_since(t));
            if (!removed) die("prune failed");
            if (removed.value() < step) break;
        }
        const timing steps = percentiles(step_ms);
        std::printf(
            "  retention step (%zu oldest entries removed): p50 %.2f ms, p99 %.2f ms, "
            "max %.2f ms over %zu steps\n",
            step, steps.p50, steps.p99, steps.max, step_ms.size());
    }
    // Every page written into the database file itself.
    {
        auto db = gateway::state::sqlite_db::open(
            dir.path + "/" + std::string(gateway::state::database_file_name), 1000);
        db.pragma("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    const auto size = file_size(dir.path + "/" + std::string(gateway::state::database_file_name));
    std::printf("  database size after the retention step: %.1f MiB (%.0f bytes per entry)\n",
                static_cast<double>(size) / (1 << 20),
                static_cast<double>(size) / static_cast<double>(entries));
}

// --- drift ------------------------------------------------------------------------------------

void drift_figures() {
    servers one(1);
    const ifc_client::endpoint where = at(one.ports[0]);
    std::vector<double> poll_ms;
    std::optional<gateway::machine_snapshot> snapshot;
    for (int i = 0; i < 300; ++i) {
        auto outcome = gateway::poll_controller(where, 5000ms);
        if (!outcome.snapshot) die("poll failed: " + outcome.snapshot.failure().detail);
        poll_ms.push_back(outcome.poll_seconds * 1000);
        snapshot = std::move(outcome.snapshot.value());
    }

    scratch_dir dir;
    gateway::state::sqlite_store store(dir.path);
    gateway::mill::settings_library library(store);
    gateway::mill::drift_monitor drift(store);
    gateway::mill::logbook log(store);
    gateway::mill::change_watch watch(log);
    // The version differs from the machine in three values, as a drifting loom would.
    auto version = gateway::mill::document_of(*snapshot, {"loom1", "", {}}, "");
    (*version.colour_block(2).valves)[2].value += 5;
    (*version.colour_block(4).valves)[9].value += 5;
    (*version.colour_block(1).targets)[0].value += 1;
    auto saved = library.save("denim-12", "", version, {"bench", ""}, "");
    if (!saved) die("cannot save the version: " + saved.failure().reason);
    const std::string name = "loom1";
    if (!drift.assign({&name, 1}, saved->ref, {"bench", ""}, "")) die("cannot assign");

    std::vector<double> json_us, convert_us, drift_us, watch_us;
    std::size_t differing = 0;
    instant now = gateway::state::now();
    for (int i = 0; i < 20000; ++i) {
        auto t = steady::now();
        const gateway::controller_json rendered(*snapshot);
        json_us.push_back(ms_since(t) * 1000);
        t = steady::now();
        const auto doc = gateway::mill::document_of(*snapshot, {"loom1", "", {}}, "");
        convert_us.push_back(ms_since(t) * 1000);
        t = steady::now();
        differing = drift.check(name, doc)->values;
        drift_us.push_back(ms_since(t) * 1000);
        t = steady::now();
        now += 1s;
        watch.observe(name, doc, now);
        watch_us.push_back(ms_since(t) * 1000);
    }
    const timing poll = percentiles(poll_ms);
    const timing json = percentiles(json_us), convert = percentiles(convert_us),
                 check = percentiles(drift_us), observe = percentiles(watch_us);
    const double mill_p50 = convert.p50 + check.p50 + observe.p50;
    std::printf("drift, per poll of one controller (%zu values differ):\n", differing);
    std::printf("  poll itself (connect, 29 reads, disconnect): p50 %.2f ms, p99 %.2f ms\n",
                poll.p50, poll.p99);
    std::printf(
        "  the gateway's own work per poll today, rendering the controller's JSON: p50 "
        "%.1f us, p99 %.1f us\n",
        json.p50, json.p99);
    std::printf("  snapshot as a document: p50 %.1f us, p99 %.1f us\n", convert.p50, convert.p99);
    std::printf("  drift check: p50 %.1f us, p99 %.1f us\n", check.p50, check.p99);
    std::printf("  watch for outside changes: p50 %.1f us, p99 %.1f us\n", observe.p50,
                observe.p99);
    std::printf(
        "  the mill's work in all: %.1f us = %.2f %% of the poll, %.2f x the JSON "
        "rendering; 500 controllers polled every second: %.1f ms of CPU a second\n",
        mill_p50, mill_p50 / (poll.p50 * 1000) * 100, mill_p50 / json.p50, mill_p50 * 500 / 1000);
}

// --- roll-out ---------------------------------------------------------------------------------

void rollout_figures(int count) {
    std::printf("roll-out to %d controllers (real ifc-server processes on loopback):\n", count);
    const auto start_servers = steady::now();
    servers hall(count);
    std::printf("  %d servers started in %.1f s\n", count, ms_since(start_servers) / 1000);
    std::map<std::string, ifc_client::endpoint> endpoints;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(loom(i));
        endpoints.emplace(names.back(), at(hall.ports[static_cast<std::size_t>(i)]));
    }
    scratch_dir dir;
    gateway::state::sqlite_store store(dir.path);
    gateway::mill::settings_library library(store);
    gateway::mill::direct_machine_access machines(endpoints);
    gateway::mill::rollout_runner runner(store, machines);

    auto conn = ifc_client::connection::open(endpoints.begin()->second);
    if (!conn) die("cannot read a controller");
    auto defaults = ifc_client::read_document(conn.value());
    conn->disconnect();
    if (!defaults) die("cannot read a controller");
    // A style change: the targets of two colours, four valve angles, the mode (5 lines).
    ifc_client::settings_document style = defaults.value();
    (*style.status)[1].value = 1;
    (*style.colour_block(1).targets)[0].value = 95;
    (*style.colour_block(2).targets)[1].value = 250;
    for (int k : {2, 3, 10, 11})
        (*style.colour_block(2).valves)[static_cast<std::size_t>(k)].value += 4;
    const ifc_client::settings_document versions[] = {style, defaults.value()};
    for (int v = 0; v < 2; ++v) {
        if (!library.save("denim-12", "", versions[v], {"bench", ""}, "")) die("cannot save");
    }

    // One at a time, then four at a time; after each, the defaults are rolled out again (not
    // reported) so that every measured roll-out changes the same values. The disk is synced
    // first, so that no write-back of earlier work falls into the figures.
    const auto roll_out = [&](int number, int parallel, bool report) {
        ::sync();
        const gateway::state::version_ref ref{"denim-12", number};
        auto t = steady::now();
        auto planned = runner.plan({ref, names, {.parallel = parallel}, {"bench", ""}, ""});
        if (!planned) die("plan: " + planned.failure().reason);
        runner.wait(planned->id, 600s);
        const double dry_ms = ms_since(t);
        t = steady::now();
        if (!runner.start(planned->id)) die("start failed");
        runner.wait(planned->id, 600s);
        const double run_ms = ms_since(t);
        auto done = runner.find(planned->id);
        if (!done || done->state != gateway::state::rollout_state::completed) {
            die("the roll-out did not complete");
        }
        if (!report) return;
        std::vector<double> slot_ms;
        int values = 0;
        for (const auto& m : done->machines) {
            slot_ms.push_back(m.apply_ms);
            values += m.values_written;
        }
        const timing slot = percentiles(slot_ms);
        std::printf(
            "  %s: dry run %.2f s; roll-out %.2f s (%d values, %.1f ms a controller); "
            "slot held per write p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
            parallel == 1 ? "one at a time" : "four at a time", dry_ms / 1000, run_ms / 1000,
            values, run_ms / count, slot.p50, slot.p99, slot.max);
    };
    for (const int parallel : {1, 4}) {
        roll_out(1, parallel, true);
        roll_out(2, parallel, false);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t entries = 1000000;
    int controllers = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--entries") {
            entries = std::strtoul(argv[i + 1], nullptr, 10);
        } else if (option == "--controllers") {
            controllers = std::atoi(argv[i + 1]);
        } else {
            die("usage: mill_bench [--entries N] [--controllers N]");
        }
    }
    if (entries == 0 || controllers < 1) die("usage: mill_bench [--entries N] [--controllers N]");
    ::signal(SIGPIPE, SIG_IGN);
    logbook_figures(entries);
    drift_figures();
    rollout_figures(controllers);
    return 0;
}
