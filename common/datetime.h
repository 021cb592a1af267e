#pragma once
// Local date and time, and the VT_DATE day count (days since 30 December 1899, the fraction
// being the time of day, also for days before that date).
#include <cstdint>

namespace kv {

struct LocalDateTime {
    int year = 1899;
    int month = 12;  // 1..12
    int day = 30;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    bool operator==(const LocalDateTime&) const = default;
};

// 0 = Sunday ... 6 = Saturday.
int DayOfWeek(const LocalDateTime& when);

// The day count of a date and time; millisecond precision.
double ToOleDate(const LocalDateTime& when);

// The date and time of a day count, rounded to the nearest millisecond. Values outside the
// years 100..9999 (an OLE date's range; `first_year`..9999 when given, down to 1) are clamped
// to that range.
LocalDateTime FromOleDate(double date, int first_year = 100);

// True when y-m-d is a real calendar date of the years 1..9999.
bool IsValidDate(int year, int month, int day);

}  // namespace kv
