// Long use of the real DLL in one process leaves nothing behind: handles, mapped views, GDI and
// USER objects and private memory are measured after a warm-up and again at the end, and must
// be no more than they were. Under Wine GetProcessHandleCount and GetGuiResources answer 0, so the
// counts come from probes: Wine hands out the lowest free handle (of the kernel, GDI and USER
// tables alike), so a freshly made and freed object's handle rises with every one leaked. The
// group `probes` proves that they see a deliberate leak before the others trust them.
//   soak_test probes|cycles DLL
//   soak_test requests DLL SIMULATOR PRICES
//   soak_test dialog DLL DATABASE CLIENT_LIBRARY (soak_dialog_test.sh: database and display)
#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "desktop_sim.h"
#include "host_objects.h"

using namespace kvtest;

namespace {

struct Resources {
    uintptr_t handles = 0;  // the probe's handle value
    uintptr_t gdi = 0;      // the low 16 bits (the table's index) of a probe GDI object
    uintptr_t user = 0;     // the same for a USER object
    size_t views = 0;       // mapped views in the address space
    size_t private_bytes = 0;
};

size_t MappedViews() {
    size_t views = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr;
         VirtualQuery(at, &region, sizeof region) == sizeof region && at + region.RegionSize > at;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.Type == MEM_MAPPED && region.BaseAddress == region.AllocationBase) ++views;
    }
    return views;
}

Resources Measure() {
    Resources r;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    r.handles = reinterpret_cast<uintptr_t>(event);
    CloseHandle(event);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    r.gdi = reinterpret_cast<uintptr_t>(brush) & 0xFFFF;
    DeleteObject(brush);
    HMENU menu = CreateMenu();
    r.user = reinterpret_cast<uintptr_t>(menu) & 0xFFFF;
    DestroyMenu(menu);
    r.views = MappedViews();
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    r.private_bytes = counters.PagefileUsage;
    return r;
}

void Print(const char* when, const Resources& r) {
    std::printf(
        "%s: handle probe %lu, GDI probe %lu, USER probe %lu, mapped views %lu, private "
        "bytes %lu\n",
        when, static_cast<unsigned long>(r.handles), static_cast<unsigned long>(r.gdi),
        static_cast<unsigned long>(r.user), static_cast<unsigned long>(r.views),
        static_cast<unsigned long>(r.private_bytes));
    std::fflush(stdout);
}

// Nothing more held at the end than after the warm-up (fewer is fine: the warm-up may have
// caught a passing object). Private memory may move by a few pages as the heap settles
// (`slack` bytes); a leak of a dozen bytes per round over thousands of rounds is beyond it.
// Memory is measured from `settled` when given: a later point, when the heaps have their size.
void ExpectFlat(const Resources& first, const Resources& last, size_t slack,
                const Resources* settled = nullptr) {
    Print("after the warm-up", first);
    if (settled != nullptr) Print("after the heaps settled", *settled);
    Print("at the end", last);
    KV_CHECK(last.handles <= first.handles);
    KV_CHECK(last.gdi <= first.gdi);
    KV_CHECK(last.user <= first.user);
    KV_CHECK(last.views <= first.views);
    KV_CHECK(last.private_bytes <= (settled ? *settled : first).private_bytes + slack);
}

// Each probe sees one leaked object of its kind.
void Probes() {
    const Resources before = Measure();
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(4, 5, 6));
    HMENU menu = CreateMenu();
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    const Resources leaked = Measure();
    KV_CHECK(leaked.handles > before.handles);
    KV_CHECK(leaked.gdi != before.gdi);
    KV_CHECK(leaked.user != before.user);
    KV_CHECK_EQ(leaked.views, before.views + 1);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(event);
    DeleteObject(brush);
    DestroyMenu(menu);
    const Resources after = Measure();
    KV_CHECK_EQ(after.handles, before.handles);
    KV_CHECK_EQ(after.gdi, before.gdi);
    KV_CHECK_EQ(after.user, before.user);
    KV_CHECK_EQ(after.views, before.views);
}

// The DLL's own answer to whether it may be unloaded.
HRESULT CanUnloadNow() {
    HMODULE dll = GetModuleHandleA("KelvarinVK.dll");
    if (dll == nullptr) return E_FAIL;
    // Through a plain function pointer: FARPROC's own type differs on each architecture.
    auto can_unload = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllCanUnloadNow")));
    return can_unload != nullptr ? can_unload() : E_FAIL;
}

