// The kvhost script reader's dates: a date of the calendar in its one form, or an error that
// says where. (The rest of the reader is checked with kvhost on Windows.)
#include "tools/kvhost/script.h"

#include <gtest/gtest.h>

namespace kvhost {
namespace {

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
    for (const Case& c : cases) {
        const std::string line = std::string("P = ") + c.value;
        try {
            const Statement s = ParseLine(line);
            EXPECT_TRUE(c.accepted) << "accepted: " << line;
        } catch (const ScriptError& e) {
            EXPECT_FALSE(c.accepted) << line << ": " << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("column ", 0), 0u) << e.what();
        }
    }
}

}  // namespace
}  // namespace kvhost
