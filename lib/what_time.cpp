#include "lib/what_time.h"

#include <limits>

void what_time(what_time_record* out) {
    what_time_at(std::time(nullptr), out);
}

void what_time_at(std::time_t when, what_time_record* out) {
    // localtime_r rather than localtime, so that a caller's result of localtime is not
    // overwritten; tzset first, because only localtime is bound to read the zone anew.
    tzset();
    std::tm local{};
    constexpr long year_min = std::numeric_limits<std::int16_t>::min();
    constexpr long year_max = std::numeric_limits<std::int16_t>::max();
    if (localtime_r(&when, &local) == nullptr || local.tm_year + 1900L < year_min ||
        local.tm_year + 1900L > year_max) {
        *out = what_time_record{};
        return;
    }
    *out = what_time_record{
        .second = static_cast<std::int16_t>(local.tm_sec),
        .minute = static_cast<std::int16_t>(local.tm_min),
        .hour = static_cast<std::int16_t>(local.tm_hour),
        .day = static_cast<std::int16_t>(local.tm_mday),
        .month = static_cast<std::int16_t>(local.tm_mon + 1),
        .year = static_cast<std::int16_t>(local.tm_year + 1900),
        .weekday = static_cast<std::int16_t>(local.tm_wday),
    };
}
