// The logbook on a real SQLite file and real servers: pages filtered by machine, section, key,
// who, origin and time, without gaps or repeats; CSV and JSON lines; retention in small steps;
// entries kept while the database is full and written once it has room (and those past the
// bound counted); changes made at the machine found between two polls, minus the gateway's own
// writes, also across a restart; writes recorded with the name of the token used.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "client/document_read.h"
#include "client/settings_access.h"
#include "gateway/mill/change_watch.h"
#include "gateway/mill/direct_machine_access.h"
#include "gateway/mill/logbook.h"
#include "gateway/mill/logbook_export.h"
#include "gateway/mill/named_tokens.h"
#include "gateway/mill/rollout_outcome.h"
#include "gateway/state/sqlite_store.h"
#include "tests/support/case_names.h"
#include "tests/support/files.h"
#include "tests/support/mill_looms.h"
#include "tests/support/small_disk.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using gateway::state::change_origin;
using gateway::state::instant;
using gateway::state::log_entry;
using gateway::state::log_query;

// 2026-12-07T00:00:00Z, a Monday.
const instant monday = gateway::state::parse_instant("2026-12-07T00:00:00Z").value();

log_entry change(std::string controller, std::string key, instant at, std::string who) {
    log_entry e;
    e.at = at;
    e.controller = std::move(controller);
    e.section = "valves";
    e.colour = 2;
    e.key = std::move(key);
    e.old_value = "90";
    e.new_value = "100";
    e.origin = who.empty() ? change_origin::outside : change_origin::gateway;
    e.who = std::move(who);
    return e;
}

// Three looms, two keys, three writers, over two weeks; every third entry shares its time with
// the one before.
std::vector<log_entry> sample_entries() {
    std::vector<log_entry> entries;
    const char* looms[] = {"loom1", "loom2", "loom3"};
    const char* keys[] = {"main_on", "sub3_off"};
    const char* writers[] = {"anna", "", "ben"};
    instant at = monday;
    for (int i = 0; i < 60; ++i) {
        if (i % 3 != 2) at += 6h;
        entries.push_back(
            change(looms[i % 3], keys[i % 2], at, writers[i % 3 == 1 ? 1 : i % 2 * 2]));
    }
    return entries;
}

struct logbook_fixture {
    test_support::temp_dir dir;
    gateway::state::sqlite_store store{dir.path()};
};

struct query_case {
    const char* name;
    log_query query;
};
void PrintTo(const query_case& c, std::ostream* os) {
    *os << c.name;
}

bool selects(const log_query& q, const log_entry& e) {
    return (q.controller.empty() || e.controller == q.controller) &&
           (q.key.empty() || e.key == q.key) && (q.who.empty() || e.who == q.who) &&
           (!q.origin || e.origin == *q.origin) && (!q.from || e.at >= *q.from) &&
           (!q.until || e.at < *q.until);
}

class LogbookPages : public ::testing::TestWithParam<query_case> {};

// Page after page, three entries at a time, in both orders: exactly the entries the filter
// selects, in order, each once.
TEST_P(LogbookPages, HoldExactlyTheEntriesSelectedInOrder) {
    logbook_fixture f;
    const auto entries = sample_entries();
    ASSERT_TRUE(f.store.append_log(entries).ok());
    for (const bool oldest_first : {false, true}) {
        log_query q = GetParam().query;
        q.oldest_first = oldest_first;
        q.limit = 3;
        std::vector<std::int64_t> expected;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (selects(q, entries[i])) expected.push_back(static_cast<std::int64_t>(i) + 1);
        }
        if (!oldest_first) {
            // Newest first: by time, then by number.
            std::stable_sort(expected.begin(), expected.end(), [&](auto a, auto b) {
                const auto ta = entries[static_cast<std::size_t>(a - 1)].at;
                const auto tb = entries[static_cast<std::size_t>(b - 1)].at;
                return ta != tb ? ta > tb : a > b;
            });
        }
        std::vector<std::int64_t> got;
        for (int pages = 0; pages < 100; ++pages) {
            auto page = f.store.query_log(q);
            ASSERT_TRUE(page.ok()) << page.failure().reason;
            EXPECT_LE(page->entries.size(), 3u);
            for (const auto& e : page->entries)
                got.push_back(e.id);
            if (!page->next) break;
            q.after = page->next;
        }
        EXPECT_EQ(got, expected) << (oldest_first ? "oldest first" : "newest first");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Filters, LogbookPages,
    ::testing::Values(
        query_case{"everything", {}}, query_case{"one_machine", {.controller = "loom2"}},
        query_case{"one_machine_one_week",
                   {.controller = "loom1", .from = monday, .until = monday + std::chrono::days(7)}},
        query_case{"one_key", {.key = "sub3_off"}}, query_case{"one_writer", {.who = "ben"}},
        query_case{"outside_changes", {.origin = change_origin::outside}},
        query_case{"machine_key_and_writer",
                   {.controller = "loom1", .key = "main_on", .who = "anna"}},
        query_case{"nothing", {.controller = "loom9"}}),
    test_support::case_name{});

