// The schema of the state database and how a database of an earlier version is brought up to
// date. Version k is the database after migrations 1 to k; SQLite's user_version holds it, and
// each migration runs in one transaction with the new number, so a database is always at one
// version or the next, never between them.
#pragma once

#include <span>
#include <string_view>

#include "gateway/state/sqlite_db.h"

namespace gateway::state {

struct migration {
    int version;            // the version it brings the database to
    std::string_view what;  // in words
    std::string_view sql;
};

// Every migration in order, the last one's version being schema_version.
std::span<const migration> migrations();
inline constexpr int schema_version = 4;

// The version of db's schema: 0 for a new, empty database.
int schema_version_of(sqlite_db& db);
// Runs the migrations from db's version up to target (throws sqlite_error). A database of a
// version above schema_version is not touched: the caller refuses it first.
void migrate(sqlite_db& db, int target = schema_version);

}  // namespace gateway::state
