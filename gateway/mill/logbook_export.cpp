#include "gateway/mill/logbook_export.h"

#include "gateway/json_text.h"
#include "gateway/mill/change_json.h"

namespace gateway::mill {

using json = nlohmann::ordered_json;

const std::string_view log_columns_text =
    "id,at,since,controller,section,colour,key,old_value,new_value,origin,who,address,reason,"
    "rollout";

namespace {

std::string csv_field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string formula_safe(const std::string& text) {
    if (!text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' || text[0] == '\t')) {
        return "'" + text;
    }
    return text;
}

template <class T>
json or_null(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

}  // namespace

json entry_json(const state::log_entry& e) {
    return json{{"id", e.id},
                {"at", state::instant_text(e.at)},
                {"since", e.since ? json(state::instant_text(*e.since)) : json(nullptr)},
                {"controller", e.controller},
                {"section", e.section},
                {"colour", e.colour},
                {"key", e.key},
                {"old_value", or_null(e.old_value)},
                {"new_value", or_null(e.new_value)},
                {"origin", std::string(state::origin_name(e.origin))},
                {"who", e.who},
                {"address", e.address},
                {"reason", e.reason},
                {"rollout", or_null(e.rollout)}};
}

std::string csv_line(const state::log_entry& e) {
    std::string line = std::to_string(e.id);
    const auto add = [&](std::string_view field) {
        line += ',';
        line += csv_field(field);
    };
    add(state::instant_text(e.at));
    add(e.since ? state::instant_text(*e.since) : "");
    add(e.controller);
    add(e.section);
    add(e.colour != 0 ? std::to_string(e.colour) : "");
    add(e.key);
    add(e.old_value.value_or(""));
    add(e.new_value.value_or(""));
    add(state::origin_name(e.origin));
    add(e.who);
    add(e.address);
    add(formula_safe(e.reason));
    add(e.rollout ? std::to_string(*e.rollout) : "");
    line += "\r\n";
    return line;
}

state::store_result<std::size_t> export_log(state::store& store, state::log_query query,
                                            export_format format,
                                            const std::function<bool(std::string_view)>& sink) {
    std::size_t written = 0;
    if (format == export_format::csv && !sink(std::string(log_columns_text) + "\r\n")) {
        return written;
    }
    for (;;) {
        auto page = store.query_log(query);
        if (!page) return page.failure();
        std::string chunk;
        for (const state::log_entry& e : page->entries) {
            chunk += format == export_format::csv ? csv_line(e) : json_text(entry_json(e)) + "\n";
        }
        if (!chunk.empty() && !sink(chunk)) return written;
        written += page->entries.size();
        if (!page->next) return written;
        query.after = page->next;
    }
}

}  // namespace gateway::mill