TEST(LogbookExport, CsvQuotesWhatItMustAndJsonLinesReadBack) {
    logbook_fixture f;
    log_entry tricky = change("loom7", "main_on", monday, "anna");
    tricky.reason = "style \"denim\", line 2\nsecond line";
    tricky.rollout = std::nullopt;
    log_entry formula = change("loom7", "sub3_off", monday + 1s, "ben");
    formula.reason = "=HYPERLINK(\"x\")";
    log_entry outside = change("loom8", "main_on", monday + 2s, "");
    outside.since = monday + 1s;
    ASSERT_TRUE(f.store.append_log(std::vector{tricky, formula, outside}).ok());

    std::string csv;
    auto written =
        gateway::mill::export_log(f.store, {.oldest_first = true, .limit = 2},
                                  gateway::mill::export_format::csv, [&](std::string_view chunk) {
                                      csv += chunk;
                                      return true;
                                  });
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(written.value(), 3u);
    EXPECT_EQ(csv,
              "id,at,since,controller,section,colour,key,old_value,new_value,origin,who,address,"
              "reason,rollout\r\n"
              "1,2026-12-07T00:00:00.000Z,,loom7,valves,2,main_on,90,100,gateway,anna,,"
              "\"style \"\"denim\"\", line 2\nsecond line\",\r\n"
              "2,2026-12-07T00:00:01.000Z,,loom7,valves,2,sub3_off,90,100,gateway,ben,,"
              "\"'=HYPERLINK(\"\"x\"\")\",\r\n"
              "3,2026-12-07T00:00:02.000Z,2026-12-07T00:00:01.000Z,loom8,valves,2,main_on,90,100,"
              "outside,,,,\r\n");

    std::vector<nlohmann::json> lines;
    std::string buffer;
    ASSERT_TRUE(gateway::mill::export_log(f.store, {.limit = 1},
                                          gateway::mill::export_format::json_lines,
                                          [&](std::string_view chunk) {
                                              buffer += chunk;
                                              return true;
                                          })
                    .ok());
    for (std::size_t start = 0, end; (end = buffer.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(nlohmann::json::parse(buffer.substr(start, end - start)));
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0]["controller"], "loom8");  // newest first
    EXPECT_EQ(lines[0]["since"], "2026-12-07T00:00:01.000Z");
    EXPECT_EQ(lines[0]["origin"], "outside");
    EXPECT_TRUE(lines[0]["rollout"].is_null());
    EXPECT_EQ(lines[2]["reason"], tricky.reason);

    // A reader that goes away ends the export.
    int chunks = 0;
    auto stopped =
        gateway::mill::export_log(f.store, {.limit = 1}, gateway::mill::export_format::json_lines,
                                  [&](std::string_view) { return ++chunks < 2; });
    ASSERT_TRUE(stopped.ok());
    EXPECT_EQ(chunks, 2);
    EXPECT_EQ(stopped.value(), 1u);
}

// A store that counts the steps of the retention, in front of the real one.
class counting_store final : public gateway::state::store {
  public:
    explicit counting_store(gateway::state::store& real) : real_(real) {}
    std::atomic<int> prune_calls{0};
    std::atomic<std::size_t> largest_step{0};

