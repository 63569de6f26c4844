#include "gateway/state/records.h"

#include <algorithm>
#include <cstdio>

#include "gateway/state/store_result.h"

namespace gateway::state {

namespace {

constexpr std::array<std::string_view, 8> rollout_state_names{
    "planning", "planned", "running", "paused", "completed", "stopped", "cancelled", "interrupted"};
constexpr std::array<std::string_view, machine_state_count> machine_state_names{
    "pending", "running", "applied", "restored", "failed", "unknown", "skipped"};

template <class Enum, std::size_t N>
std::optional<Enum> enum_of(const std::array<std::string_view, N>& names, std::string_view name) {
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) return std::nullopt;
    return static_cast<Enum>(found - names.begin());
}

// digits characters of text at pos as a number; -1 when they are not all digits.
int digits_at(std::string_view text, std::size_t pos, std::size_t digits) {
    int value = 0;
    for (std::size_t i = pos; i < pos + digits; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

const char* errc_text(store_errc code) {
    switch (code) {
        case store_errc::unavailable:
            return "unavailable";
        case store_errc::not_found:
            return "not found";
        case store_errc::conflict:
            return "conflict";
        case store_errc::invalid:
            return "invalid";
    }
    return "unavailable";
}

instant now() {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now());
}

std::string instant_text(instant t) {
    const auto days = std::chrono::floor<std::chrono::days>(t);
    const std::chrono::year_month_day date{days};
    const std::chrono::hh_mm_ss time{t - days};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

std::optional<instant> parse_instant(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS[.mmm]Z
    if (text.size() != 20 && text.size() != 24) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
        text.back() != 'Z') {
        return std::nullopt;
    }
    const int year = digits_at(text, 0, 4), month = digits_at(text, 5, 2),
              day = digits_at(text, 8, 2), hour = digits_at(text, 11, 2),
              minute = digits_at(text, 14, 2), second = digits_at(text, 17, 2);
    int millis = 0;
    if (text.size() == 24) {
        if (text[19] != '.') return std::nullopt;
        millis = digits_at(text, 20, 3);
    }
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 || millis < 0 ||
        hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) return std::nullopt;
    return instant{std::chrono::sys_days{date}} + std::chrono::hours{hour} +
           std::chrono::minutes{minute} + std::chrono::seconds{second} +
           std::chrono::milliseconds{millis};
}

std::string version_label(const version_ref& ref) {
    return ref.style + " v" + std::to_string(ref.number);
}

bool is_style_name(std::string_view name) {
    if (name.empty() || name.size() > max_style_name) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

std::string_view state_name(rollout_state state) {
    return rollout_state_names[static_cast<std::size_t>(state)];
}

std::optional<rollout_state> rollout_state_of(std::string_view name) {
    return enum_of<rollout_state>(rollout_state_names, name);
}

bool is_final(rollout_state state) {
    return state == rollout_state::completed || state == rollout_state::stopped ||
           state == rollout_state::cancelled || state == rollout_state::interrupted;
}

std::string_view state_name(machine_state state) {
    return machine_state_names[static_cast<std::size_t>(state)];
}

std::optional<machine_state> machine_state_of(std::string_view name) {
    return enum_of<machine_state>(machine_state_names, name);
}

std::string_view origin_name(change_origin origin) {
    return origin == change_origin::gateway ? "gateway" : "outside";
}

std::optional<change_origin> origin_of(std::string_view name) {
    if (name == "gateway") return change_origin::gateway;
    if (name == "outside") return change_origin::outside;
    return std::nullopt;
}

}  // namespace gateway::state
