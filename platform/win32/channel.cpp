// The desktop ordering application's shared block and window messages.
#include <windows.h>

#include "platform/backend.h"

namespace kv::backend {
namespace {

HANDLE AsHandle(uintptr_t block) { return reinterpret_cast<HANDLE>(block); }

class Win32DesktopChannel final : public DesktopChannel {
  public:
    uintptr_t OpenBlock(const std::string& name, uint32_t create_size) override {
        // Backed by the paging file; the size only counts when no block of that name exists.
        HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          create_size, name.c_str());
        return reinterpret_cast<uintptr_t>(block);
    }

    View MapBlock(uintptr_t block) override {
        void* data = MapViewOfFile(AsHandle(block), FILE_MAP_WRITE, 0, 0, 0);
        if (data == nullptr) return {};
        // The creator decides the size; the mapped region is the only place that tells it.
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(data, &region, sizeof region) == 0 || region.RegionSize == 0) {
            // A view whose size is unknown cannot be used safely: treat it as not mapped.
            UnmapViewOfFile(data);
            return {};
        }
        return View{static_cast<char*>(data), static_cast<size_t>(region.RegionSize)};
    }

    void UnmapBlock(const View& view) override {
        if (view.data != nullptr) UnmapViewOfFile(view.data);
    }

    void CloseBlock(uintptr_t block) override {
        if (block != 0) CloseHandle(AsHandle(block));
    }

    uintptr_t OpenTurn(const std::string& name) override {
        // Not owned on creation: the turn is taken only by waiting for it.
        return reinterpret_cast<uintptr_t>(CreateMutexA(nullptr, FALSE, name.c_str()));
    }

    TurnWait WaitForTurn(uintptr_t turn, uint32_t milliseconds) override {
        switch (WaitForSingleObject(AsHandle(turn), milliseconds)) {
            case WAIT_OBJECT_0:
                return TurnWait::Taken;
            case WAIT_ABANDONED:
                return TurnWait::TakenAbandoned;
            case WAIT_TIMEOUT:
                return TurnWait::Busy;
            default:
                return TurnWait::Failed;
        }
    }

    void EndTurn(uintptr_t turn) override { ReleaseMutex(AsHandle(turn)); }

    void CloseTurn(uintptr_t turn) override {
        if (turn != 0) CloseHandle(AsHandle(turn));
    }

    void SendToWindow(int32_t window, uint32_t message, int32_t wparam, int32_t lparam) override {
        // Window handles are 32-bit values in every process, sign-extended in 64-bit ones.
        HWND target = reinterpret_cast<HWND>(static_cast<intptr_t>(window));
        SendMessageA(target, message, static_cast<WPARAM>(static_cast<intptr_t>(wparam)),
                     static_cast<LPARAM>(lparam));
    }

    uint32_t TickCount() override { return GetTickCount(); }

    void Pause(uint32_t milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

DesktopChannel& Channel() {
    static Win32DesktopChannel channel;
    return channel;
}

}  // namespace kv::backend
