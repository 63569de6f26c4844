// The gateway's state on a real SQLite file: a new database gets the whole schema, a database of
// every earlier schema version is brought up to date with its rows kept, a migration that fails
// leaves the version before, a newer database is left alone; library versions cannot be changed
// or deleted even by hand; and a database that cannot be used (a full disk, a read-only file
// system, a damaged file, another gateway, a lock held by another program) gives answers with
// the reason, quickly, and the store recovers once the cause is gone.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "client/document_json.h"
#include "gateway/state/schema.h"
#include "gateway/state/sqlite_store.h"
#include "tests/support/case_names.h"
#include "tests/support/documents.h"
#include "tests/support/files.h"
#include "tests/support/small_disk.h"

namespace {

using namespace std::chrono_literals;
using gateway::state::sqlite_db;
using gateway::state::sqlite_store;
using gateway::state::store_errc;

const gateway::state::actor anna{"anna", "10.0.0.1"};

std::string document_text() {
    auto doc = test_support::model_document(test_support::settings_model{});
    doc.name = "denim-12";
    return ifc_client::format_document(doc);
}

gateway::state::new_version version_of(const std::string& style) {
    return {style, "a note", "loom7", document_text(), anna, gateway::state::now()};
}

gateway::state::sqlite_store_options quick_retries() {
    gateway::state::sqlite_store_options options;
    options.reopen_interval = 0ms;
    return options;
}

std::string db_path(const std::string& dir) {
    return dir + "/" + std::string(gateway::state::database_file_name);
}

// The rows a gateway of each earlier schema version could have left, added version by version.
struct version_rows {
    int version;
    std::string sql;
};
std::vector<version_rows> rows_by_version() {
    std::string doc = document_text();
    std::string quoted;
    for (char c : doc)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return {
        {1,
         "INSERT INTO library_versions (id, style, number, note, source, document, saved_at, "
         "saved_by, saved_from) VALUES (1, 'denim-12', 1, 'first', 'loom7', '" +
             quoted +
             "', 1000, 'anna', '10.0.0.1');"
             "INSERT INTO assignments VALUES ('loom7', 1, 2000, 'anna', '10.0.0.1');"},
        {2,
         "INSERT INTO logbook (at, since, controller, section, colour, key, old_value, "
         "new_value, origin, who, address, reason) VALUES (3000, 2500, 'loom7', 'valves', 2, "
         "'main_on', '90', '100', 'outside', '', '', '');"},
        {3,
         "INSERT INTO rollouts (id, version_id, state, parallel, pause_after_first, "
         "created_at, created_by, created_from, reason) VALUES (1, 1, 'running', 1, 0, 4000, "
         "'anna', '10.0.0.1', 'style change');"
         "INSERT INTO rollout_machines (rollout, position, controller, state) VALUES "
         "(1, 0, 'loom7', 'applied'), (1, 1, 'loom8', 'running');"
         "INSERT INTO logbook (at, controller, section, colour, key, old_value, new_value, "
         "origin, who, address, reason, rollout) VALUES (4100, 'loom7', 'targets', 1, 'to', "
         "'90', '95', 'gateway', 'anna', '10.0.0.1', 'style change', 1);"},
    };
}

struct migration_case {
    const char* name;
    int from;  // the schema version the database was left at
};
void PrintTo(const migration_case& c, std::ostream* os) {
    *os << c.name;
}

class Migration : public ::testing::TestWithParam<migration_case> {};

TEST_P(Migration, BringsTheDatabaseUpToDateAndKeepsItsRows) {
    static_assert(gateway::state::schema_version == 4, "add the rows of the new version above");
    const int from = GetParam().from;
    test_support::temp_dir dir;
    if (from > 0) {
        sqlite_db db = sqlite_db::open(db_path(dir.path()), 250);
        gateway::state::migrate(db, from);
        ASSERT_EQ(gateway::state::schema_version_of(db), from);
        for (const version_rows& rows : rows_by_version()) {
            if (rows.version <= from) db.exec(rows.sql);
        }
    }
    sqlite_store store(dir.path());
    ASSERT_TRUE(store.health().available()) << store.health().reason;
    {
        sqlite_db db = sqlite_db::open(db_path(dir.path()), 250);
        EXPECT_EQ(gateway::state::schema_version_of(db), gateway::state::schema_version);
        EXPECT_EQ(db.pragma("PRAGMA journal_mode"), "wal");
    }

    if (from >= 1) {
        auto v1 = store.find_version({"denim-12", 1});
        ASSERT_TRUE(v1.ok()) << v1.failure().reason;
        EXPECT_EQ(v1->note, "first");
        EXPECT_EQ(v1->document, document_text());
        EXPECT_EQ(v1->saved_by.who, "anna");
        auto assignments = store.list_assignments();
        ASSERT_TRUE(assignments.ok());
        ASSERT_EQ(assignments->size(), 1u);
        EXPECT_EQ(assignments->front().controller, "loom7");
        EXPECT_EQ(gateway::state::version_label(assignments->front().version), "denim-12 v1");
    }
    if (from >= 2) {
        auto page = store.query_log({.controller = "loom7", .key = "main_on"});
        ASSERT_TRUE(page.ok());
        ASSERT_EQ(page->entries.size(), 1u);
        EXPECT_EQ(page->entries[0].new_value, "100");
        EXPECT_EQ(page->entries[0].origin, gateway::state::change_origin::outside);
        EXPECT_FALSE(page->entries[0].rollout.has_value());  // the column came later
    }
    if (from >= 3) {
        auto r = store.find_rollout(1);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r->state, gateway::state::rollout_state::running);
        ASSERT_EQ(r->machines.size(), 2u);
        EXPECT_EQ(r->machines[1].state, gateway::state::machine_state::running);
        auto page = store.query_log({.key = "to"});
        ASSERT_TRUE(page.ok());
        ASSERT_EQ(page->entries.size(), 1u);
        EXPECT_EQ(page->entries[0].rollout, 1);
    }

