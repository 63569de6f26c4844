// The current local time broken down into seven 16-bit fields.
#pragma once

#include <cstdint>
#include <ctime>

struct what_time_record {
    std::int16_t second;   // 0..60 (60 only on a leap second)
    std::int16_t minute;   // 0..59
    std::int16_t hour;     // 0..23
    std::int16_t day;      // day of the month, 1..31
    std::int16_t month;    // 1..12
    std::int16_t year;     // full calendar year, e.g. 2024
    std::int16_t weekday;  // 0 for Sunday .. 6
};
static_assert(sizeof(what_time_record) == 14, "seven 16-bit fields without gaps");

// Fills the record with the current local time (time zone as for localtime).
void what_time(what_time_record* out);

// The same for a given calendar time. When the time cannot be converted, or its year does not
// fit in 16 bits, every field is set to 0 rather than to a wrapped-round year.
void what_time_at(std::time_t when, what_time_record* out);
