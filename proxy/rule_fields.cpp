#include "proxy/rule_fields.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace proxy {

std::string shown_value(const nlohmann::json& value) {
    std::string text = value.dump();
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return text;
}

void reject(std::string_view field, std::string expected) {
    throw field_error{std::string(field), std::move(expected)};
}

void reject_value(std::string_view field, std::string_view expected, const nlohmann::json& got) {
    reject(field, std::string(expected) + ", got " + shown_value(got));
}

std::string list_of(const std::vector<std::string_view>& words) {
    std::string text;
    for (const auto word : words) {
        if (!text.empty()) text += ", ";
        text += word;
    }
    return text;
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
    reject(field, std::string(what) + " needs \"kind\": " + names);
}

std::string rule_reader::text(std::string_view field, std::string_view expected) const {
    const nlohmann::json& v = at(field);
    if (!v.is_string() || v.get_ref<const std::string&>().empty()) reject_value(field, expected, v);
    return v.get<std::string>();
}

long long rule_reader::integer(std::string_view field, long long low, long long high,
                               std::string_view expected) const {
    const nlohmann::json& v = at(field);
    if (!v.is_number_integer()) reject_value(field, expected, v);
    // Above the range of long long, a whole number is unsigned: no cast may wrap it into range.
    if (v.is_number_unsigned() &&
        v.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<long long>::max()))
        reject_value(field, expected, v);
    const auto value = v.get<long long>();
    if (value < low || value > high) reject_value(field, expected, v);
    return value;
}

double rule_reader::number(std::string_view field, double low, double high, bool low_open,
                           std::string_view expected) const {
    return number_of(at(field), field, low, high, low_open, expected);
}

double rule_reader::number_of(const nlohmann::json& v, std::string_view field, double low,
                              double high, bool low_open, std::string_view expected) {
    if (!v.is_number()) reject_value(field, expected, v);
    const double value = v.get<double>();
    if (!std::isfinite(value) || value < low || (low_open && value == low) || value > high)
        reject_value(field, expected, v);
    return value;
}

}  // namespace proxy
