// The date-time pattern renderer. Input: a day count (8 bytes) and an era year offset
// (2 bytes), then lines: the pattern, the date and time separators, the short and long date
// formats, the short and long time formats, the morning and afternoon designators and the era
// name. The output holds at most 256 characters; quoted text is copied as it is and changes
// nothing around it; an empty pattern is "c".
#include <cmath>

#include "component/date_pattern.h"
#include "fuzz_support.h"

using namespace kv;
using kv::fuzz::Check;
using kv::fuzz::Shown;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    double day_count = input.Number<double>();
    if (!std::isfinite(day_count)) day_count = 0;
    const LocalDateTime when = FromOleDate(day_count);
    RegionalSettings regional = RegionalSettings::Russian();
    regional.era_year_offset = input.Number<int16_t>();
    const std::string pattern(input.Line());
    for (std::string* part :
         {&regional.date_separator, &regional.time_separator, &regional.short_date_format,
          &regional.long_date_format, &regional.short_time_format, &regional.long_time_format,
          &regional.am_designator, &regional.pm_designator, &regional.era_name}) {
        if (input.empty()) break;
        *part = std::string(input.Line());
    }
    const auto detail = [&] {
        return "pattern " + Shown(pattern) + ", day count " + std::to_string(day_count) +
               ", short date " + Shown(regional.short_date_format) + ", long date " +
               Shown(regional.long_date_format) + ", short time " +
               Shown(regional.short_time_format) + ", long time " +
               Shown(regional.long_time_format);
    };

    const std::string out = FormatDatePattern(pattern, when, regional);
    Check(out.size() <= 256, "the result holds at most 256 characters", detail);
    if (pattern.empty()) {
        Check(out == FormatDatePattern("c", when, regional), "an empty pattern is c", detail);
    }

    // Quoted text is itself, whatever it holds, in the quote that it does not hold.
    for (const char quote : {'\'', '"'}) {
        if (pattern.empty() || pattern.find(quote) != std::string::npos) continue;
        const std::string literal = quote + pattern + quote;
        Check(FormatDatePattern(literal, when, regional) == pattern.substr(0, 256),
              "quoted text is copied as it is", detail);
        // ... and it is no letter for the rules that look back or ahead.
        const std::string before = FormatDatePattern(literal + pattern, when, regional);
        Check(before == (pattern + out).substr(0, 256),
              "quoted text in front changes nothing of the pattern behind it",
              [&] { return detail() + ", got " + Shown(before); });
    }
    return 0;
}
