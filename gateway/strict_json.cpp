#include "gateway/strict_json.h"

#include <set>
#include <string>
#include <vector>

#include "gateway/json_text.h"

namespace gateway {

namespace {

using json = nlohmann::ordered_json;

ifc_client::error bad(std::string message) {
    return ifc_client::error{ifc_client::errc::bad_request, std::move(message)};
}

// The deepest nesting of arrays and objects in text (brackets inside strings left out).
int nesting_depth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool in_string = false, escaped = false;
    for (const char c : text) {
        if (in_string) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

}  // namespace

ifc_client::result<json> parse_strict_json(std::string_view body) {
    // Before the parser sees it: the depth is bounded before anything is built from the body.
    if (nesting_depth(body) > max_body_depth) {
        return bad("the body is nested deeper than " + std::to_string(max_body_depth) + " levels");
    }
    std::vector<std::set<std::string>> keys_seen;  // one set per object being read
    std::string twice;
    const json::parser_callback_t note_keys = [&](int, json::parse_event_t event, json& parsed) {
        switch (event) {
            case json::parse_event_t::object_start:
                keys_seen.emplace_back();
                break;
            case json::parse_event_t::object_end:
                if (!keys_seen.empty()) keys_seen.pop_back();
                break;
            case json::parse_event_t::key:
                if (!keys_seen.empty() &&
                    !keys_seen.back().insert(parsed.get<std::string>()).second && twice.empty()) {
                    twice = parsed.get<std::string>();
                }
                break;
            default:
                break;
        }
        return true;
    };
    json parsed = json::parse(body, note_keys, false);
    if (parsed.is_discarded()) return bad("the body is not valid JSON");
    if (!twice.empty()) {
        return bad("the key " + quoted_value(json(twice)) + " is given twice in one object");
    }
    return parsed;
}

std::string quoted_value(const json& value) {
    constexpr std::size_t longest = 40;
    std::string text = json_text(value);
    if (text.size() > longest) {
        // Cut before a character, not inside one.
        std::size_t cut = longest;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80)
            --cut;
        text.resize(cut);
        text += "...";
    }
    return text;
}

}  // namespace gateway