    gateway::state::store_health health() const override { return real_.health(); }
    void retry() override { real_.retry(); }
    gateway::state::store_result<gateway::state::library_version> add_version(
        const gateway::state::new_version& v) override {
        return real_.add_version(v);
    }
    gateway::state::store_result<std::vector<gateway::state::library_version>> list_versions(
        const gateway::state::version_query& q) override {
        return real_.list_versions(q);
    }
    gateway::state::store_result<gateway::state::library_version> find_version(
        const gateway::state::version_ref& r) override {
        return real_.find_version(r);
    }
    gateway::state::store_result<gateway::state::library_version> find_version(
        std::int64_t id) override {
        return real_.find_version(id);
    }
    gateway::state::store_result<gateway::state::library_version> hide_version(
        const gateway::state::version_ref& r, const gateway::state::actor& by,
        const std::string& reason, instant at) override {
        return real_.hide_version(r, by, reason, at);
    }
    gateway::state::store_result<std::vector<gateway::state::assignment>> list_assignments()
        override {
        return real_.list_assignments();
    }
    gateway::state::store_status assign(std::span<const std::string> c,
                                        const std::optional<gateway::state::version_ref>& r,
                                        const gateway::state::actor& by, const std::string& reason,
                                        instant at) override {
        return real_.assign(c, r, by, reason, at);
    }
    gateway::state::store_result<gateway::state::rollout> create_rollout(
        const gateway::state::version_ref& r, std::span<const std::string> c,
        const gateway::state::rollout_options& o, const gateway::state::actor& by,
        const std::string& reason, instant at) override {
        return real_.create_rollout(r, c, o, by, reason, at);
    }
    gateway::state::store_status set_rollout_state(std::int64_t id, gateway::state::rollout_state s,
                                                   const std::string& why, instant at) override {
        return real_.set_rollout_state(id, s, why, at);
    }
    gateway::state::store_status set_rollout_machine(std::int64_t id,
                                                     const gateway::state::rollout_machine& m,
                                                     std::span<const log_entry> e) override {
        return real_.set_rollout_machine(id, m, e);
    }
    gateway::state::store_status skip_pending(std::int64_t id, const std::string& why,
                                              instant at) override {
        return real_.skip_pending(id, why, at);
    }
    gateway::state::store_result<gateway::state::rollout> find_rollout(std::int64_t id) override {
        return real_.find_rollout(id);
    }
    gateway::state::store_result<std::vector<gateway::state::rollout>> list_rollouts(
        std::size_t limit, std::optional<std::int64_t> before) override {
        return real_.list_rollouts(limit, before);
    }
    gateway::state::store_result<int> interrupt_unfinished(instant at) override {
        return real_.interrupt_unfinished(at);
    }
    gateway::state::store_status append_log(std::span<const log_entry> e) override {
        return real_.append_log(e);
    }
    gateway::state::store_result<gateway::state::log_page> query_log(const log_query& q) override {
        return real_.query_log(q);
    }
    gateway::state::store_result<std::size_t> prune_log(instant before,
                                                        std::size_t at_most) override {
        ++prune_calls;
        largest_step = std::max<std::size_t>(largest_step, at_most);
        return real_.prune_log(before, at_most);
    }
    gateway::state::store_result<std::vector<gateway::state::machine_baseline>> list_baselines()
        override {
        return real_.list_baselines();
    }
    gateway::state::store_status save_baselines(
        std::span<const gateway::state::machine_baseline> b) override {
        return real_.save_baselines(b);
    }

  private:
    gateway::state::store& real_;
};

std::size_t count_entries(gateway::state::store& store, log_query q = {}) {
    q.limit = gateway::state::max_log_page;
    std::size_t n = 0;
    for (;;) {
        auto page = store.query_log(q);
        if (!page) return 0;
        n += page->entries.size();
        if (!page->next) return n;
        q.after = page->next;
    }
}

TEST(LogbookRetention, RemovesWhatIsOlderThanTheRetentionInSmallSteps) {
    logbook_fixture f;
    const instant today = monday + std::chrono::days(400);
    std::vector<log_entry> entries;
    for (int i = 0; i < 1000; ++i)
        entries.push_back(change("loom1", "main_on", monday + std::chrono::minutes(i), "anna"));
    for (int i = 0; i < 7; ++i)
        entries.push_back(change("loom1", "main_on", today - std::chrono::days(i), "anna"));
    ASSERT_TRUE(f.store.append_log(entries).ok());

    counting_store counted(f.store);
    gateway::mill::logbook_options options;
    options.retention_days = 30;
    options.prune_step = 100;
    options.prune_pause = 1ms;
    options.clock = [today] { return today; };
    gateway::mill::logbook log(counted, options);
    ASSERT_TRUE(test_support::wait_until([&] { return count_entries(f.store) == 7; }, 10s))
        << count_entries(f.store);
    EXPECT_GE(counted.prune_calls, 10);
    EXPECT_EQ(counted.largest_step, 100u);
    auto oldest = f.store.query_log({.oldest_first = true, .limit = 1});
    ASSERT_TRUE(oldest.ok());
    EXPECT_EQ(oldest->entries.at(0).at, today - std::chrono::days(6));
}