    // Everything of the latest version works on it.
    auto added = store.add_version(version_of("denim-12"));
    ASSERT_TRUE(added.ok()) << added.failure().reason;
    EXPECT_EQ(added->ref.number, from >= 1 ? 2 : 1);
    const gateway::state::machine_baseline seen{"loom7", document_text(), gateway::state::now()};
    EXPECT_TRUE(store.save_baselines({&seen, 1}).ok());
    auto baselines = store.list_baselines();
    ASSERT_TRUE(baselines.ok());
    EXPECT_EQ(baselines->size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(FromEveryEarlierVersion, Migration,
                         ::testing::Values(migration_case{"empty", 0}, migration_case{"library", 1},
                                           migration_case{"logbook", 2},
                                           migration_case{"rollouts", 3}),
                         test_support::case_name{});

TEST(Migration, ThatFailsLeavesTheVersionBeforeAndTheStoreSaysWhy) {
    test_support::temp_dir dir;
    {
        sqlite_db db = sqlite_db::open(db_path(dir.path()), 250);
        gateway::state::migrate(db, 2);
        // Something made by hand in the way of migration 3.
        db.exec("CREATE TABLE rollout_machines (x)");
    }
    sqlite_store store(dir.path());
    EXPECT_FALSE(store.health().available());
    EXPECT_NE(store.health().reason.find("rollout_machines"), std::string::npos)
        << store.health().reason;
    sqlite_db db = sqlite_db::open(db_path(dir.path()), 250);
    EXPECT_EQ(gateway::state::schema_version_of(db), 2);
    // Migration 3's first table is not there either: it ran in one transaction.
    auto table = db.prepare("SELECT COUNT(*) FROM sqlite_master WHERE name = 'rollouts'");
    ASSERT_TRUE(table.step());
    EXPECT_EQ(table.integer(0), 0);
}

TEST(Migration, DatabaseOfANewerGatewayIsLeftAsItIs) {
    test_support::temp_dir dir;
    {
        sqlite_db db = sqlite_db::open(db_path(dir.path()), 250);
        gateway::state::migrate(db);
        db.exec("PRAGMA user_version = 99");
    }
    sqlite_store store(dir.path());
    EXPECT_FALSE(store.health().available());
    EXPECT_NE(store.health().reason.find("newer ifc-gateway (schema version 99"), std::string::npos)
        << store.health().reason;
    auto listed = store.list_versions({});
    ASSERT_FALSE(listed.ok());
    EXPECT_EQ(listed.code(), store_errc::unavailable);
    sqlite_db db = sqlite_db::open(db_path(dir.path()), 250);
    EXPECT_EQ(gateway::state::schema_version_of(db), 99);
}

// Even a program that opens the file by hand cannot change or delete a saved version.
TEST(LibraryVersions, AreNeverChangedOrDeletedEvenByHand) {
    test_support::temp_dir dir;
    sqlite_store store(dir.path());
    ASSERT_TRUE(store.add_version(version_of("denim-12")).ok());
    ASSERT_TRUE(store.hide_version({"denim-12", 1}, anna, "", gateway::state::now()).ok());
    sqlite_db db = sqlite_db::open(db_path(dir.path()), 250);
    const struct {
        const char* sql;
        const char* refusal;
    } attempts[] = {
        {"UPDATE library_versions SET document = '{}'", "a library version is never changed"},
        {"UPDATE library_versions SET note = 'other'", "a library version is never changed"},
        {"UPDATE library_versions SET hidden_at = NULL", "a hidden version stays hidden"},
        {"DELETE FROM library_versions", "a library version is never deleted, only hidden"},
    };
    for (const auto& attempt : attempts) {
        try {
            db.exec(attempt.sql);
            ADD_FAILURE() << attempt.sql << " was allowed";
        } catch (const gateway::state::sqlite_error& refused) {
            EXPECT_NE(std::string(refused.what()).find(attempt.refusal), std::string::npos)
                << attempt.sql << ": " << refused.what();
        }
    }
    auto kept = store.find_version({"denim-12", 1});
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(kept->document, document_text());
    EXPECT_TRUE(kept->hidden());
}

// Health reports, as the gateway's stderr line would get them.
struct health_log {
    std::mutex mutex;
    std::vector<gateway::state::store_health> reports;
    gateway::state::sqlite_store_options options() {
        auto o = quick_retries();
        o.on_health_change = [this](const gateway::state::store_health& h) {
            std::lock_guard lock(mutex);
            reports.push_back(h);
        };
        return o;
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return reports.size();
    }
};

// The longest a call may take when the database cannot be used.
constexpr auto quick = 2s;

template <class Call>
auto timed(Call call) {
    const auto start = std::chrono::steady_clock::now();
    auto answer = call();
    EXPECT_LT(std::chrono::steady_clock::now() - start, quick);
    return answer;
}

class StateOnASmallDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!disk.mounted()) {
            GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.failure() << ")";
        }
    }
    std::string state_dir() const { return disk.file("state"); }

    test_support::small_disk disk{4 << 20};
};

