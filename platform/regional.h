#pragma once
// The user's regional settings as the component uses them: decimal separator, date and time
// formats (in the component's own date-time pattern language), names and designators.
#include <array>
#include <string>
#include <string_view>

namespace kv {

// The defaults are those of Russian Windows.
struct RegionalSettings {
    char decimal_separator = ',';
    std::string date_separator = ".";
    std::string time_separator = ":";
    std::string short_date_format = "dd.MM.yyyy";
    std::string long_date_format = "d MMMM yyyy '\xE3.'";  // 'г.' in Windows-1251
    std::string short_time_format = "H:mm";
    std::string long_time_format = "H:mm:ss";
    std::string am_designator;
    std::string pm_designator;
    std::array<std::string, 7> short_day_names;  // Sunday first
    std::array<std::string, 7> long_day_names;
    std::array<std::string, 12> short_month_names;  // January first
    std::array<std::string, 12> long_month_names;
    std::string era_name;
    int era_year_offset = 0;  // era year = calendar year - offset

    // The Russian settings of a Windows system, all texts in Windows-1251. The default of the
    // native build.
    static RegionalSettings Russian();
};

// Windows format pictures (GetLocaleInfo's date and time formats) in our pattern language:
// minutes become n, the morning/afternoon marker AMPM, and everything Windows copies literally
// (quoted text, other letters, "/" and ":") is quoted.
std::string FromWindowsFormatPicture(std::string_view picture);

// The short time picture made from the long one by dropping the seconds with the separator
// before them, for systems that report no short time format.
std::string ShortTimePictureFromLong(std::string_view long_time_picture);

class RegionalSource {
  public:
    virtual ~RegionalSource() = default;
    virtual const RegionalSettings& Settings() = 0;
};

}  // namespace kv
