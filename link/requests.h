#pragma once
// The eleven requests to the desktop ordering application, and the value texts and answer
// readers they share.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/regional.h"

namespace kv {

class T_vk_object;

// Pprice as the requests send it: 15 significant digits, the regional decimal separator.
std::string PriceText(const T_vk_object& vk);
// UseByDate rendered by the regional short date format.
std::string DateText(const T_vk_object& vk);

// Reads a date written by the regional short date format: day, month and year in that format's
// order, separated by its separator, nothing before or after. A year of one or two digits is
// taken in the century nearest to `current_year`. False when the text is no such date, or a
// date outside the years 100..9999 that a VT_DATE holds.
bool ParseShortDate(std::string_view text, const RegionalSettings& regional, int current_year,
                    double& out);

// The number of answer records of a FindPacket answer whose first field is a positive number.
// Records are nine fields each from field 2 on and end at the first one whose first field is
// empty. One pass over the text.
int32_t CountFoundRecords(std::string_view answer);

}  // namespace kv
