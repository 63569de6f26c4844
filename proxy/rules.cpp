#include "proxy/rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

#include "proxy/byte_text.h"
#include "proxy/faults/registry.h"
#include "proxy/rule_fields.h"

namespace proxy {

namespace {

using json = nlohmann::json;

std::vector<std::string_view> action_names() {
    std::vector<std::string_view> names;
    for (const action a : every_action)
        names.push_back(action_name(a));
    return names;
}

action read_action(const rule_reader& in) {
    if (!in.has("action")) reject("action", "required: one of " + list_of(action_names()));
    const json& v = in.at("action");
    const auto named = v.is_string() ? action_named(v.get_ref<const std::string&>()) : std::nullopt;
    if (!named) reject_value("action", "one of " + list_of(action_names()), v);
    return *named;
}

void check_field_names(const json& object, action what) {
    const std::vector<std::string_view>& common_fields = common_rule_fields();
    const std::vector<std::string_view> own_fields = fault_of(what).fields();
    const auto holds = [](const std::vector<std::string_view>& fields, const std::string& key) {
        return std::find(fields.begin(), fields.end(), key) != fields.end();
    };
    for (const auto& item : object.items()) {
        const std::string& key = item.key();
        const bool common =
            std::find(common_fields.begin(), common_fields.end(), key) != common_fields.end();
        if (common || holds(own_fields, key)) continue;
        const bool elsewhere =
            std::any_of(std::begin(every_action), std::end(every_action),
                        [&](action other) { return holds(fault_of(other).fields(), key); });
        if (elsewhere) {
            reject(key, "not a field of action '" + std::string(action_name(what)) +
                            "' (its fields: " +
                            (own_fields.empty() ? std::string("none") : list_of(own_fields)) + ")");
        }
        std::vector<std::string_view> allowed(common_fields.begin(), common_fields.end());
        allowed.insert(allowed.end(), own_fields.begin(), own_fields.end());
        reject(key, "not a field of a rule (fields: " + list_of(allowed) + ")");
    }
}

void read_match(const rule_reader& in, rule& r) {
    if (in.has("label")) r.label = in.text("label", "a text");
    if (in.has("kind")) {
        const json& v = in.at("kind");
        const auto kind = v.is_string() ? kind_from_name(v.get<std::string>()) : std::nullopt;
        if (!kind) reject_value("kind", "one of GET, PUT, PING, DISCONNECT", v);
        r.kind = kind;
    }
    if (in.has("command")) {
        r.command = in.text("command", "a command name or pattern (* ? [...])");
        if (r.kind == request_kind::ping || r.kind == request_kind::disconnect) {
            reject("command", "no command name with kind " + std::string(kind_name(*r.kind)) +
                                  " (only GET and PUT have one)");
        }
    }
    int given = 0;
    if (in.has("nth")) {
        r.when = occurrence::nth;
        r.n = in.integer("nth", 1, std::numeric_limits<int>::max(), "a whole number from 1");
        ++given;
    }
    if (in.has("every")) {
        r.when = occurrence::every_kth;
        r.n = in.integer("every", 1, std::numeric_limits<int>::max(), "a whole number from 1");
        ++given;
    }
    if (in.has("probability")) {
        r.when = occurrence::probability;
        r.p = in.number("probability", 0, 1, false, "a number from 0 to 1");
        ++given;
    }
    if (given > 1) reject("nth", "at most one of nth, every and probability");
    if (in.has("limit")) {
        r.limit = in.integer("limit", 1, std::numeric_limits<int>::max(),
                             "a whole number of hits from 1");
    }
}

rule read_rule(const json& object) {
    if (!object.is_object()) throw field_error{"", "a rule object, got " + shown_value(object)};
    const rule_reader in(object);
    rule r;
    r.what = read_action(in);
    check_field_names(object, r.what);
    read_match(in, r);
    fault_of(r.what).read(in, r);
    return r;
}

// Thrown by the reader's callback at the first value nested too deep.
struct too_deep {};

json parse_bounded(std::string_view text) {
    const json::parser_callback_t depth_guard = [](int depth, json::parse_event_t event,
                                                   json& /*parsed*/) {
        if ((event == json::parse_event_t::object_start ||
             event == json::parse_event_t::array_start) &&
            depth >= max_rules_nesting) {
            throw too_deep{};
        }
        return true;
    };
    return json::parse(text, depth_guard);
}

// "[json.exception.parse_error.101] parse error at line 3, column 5: ...": the message
// without its prefix.
std::string json_message(const json::exception& e) {
    std::string message = e.what();
    if (const auto close = message.find("] "); close != std::string::npos) {
        message = message.substr(close + 2);
    }
    return message;
}

parsed_rules refused(const std::string& where, const std::string& message) {
    parsed_rules result;
    result.error = shown_text(where + ": " + message);
    return result;
}

}  // namespace

const std::vector<std::string_view>& common_rule_fields() {
    static const std::vector<std::string_view> fields{"label", "kind",        "command", "nth",
                                                      "every", "probability", "limit",   "action"};
    return fields;
}

parsed_rules parse_rules(std::string_view json_text, std::string_view source) {
    const std::string where(source);
    if (json_text.size() > max_rules_file_bytes) {
        return refused(where, "larger than " + std::to_string(max_rules_file_bytes / 1024) +
                                  " KiB; a rules file is a short list of rules");
    }
    json document;
    try {
        document = parse_bounded(json_text);
    } catch (const too_deep&) {
        return refused(where, "values nested more than " + std::to_string(max_rules_nesting) +
                                  " deep; a rule is at most four");
    } catch (const json::exception& e) {
        // A syntax error, or a number beyond what a double holds (1e400).
        return refused(where, json_message(e));
    }
    if (!document.is_object() || !document.contains("rules") || !document["rules"].is_array()) {
        return refused(where, "expected an object {\"rules\": [...]}");
    }
    for (const auto& [key, value] : document.items()) {
        if (key != "rules") {
            return refused(where, "field '" + key + "': not a field of the file (only \"rules\")");
        }
    }
    const json& list = document["rules"];
    if (list.size() > max_rules) {
        return refused(
            where, std::to_string(list.size()) + " rules; at most " + std::to_string(max_rules));
    }
    parsed_rules result;
    for (std::size_t i = 0; i < list.size(); ++i) {
        try {
            result.rules.push_back(read_rule(list[i]));
        } catch (const field_error& e) {
            return refused(where, "rules[" + std::to_string(i) +
                                      "]: " + (e.field.empty() ? "" : "field '" + e.field + "': ") +
                                      e.expected);
        }
    }
    return result;
}

parsed_rules load_rules(const std::string& path) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return refused(path, std::string("cannot read: ") + std::strerror(errno));
    struct closer {
        int fd;
        ~closer() { ::close(fd); }
    } close_at_end{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return refused(path, std::string("cannot read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return refused(path, "not a regular file");
    std::string text;
    char block[16384];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return refused(path, std::string("cannot read: ") + std::strerror(errno));
        if (n == 0) break;
        text.append(block, static_cast<std::size_t>(n));
        // One byte past the bound is enough to refuse the file.
        if (text.size() > max_rules_file_bytes) break;
    }
    return parse_rules(text, path);
}

}  // namespace proxy
