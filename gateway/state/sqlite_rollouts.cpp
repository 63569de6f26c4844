// Roll-outs and their machines in the SQLite store.
#include <set>

#include "gateway/state/sqlite_rows.h"
#include "gateway/state/sqlite_store.h"

namespace gateway::state {

namespace {

constexpr const char* rollout_columns =
    "r.id, r.version_id, v.style, v.number, r.state, r.parallel, r.pause_after_first, "
    "r.created_at, r.created_by, r.created_from, r.reason, r.started_at, r.ended_at, "
    "r.end_reason";

rollout read_rollout(const sqlite_statement& row) {
    rollout r;
    r.id = row.integer(0);
    r.version_id = row.integer(1);
    r.version = {row.text(2), static_cast<int>(row.integer(3))};
    r.state = rollout_state_of(row.text(4)).value_or(rollout_state::interrupted);
    r.options = {static_cast<int>(row.integer(5)), row.integer(6) != 0};
    r.created_at = from_millis(row.integer(7));
    r.by = {row.text(8), row.text(9)};
    r.reason = row.text(10);
    r.started_at = optional_instant(row, 11);
    r.ended_at = optional_instant(row, 12);
    r.end_reason = row.text(13);
    return r;
}

rollout_machine read_machine(const sqlite_statement& row) {
    rollout_machine m;
    m.position = static_cast<int>(row.integer(0));
    m.controller = row.text(1);
    m.state = machine_state_of(row.text(2)).value_or(machine_state::unknown);
    if (auto planned = row.optional_integer(3)) m.planned_values = static_cast<int>(*planned);
    m.plan = row.text(4);
    m.changes = row.text(5);
    m.values_written = static_cast<int>(row.integer(6));
    m.reason = row.text(7);
    m.started_at = optional_instant(row, 8);
    m.ended_at = optional_instant(row, 9);
    m.apply_ms = row.real(10);
    return m;
}

void count_machines(sqlite_db& db, rollout& r) {
    auto stmt = db.prepare(
        "SELECT state, COUNT(*) FROM rollout_machines WHERE rollout = ?1 GROUP BY state");
    stmt.bind(1, r.id);
    while (stmt.step()) {
        if (auto state = machine_state_of(stmt.text(0))) {
            r.counts[static_cast<std::size_t>(*state)] = static_cast<int>(stmt.integer(1));
        }
    }
}

std::optional<rollout> rollout_row(sqlite_db& db, std::int64_t id, bool with_machines) {
    auto stmt = db.prepare(std::string("SELECT ") + rollout_columns +
                           " FROM rollouts r JOIN library_versions v ON v.id = r.version_id "
                           "WHERE r.id = ?1");
    stmt.bind(1, id);
    if (!stmt.step()) return std::nullopt;
    rollout r = read_rollout(stmt);
    count_machines(db, r);
    if (with_machines) {
        auto machines = db.prepare(
            "SELECT position, controller, state, planned_values, plan, changes, values_written, "
            "reason, started_at, ended_at, apply_ms FROM rollout_machines WHERE rollout = ?1 "
            "ORDER BY position");
        machines.bind(1, id);
        while (machines.step())
            r.machines.push_back(read_machine(machines));
    }
    return r;
}

store_error no_such_rollout(std::int64_t id) {
    return not_found("there is no roll-out " + std::to_string(id));
}

}  // namespace

store_result<rollout> sqlite_store::create_rollout(const version_ref& ref,
                                                   std::span<const std::string> controllers,
                                                   const rollout_options& options, const actor& by,
                                                   const std::string& reason, instant at) {
    if (controllers.empty()) return invalid("a roll-out needs at least one machine");
    if (controllers.size() > max_rollout_machines) {
        return invalid("a roll-out has at most " + std::to_string(max_rollout_machines) +
                       " machines");
    }
    std::set<std::string, std::less<>> names;
    for (const std::string& name : controllers) {
        if (!names.insert(name).second) return invalid(name + " is named twice");
    }
    if (options.parallel < 1 || options.parallel > max_parallel) {
        return invalid("parallel is 1 to " + std::to_string(max_parallel));
    }
    if (auto refused = refused_reason(reason)) return std::move(*refused);
    return with_db<rollout>(access::write, [&](sqlite_db& db) -> store_result<rollout> {
        write_transaction transaction(db);
        auto version = db.prepare(
            "SELECT id, hidden_at IS NOT NULL FROM library_versions WHERE style = ?1 AND "
            "number = ?2");
        version.bind(1, ref.style).bind(2, ref.number);
        if (!version.step()) return not_found("the library has no version " + version_label(ref));
        if (version.integer(1) != 0) {
            return conflict(version_label(ref) + " is hidden and cannot be rolled out");
        }
        auto insert = db.prepare(
            "INSERT INTO rollouts (version_id, state, parallel, pause_after_first, created_at, "
            "created_by, created_from, reason) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
        insert.bind(1, version.integer(0))
            .bind(2, state_name(rollout_state::planning))
            .bind(3, options.parallel)
            .bind(4, options.pause_after_first ? 1 : 0)
            .bind(5, millis(at))
            .bind(6, by.who)
            .bind(7, by.address)
            .bind(8, reason);
        insert.run();
        const std::int64_t id = db.last_insert_id();
        int position = 0;
        for (const std::string& controller : controllers) {
            auto machine = db.prepare(
                "INSERT INTO rollout_machines (rollout, position, controller, state) VALUES "
                "(?1, ?2, ?3, ?4)");
            machine.bind(1, id)
                .bind(2, position++)
                .bind(3, controller)
                .bind(4, state_name(machine_state::pending));
            machine.run();
        }
        auto created = rollout_row(db, id, true);
        transaction.commit();
        return std::move(*created);
    });
}

store_status sqlite_store::set_rollout_state(std::int64_t id, rollout_state state,
                                             const std::string& end_reason, instant at) {
    return with_db<done>(access::write, [&](sqlite_db& db) -> store_status {
        write_transaction transaction(db);
        auto current = db.prepare("SELECT state FROM rollouts WHERE id = ?1");
        current.bind(1, id);
        if (!current.step()) return no_such_rollout(id);
        const auto was = rollout_state_of(current.text(0));
        if (was && is_final(*was) && *was != state) {
            return conflict("roll-out " + std::to_string(id) + " has ended (" +
                            std::string(state_name(*was)) + ")");
        }
        auto update = db.prepare(
            "UPDATE rollouts SET state = ?2, "
            "started_at = CASE WHEN ?2 = 'running' AND started_at IS NULL THEN ?3 ELSE "
            "started_at END, "
            "ended_at = CASE WHEN ?4 THEN ?3 ELSE ended_at END, "
            "end_reason = CASE WHEN ?4 THEN ?5 ELSE end_reason END WHERE id = ?1");
        update.bind(1, id)
            .bind(2, state_name(state))
            .bind(3, millis(at))
            .bind(4, is_final(state) ? 1 : 0)
            .bind(5, end_reason);
        update.run();
        transaction.commit();
        return done{};
    });
}

store_status sqlite_store::set_rollout_machine(std::int64_t id, const rollout_machine& m,
                                               std::span<const log_entry> entries) {
    return with_db<done>(access::write, [&](sqlite_db& db) -> store_status {
        write_transaction transaction(db);
        auto update = db.prepare(
            "UPDATE rollout_machines SET state = ?3, planned_values = ?4, plan = ?5, changes = "
            "?6, values_written = ?7, reason = ?8, started_at = ?9, ended_at = ?10, apply_ms = "
            "?11 WHERE rollout = ?1 AND position = ?2");
        update.bind(1, id)
            .bind(2, m.position)
            .bind(3, state_name(m.state))
            .bind(4, m.planned_values)
            .bind(5, m.plan)
            .bind(6, m.changes)
            .bind(7, m.values_written)
            .bind(8, m.reason);
        if (m.started_at) {
            update.bind(9, millis(*m.started_at));
        } else {
            update.bind_null(9);
        }
        if (m.ended_at) {
            update.bind(10, millis(*m.ended_at));
        } else {
            update.bind_null(10);
        }
        update.bind(11, m.apply_ms);
        update.run();
        if (db.changes() == 0) {
            return not_found("roll-out " + std::to_string(id) + " has no machine at position " +
                             std::to_string(m.position));
        }
        for (log_entry e : entries) {
            e.rollout = id;
            insert_log_entry(db, e);
        }
        transaction.commit();
        return done{};
    });
}

store_status sqlite_store::skip_pending(std::int64_t id, const std::string& reason, instant at) {
    return with_db<done>(access::write, [&](sqlite_db& db) -> store_status {
        auto skip = db.prepare(
            "UPDATE rollout_machines SET state = 'skipped', reason = ?2, ended_at = ?3 WHERE "
            "rollout = ?1 AND state = 'pending'");
        skip.bind(1, id).bind(2, reason).bind(3, millis(at));
        skip.run();
        return done{};
    });
}

store_result<rollout> sqlite_store::find_rollout(std::int64_t id) {
    return with_db<rollout>(access::read, [&](sqlite_db& db) -> store_result<rollout> {
        auto found = rollout_row(db, id, true);
        if (!found) return no_such_rollout(id);
        return std::move(*found);
    });
}

store_result<std::vector<rollout>> sqlite_store::list_rollouts(
    std::size_t limit, std::optional<std::int64_t> before_id) {
    using list = std::vector<rollout>;
    return with_db<list>(access::read, [&](sqlite_db& db) -> store_result<list> {
        auto stmt = db.prepare(std::string("SELECT ") + rollout_columns +
                               " FROM rollouts r JOIN library_versions v ON v.id = r.version_id "
                               "WHERE ?1 IS NULL OR r.id < ?1 ORDER BY r.id DESC LIMIT ?2");
        stmt.bind(1, before_id).bind(2, static_cast<std::int64_t>(std::min(limit, max_log_page)));
        list rollouts;
        while (stmt.step())
            rollouts.push_back(read_rollout(stmt));
        for (rollout& r : rollouts)
            count_machines(db, r);
        return rollouts;
    });
}

store_result<int> sqlite_store::interrupt_unfinished(instant at) {
    return with_db<int>(access::write, [&](sqlite_db& db) -> store_result<int> {
        write_transaction transaction(db);
        constexpr const char* unfinished =
            "rollout IN (SELECT id FROM rollouts WHERE state IN ('planning', 'running'))";
        auto unknown = db.prepare(
            std::string("UPDATE rollout_machines SET state = 'unknown', ended_at = ?1, reason = "
                        "'the gateway stopped while writing this machine: read it to know what "
                        "it holds' WHERE state = 'running' AND ") +
            unfinished);
        unknown.bind(1, millis(at));
        unknown.run();
        auto skipped = db.prepare(
            std::string("UPDATE rollout_machines SET state = 'skipped', ended_at = ?1, reason = "
                        "'the roll-out was interrupted' WHERE state = 'pending' AND ") +
            unfinished);
        skipped.bind(1, millis(at));
        skipped.run();
        auto interrupted = db.prepare(
            "UPDATE rollouts SET state = 'interrupted', ended_at = ?1, end_reason = 'the gateway "
            "stopped during the roll-out' WHERE state IN ('planning', 'running')");
        interrupted.bind(1, millis(at));
        interrupted.run();
        const int count = db.changes();
        transaction.commit();
        return count;
    });
}

}  // namespace gateway::state
