#include "common/datetime.h"

#include <algorithm>
#include <cmath>

namespace kv {
namespace {

constexpr int64_t kMillisecondsPerDay = 86400000;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

const int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);
const int64_t kLastDay = DaysFromCivil(9999, 12, 31) - kOleEpoch;

int64_t OleDays(const LocalDateTime& when) {
    return DaysFromCivil(when.year, when.month, when.day) - kOleEpoch;
}

}  // namespace

int DayOfWeek(const LocalDateTime& when) {
    // 30 December 1899 was a Saturday.
    const int64_t r = (OleDays(when) + 6) % 7;
    return static_cast<int>(r < 0 ? r + 7 : r);
}

double ToOleDate(const LocalDateTime& when) {
    const double days = static_cast<double>(OleDays(when));
    const double time =
        ((when.hour * 60.0 + when.minute) * 60.0 + when.second + when.millisecond / 1000.0) /
        86400.0;
    // Before the epoch the day count is negative but the time still counts forward.
    return days >= 0 ? days + time : days - time;
}

LocalDateTime FromOleDate(double date, int first_year) {
    const int64_t first_day = DaysFromCivil(std::clamp(first_year, 1, 9999), 1, 1) - kOleEpoch;
    if (!std::isfinite(date)) date = 0;
    // Far outside the range every day count clamps alike; bounding it first keeps
    // the conversion to a whole day count defined for any double.
    date = std::clamp(date, static_cast<double>(first_day - 1), static_cast<double>(kLastDay + 1));
    int64_t days = static_cast<int64_t>(std::trunc(date));
    int64_t ms = std::llround(std::fabs(date - static_cast<double>(days)) * kMillisecondsPerDay);
    if (ms >= kMillisecondsPerDay) {
        ms -= kMillisecondsPerDay;
        days += date < 0 ? -1 : 1;
    }
    if (days < first_day) days = first_day, ms = 0;
    if (days > kLastDay) days = kLastDay, ms = kMillisecondsPerDay - 1;
    LocalDateTime when;
    CivilFromDays(days + kOleEpoch, when.year, when.month, when.day);
    when.hour = static_cast<int>(ms / 3600000);
    when.minute = static_cast<int>(ms / 60000 % 60);
    when.second = static_cast<int>(ms / 1000 % 60);
    when.millisecond = static_cast<int>(ms % 1000);
    return when;
}

bool IsValidDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace kv