TEST_F(StateOnASmallDisk, FullDiskRefusesWritesWithTheReasonKeepsReadsAndRecovers) {
    health_log health;
    sqlite_store store(state_dir(), health.options());
    ASSERT_TRUE(store.add_version(version_of("denim-12")).ok());
    ASSERT_TRUE(disk.fill_up());

    // Enough to need new pages of the file.
    std::vector<gateway::state::log_entry> entries(2000);
    for (auto& e : entries)
        e = {.controller = "loom7",
             .section = "valves",
             .key = "main_on",
             .reason = std::string(200, 'x')};
    auto refused = timed([&] { return store.append_log(entries); });
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.code(), store_errc::unavailable);
    EXPECT_NE(refused.failure().reason.find("full"), std::string::npos) << refused.failure().reason;
    EXPECT_FALSE(store.health().writable);
    EXPECT_EQ(store.health().reason, refused.failure().reason);
    auto read = store.find_version({"denim-12", 1});
    EXPECT_TRUE(read.ok()) << (read.ok() ? "" : read.failure().reason);
    EXPECT_FALSE(timed([&] { return store.add_version(version_of("denim-12")); }).ok());

    ASSERT_TRUE(disk.make_room());
    EXPECT_TRUE(store.append_log(entries).ok());
    auto added = store.add_version(version_of("denim-12"));
    ASSERT_TRUE(added.ok());
    EXPECT_EQ(added->ref.number, 2);  // the refused one took no number
    EXPECT_TRUE(store.health().available());
    // Said once when it went, once when it came back.
    ASSERT_EQ(health.count(), 2u);
    EXPECT_FALSE(health.reports[0].writable);
    EXPECT_TRUE(health.reports[1].available());
}

struct read_only_case {
    const char* name;
    bool existing_database;
};
void PrintTo(const read_only_case& c, std::ostream* os) {
    *os << c.name;
}

class ReadOnlyFileSystem : public StateOnASmallDisk,
                           public ::testing::WithParamInterface<read_only_case> {};

