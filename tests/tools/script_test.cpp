// The kvhost script reader's numbers and dates: a value in its one form, or an error that says
// where. (The rest of the reader is checked with kvhost on Windows.)
#include "tools/kvhost/script.h"

#include <gtest/gtest.h>

namespace kvhost {
namespace {

// Accepted or refused as the value of "P = ...".
bool Accepted(const std::string& value) {
    try {
        ParseLine("P = " + value);
        return true;
    } catch (const ScriptError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("column ", 0), 0u) << e.what();
        return false;
    }
}

TEST(ScriptNumber, DigitsAfterOneSignAtMost) {
    const std::pair<const char*, bool> cases[] = {
        {"-5", true},    {"+7", true},    {"-.5", true},   {"1e3", true},        {"+-5", false},
        {"+inf", false}, {"-inf", false}, {"-nan", false}, {"-infinity", false},
    };
    for (const auto& [value, accepted] : cases) EXPECT_EQ(Accepted(value), accepted) << value;
}

TEST(ScriptDate, OnlyACalendarDateInItsOneForm) {
    struct Case {
        const char* value;
        bool accepted;
    };
    const Case cases[] = {
        {"date(2024-05-31)", true},
        {"date( 2024-5-31 13:45 )", true},
        {"date(2024-02-29 23:59:59)", true},
        {"date(0100-01-01)", true},
        {"date(2024-02-30)", false},  // no such day
        {"date(2023-02-29)", false},
        {"date(2024-04-31)", false},
        {"date(202401-5-3 q3:45:10)", false},  // a year past 9999, text after the day
        {"date(2024-05-31x)", false},
        {"date(2024-05-31 13:45 x)", false},
        {"date(2024-05-31 13:45:10:11)", false},
        {"date(2024-+5-31)", false},  // signs and blanks inside the numbers
        {"date(2024- 5-31)", false},
        {"date(-2024-05-31)", false},
        {"date(0024-05-31)", false},  // before the years of a VT_DATE
        {"date(2024-05-31 24:00)", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Accepted(c.value), c.accepted) << c.value;
}

}  // namespace
}  // namespace kvhost
