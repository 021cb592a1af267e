#include "common/datetime.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kv {
namespace {

// Day counts far outside the years 100..9999 clamp to the nearer end, however far out.
TEST(FromOleDate, ClampsToTheYears100To9999) {
    const LocalDateTime first{100, 1, 1, 0, 0, 0, 0};
    const LocalDateTime last{9999, 12, 31, 23, 59, 59, 999};
    struct Case {
        double date;
        LocalDateTime expected;
    };
    const Case cases[] = {
        {1e300, last},
        {1e19, last},
        {3e6, last},
        {-1e300, first},
        {-1e19, first},
        {-7e5, first},
        {NAN, {}},
        {HUGE_VAL, {}},
        {2958465.5, {9999, 12, 31, 12, 0, 0, 0}},
        {-657434.25, {100, 1, 1, 6, 0, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(FromOleDate(c.date), c.expected) << c.date;
}

// 1C:Enterprise 8's empty date is 1 January of the year 1, which an OLE date cannot hold.
TEST(FromOleDate, ReachesTheYear1WhenAsked) {
    const LocalDateTime year1{1, 1, 1, 0, 0, 0, 0};
    EXPECT_EQ(FromOleDate(-693593, 1), year1);
    EXPECT_EQ(FromOleDate(-693593.5, 1), (LocalDateTime{1, 1, 1, 12, 0, 0, 0}));
    EXPECT_EQ(FromOleDate(-1e9, 1), year1);
    EXPECT_EQ(FromOleDate(-693593), (LocalDateTime{100, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(ToOleDate(year1), -693593);
}

}  // namespace
}  // namespace kv