TEST_P(ReadOnlyFileSystem, StoreIsUnavailableWithTheReasonUntilItCanWrite) {
    if (GetParam().existing_database) {
        sqlite_store first(state_dir());
        ASSERT_TRUE(first.add_version(version_of("denim-12")).ok());
    } else {
        std::filesystem::create_directory(state_dir());
    }
    ASSERT_TRUE(disk.set_read_only(true));
    health_log health;
    std::optional<sqlite_store> store;
    timed([&] {
        store.emplace(state_dir(), health.options());
        return 0;
    });
    EXPECT_FALSE(store->health().available());
    EXPECT_NE(store->health().reason.find("Read-only file system"), std::string::npos)
        << store->health().reason;
    auto refused = timed([&] { return store->add_version(version_of("denim-12")); });
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.code(), store_errc::unavailable);
    EXPECT_EQ(health.count(), 1u);

    ASSERT_TRUE(disk.set_read_only(false));
    auto added = store->add_version(version_of("denim-12"));
    ASSERT_TRUE(added.ok()) << added.failure().reason;
    EXPECT_EQ(added->ref.number, GetParam().existing_database ? 2 : 1);
    EXPECT_TRUE(store->health().available());
    EXPECT_EQ(health.count(), 2u);
}

INSTANTIATE_TEST_SUITE_P(AtStart, ReadOnlyFileSystem,
                         ::testing::Values(read_only_case{"no_database_yet", false},
                                           read_only_case{"existing_database", true}),
                         test_support::case_name{});

TEST(UnusableDatabase, DamagedFileIsReportedAndNeverOverwritten) {
    test_support::temp_dir dir;
    const std::string garbage(8192, 'x');
    test_support::write_file(db_path(dir.path()), garbage);
    sqlite_store store(dir.path(), quick_retries());
    EXPECT_FALSE(store.health().available());
    EXPECT_NE(store.health().reason.find("is damaged"), std::string::npos) << store.health().reason;
    EXPECT_NE(store.health().reason.find("move the file aside"), std::string::npos);
    auto refused = timed([&] { return store.add_version(version_of("denim-12")); });
    EXPECT_EQ(refused.code(), store_errc::unavailable);
    EXPECT_TRUE(test_support::read_file(db_path(dir.path())) == garbage);

    // Moved aside: a new database.
    std::filesystem::rename(db_path(dir.path()), db_path(dir.path()) + ".damaged");
    store.retry();
    EXPECT_TRUE(store.health().available()) << store.health().reason;
    EXPECT_TRUE(store.add_version(version_of("denim-12")).ok());
}

TEST(UnusableDatabase, SecondGatewayOnTheSameStateDirectoryIsKeptOff) {
    test_support::temp_dir dir;
    sqlite_store first(dir.path());
    ASSERT_TRUE(first.health().available());
    sqlite_store second(dir.path(), quick_retries());
    EXPECT_FALSE(second.health().available());
    EXPECT_NE(second.health().reason.find("another ifc-gateway uses the state directory"),
              std::string::npos)
        << second.health().reason;
    EXPECT_EQ(second.list_versions({}).code(), store_errc::unavailable);
    EXPECT_TRUE(first.add_version(version_of("denim-12")).ok());
}

TEST(UnusableDatabase, LockHeldByAnotherProgramCostsAShortWaitNotAHang) {
    test_support::temp_dir dir;
    sqlite_store store(dir.path());
    ASSERT_TRUE(store.add_version(version_of("denim-12")).ok());
    sqlite_db other = sqlite_db::open(db_path(dir.path()), 0);
    other.exec("BEGIN IMMEDIATE");
    auto refused = timed([&] { return store.add_version(version_of("denim-12")); });
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.failure().reason.find("locked by another program"), std::string::npos)
        << refused.failure().reason;
    // Readers are not held up in WAL mode.
    EXPECT_TRUE(store.find_version({"denim-12", 1}).ok());
    other.exec("COMMIT");
    EXPECT_TRUE(store.add_version(version_of("denim-12")).ok());
    EXPECT_TRUE(store.health().available());
}

TEST(UnusableDatabase, StateDirectoryThatCannotBeMadeIsReported) {
    test_support::temp_dir dir;
    test_support::write_file(dir.file("file"), "not a directory");
    sqlite_store store(dir.file("file") + "/state");
    EXPECT_FALSE(store.health().available());
    EXPECT_NE(store.health().reason.find("cannot create the state directory"), std::string::npos)
        << store.health().reason;
}

}  // namespace