TEST(LogbookWriter, KeepsEntriesWhileTheDatabaseIsFullAndCountsThosePastTheBound) {
    test_support::small_disk disk(4 << 20);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.failure() << ")";
    gateway::state::sqlite_store store(disk.file("state"));
    gateway::mill::logbook_options options;
    options.max_queued = 50;
    options.retry_interval = 20ms;
    gateway::mill::logbook log(store, options);
    log.record({change("loom1", "main_on", monday, "anna")});
    ASSERT_TRUE(log.flush(5s));

    ASSERT_TRUE(disk.fill_up());
    std::vector<log_entry> many;
    for (int i = 0; i < 60; ++i) {
        log_entry e = change("loom2", "main_on", monday + std::chrono::seconds(i), "anna");
        e.reason = std::string(4000, 'r');  // each needs room of its own
        many.push_back(e);
    }
    log.record(many);
    EXPECT_FALSE(log.flush(300ms));
    EXPECT_EQ(log.dropped(), 10u);
    EXPECT_FALSE(store.health().writable);

    ASSERT_TRUE(disk.make_room());
    ASSERT_TRUE(log.flush(10s));
    EXPECT_EQ(count_entries(store, {.controller = "loom2"}), 50u);
    auto lost = store.query_log({.section = "logbook"});
    ASSERT_TRUE(lost.ok());
    ASSERT_EQ(lost->entries.size(), 1u);
    EXPECT_EQ(lost->entries[0].key, "entries lost");
    EXPECT_EQ(lost->entries[0].new_value, "10");
    EXPECT_EQ(lost->entries[0].since, monday + 50s);
    EXPECT_EQ(lost->entries[0].at, monday + 59s);
}

// Outside changes against a real server.
struct watched_loom {
    test_support::loom_hall hall{1};
    test_support::temp_dir dir;
    std::optional<gateway::state::sqlite_store> store{std::in_place, dir.path()};
    std::optional<gateway::mill::logbook> log{std::in_place, *store};
    std::optional<gateway::mill::change_watch> watch{std::in_place, *log};

    ifc_client::settings_document poll() { return hall.read(0); }
    std::vector<log_entry> observe(instant at) { return watch->observe("loom1", poll(), at); }
    void set_valve(int colour, const char* key, int value) {
        auto conn = hall.server(0).connect();
        const ifc_client::change c{key, value};
        ASSERT_TRUE(ifc_client::write_valves(conn, colour, {&c, 1}).ok());
    }
    int valve(int colour, const char* key) {
        return std::get<std::int32_t>(*gateway::mill::value_at(
            poll(), {ifc_client::section::valves, colour, std::string(key)}));
    }
};

TEST(ChangeWatch, FindsChangesMadeAtTheMachineBetweenTwoPolls) {
    watched_loom w;
    EXPECT_TRUE(w.observe(monday).empty());  // the first poll of a machine finds nothing
    const int before = w.valve(2, "main_on");
    w.set_valve(2, "main_on", before + 5);
    w.set_valve(3, "sub1_on", 77);
    const auto found = w.observe(monday + 2s);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].controller, "loom1");
    EXPECT_EQ(found[0].section, "valves");
    EXPECT_EQ(found[0].colour, 2);
    EXPECT_EQ(found[0].key, "main_on");
    EXPECT_EQ(found[0].old_value, std::to_string(before));
    EXPECT_EQ(found[0].new_value, std::to_string(before + 5));
    EXPECT_EQ(found[0].origin, change_origin::outside);
    EXPECT_EQ(found[0].since, monday);
    EXPECT_EQ(found[0].at, monday + 2s);
    EXPECT_EQ(found[1].key, "sub1_on");
    EXPECT_TRUE(w.observe(monday + 4s).empty());  // nothing changed since

    ASSERT_TRUE(w.log->flush(5s));
    auto page = w.store->query_log({.controller = "loom1", .origin = change_origin::outside});
    ASSERT_TRUE(page.ok());
    EXPECT_EQ(page->entries.size(), 2u);
}

