// Local date and time from the system, with milliseconds.
#include <windows.h>

#include "platform/backend.h"

namespace kv::backend {
namespace {

class Win32Clock final : public Clock {
  public:
    LocalDateTime Now() override {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        return LocalDateTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                             now.wMinute, now.wSecond, now.wMilliseconds};
    }
};

}  // namespace

Clock& SystemClock() {
    static Win32Clock clock;
    return clock;
}

}  // namespace kv::backend
