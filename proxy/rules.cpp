#include "proxy/rules.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

namespace proxy {

namespace {

using json = nlohmann::json;

// The longest delay, stall or refusal a rule may ask for: more is a slip (milliseconds
// written as seconds) rather than a test.
constexpr double max_seconds = 3600;

struct action_form {
    action what;
    std::string_view name;
    // The fields of the action besides those every rule has.
    std::vector<std::string_view> fields;
};

const std::array<action_form, 8> action_forms{{
    {action::delay, "delay", {"seconds"}},
    {action::stall, "stall", {"at", "chunk", "seconds"}},
    {action::cut, "cut", {"at", "chunk", "mode"}},
    {action::err, "err", {}},
    {action::corrupt, "corrupt", {"position"}},
    {action::drop_fin, "drop_fin", {}},
    {action::throttle, "throttle", {"bytes_per_second"}},
    {action::refuse, "refuse", {"seconds"}},
}};

const std::array<std::string_view, 8> common_fields{"label", "kind",        "command", "nth",
                                                    "every", "probability", "limit",   "action"};

struct point_form {
    point at;
    std::string_view name;
};
constexpr std::array<point_form, 3> point_forms{{
    {point::before_len, "before_len"},
    {point::after_chunk, "after_chunk"},
    {point::before_fin, "before_fin"},
}};

// A rule that is not sound: the field and what it should have held.
struct field_error {
    std::string field;
    std::string expected;
};

std::string shown(const json& value) {
    std::string text = value.dump();
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

[[noreturn]] void fail(std::string_view field, std::string expected) {
    throw field_error{std::string(field), std::move(expected)};
}

[[noreturn]] void fail_value(std::string_view field, std::string_view expected, const json& got) {
    fail(field, std::string(expected) + ", got " + shown(got));
}

std::string list_of(const std::vector<std::string_view>& words) {
    std::string text;
    for (const auto word : words) {
        if (!text.empty()) text += ", ";
        text += word;
    }
    return text;
}

// Reads the fields of one rule object.
class rule_reader {
  public:
    explicit rule_reader(const json& object) : object_(object) {}

    bool has(std::string_view field) const { return object_.contains(field); }
    const json& at(std::string_view field) const { return object_.at(field); }

    std::string text(std::string_view field, std::string_view expected) const {
        const json& v = at(field);
        if (!v.is_string() || v.get_ref<const std::string&>().empty())
            fail_value(field, expected, v);
        return v.get<std::string>();
    }

    long long integer(std::string_view field, long long low, long long high,
                      std::string_view expected) const {
        const json& v = at(field);
        if (!v.is_number_integer()) fail_value(field, expected, v);
        const auto value = v.get<long long>();
        if (value < low || value > high) fail_value(field, expected, v);
        return value;
    }

    double number(std::string_view field, double low, double high, bool low_open,
                  std::string_view expected) const {
        return number_of(at(field), field, low, high, low_open, expected);
    }

    static double number_of(const json& v, std::string_view field, double low, double high,
                            bool low_open, std::string_view expected) {
        if (!v.is_number()) fail_value(field, expected, v);
        const double value = v.get<double>();
        if (!std::isfinite(value) || value < low || (low_open && value == low) || value > high)
            fail_value(field, expected, v);
        return value;
    }

  private:
    const json& object_;
};

action read_action(const rule_reader& in) {
    if (!in.has("action")) {
        std::vector<std::string_view> names;
        for (const auto& form : action_forms)
            names.push_back(form.name);
        fail("action", "required: one of " + list_of(names));
    }
    const json& v = in.at("action");
    for (const auto& form : action_forms) {
        if (v.is_string() && v.get_ref<const std::string&>() == form.name) return form.what;
    }
    std::vector<std::string_view> names;
    for (const auto& form : action_forms)
        names.push_back(form.name);
    fail_value("action", "one of " + list_of(names), v);
}

const action_form& form_of(action what) {
    for (const auto& form : action_forms) {
        if (form.what == what) return form;
    }
    return action_forms.front();
}

void check_field_names(const json& object, const action_form& form) {
    for (const auto& [key, value] : object.items()) {
        const bool common =
            std::find(common_fields.begin(), common_fields.end(), key) != common_fields.end();
        const bool own =
            std::find(form.fields.begin(), form.fields.end(), key) != form.fields.end();
        if (common || own) continue;
        bool elsewhere = false;
        for (const auto& other : action_forms) {
            if (std::find(other.fields.begin(), other.fields.end(), key) != other.fields.end())
                elsewhere = true;
        }
        std::vector<std::string_view> allowed(common_fields.begin(), common_fields.end());
        allowed.insert(allowed.end(), form.fields.begin(), form.fields.end());
        if (elsewhere) {
            fail(key, "not a field of action '" + std::string(form.name) + "' (its fields: " +
                          (form.fields.empty() ? std::string("none") : list_of(form.fields)) + ")");
        }
        fail(key, "not a field of a rule (fields: " + list_of(allowed) + ")");
    }
}

void read_match(const rule_reader& in, rule& r) {
    if (in.has("label")) r.label = in.text("label", "a text");
    if (in.has("kind")) {
        const json& v = in.at("kind");
        const auto kind = v.is_string() ? kind_from_name(v.get<std::string>()) : std::nullopt;
        if (!kind) fail_value("kind", "one of GET, PUT, PING, DISCONNECT", v);
        r.kind = kind;
    }
    if (in.has("command")) {
        r.command = in.text("command", "a command name or pattern (* ? [...])");
        if (r.kind == request_kind::ping || r.kind == request_kind::disconnect) {
            fail("command", "no command name with kind " + std::string(kind_name(*r.kind)) +
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
    if (given > 1) fail("nth", "at most one of nth, every and probability");
    if (in.has("limit")) {
        r.limit = in.integer("limit", 1, std::numeric_limits<int>::max(),
                             "a whole number of hits from 1");
    }
}

void need_kind(const rule& r, std::string_view field, std::string_view what,
               std::initializer_list<request_kind> kinds) {
    for (const request_kind k : kinds) {
        if (r.kind == k) return;
    }
    std::string names;
    for (const request_kind k : kinds) {
        if (!names.empty()) names += " or ";
        names += kind_name(k);
    }
    fail(field, std::string(what) + " needs \"kind\": " + names);
}

void read_point(const rule_reader& in, rule& r) {
    if (!in.has("at")) fail("at", "required: before_len, after_chunk or before_fin");
    const json& v = in.at("at");
    for (const auto& form : point_forms) {
        if (v.is_string() && v.get_ref<const std::string&>() == form.name) r.at = form.at;
    }
    if (r.at == point::none) fail_value("at", "before_len, after_chunk or before_fin", v);
    switch (r.at) {
        case point::before_len:
            need_kind(r, "at", "before_len", {request_kind::get});
            break;
        case point::before_fin:
            need_kind(r, "at", "before_fin", {request_kind::put});
            break;
        case point::after_chunk:
            need_kind(r, "at", "after_chunk", {request_kind::get, request_kind::put});
            if (!in.has("chunk")) fail("chunk", "required with after_chunk: 1 for the first");
            r.chunk = static_cast<int>(
                in.integer("chunk", 1, 250, "a chunk number from 1 to 250 (1 is the first)"));
            break;
        case point::none:
            break;
    }
    if (r.at != point::after_chunk && in.has("chunk")) {
        fail("chunk", "only with \"at\": \"after_chunk\"");
    }
}

void read_action_fields(const rule_reader& in, rule& r) {
    constexpr std::string_view seconds_text = "a number of seconds from 0 to 3600";
    switch (r.what) {
        case action::delay: {
            if (!in.has("seconds")) fail("seconds", "required: seconds, or [least, most]");
            const json& v = in.at("seconds");
            if (v.is_array()) {
                if (v.size() != 2) fail_value("seconds", "[least, most]: two numbers", v);
                r.seconds = rule_reader::number_of(v[0], "seconds", 0, max_seconds, false,
                                                   "[least, most] within 0 to 3600 seconds");
                r.seconds_max = rule_reader::number_of(v[1], "seconds", 0, max_seconds, false,
                                                       "[least, most] within 0 to 3600 seconds");
                if (r.seconds_max < r.seconds)
                    fail_value("seconds", "[least, most] with least <= most", v);
            } else {
                r.seconds = in.number("seconds", 0, max_seconds, false, seconds_text);
                r.seconds_max = r.seconds;
            }
            break;
        }
        case action::stall:
            read_point(in, r);
            if (!in.has("seconds")) fail("seconds", "required: how long nothing is forwarded");
            r.seconds = in.number("seconds", 0, max_seconds, true,
                                  "a number of seconds above 0, at most 3600");
            break;
        case action::cut:
            read_point(in, r);
            if (in.has("mode")) {
                const json& v = in.at("mode");
                if (v == "reset") {
                    r.reset = true;
                } else if (v != "close") {
                    fail_value("mode", "close or reset", v);
                }
            }
            break;
        case action::err:
            need_kind(r, "action", "err", {request_kind::put});
            if (!r.command.empty()) {
                fail("command",
                     "none with action err: ERR! takes the place of the first NEXT, before "
                     "the payload that names the command has come");
            }
            break;
        case action::corrupt: {
            need_kind(r, "action", "corrupt", {request_kind::get});
            if (!in.has("position")) fail("position", "required: a byte position or \"random\"");
            const json& v = in.at("position");
            if (v != "random") {
                r.position = in.integer("position", 0, std::numeric_limits<int>::max(),
                                        "a byte position from 0, or \"random\"");
            }
            break;
        }
        case action::drop_fin:
            need_kind(r, "action", "drop_fin", {request_kind::put});
            break;
        case action::throttle:
            if (!in.has("bytes_per_second")) fail("bytes_per_second", "required");
            r.bytes_per_second =
                in.number("bytes_per_second", 1, 1e9, false, "a number of bytes per second from 1");
            break;
        case action::refuse:
            if (!in.has("seconds")) fail("seconds", "required: how long to refuse");
            r.seconds = in.number("seconds", 0, max_seconds, true,
                                  "a number of seconds above 0, at most 3600");
            break;
    }
}

rule read_rule(const json& object) {
    if (!object.is_object()) throw field_error{"", "a rule object, got " + shown(object)};
    const rule_reader in(object);
    rule r;
    r.what = read_action(in);
    check_field_names(object, form_of(r.what));
    read_match(in, r);
    read_action_fields(in, r);
    return r;
}

}  // namespace

std::string_view action_name(action a) {
    return form_of(a).name;
}

std::string_view point_name(point p) {
    for (const auto& form : point_forms) {
        if (form.at == p) return form.name;
    }
    return "none";
}

parsed_rules parse_rules(std::string_view json_text, std::string_view source) {
    parsed_rules result;
    const std::string where(source);
    json document;
    try {
        document = json::parse(json_text);
    } catch (const json::parse_error& e) {
        // what(): "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
        std::string message = e.what();
        if (const auto close = message.find("] "); close != std::string::npos) {
            message = message.substr(close + 2);
        }
        result.error = where + ": " + message;
        return result;
    }
    if (!document.is_object() || !document.contains("rules") || !document["rules"].is_array()) {
        result.error = where + ": expected an object {\"rules\": [...]}";
        return result;
    }
    for (const auto& [key, value] : document.items()) {
        if (key != "rules") {
            result.error =
                where + ": field '" + key + "': not a field of the file (only \"rules\")";
            return result;
        }
    }
    const json& list = document["rules"];
    for (std::size_t i = 0; i < list.size(); ++i) {
        try {
            result.rules.push_back(read_rule(list[i]));
        } catch (const field_error& e) {
            result.rules.clear();
            result.error = where + ": rules[" + std::to_string(i) +
                           "]: " + (e.field.empty() ? "" : "field '" + e.field + "': ") +
                           e.expected;
            return result;
        }
    }
    return result;
}

parsed_rules load_rules(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        parsed_rules result;
        result.error = path + ": cannot read: " + std::strerror(errno);
        return result;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_rules(text.str(), path);
}

}  // namespace proxy
