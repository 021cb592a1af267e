#include "component/date_pattern.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "support/dates.h"

namespace kv {
namespace {

using test::Day;

// Settings in which every part is recognisable in the output.
RegionalSettings Distinct() {
    RegionalSettings r;
    r.date_separator = "<D>";
    r.time_separator = "<T>";
    r.short_date_format = "dd/mm/yyyy";
    r.long_date_format = "dddd, d mmmm yyyy";
    r.short_time_format = "hh:nn";
    r.long_time_format = "hh:nn:ss";
    r.am_designator = "morning";
    r.pm_designator = "evening";
    r.short_day_names = {"Su", "Mo", "Tu", "We", "Th", "Fr", "Sa"};
    r.long_day_names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                        "Thursday", "Friday", "Saturday"};
    r.short_month_names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    r.long_month_names = {"January", "February", "March",     "April",   "May",      "June",
                          "July",    "August",   "September", "October", "November", "December"};
    r.era_name = "AD";
    return r;
}

const LocalDateTime kMonday{2025, 12, 8, 14, 5, 9, 7};  // a Monday afternoon
const LocalDateTime kTuesday{2025, 3, 4, 3, 7, 2, 45};  // a Tuesday night, single digits

LocalDateTime At(int hour, int minute = 30) { return {2025, 12, 8, hour, minute, 0, 0}; }

struct Case {
    const char* pattern;
    LocalDateTime when;
    const char* expected;
};

void ExpectAll(const std::vector<Case>& cases, const RegionalSettings& regional) {
    for (const Case& c : cases) {
        EXPECT_EQ(FormatDatePattern(c.pattern, c.when, regional), c.expected)
            << "pattern [" << c.pattern << "]";
    }
}

TEST(DatePattern, EachSpecifierAndRunLength) {
    ExpectAll({{"d", kTuesday, "4"},
               {"dd", kTuesday, "04"},
               {"ddd", kMonday, "Mo"},
               {"dddd", kTuesday, "Tuesday"},
               {"ddddd", kMonday, "08<D>12<D>2025"},
               {"dddddd", kMonday, "Monday, 8 December 2025"},
               {"ddddddddd", kMonday, "Monday, 8 December 2025"},
               {"m", kTuesday, "3"},
               {"mm", kTuesday, "03"},
               {"mmm", kTuesday, "Mar"},
               {"mmmm", kTuesday, "March"},
               {"mmmmmm", kMonday, "December"},
               {"y", {2005, 1, 1}, "05"},
               {"yy", kMonday, "25"},
               {"yyy", kMonday, "2025"},
               {"yyyy", {987, 1, 1}, "0987"},
               {"h", kTuesday, "3"},
               {"hh", kTuesday, "03"},
               {"hhhh", kMonday, "14"},
               {"n", kTuesday, "7"},
               {"nn", kTuesday, "07"},
               {"nnn", kTuesday, "07"},
               {"s", kTuesday, "2"},
               {"ss", kTuesday, "02"},
               {"sss", kMonday, "09"},
               {"z", kMonday, "7"},
               {"zz", kMonday, "07"},
               {"zzz", kMonday, "007"},
               {"zzzz", kTuesday, "045"},
               {"t", kMonday, "14<T>05"},
               {"tt", kMonday, "14<T>05<T>09"},
               {"c", kMonday, "08<D>12<D>2025 14<T>05<T>09"},
               {"c", {2025, 12, 8, 0, 0, 0, 500}, "08<D>12<D>2025"},  // milliseconds ignored
               {"", kMonday, "08<D>12<D>2025 14<T>05<T>09"},
               {"aaa", kMonday, "Mo"},
               {"aaaa", kMonday, "Monday"},
               {"g", kMonday, "AD"},
               {"gg", kMonday, "AD"},
               {"/", kMonday, "<D>"},
               {":", kMonday, "<T>"}},
              Distinct());
}

TEST(DatePattern, LettersAreCaseInsensitiveButRunsNeedTheSameCharacter) {
    ExpectAll({{"DD.MM.YYYY", kTuesday, "04.03.2025"},
               {"Dd", kTuesday, "44"},
               {"dD", kTuesday, "44"},
               {"MmM", kTuesday, "333"},
               {"HhNn", kTuesday, "3377"}},
              Distinct());
}

TEST(DatePattern, MonthOrMinutesByTheLetterBefore) {
    ExpectAll({{"ddmmyyyy_hhmm", kMonday, "08122025_1405"},
               {"hh:mm", kMonday, "14<T>05"},
               {"Hmm", kMonday, "1405"},
               {"h m", kTuesday, "3 7"},
               {"h-mmmm", kMonday, "14-05"},  // any run after h is minutes, two digits
               {"hhxmm", kMonday, "14x12"},   // another letter comes between
               {"h'x'mm", kMonday, "14x05"},  // quoted letters do not count
               {"nn:mm", kMonday, "05<T>12"},
               {"h m m", kMonday, "14 5 12"}},
              Distinct());
}

TEST(DatePattern, TwelveHourClock) {
    ExpectAll({{"h AM/PM", At(0), "12 AM"},
               {"h AM/PM", At(11), "11 AM"},
               {"h AM/PM", At(12), "12 PM"},
               {"h AM/PM", At(13), "1 PM"},
               {"hh am/pm", At(23), "11 pm"},
               {"hh Am/pM", At(1), "01 Am"},
               {"h a/p", At(13), "1 p"},
               {"h A/P", At(9), "9 A"},
               {"h:nn ampm", At(13, 5), "1<T>05 evening"},
               {"h:nn AMPM", At(0, 5), "12<T>05 morning"},
               {"AM/PM h", At(13), "PM 1"},        // already output earlier
               {"h", At(13), "13"},                // no marker: 24 hours
               {"h 'am/pm'", At(13), "13 am/pm"},  // a quoted marker does not count
               {"h h am/pm", At(13), "13 1 pm"},   // looks no further than the next h
               {"h x am/pm", At(0), "12 x am"},    // other letters are passed over
               {"h a", At(13), "13 a"},            // an a that starts no marker
               {"h aaa", At(13), "13 Mo"}},
              Distinct());
}

TEST(DatePattern, QuotedAndLiteralText) {
    ExpectAll({{"'dd' dd", kTuesday, "dd 04"},
               {"\"hh:nn\"", kMonday, "hh:nn"},
               {"\"it's\" d", kTuesday, "it's 4"},
               {"'say \"d\"'", kTuesday, "say \"d\""},
               {"d 'unclosed dd", kTuesday, "4 unclosed dd"},
               {"d \"unclosed", kTuesday, "4 unclosed"},
               {"x-Q!#", kMonday, "x-Q!#"},
               {"''d", kTuesday, "4"}},
              Distinct());
    // Cyrillic bytes are copied, never read as specifiers.
    const std::string cyrillic = Cp1251FromUtf8("дата d");
    EXPECT_EQ(FormatDatePattern(cyrillic, kTuesday, Distinct()), Cp1251FromUtf8("дата 4"));
}

TEST(DatePattern, RegionalSeparators) {
    RegionalSettings r = Distinct();
    r.date_separator = "-";
    r.time_separator = ".";
    ExpectAll({{"dd/mm/yyyy hh:nn", kMonday, "08-12-2025 14.05"}}, r);
    r.date_separator.clear();
    r.time_separator.clear();
    ExpectAll({{"dd/mm/yy hh:nn", kMonday, "081225 1405"}, {"c", kMonday, "08122025 140509"}}, r);
}

TEST(DatePattern, EraYears) {
    RegionalSettings r = Distinct();
    r.era_year_offset = 2018;
    ExpectAll({{"e", kMonday, "7"}, {"ee", kMonday, "07"}, {"eee", kMonday, "0007"}}, r);
}

TEST(DatePattern, RegionalFormatsExpandTwoLevelsDeep) {
    RegionalSettings r = Distinct();
    r.short_time_format = "hh";
    r.short_date_format = "[t]";  // a regional format inside a regional format
    r.long_date_format = "<c>";   // the same for c
    r.long_time_format = "tt";    // and one that names itself
    ExpectAll({{"t", kMonday, "14"},
               {"ddddd", kMonday, "[]"},
               {"dddddd", kMonday, "<>"},
               {"tt", kMonday, ""},
               {"c", kMonday, "[] "}},
              r);
    // An expanded format has its own context: its mm follows no h there.
    r.short_time_format = "mm";
    ExpectAll({{"h t", kMonday, "14 12"}}, r);
    r.short_time_format = "h AMPM";
    ExpectAll({{"hh t", kMonday, "14 2 evening"}}, r);
}

TEST(DatePattern, ResultHoldsAtMost256Characters) {
    EXPECT_EQ(FormatDatePattern(std::string(256, 'x'), kMonday, Distinct()), std::string(256, 'x'));
    EXPECT_EQ(FormatDatePattern(std::string(300, 'x'), kMonday, Distinct()), std::string(256, 'x'));
    EXPECT_EQ(FormatDatePattern("'" + std::string(400, 'q'), kMonday, Distinct()),
              std::string(256, 'q'));
    // A name cut at the limit: 43 x "Monday" is 258 characters.
    std::string pattern;
    std::string full;
    for (int i = 0; i < 43; ++i) pattern += "dddd ", full += "Monday ";
    EXPECT_EQ(FormatDatePattern(pattern, kMonday, Distinct()), full.substr(0, 256));
    // Expanded formats are cut too.
    RegionalSettings r = Distinct();
    r.long_date_format = std::string(500, 'x');
    EXPECT_EQ(FormatDatePattern("dddddd", kMonday, r).size(), 256u);
}

TEST(DatePattern, RussianDefaults) {
    const RegionalSettings r = RegionalSettings::Russian();
    const auto win = [](const char* utf8) { return Cp1251FromUtf8(utf8); };
    EXPECT_EQ(FormatDatePattern("", kMonday, r), "08.12.2025 14:05:09");
    EXPECT_EQ(FormatDatePattern("dd/mm/yyyy t", kMonday, r), "08.12.2025 14:05");
    EXPECT_EQ(FormatDatePattern("dddddd", kMonday, r), win("8 Декабрь 2025 г."));
    EXPECT_EQ(FormatDatePattern("ddd dddd mmm", kTuesday, r), win("Вт вторник мар"));
    EXPECT_EQ(FormatDatePattern("dddd", {2025, 12, 7}, r), win("воскресенье"));
    EXPECT_EQ(FormatDatePattern("h:nn ampm", At(13, 5), r), "1:05 ");
}

TEST(WindowsFormatPicture, RendersAsWindowsWould) {
    RegionalSettings r = Distinct();
    r.am_designator = "AM";
    r.pm_designator = "PM";
    const std::vector<Case> pictures = {
        {"dd.MM.yyyy", kTuesday, "04.03.2025"},
        {"d MMMM yyyy", kTuesday, "4 March 2025"},
        {"dddd, MMM d", kTuesday, "Tuesday, Mar 4"},
        {"M/d/yy", kMonday, "12/8/25"},  // "/" and ":" are literal in a picture
        {"H:mm:ss", kMonday, "14:05:09"},
        {"h:mm:ss tt", kMonday, "2:05:09 PM"},
        {"tt hh:mm", At(0, 7), "AM 12:07"},
        {"HH'h'mm", kMonday, "14h05"},
        {"'o''clock' H", kMonday, "o'clock 14"},
        {"H \"x\"", kMonday, "14 \"x\""},
        {"yyyyy gg", kMonday, "2025 AD"},
        {"H 'unclosed", kMonday, "14 unclosed"},
    };
    for (const Case& c : pictures) {
        EXPECT_EQ(FormatDatePattern(FromWindowsFormatPicture(c.pattern), c.when, r), c.expected)
            << "picture [" << c.pattern << "] read as [" << FromWindowsFormatPicture(c.pattern)
            << "]";
    }
}

TEST(WindowsFormatPicture, ShortTimeDropsTheSeconds) {
    const std::pair<const char*, const char*> cases[] = {
        {"H:mm:ss", "H:mm"}, {"h:mm:ss tt", "h:mm tt"},       {"tt hh:mm:ss", "tt hh:mm"},
        {"HH.mm", "HH.mm"},  {"H 'sec' mm:ss", "H 'sec' mm"},
    };
    for (const auto& [picture, expected] : cases) {
        EXPECT_EQ(ShortTimePictureFromLong(picture), expected) << picture;
    }
}

TEST(ShortDate, ParsedByTheRegionalFormat) {
    struct DateCase {
        const char* format;
        const char* text;
        double date;  // 0: not a date
    };
    const DateCase cases[] = {
        {"dd.MM.yyyy", "31.12.2025", Day(2025, 12, 31)},
        {"dd.MM.yyyy", "1.2.2025", Day(2025, 2, 1)},
        {"dd.MM.yyyy", "29.02.2024", Day(2024, 2, 29)},
        {"dd.MM.yyyy", "31.12.25", Day(2025, 12, 31)},
        {"dd.MM.yyyy", "1.1.75", Day(2075, 1, 1)},
        {"dd.MM.yyyy", "1.1.76", Day(1976, 1, 1)},
        {"M/d/yyyy", "2-1-2025", Day(2025, 2, 1)},  // "/" stands for the regional separator
        {"yyyy-MM-dd", "2025-02-01", Day(2025, 2, 1)},
        {"dd.MM.yyyy", "29.02.2025", 0},
        {"dd.MM.yyyy", "32.01.2025", 0},
        {"dd.MM.yyyy", "01.02.2025 10:00", 0},
        {"dd.MM.yyyy", "01.02.2025.", 0},
        {"dd.MM.yyyy", "01/02/2025", 0},
        {"dd.MM.yyyy", "1.2", 0},
        {"dd.MM.yyyy", "", 0},
        {"dd.MM.yyyy", "001.02.2025", 0},
        {"dd.MM.yyyy", "01.02.20256", 0},
        {"M/d/yyyy", "2/1/2025", 0},
        {"dd.MM.yyyy", "01.01.0100", Day(100, 1, 1)},
        {"dd.MM.yyyy", "31.12.0099", 0},  // before the years of a VT_DATE
        // The separator as the format renders it: quoted text is itself, ":" is the time
        // separator, and letters inside quotes are no fields.
        {"yyyy'/'MM'/'dd", "2025/02/01", Day(2025, 2, 1)},
        {"yyyy'/'MM'/'dd", "2025-02-01", 0},
        {"dd:MM:yyyy", "01^02^2025", Day(2025, 2, 1)},
        {"dd:MM:yyyy", "01:02:2025", 0},
        {"dd\"d\"MM\"d\"yyyy", "01d02d2025", Day(2025, 2, 1)},
    };
    for (const DateCase& c : cases) {
        RegionalSettings regional;
        regional.short_date_format = c.format;
        regional.date_separator = "-";
        regional.time_separator = "^";
        double date = 0;
        EXPECT_EQ(ParseShortDate(c.text, regional, 2025, date), c.date != 0) << c.text;
        if (c.date != 0) {
            EXPECT_EQ(date, c.date) << c.text;
        }
    }
}

}  // namespace
}  // namespace kv
