// The desktop ordering application exists only on Windows, so on this system there is no block
// to open and no turn to take: every request ends with status -1, the outcome of a block that
// cannot be opened. Ticks and pauses are real, so that the cycle's timing behaves as it does on
// Windows.
#include <chrono>
#include <thread>

#include "platform/backend.h"

namespace kv::backend {
namespace {

class AbsentDesktopChannel final : public DesktopChannel {
  public:
    uintptr_t OpenBlock(const std::string&, uint32_t) override { return 0; }
    View MapBlock(uintptr_t) override { return {}; }
    void UnmapBlock(const View&) override {}
    void CloseBlock(uintptr_t) override {}
    TurnObjects OpenTurn(const std::string& mutex_name, const std::string&, uint32_t) override {
        TurnObjects none;
        none.missing = mutex_name;
        return none;
    }
    View HeldRecord() override { return {}; }
    TurnWait WaitForTurn(uintptr_t, uint32_t) override { return TurnWait::Failed; }
    void EndTurn(uintptr_t) override {}
    bool WindowExists(int32_t) override { return false; }
    void SendToWindow(int32_t, uint32_t, int32_t, int32_t) override {}
    uint32_t TickCount() override {
        const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
        // Taken modulo 2^32, as the Windows tick counter wraps.
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count());
    }
    void Pause(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

}  // namespace

DesktopChannel& Channel() {
    static AbsentDesktopChannel channel;
    return channel;
}

}  // namespace kv::backend
