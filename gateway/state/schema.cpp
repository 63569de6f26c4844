#include "gateway/state/schema.h"

#include <array>
#include <string>

namespace gateway::state {

namespace {

// Times are milliseconds since 1970 UTC; who/by is a token's name or "local", from/address the
// request's address.
constexpr std::array<migration, schema_version> all_migrations{{
    {1, "the settings library and assignments", R"sql(
CREATE TABLE library_versions (
    id INTEGER PRIMARY KEY,
    style TEXT NOT NULL,
    number INTEGER NOT NULL,
    note TEXT NOT NULL,
    source TEXT NOT NULL,
    document TEXT NOT NULL,
    saved_at INTEGER NOT NULL,
    saved_by TEXT NOT NULL,
    saved_from TEXT NOT NULL,
    hidden_at INTEGER,
    hidden_by TEXT,
    UNIQUE (style, number)
);
CREATE TRIGGER library_versions_are_immutable
    BEFORE UPDATE OF id, style, number, note, source, document, saved_at, saved_by, saved_from
    ON library_versions
BEGIN
    SELECT RAISE(ABORT, 'a library version is never changed');
END;
CREATE TRIGGER library_versions_are_kept BEFORE DELETE ON library_versions
BEGIN
    SELECT RAISE(ABORT, 'a library version is never deleted, only hidden');
END;
CREATE TRIGGER hidden_versions_stay_hidden BEFORE UPDATE OF hidden_at, hidden_by
    ON library_versions WHEN OLD.hidden_at IS NOT NULL
BEGIN
    SELECT RAISE(ABORT, 'a hidden version stays hidden');
END;
CREATE TABLE assignments (
    controller TEXT PRIMARY KEY,
    version_id INTEGER NOT NULL REFERENCES library_versions (id),
    assigned_at INTEGER NOT NULL,
    assigned_by TEXT NOT NULL,
    assigned_from TEXT NOT NULL
) WITHOUT ROWID;
)sql"},
    {2, "the logbook", R"sql(
CREATE TABLE logbook (
    id INTEGER PRIMARY KEY,
    at INTEGER NOT NULL,
    since INTEGER,
    controller TEXT NOT NULL,
    section TEXT NOT NULL,
    colour INTEGER NOT NULL,
    key TEXT NOT NULL,
    old_value TEXT,
    new_value TEXT,
    origin TEXT NOT NULL CHECK (origin IN ('gateway', 'outside')),
    who TEXT NOT NULL,
    address TEXT NOT NULL,
    reason TEXT NOT NULL
);
CREATE INDEX logbook_by_machine ON logbook (controller, at);
CREATE INDEX logbook_by_time ON logbook (at);
CREATE INDEX logbook_by_who ON logbook (who, at);
)sql"},
    {3, "roll-outs, and the roll-out of a logbook entry", R"sql(
CREATE TABLE rollouts (
    id INTEGER PRIMARY KEY,
    version_id INTEGER NOT NULL REFERENCES library_versions (id),
    state TEXT NOT NULL,
    parallel INTEGER NOT NULL,
    pause_after_first INTEGER NOT NULL,
    created_at INTEGER NOT NULL,
    created_by TEXT NOT NULL,
    created_from TEXT NOT NULL,
    reason TEXT NOT NULL,
    started_at INTEGER,
    ended_at INTEGER,
    end_reason TEXT NOT NULL DEFAULT ''
);
CREATE INDEX rollouts_unfinished ON rollouts (state);
CREATE TABLE rollout_machines (
    rollout INTEGER NOT NULL REFERENCES rollouts (id),
    position INTEGER NOT NULL,
    controller TEXT NOT NULL,
    state TEXT NOT NULL,
    planned_values INTEGER,
    plan TEXT NOT NULL DEFAULT '',
    changes TEXT NOT NULL DEFAULT '',
    values_written INTEGER NOT NULL DEFAULT 0,
    reason TEXT NOT NULL DEFAULT '',
    started_at INTEGER,
    ended_at INTEGER,
    apply_ms REAL NOT NULL DEFAULT 0,
    PRIMARY KEY (rollout, position)
) WITHOUT ROWID;
ALTER TABLE logbook ADD COLUMN rollout INTEGER REFERENCES rollouts (id);
)sql"},
    {4, "the settings each machine was last seen with", R"sql(
CREATE TABLE machine_baselines (
    controller TEXT PRIMARY KEY,
    document TEXT NOT NULL,
    seen_at INTEGER NOT NULL
) WITHOUT ROWID;
)sql"},
}};

}  // namespace

std::span<const migration> migrations() {
    return all_migrations;
}

int schema_version_of(sqlite_db& db) {
    return std::stoi(db.pragma("PRAGMA user_version"));
}

void migrate(sqlite_db& db, int target) {
    for (const migration& m : all_migrations) {
        if (m.version > target) break;
        write_transaction transaction(db);
        // Read inside the transaction: another connection may have migrated meanwhile.
        if (schema_version_of(db) >= m.version) continue;
        db.exec(std::string(m.sql));
        db.exec("PRAGMA user_version = " + std::to_string(m.version));
        transaction.commit();
    }
}

}  // namespace gateway::state
