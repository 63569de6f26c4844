// The rows of the state database as records, for the store's own files: how a time is kept, and
// the columns and reading of the rows that several of the store's files share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "gateway/state/records.h"
#include "gateway/state/sqlite_db.h"
#include "gateway/state/store_result.h"

namespace gateway::state {

inline std::int64_t millis(instant t) {
    return t.time_since_epoch().count();
}
inline instant from_millis(std::int64_t ms) {
    return instant{std::chrono::milliseconds{ms}};
}
inline std::optional<instant> optional_instant(const sqlite_statement& row, int column) {
    if (row.is_null(column)) return std::nullopt;
    return from_millis(row.integer(column));
}

// The columns read_log_entry reads, in its order.
inline constexpr const char* log_columns =
    "id, at, since, controller, section, colour, key, old_value, new_value, origin, who, address, "
    "reason, rollout";
log_entry read_log_entry(const sqlite_statement& row);
void insert_log_entry(sqlite_db& db, const log_entry& entry);

// A library entry of the logbook: section "library", the version as key.
log_entry library_entry(const version_ref& ref, std::optional<std::string> old_value,
                        std::optional<std::string> new_value, const actor& by, instant at,
                        std::string reason);

// A reason kept with a roll-out or an entry of the logbook: refused over max_note bytes. The API
// takes fewer (gateway/write_reason.h); this bounds the rows for any caller of the store.
inline std::optional<store_error> refused_reason(const std::string& reason) {
    if (reason.size() <= max_note) return std::nullopt;
    return invalid("a reason is at most " + std::to_string(max_note) + " bytes");
}

// The columns read_version reads, without and with the document.
inline constexpr const char* version_columns =
    "id, style, number, note, source, saved_at, saved_by, saved_from, hidden_at, hidden_by";
library_version read_version(const sqlite_statement& row, bool with_document);

}  // namespace gateway::state
