// The logbook: pages with filters, and exports as CSV and JSON lines.
#include "gateway/http_replies.h"
#include "gateway/mill/logbook_export.h"
#include "gateway/mill_routes.h"

namespace gateway {

namespace {

// An export is made whole before it is sent: one larger than this is refused (413), to be
// asked for again narrowed by time or machine. About 100 000 entries.
constexpr std::size_t largest_export = 16 * 1024 * 1024;
constexpr std::size_t export_page = 1000;

std::optional<state::instant> time_of(const std::string& text) {
    if (const auto at = state::parse_instant(text)) return at;
    if (const auto ms = whole_number_of(text)) {
        return state::instant(std::chrono::milliseconds(*ms));
    }
    return std::nullopt;
}

// "AT:ID", AT in milliseconds since 1970: where a page ends, for the next.
std::string cursor_text(const state::log_cursor& cursor) {
    return std::to_string(cursor.at.time_since_epoch().count()) + ":" + std::to_string(cursor.id);
}

std::optional<state::log_cursor> cursor_of(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const auto at = whole_number_of(std::string_view(text).substr(0, colon));
    const auto id = whole_number_of(std::string_view(text).substr(colon + 1));
    if (!at || !id) return std::nullopt;
    return state::log_cursor{state::instant(std::chrono::milliseconds(*at)), *id};
}

// The query of a request's parameters; nullopt after answering 400.
std::optional<state::log_query> query_of(const http_request& req, bool paged, http_response& res) {
    state::log_query q;
    q.controller = req.param("controller").value_or("");
    q.section = req.param("section").value_or("");
    q.key = req.param("key").value_or("");
    q.who = req.param("who").value_or("");
    const auto refuse = [&res](const std::string& message) {
        send_error(res, 400, message);
        return std::nullopt;
    };
    if (const auto origin = req.param("origin"); origin && !origin->empty()) {
        q.origin = state::origin_of(*origin);
        if (!q.origin) return refuse("origin=" + *origin + ": gateway or outside");
    }
    for (const auto& [name, field] : {std::pair{"from", &q.from}, std::pair{"until", &q.until}}) {
        if (const auto text = req.param(name); text && !text->empty()) {
            *field = time_of(*text);
            if (!*field) {
                return refuse(std::string(name) + "=" + *text +
                              ": a UTC time (2026-12-10T08:15:00Z) or milliseconds since 1970");
            }
        }
    }
    if (const auto order = req.param("order"); order && !order->empty()) {
        if (*order != "newest" && *order != "oldest") {
            return refuse("order=" + *order + ": newest or oldest");
        }
        q.oldest_first = *order == "oldest";
    }
    if (const auto after = req.param("after"); after && !after->empty()) {
        q.after = cursor_of(*after);
        if (!q.after) return refuse("after=" + *after + " is not the \"next\" of a page");
    }
    q.limit = paged ? 100 : export_page;
    if (const auto limit = req.param("limit"); paged && limit && !limit->empty()) {
        const auto n = whole_number_of(*limit);
        if (!n || *n < 1 || *n > static_cast<std::int64_t>(state::max_log_page)) {
            return refuse("limit=" + *limit + ": a number 1.." +
                          std::to_string(state::max_log_page));
        }
        q.limit = static_cast<std::size_t>(*n);
    }
    return q;
}

void add_export(mill_router& routes, const char* path, mill::export_format format, const char* type,
                const char* file_name) {
    routes.get(path, [format, type, file_name](const http_request& req, const path_parts&,
                                               mill_wiring& mill, http_response& res) {
        const auto query = query_of(req, false, res);
        if (!query) return;
        std::string text;
        bool too_large = false;
        const auto written =
            mill::export_log(mill.context().store(), *query, format, [&](std::string_view chunk) {
                if (text.size() + chunk.size() > largest_export) {
                    too_large = true;
                    return false;
                }
                text.append(chunk);
                return true;
            });
        if (store_failed(written, res)) return;
        if (too_large) {
            return send_error(res, 413,
                              "the export is larger than " +
                                  std::to_string(largest_export / (1024 * 1024)) +
                                  " MiB: narrow it by time (from, until) or machine");
        }
        res.status = 200;
        res.set_header("Cache-Control", "no-store");
        res.set_header("Content-Disposition",
                       std::string("attachment; filename=\"") + file_name + "\"");
        res.set_text(std::move(text), type);
    });
}

}  // namespace

void add_logbook_routes(mill_router& routes) {
    routes.get("/api/logbook", [](const http_request& req, const path_parts&, mill_wiring& mill,
                                  http_response& res) {
        const auto query = query_of(req, true, res);
        if (!query) return;
        auto page = mill.context().log().page(*query);
        if (store_failed(page, res)) return;
        mill_json entries = mill_json::array();
        for (const auto& e : page->entries)
            entries.push_back(mill::entry_json(e));
        send_mill_json(res, 200,
                       {{"entries", entries},
                        {"next", page->next ? mill_json(cursor_text(*page->next)) : mill_json()}});
    });
    add_export(routes, "/api/logbook.csv", mill::export_format::csv, "text/csv; charset=utf-8",
               "logbook.csv");
    add_export(routes, "/api/logbook.jsonl", mill::export_format::json_lines, "application/jsonl",
               "logbook.jsonl");
}

}  // namespace gateway
