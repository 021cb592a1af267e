// LoadPrices and LoadOtkazes show a real modal notice, through either shell (shell.h; a Native
// API platform that offers no message box of its own). This program calls each through the
// host protocol; a watcher thread finds the message box, checks it (text, title, one OK button,
// no icon, centred on the screen) and announces it in the status file; the driver script then
// closes it with xdotool, as a user would. A box nobody closes is closed here after a while,
// and the test fails, so that nothing hangs.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "check.h"
#include "desktop_sim.h"

using namespace kvtest;

namespace {

std::string g_status_path;  // Wine path of the file the driver script watches

void Announce(const std::string& line) {
    FILE* status = std::fopen(g_status_path.c_str(), "ab");  // Unix line ends for the driver
    if (status == nullptr) return;
    std::fprintf(status, "%s\n", line.c_str());
    std::fclose(status);
}

// What the watcher saw; written by the watcher thread, read after it has ended.
struct Watch {
    DWORD host_thread = 0;
    int round = 0;
    HWND box = nullptr;
    std::wstring text;
    std::wstring title;
    int buttons = 0;
    int ok_buttons = 0;
    int icons = 0;
    LONG centre_dx = 9999;
    LONG centre_dy = 9999;
    bool closed_by_user = false;
};

BOOL CALLBACK TakeDialog(HWND window, LPARAM context) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wstring(name) != L"#32770" || !IsWindowVisible(window)) return TRUE;
    reinterpret_cast<Watch*>(context)->box = window;
    return FALSE;
}

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

BOOL CALLBACK Inspect(HWND child, LPARAM context) {
    auto* watch = reinterpret_cast<Watch*>(context);
    if (!IsWindowVisible(child)) return TRUE;
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    const std::wstring kind = Lower(name);
    if (kind == L"button") {
        ++watch->buttons;
        if (GetDlgCtrlID(child) == IDOK) ++watch->ok_buttons;
    } else if (kind == L"static") {
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            ++watch->icons;
        }
    }
    return TRUE;
}

DWORD WINAPI Watcher(LPVOID context) {
    auto* watch = static_cast<Watch*>(context);
    for (int i = 0; i < 400 && watch->box == nullptr; ++i) {  // 20 s
        EnumThreadWindows(watch->host_thread, TakeDialog, reinterpret_cast<LPARAM>(watch));
        if (watch->box == nullptr) Sleep(50);
    }
    if (watch->box == nullptr) {
        Announce("NO-BOX " + std::to_string(watch->round));
        return 0;
    }
    Sleep(200);  // let the box finish laying itself out
    wchar_t text[256] = {};
    GetDlgItemTextW(watch->box, 0xFFFF, text, 256);  // the message box's text control
    watch->text = text;
    wchar_t title[256] = {};
    GetWindowTextW(watch->box, title, 256);
    watch->title = title;
    EnumChildWindows(watch->box, Inspect, reinterpret_cast<LPARAM>(watch));
    RECT rect{};
    GetWindowRect(watch->box, &rect);
    watch->centre_dx = (rect.left + rect.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
    watch->centre_dy = (rect.top + rect.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
    Announce("READY " + std::to_string(watch->round));
    for (int i = 0; i < 600; ++i) {  // 30 s for the driver to close it
        if (!IsWindow(watch->box)) {
            watch->closed_by_user = true;
            return 0;
        }
        Sleep(50);
    }
    PostMessageW(watch->box, WM_COMMAND, IDOK, 0);
    return 0;
}

std::wstring ExeBaseName() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name.erase(0, name.find_last_of(L"\\/") + 1);
    return name.substr(0, name.rfind(L'.'));
}

void Notices() {
    g_status_path = Argument(0);
    KV_CHECK(!g_status_path.empty());
    // A Native API platform without a message box of its own: the add-in shows the system's.
    kvhost::NativeAddIn::Options native = kvhost::NativeAddIn::DefaultOptions();
    std::wstring why;
    if (const kvhost::NativeProxy* proxy = kvhost::LoadNativeProxy(why)) {
        proxy->kvn_default_options(&native.platform);
        native.platform.offers &= ~KVN_OFFER_MSGBOX;
    }
    Session vk(&native);
    if (!vk.ok()) return;

    int round = 0;
    for (const char* method : {"ОбновитьПрайсы", "LoadOtkazes"}) {
        ++round;
        Watch watch;
        watch.host_thread = GetCurrentThreadId();
        watch.round = round;
        HANDLE watcher = CreateThread(nullptr, 0, Watcher, &watch, 0, nullptr);
        KV_CHECK(watcher != nullptr);
        if (watcher == nullptr) return;
        const DWORD start = GetTickCount();
        KV_CHECK_EQ(vk.Call(method), 0);
        const DWORD waited = GetTickCount() - start;
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
        Announce("CLOSED " + std::to_string(round));

        KV_CHECK(watch.box != nullptr);
        KV_CHECK(watch.closed_by_user);
        KV_CHECK(waited >= 200);  // the call returned only when the box was closed
        KV_CHECK_EQ(watch.text, std::wstring(L"Функция временно недоступна"));
        KV_CHECK_EQ(watch.title, ExeBaseName());
        KV_CHECK_EQ(watch.buttons, 1);
        KV_CHECK_EQ(watch.ok_buttons, 1);
        KV_CHECK_EQ(watch.icons, 0);
        KV_CHECK(std::labs(watch.centre_dx) <= 2);
        KV_CHECK(std::labs(watch.centre_dy) <= 2);
    }
    KV_CHECK(vk.TakeErrors().empty());
}

}  // namespace

int main(int argc, char** argv) { return RunInApartment(argc, argv, {{"notices", Notices}}); }
