// The settings library and the assignments of the SQLite store.
#include <set>

#include "gateway/state/sqlite_rows.h"
#include "gateway/state/sqlite_store.h"

namespace gateway::state {

namespace {

// A version with its hidden flag, by style and number; nullopt when there is none.
std::optional<library_version> version_row(sqlite_db& db, const version_ref& ref) {
    auto stmt = db.prepare(std::string("SELECT ") + version_columns +
                           ", document FROM library_versions WHERE style = ?1 AND number = ?2");
    stmt.bind(1, ref.style).bind(2, ref.number);
    if (!stmt.step()) return std::nullopt;
    return read_version(stmt, true);
}

store_error no_such_version(const version_ref& ref) {
    return not_found("the library has no version " + version_label(ref));
}

}  // namespace

library_version read_version(const sqlite_statement& row, bool with_document) {
    library_version v;
    v.id = row.integer(0);
    v.ref = {row.text(1), static_cast<int>(row.integer(2))};
    v.note = row.text(3);
    v.source = row.text(4);
    v.saved_at = from_millis(row.integer(5));
    v.saved_by = {row.text(6), row.text(7)};
    v.hidden_at = optional_instant(row, 8);
    v.hidden_by = row.optional_text(9).value_or("");
    if (with_document) v.document = row.text(10);
    return v;
}

log_entry library_entry(const version_ref& ref, std::optional<std::string> old_value,
                        std::optional<std::string> new_value, const actor& by, instant at,
                        std::string reason) {
    log_entry e;
    e.at = at;
    e.section = std::string(library_section);
    e.key = version_label(ref);
    e.old_value = std::move(old_value);
    e.new_value = std::move(new_value);
    e.who = by.who;
    e.address = by.address;
    e.reason = std::move(reason);
    return e;
}

store_result<library_version> sqlite_store::add_version(const new_version& version) {
    if (!is_style_name(version.style)) {
        return invalid("a style's name is 1 to 64 letters, digits, '-', '_' and '.': '" +
                       version.style + "' is not");
    }
    if (version.note.size() > max_note) {
        return invalid("a note is at most " + std::to_string(max_note) + " bytes");
    }
    if (version.document.empty()) return invalid("a version needs a settings document");
    if (auto refused = refused_reason(version.reason)) return std::move(*refused);
    return with_db<library_version>(
        access::write, [&](sqlite_db& db) -> store_result<library_version> {
            write_transaction transaction(db);
            auto next = db.prepare(
                "SELECT COALESCE(MAX(number), 0) + 1 FROM library_versions WHERE style = ?1");
            next.bind(1, version.style);
            next.step();
            const int number = static_cast<int>(next.integer(0));
            auto insert = db.prepare(
                "INSERT INTO library_versions (style, number, note, source, document, saved_at, "
                "saved_by, saved_from) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
            insert.bind(1, version.style)
                .bind(2, number)
                .bind(3, version.note)
                .bind(4, version.source)
                .bind(5, version.document)
                .bind(6, millis(version.at))
                .bind(7, version.by.who)
                .bind(8, version.by.address);
            insert.run();
            const version_ref ref{version.style, number};
            insert_log_entry(db,
                             library_entry(ref, std::nullopt, "saved", version.by, version.at,
                                           version.reason.empty() ? version.note : version.reason));
            auto saved = version_row(db, ref);
            transaction.commit();
            return std::move(*saved);
        });
}

store_result<std::vector<library_version>> sqlite_store::list_versions(const version_query& query) {
    using list = std::vector<library_version>;
    return with_db<list>(access::read, [&](sqlite_db& db) -> store_result<list> {
        auto stmt = db.prepare(std::string("SELECT ") + version_columns +
                               " FROM library_versions WHERE (?1 = '' OR style = ?1) AND "
                               "(?2 OR hidden_at IS NULL) ORDER BY saved_at DESC, id DESC");
        stmt.bind(1, query.style).bind(2, query.include_hidden ? 1 : 0);
        list versions;
        while (stmt.step())
            versions.push_back(read_version(stmt, false));
        return versions;
    });
}

store_result<library_version> sqlite_store::find_version(const version_ref& ref) {
    return with_db<library_version>(access::read,
                                    [&](sqlite_db& db) -> store_result<library_version> {
                                        auto found = version_row(db, ref);
                                        if (!found) return no_such_version(ref);
                                        return std::move(*found);
                                    });
}

store_result<library_version> sqlite_store::find_version(std::int64_t id) {
    return with_db<library_version>(
        access::read, [&](sqlite_db& db) -> store_result<library_version> {
            auto stmt = db.prepare(std::string("SELECT ") + version_columns +
                                   ", document FROM library_versions WHERE id = ?1");
            stmt.bind(1, id);
            if (!stmt.step()) return not_found("the library has no version " + std::to_string(id));
            return read_version(stmt, true);
        });
}

store_result<library_version> sqlite_store::hide_version(const version_ref& ref, const actor& by,
                                                         const std::string& reason, instant at) {
    if (auto refused = refused_reason(reason)) return std::move(*refused);
    return with_db<library_version>(
        access::write, [&](sqlite_db& db) -> store_result<library_version> {
            write_transaction transaction(db);
            auto found = version_row(db, ref);
            if (!found) return no_such_version(ref);
            if (found->hidden()) return conflict(version_label(ref) + " is hidden already");
            auto hide = db.prepare(
                "UPDATE library_versions SET hidden_at = ?1, hidden_by = ?2 WHERE id = ?3");
            hide.bind(1, millis(at)).bind(2, by.who).bind(3, found->id);
            hide.run();
            insert_log_entry(db, library_entry(ref, "saved", "hidden", by, at, reason));
            found->hidden_at = at;
            found->hidden_by = by.who;
            transaction.commit();
            return std::move(*found);
        });
}

store_result<std::vector<assignment>> sqlite_store::list_assignments() {
    using list = std::vector<assignment>;
    return with_db<list>(access::read, [&](sqlite_db& db) -> store_result<list> {
        auto stmt = db.prepare(
            "SELECT a.controller, a.version_id, v.style, v.number, v.hidden_at IS NOT NULL, "
            "a.assigned_at, a.assigned_by, a.assigned_from FROM assignments a JOIN "
            "library_versions v ON v.id = a.version_id ORDER BY a.controller");
        list assignments;
        while (stmt.step()) {
            assignments.push_back(assignment{stmt.text(0),
                                             stmt.integer(1),
                                             {stmt.text(2), static_cast<int>(stmt.integer(3))},
                                             stmt.integer(4) != 0,
                                             from_millis(stmt.integer(5)),
                                             {stmt.text(6), stmt.text(7)}});
        }
        return assignments;
    });
}

store_status sqlite_store::assign(std::span<const std::string> controllers,
                                  const std::optional<version_ref>& ref, const actor& by,
                                  const std::string& reason, instant at) {
    if (auto refused = refused_reason(reason)) return std::move(*refused);
    for (const std::string& name : controllers) {
        if (name.empty() || name.size() > max_style_name) {
            return invalid("'" + name + "' is not a controller's name");
        }
    }
    return with_db<done>(access::write, [&](sqlite_db& db) -> store_status {
        write_transaction transaction(db);
        std::optional<library_version> version;
        if (ref) {
            version = version_row(db, *ref);
            if (!version) return no_such_version(*ref);
            if (version->hidden()) {
                return conflict(version_label(*ref) + " is hidden and cannot be assigned");
            }
        }
        const std::optional<std::string> new_label =
            version ? std::optional(version_label(version->ref)) : std::nullopt;
        std::set<std::string, std::less<>> seen;
        for (const std::string& controller : controllers) {
            if (!seen.insert(controller).second) continue;
            auto current = db.prepare(
                "SELECT v.style, v.number FROM assignments a JOIN library_versions v ON v.id = "
                "a.version_id WHERE a.controller = ?1");
            current.bind(1, controller);
            std::optional<std::string> old_label;
            if (current.step()) {
                old_label = version_label({current.text(0), static_cast<int>(current.integer(1))});
            }
            if (old_label == new_label) continue;
            if (version) {
                auto put = db.prepare(
                    "INSERT INTO assignments (controller, version_id, assigned_at, assigned_by, "
                    "assigned_from) VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (controller) DO "
                    "UPDATE SET version_id = ?2, assigned_at = ?3, assigned_by = ?4, "
                    "assigned_from = ?5");
                put.bind(1, controller)
                    .bind(2, version->id)
                    .bind(3, millis(at))
                    .bind(4, by.who)
                    .bind(5, by.address);
                put.run();
            } else {
                auto drop = db.prepare("DELETE FROM assignments WHERE controller = ?1");
                drop.bind(1, controller);
                drop.run();
            }
            log_entry e;
            e.at = at;
            e.controller = controller;
            e.section = std::string(assignment_section);
            e.key = "version";
            e.old_value = old_label;
            e.new_value = new_label;
            e.who = by.who;
            e.address = by.address;
            e.reason = reason;
            insert_log_entry(db, e);
        }
        transaction.commit();
        return done{};
    });
}

}  // namespace gateway::state