// 10,000 create / Init / Done / Release cycles.
void Cycles() {
    constexpr int kWarmUp = 1000, kCycles = 10000;
    Resources first;
    for (int i = 1; i <= kCycles; ++i) {
        {
            // A host connection of its own each time: the test's connection records what it
            // is asked for.
            Connection connection(true);
            AddIn addin(&connection);
            if (!addin.ok()) return;
            KV_CHECK_HR(addin.init->Done(), S_OK);
        }
        if (i == kWarmUp) first = Measure();
    }
    ExpectFlat(first, Measure(), 64 * 1024);
    KV_CHECK_HR(CanUnloadNow(), S_OK);
}

// The window that the block names, written over field 2 as a desktop application that has
// gone would leave it; `window` empty puts the simulator's back.
void WriteHandleField(const std::string& window, HWND simulator) {
    HANDLE block = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "KelvarinMapFile");
    char* view = block != nullptr
                     ? static_cast<char*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, 0))
                     : nullptr;
    KV_CHECK(view != nullptr);
    if (view != nullptr) {
        const std::string text =
            "0\t" +
            (window.empty() ? std::to_string(reinterpret_cast<uintptr_t>(simulator)) : window) +
            "\t";
        std::memcpy(view, text.c_str(), text.size() + 1);
        UnmapViewOfFile(view);
    }
    if (block != nullptr) CloseHandle(block);
}

// 10,000 requests, answered, timed out, answered after they gave up and sent to a window that
// has gone, in one mix; at the end no handle of the block is left: once the simulator has gone,
// it is gone.
void Requests() {
    constexpr int kWarmUp = 1000, kRequests = 10000;
    Resources first;
    int answered = 0, timed_out = 0;
    {
        Simulator sim(Argument(1), {"--prices", Argument(2), "--queue", "--late", "LATE", "1"});
        if (!sim.WaitReady()) return;
        HWND gone = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                    nullptr);
        const std::string dead = std::to_string(reinterpret_cast<uintptr_t>(gone));
        DestroyWindow(gone);
        Session vk;
        if (!vk.ok()) return;
        for (int i = 1; i <= kRequests; ++i) {
            const std::vector<Session::Arg> find = {Session::Int(0), Session::Int(0),
                                                    Session::Str("1")};
            switch (i % 10) {
                case 0:  // answered only after it gave up: at once, now and then after a look
                    vk.SetInt("Timeout", i % 100 == 0 ? 1 : -1);
                    vk.SetText("TradeName", "LATE");
                    timed_out += vk.Call("FindPosition", find) == -3;
                    break;
                case 5:  // the window has gone
                    WriteHandleField(dead, nullptr);
                    vk.SetInt("Timeout", -1);
                    timed_out += vk.Call("CountPositionInZakaz") == -3;
                    WriteHandleField("", sim.window());
                    break;
                case 7:  // waits for no answer
                    answered += vk.Call("UseAutozakaz", {Session::Int(0)}) == 1;
                    break;
                default:
                    vk.SetInt("Timeout", 2000);
                    vk.SetText("TradeName", "Ибупрофен");
                    answered += vk.Call("FindPosition", find) == 4;
                    break;
            }
            if (i == kWarmUp) first = Measure();
        }
        std::printf("%d requests: %d answered or sent, %d timed out\n", kRequests, answered,
                    timed_out);
        KV_CHECK_EQ(answered, kRequests * 8 / 10);
        KV_CHECK_EQ(timed_out, kRequests * 2 / 10);
        KV_CHECK(vk.TakeErrors().empty());
        ExpectFlat(first, Measure(), 128 * 1024);
    }
    HANDLE left = OpenFileMappingA(FILE_MAP_READ, FALSE, "KelvarinMapFile");
    KV_CHECK(left == nullptr);
    if (left != nullptr) CloseHandle(left);
}

// The name-matching dialog of the host thread, once it is up: visible, with the rows of its
// first query in the list.
struct DialogUp {
    DWORD thread = 0;
    HWND window = nullptr, list = nullptr, cancel = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
    auto* up = reinterpret_cast<DialogUp*>(context);
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "KelvarinVKSelect") != 0 || !IsWindowVisible(window)) return TRUE;
    up->window = window;
    return FALSE;
}

bool FindDialogUp(DialogUp& up) {
    up.window = nullptr;
    EnumThreadWindows(up.thread, FindDialog, reinterpret_cast<LPARAM>(&up));
    if (up.window == nullptr) return false;
    up.list = FindWindowExA(up.window, nullptr, "SysListView32", nullptr);
    // The cancel button, whose control identifier is the dialog's own.
    up.cancel = GetDlgItem(up.window, 105);
    DWORD_PTR rows = 0;
    return up.list != nullptr && up.cancel != nullptr &&
           SendMessageTimeoutA(up.list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 10000, &rows) != 0 &&
           rows > 0;
}