TEST(ChangeWatch, LeavesOutTheGatewaysOwnWrites) {
    watched_loom w;
    w.observe(monday);
    const int before = w.valve(2, "main_on");
    const gateway::mill::own_write_author anna{{"anna", "10.0.0.1"}, "style change", 12};

    // A write from the poller's thread, between two polls.
    w.set_valve(2, "main_on", before + 1);
    const ifc_client::difference written{
        ifc_client::section::valves, 2, "main_on", before, before + 1, std::nullopt};
    w.watch->note_own_changes("loom1", {&written, 1});
    EXPECT_TRUE(w.observe(monday + 1s).empty());

    // A write from another thread with a poll in the middle, and a technician's change at the
    // same time to another value.
    const std::vector<gateway::mill::setting_key> keys{
        {ifc_client::section::valves, 2, "main_on"}, {ifc_client::section::valves, 2, "main_off"}};
    w.watch->begin_own_write("loom1", keys, anna);
    w.set_valve(2, "main_on", before + 2);
    w.set_valve(4, "main_on", 33);
    auto found = w.observe(monday + 2s);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].colour, 4);
    EXPECT_EQ(found[0].origin, change_origin::outside);
    w.set_valve(2, "main_off", 44);
    const auto now = w.poll();
    w.watch->end_own_write("loom1", &now);
    EXPECT_TRUE(w.observe(monday + 3s).empty());

    // A write of unknown outcome: the next poll tells, and the change is the gateway's.
    w.watch->begin_own_write("loom1", keys, anna);
    w.set_valve(2, "main_on", before + 3);
    w.watch->end_own_write("loom1", nullptr);
    found = w.observe(monday + 4s);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].origin, change_origin::gateway);
    EXPECT_EQ(found[0].who, "anna");
    EXPECT_EQ(found[0].rollout, 12);
    EXPECT_NE(found[0].reason.find("unknown outcome"), std::string::npos) << found[0].reason;
    // Only that poll: a later change of the same value is somebody else's.
    w.set_valve(2, "main_on", before);
    found = w.observe(monday + 5s);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].origin, change_origin::outside);
}

TEST(ChangeWatch, FindsAChangeMadeWhileTheGatewayWasNotRunning) {
    watched_loom w;
    w.observe(monday);
    w.observe(monday + 10s);  // unchanged: its time is kept within a minute
    w.observe(monday + 2min);
    ASSERT_TRUE(w.log->flush(5s));
    w.watch.reset();
    w.log.reset();
    w.store.reset();

    const int before = w.valve(5, "main_on");
    w.set_valve(5, "main_on", before + 9);

    w.store.emplace(w.dir.path());
    w.log.emplace(*w.store);
    w.watch.emplace(*w.log);
    ASSERT_TRUE(w.watch->load(*w.store).ok());
    const auto found = w.observe(monday + 1h);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].colour, 5);
    EXPECT_EQ(found[0].old_value, std::to_string(before));
    EXPECT_EQ(found[0].since, monday + 2min);
    EXPECT_EQ(found[0].at, monday + 1h);
}

// What the gateway's write path does: the token named in the request gives the name the
// logbook records, the write's entries say who, from where and why.
TEST(LogbookWrites, RecordTheNameOfTheTokenUsed) {
    watched_loom w;
    auto tokens = gateway::mill::parse_token_file(
        "anna  s3cret-anna-0001\nmes   mes-token-0002 read-only\n", "tokens");
    ASSERT_TRUE(tokens.ok()) << tokens.failure().detail;
    const auto* who = tokens->find("s3cret-anna-0001");
    ASSERT_NE(who, nullptr);
    ASSERT_FALSE(who->read_only);

    w.observe(monday);
    gateway::mill::direct_machine_access machines(w.hall.endpoints());
    const auto wanted = test_support::denim_settings();
    const auto applied = machines.apply("loom1", wanted, {});
    ASSERT_TRUE(applied.ok());
    const gateway::mill::write_author author{
        "loom1", {who->name, "10.0.0.5"}, "new style", gateway::state::now()};
    const auto outcome = gateway::mill::outcome_of(applied, author);
    ASSERT_EQ(outcome.state, gateway::state::machine_state::applied);
    w.log->record(outcome.entries);
    const std::vector<ifc_client::difference> changed =
        ifc_client::diff_documents(applied->before, *outcome.now);
    w.watch->note_own_changes("loom1", changed);
    EXPECT_TRUE(w.observe(monday + 1s).empty());

    ASSERT_TRUE(w.log->flush(5s));
    auto page = w.store->query_log({.who = "anna", .oldest_first = true});
    ASSERT_TRUE(page.ok());
    ASSERT_EQ(page->entries.size(), 4u);
    std::string described;
    for (const auto& e : page->entries) {
        EXPECT_EQ(e.address, "10.0.0.5");
        EXPECT_EQ(e.reason, "new style");
        EXPECT_EQ(e.origin, change_origin::gateway);
        described += e.section + " " + std::to_string(e.colour) + " " + e.key + " " +
                     e.old_value.value_or("-") + " -> " + e.new_value.value_or("-") + "\n";
    }
    const auto defaults = test_support::default_settings();
    std::string expected;
    for (const auto& d : ifc_client::diff_documents(defaults, wanted)) {
        expected += std::string(ifc_client::section_name(d.where)) + " " +
                    std::to_string(d.colour) + " " + d.key + " " +
                    ifc_client::value_text(*d.old_value) + " -> " +
                    ifc_client::value_text(*d.new_value) + "\n";
    }
    EXPECT_EQ(described, expected);
}

}  // namespace
