// The logbook as CSV and as JSON lines, page by page from the store, so that an export of any
// size holds one page in memory and the store between two pages for nobody.
//
// CSV: a header line, then one line per entry (RFC 4180: fields with a comma, a quote or a
// line break are quoted, quotes doubled; lines end in CRLF). The columns are those of
// log_columns_text below; times are UTC ("2026-12-10T08:15:00.123Z"). A reason that begins with
// '=', '+', '-', '@' or a tab gets a leading apostrophe, so that a spreadsheet shows it as text
// instead of running it as a formula.
// JSON lines: one object per entry with the same names; values that are absent are null.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "gateway/state/store.h"

namespace gateway::mill {

// id,at,since,controller,section,colour,key,old_value,new_value,origin,who,address,reason,rollout
extern const std::string_view log_columns_text;

nlohmann::ordered_json entry_json(const state::log_entry& entry);
std::string csv_line(const state::log_entry& entry);

enum class export_format { csv, json_lines };

// Writes every entry query selects (its limit is the page size, its cursor where to start) to
// sink, chunk by chunk; sink answers false to stop (the reader went away). Returns the number of
// entries written, or the store's failure (what was written before it stays written).
state::store_result<std::size_t> export_log(state::store& store, state::log_query query,
                                            export_format format,
                                            const std::function<bool(std::string_view)>& sink);

}  // namespace gateway::mill