// Plays the user of one round: waits for the dialog to be up, closes it in one of the ways a
// window is closed, and waits for it to go. A dialog that does not go ends the process: the
// modal loop that missed its end never returns, and the test says so instead of timing out.
// The sent closes arrive inside the dialog's GetMessage, which must not wait on after them.
struct Closer {
    DialogUp up;
    int round = 0;
    bool seen = false;
};

DWORD WINAPI CloseDialog(LPVOID context) {
    auto* closer = static_cast<Closer*>(context);
    const auto hung = [closer](const char* what) {
        std::printf("round %d: %s\n", closer->round, what);
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    };
    const DWORD start = GetTickCount();
    while (!FindDialogUp(closer->up)) {
        if (GetTickCount() - start > 20000) {
            hung(closer->up.window != nullptr ? "the dialog shows no rows after 20 s"
                                              : "no dialog after 20 s");
        }
        Sleep(2);
    }
    closer->seen = true;
    // Sent messages wait at most 10 s for the dialog's thread to take them.
    const auto send = [&](HWND window, UINT message) {
        DWORD_PTR ignored = 0;
        if (SendMessageTimeoutA(window, message, 0, 0, SMTO_NORMAL, 10000, &ignored) == 0 &&
            IsWindow(window)) {
            hung("the dialog's thread took no sent message for 10 s");
        }
    };
    switch (closer->round % 3) {
        case 0:  // the close box
            PostMessageA(closer->up.window, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case 1:  // the cancel button pressed by another program, as accessibility tools do
            send(closer->up.cancel, BM_CLICK);
            break;
        default:  // another program closing the window
            send(closer->up.window, WM_CLOSE);
            break;
    }
    const DWORD closed = GetTickCount();
    while (IsWindow(closer->up.window) && IsWindowVisible(closer->up.window)) {
        if (GetTickCount() - closed > 10000)
            hung("the dialog is still up 10 s after it was closed");
        Sleep(2);
    }
    return 0;
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(window, message, wparam, lparam);
}

// 200 dialogs over a real registry database, each closed by a closer thread; after the warm-up
// nothing more is held.
void Dialogs() {
    constexpr int kWarmUp = 20, kHeapSettled = 100, kRounds = 200;
    Session vk;
    if (!vk.ok()) return;
    vk.SetText("BaseName", Argument(1));
    vk.SetText("DLLName", Argument(2));
    // The host's main window, which the dialog disables while it is up.
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KvSoakHost";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, "KvSoakHost", "1C host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(host, SW_SHOW);
    Resources first, settled;
    int cancelled = 0, seen = 0;
    for (int i = 1; i <= kRounds; ++i) {
        Closer closer;
        closer.up.thread = GetCurrentThreadId();
        closer.round = i;
        HANDLE thread = CreateThread(nullptr, 0, CloseDialog, &closer, 0, nullptr);
        KV_CHECK(thread != nullptr);
        if (thread == nullptr) break;
        cancelled += vk.Call("SopostavNames", {Session::Str("Аспирин"), Session::Str("")}) == 0;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        seen += closer.seen;
        if (i == kWarmUp) first = Measure();
        if (i == kHeapSettled) settled = Measure();
    }
    const Resources last = Measure();
    std::printf("%d dialogs: %d seen and closed, %d calls returned cancelled\n", kRounds, seen,
                cancelled);
    KV_CHECK_EQ(seen, kRounds);
    KV_CHECK_EQ(cancelled, kRounds);
    KV_CHECK(vk.TakeErrors().empty());
    KV_CHECK(IsWindowEnabled(host));
    DestroyWindow(host);
    // Handles and objects from the warm-up on. Private memory from the 100th dialog: until
    // then the heaps of Wine and of the Firebird client still grow to their working size (by
    // about 150 KB), and after it they move by some tens of KB either way. 128 KB over the last
    // 100 dialogs is 1.3 KB a dialog, far below the 9 KB that every top-level window costs while
    // its thread pumps no messages (Wine's X11 events stay queued until then).
    ExpectFlat(first, last, 128 * 1024, &settled);
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(
        argc, argv,
        {{"probes", Probes}, {"cycles", Cycles}, {"requests", Requests}, {"dialog", Dialogs}});
}
