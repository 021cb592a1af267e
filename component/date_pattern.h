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

}  // namespace kv
