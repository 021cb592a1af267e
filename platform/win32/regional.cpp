// The user's regional settings from the system's locale information, read once. Date and time
// formats arrive as Windows format pictures and are translated into our pattern language.
#include <windows.h>

#include <cstdlib>

#include "platform/backend.h"

// Reported from Windows 7 on; older systems give nothing and the short time is derived.
#ifndef LOCALE_SSHORTTIME
#define LOCALE_SSHORTTIME 0x00000079
#endif

namespace kv::backend {
namespace {

std::string LocaleText(LCTYPE type) {
    const int needed = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, nullptr, 0);
    if (needed <= 1) return {};
    std::string text(static_cast<size_t>(needed), '\0');
    const int written = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, text.data(), needed);
    // The count includes the terminating zero.
    text.resize(written > 1 ? static_cast<size_t>(written - 1) : 0);
    return text;
}

std::string CalendarText(CALID calendar, CALTYPE type) {
    char buffer[256];
    const int written = GetCalendarInfoA(LOCALE_USER_DEFAULT, calendar, type, buffer,
                                         static_cast<int>(sizeof buffer), nullptr);
    // Several names come as consecutive zero-terminated strings; the first is the current era.
    return written > 1 ? std::string(buffer) : std::string();
}

// The era year of today in the user's calendar, against the Gregorian year.
int EraYearOffset() {
    SYSTEMTIME today{};
    GetLocalTime(&today);
    char year[16];
    if (GetDateFormatA(LOCALE_USER_DEFAULT, 0, &today, "yyyy", year, sizeof year) <= 1) return 0;
    return static_cast<int>(today.wYear) - std::atoi(year);
}

RegionalSettings Read() {
    RegionalSettings r;
    const std::string decimal = LocaleText(LOCALE_SDECIMAL);
    r.decimal_separator = decimal.empty() ? '.' : decimal[0];
    r.date_separator = LocaleText(LOCALE_SDATE);
    r.time_separator = LocaleText(LOCALE_STIME);
    r.short_date_format = FromWindowsFormatPicture(LocaleText(LOCALE_SSHORTDATE));
    r.long_date_format = FromWindowsFormatPicture(LocaleText(LOCALE_SLONGDATE));
    const std::string long_time = LocaleText(LOCALE_STIMEFORMAT);
    std::string short_time = LocaleText(LOCALE_SSHORTTIME);
    if (short_time.empty()) short_time = ShortTimePictureFromLong(long_time);
    r.long_time_format = FromWindowsFormatPicture(long_time);
    r.short_time_format = FromWindowsFormatPicture(short_time);
    r.am_designator = LocaleText(LOCALE_S1159);
    r.pm_designator = LocaleText(LOCALE_S2359);
    // Windows numbers the days from Monday; ours start on Sunday.
    for (int i = 0; i < 7; ++i) {
        const int windows_day = (i + 6) % 7;
        r.short_day_names[i] = LocaleText(LOCALE_SABBREVDAYNAME1 + windows_day);
        r.long_day_names[i] = LocaleText(LOCALE_SDAYNAME1 + windows_day);
    }
    for (int i = 0; i < 12; ++i) {
        r.short_month_names[i] = LocaleText(LOCALE_SABBREVMONTHNAME1 + i);
        r.long_month_names[i] = LocaleText(LOCALE_SMONTHNAME1 + i);
    }
    const long calendar = std::strtol(LocaleText(LOCALE_ICALENDARTYPE).c_str(), nullptr, 10);
    r.era_name =
        CalendarText(calendar > 0 ? static_cast<CALID>(calendar) : CAL_GREGORIAN, CAL_SERASTRING);
    r.era_year_offset = EraYearOffset();
    return r;
}

class Win32Regional final : public RegionalSource {
  public:
    const RegionalSettings& Settings() override {
        static const RegionalSettings settings = Read();
        return settings;
    }
};

}  // namespace

RegionalSource& Regional() {
    static Win32Regional regional;
    return regional;
}

}  // namespace kv::backend
