// Local time from the C library, with milliseconds from the real-time clock.
#include <time.h>

#include "platform/backend.h"

namespace kv::backend {
namespace {

class PosixClock final : public Clock {
  public:
    LocalDateTime Now() override {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        tm local{};
        localtime_r(&now.tv_sec, &local);
        LocalDateTime when;
        when.year = local.tm_year + 1900;
        when.month = local.tm_mon + 1;
        when.day = local.tm_mday;
        when.hour = local.tm_hour;
        when.minute = local.tm_min;
        // A leap second shows as the last second of its minute, as Windows never reports 60.
        when.second = local.tm_sec < 60 ? local.tm_sec : 59;
        when.millisecond = static_cast<int>(now.tv_nsec / 1000000);
        return when;
    }
};

}  // namespace

Clock& SystemClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace kv::backend
