#pragma once
// The date-time pattern language of order file names and of the dates sent to the desktop
// application.
#include <string>
#include <string_view>

#include "common/datetime.h"
#include "platform/regional.h"

namespace kv {

// Renders a local date and time by a pattern; the result holds at most 256 characters.
std::string FormatDatePattern(std::string_view pattern, const LocalDateTime& when,
                              const RegionalSettings& regional);

// Reads a date written by the regional short date format: day, month and year in that format's
// order, separated by its separator, nothing before or after. A year of one or two digits is
// taken in the century nearest to `current_year`. False when the text is no such date, or a
// date outside the years 100..9999 that a VT_DATE holds.
bool ParseShortDate(std::string_view text, const RegionalSettings& regional, int current_year,
                    double& out);

}  // namespace kv
