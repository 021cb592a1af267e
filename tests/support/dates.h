#pragma once
// Calendar days as OLE dates, for expected values.
#include "common/datetime.h"

namespace kv::test {

inline double Day(int year, int month, int day) {
    LocalDateTime date;
    date.year = year;
    date.month = month;
    date.day = day;
    return ToOleDate(date);
}

}  // namespace kv::test
