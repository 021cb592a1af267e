#pragma once
// How kvhost shows values, the same for both shells: each with its kind in the COM listing's
// names (a Native API text shows as VT_BSTR, a date in struct tm as VT_DATE with its day
// count), so that one script and the answers it expects serve both add-ins.
#include <string>

#include "common/variant.h"
#include "tools/kvhost/script.h"

namespace kvhost {

// "VT_I4 5", "VT_BSTR "text"", "VT_DATE 45443.5 (2024-05-31 12:00:00)", ...
std::wstring Describe(const kv::Variant& value);

// A script value as the host passes it.
kv::Variant ToVariant(const Value& value);

}  // namespace kvhost
