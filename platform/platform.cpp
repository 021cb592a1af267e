#include "platform/platform.h"

#include <algorithm>

#include "common/text.h"
#include "common/variant.h"
#include "platform/backend.h"

namespace kv {

TraceSetting MakeTraceSetting(std::string file, std::string_view limit_kib) {
    constexpr int64_t kDefaultKib = 4096, kLeastKib = 16, kMostKib = 1024 * 1024;
    int64_t kib = kDefaultKib;
    if (!ParseInt64(TrimControl(limit_kib), kib)) kib = kDefaultKib;
    TraceSetting setting;
    setting.file = std::move(file);
    setting.limit_bytes = static_cast<uint64_t>(std::clamp(kib, kLeastKib, kMostKib)) * 1024;
    return setting;
}

Platform& DefaultPlatform() {
    static Platform platform{backend::Codec(),     backend::Regional(),  backend::SystemClock(),
                             backend::Notices(),   backend::Files(),     backend::Channel(),
                             backend::Processes(), backend::Libraries(), backend::Dialogs(),
                             backend::Traces()};
    return platform;
}

}  // namespace kv
