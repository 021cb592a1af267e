// The modal notice as a system message box: OK only, centred on the screen (no owner window),
// modal for the whole calling thread, titled with the application's own title.
#include <windows.h>

#include <string>

#include "platform/backend.h"

namespace kv {
namespace {

struct WindowSearch {
    DWORD process_id = 0;
    std::string title;
};

BOOL CALLBACK TakeMainWindowTitle(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner_process = 0;
    GetWindowThreadProcessId(window, &owner_process);
    if (owner_process != search->process_id || !IsWindowVisible(window) ||
        GetWindow(window, GW_OWNER) != nullptr) {
        return TRUE;
    }
    char text[512];
    const int length = GetWindowTextA(window, text, sizeof text);
    if (length <= 0) return TRUE;
    search->title.assign(text, static_cast<size_t>(length));
    return FALSE;
}

// The text of the process's visible main window, or else its executable's name without the
// extension: what the application calls itself.
std::string ApplicationTitle() {
    WindowSearch search;
    search.process_id = GetCurrentProcessId();
    EnumWindows(TakeMainWindowTitle, reinterpret_cast<LPARAM>(&search));
    if (!search.title.empty()) return search.title;

    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : 0);
    const size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

class MessageBoxNotices final : public NoticeBox {
  public:
    void Show(std::string_view ansi_text, bool error) override {
        const std::string text(ansi_text);
        const std::string title = ApplicationTitle();
        MessageBoxA(nullptr, text.c_str(), title.c_str(),
                    MB_OK | MB_TASKMODAL | MB_SETFOREGROUND | (error ? MB_ICONERROR : 0u));
    }
};

}  // namespace

NoticeBox& backend::Notices() {
    static MessageBoxNotices notices;
    return notices;
}

}  // namespace kv
