// The logbook and the machines' last seen settings of the SQLite store.
#include <algorithm>

#include "gateway/state/sqlite_rows.h"
#include "gateway/state/sqlite_store.h"

namespace gateway::state {

log_entry read_log_entry(const sqlite_statement& row) {
    log_entry e;
    e.id = row.integer(0);
    e.at = from_millis(row.integer(1));
    e.since = optional_instant(row, 2);
    e.controller = row.text(3);
    e.section = row.text(4);
    e.colour = static_cast<int>(row.integer(5));
    e.key = row.text(6);
    e.old_value = row.optional_text(7);
    e.new_value = row.optional_text(8);
    e.origin = origin_of(row.text(9)).value_or(change_origin::gateway);
    e.who = row.text(10);
    e.address = row.text(11);
    e.reason = row.text(12);
    e.rollout = row.optional_integer(13);
    return e;
}

void insert_log_entry(sqlite_db& db, const log_entry& e) {
    auto insert = db.prepare(
        "INSERT INTO logbook (at, since, controller, section, colour, key, old_value, new_value, "
        "origin, who, address, reason, rollout) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
        "?11, ?12, ?13)");
    insert.bind(1, millis(e.at));
    if (e.since) {
        insert.bind(2, millis(*e.since));
    } else {
        insert.bind_null(2);
    }
    insert.bind(3, e.controller)
        .bind(4, e.section)
        .bind(5, e.colour)
        .bind(6, e.key)
        .bind(7, e.old_value)
        .bind(8, e.new_value)
        .bind(9, origin_name(e.origin))
        .bind(10, e.who)
        .bind(11, e.address)
        .bind(12, e.reason)
        .bind(13, e.rollout);
    insert.run();
}

store_status sqlite_store::append_log(std::span<const log_entry> entries) {
    if (entries.empty()) return done{};
    return with_db<done>(access::write, [&](sqlite_db& db) -> store_status {
        write_transaction transaction(db);
        for (const log_entry& e : entries)
            insert_log_entry(db, e);
        transaction.commit();
        return done{};
    });
}

store_result<log_page> sqlite_store::query_log(const log_query& query) {
    const std::size_t limit = std::clamp<std::size_t>(query.limit, 1, max_log_page);
    // Only the filters given are in the statement, so that SQLite can use the index of the
    // first of them (machine, who or time), which keeps a page quick in a large logbook.
    std::string sql = std::string("SELECT ") + log_columns + " FROM logbook WHERE 1";
    if (!query.controller.empty()) sql += " AND controller = ?1";
    if (!query.section.empty()) sql += " AND section = ?10";
    if (!query.key.empty()) sql += " AND key = ?2";
    if (!query.who.empty()) sql += " AND who = ?3";
    if (query.origin) sql += " AND origin = ?4";
    if (query.from) sql += " AND at >= ?5";
    if (query.until) sql += " AND at < ?6";
    if (query.after) {
        sql += query.oldest_first ? " AND at >= ?7 AND (at > ?7 OR id > ?8)"
                                  : " AND at <= ?7 AND (at < ?7 OR id < ?8)";
    }
    sql += query.oldest_first ? " ORDER BY at, id" : " ORDER BY at DESC, id DESC";
    sql += " LIMIT ?9";
    return with_db<log_page>(access::read, [&](sqlite_db& db) -> store_result<log_page> {
        auto stmt = db.prepare(sql);
        if (!query.controller.empty()) stmt.bind(1, query.controller);
        if (!query.section.empty()) stmt.bind(10, query.section);
        if (!query.key.empty()) stmt.bind(2, query.key);
        if (!query.who.empty()) stmt.bind(3, query.who);
        if (query.origin) stmt.bind(4, origin_name(*query.origin));
        if (query.from) stmt.bind(5, millis(*query.from));
        if (query.until) stmt.bind(6, millis(*query.until));
        if (query.after) stmt.bind(7, millis(query.after->at)).bind(8, query.after->id);
        stmt.bind(9, static_cast<std::int64_t>(limit + 1));
        log_page page;
        while (stmt.step()) {
            if (page.entries.size() == limit) {
                const log_entry& last = page.entries.back();
                page.next = log_cursor{last.at, last.id};
                break;
            }
            page.entries.push_back(read_log_entry(stmt));
        }
        return page;
    });
}

store_result<std::size_t> sqlite_store::prune_log(instant before, std::size_t at_most) {
    return with_db<std::size_t>(access::write, [&](sqlite_db& db) -> store_result<std::size_t> {
        auto remove = db.prepare(
            "DELETE FROM logbook WHERE id IN (SELECT id FROM logbook WHERE at < ?1 ORDER BY at "
            "LIMIT ?2)");
        remove.bind(1, millis(before)).bind(2, static_cast<std::int64_t>(at_most));
        remove.run();
        return static_cast<std::size_t>(db.changes());
    });
}

store_result<std::vector<machine_baseline>> sqlite_store::list_baselines() {
    using list = std::vector<machine_baseline>;
    return with_db<list>(access::read, [&](sqlite_db& db) -> store_result<list> {
        auto stmt = db.prepare("SELECT controller, document, seen_at FROM machine_baselines");
        list baselines;
        while (stmt.step())
            baselines.push_back({stmt.text(0), stmt.text(1), from_millis(stmt.integer(2))});
        return baselines;
    });
}

store_status sqlite_store::save_baselines(std::span<const machine_baseline> baselines) {
    if (baselines.empty()) return done{};
    return with_db<done>(access::write, [&](sqlite_db& db) -> store_status {
        write_transaction transaction(db);
        for (const machine_baseline& b : baselines) {
            auto put = db.prepare(
                "INSERT INTO machine_baselines (controller, document, seen_at) VALUES (?1, ?2, "
                "?3) ON CONFLICT (controller) DO UPDATE SET document = ?2, seen_at = ?3");
            put.bind(1, b.controller).bind(2, b.document).bind(3, millis(b.seen_at));
            put.run();
        }
        transaction.commit();
        return done{};
    });
}

}  // namespace gateway::state
