// SopostavNames through the real DLL (either shell, shell.h) with the real Win32 dialog under Xvfb,
// against a real Firebird database reached through the test bridge. This program plays the 1C host:
// it owns a visible main window, calls the method once per round and checks what the call returned.
// A watcher thread checks the dialog's layout and announces its state in the status file, and
// that it has gone; the driver script (select_dialog_test.sh) waits for those lines and plays
// the user with xdotool.
//   select_dialog_gui dialog STATUS_FILE DATABASE CLIENT_LIBRARY
//   select_dialog_gui type CODES [DELAY_MS]
#include <windows.h>
// After windows.h, whose types they need.
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "desktop_sim.h"

using namespace kvtest;

namespace {

std::string g_status_path;

void Announce(const std::string& line) {
    FILE* status = std::fopen(g_status_path.c_str(), "ab");  // Unix line ends for the script
    if (status == nullptr) return;
    std::fprintf(status, "%s\n", line.c_str());
    std::fclose(status);
}

std::string FromAnsi(const std::string& ansi) {
    std::wstring wide(ansi.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return Utf8(wide);
}

std::string TextOf(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return Utf8(text);
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct Round {
    const char* name;  // parameter 1, UTF-8
    const char* maker;
    long code;             // what the call returns; 0 for a cancel
    bool scrolls = false;  // the list must show more rows than fit
};
// The driver script plays these rounds in this order.
const Round kRounds[] = {
    {"Аспирин", "", 102},      // filter typed in Cyrillic, double click
    {"", "Байер", 106, true},  // every row; typed into the list, Enter
    {"Аспирин", "", 0},        // Enter in the filter, Esc in the list, cancel button
    {"Аспирин", "", 0},        // the close box
    {"Аспирин", "", 0},        // Alt+F4
    {"Аспирин", "", 106},      // a failing refresh, then the confirm button
    {"Нет такого", "", 0},     // an empty list: Enter and double click do nothing
};

struct Dialog {
    HWND window = nullptr, filter = nullptr, list = nullptr, apply = nullptr, close = nullptr,
         title = nullptr, label = nullptr;
};

struct Watch {
    DWORD host_thread = 0;
    HWND host_window = nullptr;
    int round = 0;
    volatile bool stop = false;
    std::vector<std::string> problems;  // read by the main thread after the watcher ended
    bool seen = false;
    bool scrolled = false;  // a vertical scrollbar was seen
    bool closed = false;    // CLOSED announced
};

// The dialog has gone, so the user's last action was answered, whatever the call still does.
void AnnounceClosed(Watch& watch) {
    watch.closed = true;
    Announce("CLOSED round=" + std::to_string(watch.round));
}

BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
    if (ClassOf(window) != "KelvarinVKSelect" || !IsWindowVisible(window)) return TRUE;
    reinterpret_cast<Dialog*>(context)->window = window;
    return FALSE;
}

BOOL CALLBACK FindControls(HWND child, LPARAM context) {
    auto* d = reinterpret_cast<Dialog*>(context);
    const std::string cls = ClassOf(child);
    const std::string text = TextOf(child);
    if (cls == "Edit") d->filter = child;
    if (cls == "SysListView32") d->list = child;
    if (cls == "Button" && text == "Сохранить сопоставление") d->apply = child;
    if (cls == "Button" && text == "Отменить сопоставление") d->close = child;
    if (cls == "Static" && text == "Фильтр") d->label = child;
    if (cls == "Static" && GetDlgCtrlID(child) == 100) d->title = child;
    return TRUE;
}

HWND g_error_box = nullptr;
BOOL CALLBACK FindErrorBox(HWND window, LPARAM context) {
    if (ClassOf(window) == "#32770" && IsWindowVisible(window) &&
        GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(context)) {
        g_error_box = window;
        return FALSE;
    }
    return TRUE;
}

RECT ClientRectOnScreen(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Point(LONG x, LONG y) { return std::to_string(x) + "," + std::to_string(y); }

std::string Centre(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return Point((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// Where the user clicks: control centres, two rows of the list, the close box.
std::string Geometry(const Dialog& d) {
    RECT row0{LVIR_BOUNDS, 0, 0, 0}, row1{LVIR_BOUNDS, 0, 0, 0};
    SendMessageW(d.list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row0));
    SendMessageW(d.list, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row1));
    POINT p0{200, (row0.top + row0.bottom) / 2}, p1{200, (row1.top + row1.bottom) / 2};
    ClientToScreen(d.list, &p0);
    ClientToScreen(d.list, &p1);
    RECT w;
    GetWindowRect(d.window, &w);
    const int frame = GetSystemMetrics(SM_CXFIXEDFRAME);
    const LONG box_x = w.right - frame - GetSystemMetrics(SM_CXSIZE) / 2 - 2;
    const LONG box_y = w.top + frame + GetSystemMetrics(SM_CYCAPTION) / 2;
    return "filter=" + Centre(d.filter) + " row0=" + Point(p0.x, p0.y) +
           " row1=" + Point(p1.x, p1.y) + " apply=" + Centre(d.apply) +
           " close=" + Centre(d.close) + " list=" + Centre(d.list) +
           " closebox=" + Point(box_x, box_y) + " window=" + std::to_string(w.right - w.left) +
           "x" + std::to_string(w.bottom - w.top) + "+" + std::to_string(w.left) + "+" +
           std::to_string(w.top);
}

std::string ItemText(HWND list, int row, int column) {
    char text[512] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return FromAnsi(text);
}

std::string State(const Dialog& d) {
    const int rows = static_cast<int>(SendMessageW(d.list, LVM_GETITEMCOUNT, 0, 0));
    const int selected = static_cast<int>(
        SendMessageW(d.list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    g_error_box = nullptr;
    EnumWindows(FindErrorBox, reinterpret_cast<LPARAM>(d.window));
    std::string error;
    if (g_error_box != nullptr) {
        wchar_t text[512] = {};
        GetDlgItemTextW(g_error_box, 0xFFFF, text, 512);
        error = Utf8(text);
    }
    std::string state = "filter=[" + TextOf(d.filter) + "] rows=" + std::to_string(rows) +
                        " sel=" + std::to_string(selected) +
                        " apply=" + (IsWindowEnabled(d.apply) ? "1" : "0") +
                        " errbox=" + (g_error_box != nullptr ? "1" : "0");
    // The last row is blank while the list has yet to read it.
    if (rows > 0) {
        state += " first=[" + ItemText(d.list, 0, 2) + "] code=" + ItemText(d.list, 0, 1) +
                 " last=[" + ItemText(d.list, rows - 1, 2) + "]";
    }
    if (!error.empty()) state += " error=[" + error + "]";
    return state;
}

// The layout the dialog must have, checked once it is up.
void CheckLayout(const Dialog& d, Watch& watch) {
    auto expect = [&](bool held, const std::string& what) {
        if (!held) watch.problems.push_back(what);
    };
    expect(d.filter && d.list && d.apply && d.close && d.title && d.label, "a control is missing");
    if (!(d.filter && d.list && d.apply && d.close && d.title && d.label)) return;
    RECT client;
    GetClientRect(d.window, &client);
    expect(client.right == 729 && client.bottom == 417,
           "client area " + std::to_string(client.right) + "x" + std::to_string(client.bottom));
    RECT w;
    GetWindowRect(d.window, &w);
    const LONG dx = (w.left + w.right) / 2 - GetSystemMetrics(SM_CXSCREEN) / 2;
    const LONG dy = (w.top + w.bottom) / 2 - GetSystemMetrics(SM_CYSCREEN) / 2;
    expect(std::labs(dx) <= 1 && std::labs(dy) <= 1, "not centred on the screen");
    expect(TextOf(d.window) == "Сопоставление наименований", "caption " + TextOf(d.window));
    const LONG style = GetWindowLongW(d.window, GWL_STYLE);
    expect((style & WS_SYSMENU) && !(style & WS_THICKFRAME) && !(style & WS_MINIMIZEBOX) &&
               !(style & WS_MAXIMIZEBOX),
           "the frame is not a fixed dialog frame with a close box only");
    expect(TextOf(d.title) == kRounds[watch.round - 1].name, "title " + TextOf(d.title));
    const RECT filter = ClientRectOnScreen(d.window, d.filter);
    expect(filter.left == 192 && filter.top == 36 && filter.right - filter.left == 249 &&
               filter.bottom - filter.top == 21,
           "filter box at " + Point(filter.left, filter.top));
    const RECT label = ClientRectOnScreen(d.window, d.label);
    expect(label.right <= 192 && label.right >= 180, "label not to the left of the filter box");
    const RECT apply = ClientRectOnScreen(d.window, d.apply);
    const RECT close = ClientRectOnScreen(d.window, d.close);
    expect(apply.left == 0 && apply.right - apply.left == 190 && apply.bottom - apply.top == 39,
           "confirm button geometry");
    expect(close.right == 729 && close.right - close.left == 190 && close.bottom - close.top == 39,
           "cancel button geometry");
    const RECT list = ClientRectOnScreen(d.window, d.list);
    expect(list.top == 62 && list.bottom == 417 - 41 && list.right - list.left == 729,
           "list geometry");
    const LONG list_style = GetWindowLongW(d.list, GWL_STYLE);
    expect((list_style & LVS_OWNERDATA) && (list_style & LVS_SHOWSELALWAYS) &&
               (list_style & LVS_TYPEMASK) == LVS_REPORT,
           "the list is not a virtual report list");
    const DWORD ex = static_cast<DWORD>(SendMessageW(d.list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    expect((ex & LVS_EX_FULLROWSELECT) && (ex & LVS_EX_GRIDLINES), "no full-row select or grid");
    HWND header = reinterpret_cast<HWND>(SendMessageW(d.list, LVM_GETHEADER, 0, 0));
    RECT header_rect{}, row{LVIR_BOUNDS, 0, 0, 0};
    GetClientRect(header, &header_rect);
    SendMessageW(d.list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    // Two title rows: the header is about twice a row of text high.
    expect(header_rect.bottom >= 28, "header " + std::to_string(header_rect.bottom) + " high");
    const int widths[] = {285, 284};
    expect(SendMessageW(d.list, LVM_GETCOLUMNWIDTH, 2, 0) == widths[0] &&
               SendMessageW(d.list, LVM_GETCOLUMNWIDTH, 4, 0) == widths[1],
           "name column widths");
    // Tab order: cancel, confirm, list, filter, and round again (a disabled button is skipped).
    std::string order;
    HWND item = d.close;
    for (int i = 0; i < 4; ++i) {
        item = GetNextDlgTabItem(d.window, item, FALSE);
        order += item == d.close    ? "close "
                 : item == d.apply  ? "apply "
                 : item == d.list   ? "list "
                 : item == d.filter ? "filter "
                                    : "other ";
    }
    const char* expected =
        IsWindowEnabled(d.apply) ? "apply list filter close " : "list filter close list ";
    expect(order == expected, "tab order after close: " + order);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(d.filter, WM_GETFONT, 0, 0));
    LOGFONTW logfont{};
    GetObjectW(font, sizeof logfont, &logfont);
    expect(std::wstring(logfont.lfFaceName) == L"Tahoma" && logfont.lfHeight == -11,
           "filter font " + Utf8(logfont.lfFaceName) + " " + std::to_string(logfont.lfHeight));
    HFONT title_font = reinterpret_cast<HFONT>(SendMessageW(d.title, WM_GETFONT, 0, 0));
    GetObjectW(title_font, sizeof logfont, &logfont);
    expect(logfont.lfHeight == -16 && logfont.lfWeight == FW_BOLD, "title font");
    expect(!IsWindowEnabled(watch.host_window), "the host's window is not disabled");
}

// With more rows than fit, the list scrolls vertically, and its columns fit beside the
// scrollbar: no horizontal one.
void CheckScrollbars(const Dialog& d, Watch& watch) {
    const LONG style = GetWindowLongW(d.list, GWL_STYLE);
    if ((style & WS_VSCROLL) == 0) return;
    watch.scrolled = true;
    if ((style & WS_HSCROLL) != 0 && watch.problems.empty()) {
        int widths = 0;
        for (int i = 0; i < 5; ++i) {
            widths += static_cast<int>(SendMessageW(d.list, LVM_GETCOLUMNWIDTH, i, 0));
        }
        RECT client;
        GetClientRect(d.list, &client);
        watch.problems.push_back(
            "a horizontal scrollbar beside the vertical one: the columns take " +
            std::to_string(widths) + " px of " + std::to_string(client.right));
    }
}

DWORD WINAPI Watcher(LPVOID context) {
    auto* watch = static_cast<Watch*>(context);
    std::string last;
    while (!watch->stop) {
        Dialog d;
        EnumThreadWindows(watch->host_thread, FindDialog, reinterpret_cast<LPARAM>(&d));
        if (d.window == nullptr && watch->seen && !watch->closed) AnnounceClosed(*watch);
        if (d.window != nullptr) {
            EnumChildWindows(d.window, FindControls, reinterpret_cast<LPARAM>(&d));
            if (d.filter && d.list && d.apply && d.close) {
                if (!watch->seen) {
                    watch->seen = true;
                    CheckLayout(d, *watch);
                    Announce("GEOMETRY round=" + std::to_string(watch->round) + " " + Geometry(d));
                }
                CheckScrollbars(d, *watch);
                const std::string state =
                    "STATE round=" + std::to_string(watch->round) + " " + State(d);
                // A dialog that closed while it was read is not a state of it.
                if (state != last && IsWindowVisible(d.window)) Announce(state);
                last = state;
            }
        }
        Sleep(40);
    }
    return 0;
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcW(window, message, wparam, lparam);
}

HWND MakeHostWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KvTestHostMain";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, L"KvTestHostMain", L"1C host", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                  200, nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
    return window;
}

void DialogRounds() {
    g_status_path = Argument(0);
    const std::string database = Argument(1);
    KV_CHECK(!g_status_path.empty() && !database.empty());
    Session vk;
    if (!vk.ok()) return;
    vk.SetText("BaseName", database);
    vk.SetText("DLLName", Argument(2));

    HWND host = MakeHostWindow();
    int round = 0;
    for (const Round& r : kRounds) {
        ++round;
        vk.SetText("TradeName", "kept");
        vk.SetText("Producer", "kept too");
        Watch watch;
        watch.host_thread = GetCurrentThreadId();
        watch.host_window = host;
        watch.round = round;
        HANDLE watcher = CreateThread(nullptr, 0, Watcher, &watch, 0, nullptr);
        KV_CHECK(watcher != nullptr);
        if (watcher == nullptr) return;
        Announce("CALL round=" + std::to_string(round));
        const long value =
            vk.Call("СопоставитьПозиции", {Session::Str(r.name), Session::Str(r.maker)});
        watch.stop = true;
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
        // A call that returns soon after the dialog went can stop the watcher before it looks.
        if (!watch.closed) AnnounceClosed(watch);
        const std::string trade_name = vk.Text("TradeName");
        const std::string producer = vk.Text("Producer");
        std::string errors;
        for (const std::string& e : vk.TakeErrors()) errors += e + ";";
        Announce("RESULT round=" + std::to_string(round) + " value=" + std::to_string(value) +
                 " TradeName=[" + trade_name + "] Producer=[" + producer + "] errors=[" + errors +
                 "]");
        KV_CHECK(watch.seen);
        KV_CHECK(watch.scrolled || !r.scrolls);
        for (const std::string& problem : watch.problems) Fail(__FILE__, __LINE__, problem);
        KV_CHECK_EQ(value, r.code);
        const std::string code_text = r.code != 0 ? std::to_string(r.code) : "kept";
        KV_CHECK_EQ(trade_name, code_text);
        KV_CHECK_EQ(producer, r.code != 0 ? code_text : std::string("kept too"));
        KV_CHECK(errors.empty());
        KV_CHECK(IsWindowEnabled(host));
    }
    DestroyWindow(host);
}

}  // namespace

// `select_dialog_gui type CODES [DELAY_MS]`: types the characters whose hexadecimal code points
// CODES lists, comma-separated, into the window that has the keyboard focus, as keyboard input
// of Unicode characters: the system's own input path from the input queue on, without the X
// keyboard map, which cannot be relied on for Cyrillic under Wine.
int TypeText(const char* codes, DWORD delay) {
    for (const char* p = codes; *p != '\0';) {
        char* end = nullptr;
        const unsigned long code = std::strtoul(p, &end, 16);
        if (end == p || code == 0 || code > 0xFFFF) return 2;
        INPUT keys[2] = {};
        for (INPUT& key : keys) {
            key.type = INPUT_KEYBOARD;
            key.ki.wScan = static_cast<WORD>(code);
            key.ki.dwFlags = KEYEVENTF_UNICODE;
        }
        keys[1].ki.dwFlags |= KEYEVENTF_KEYUP;
        if (SendInput(2, keys, sizeof(INPUT)) != 2) return 1;
        Sleep(delay);
        p = *end == ',' ? end + 1 : end;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "type") {
        return TypeText(argv[2], argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 0);
    }
    return RunInApartment(argc, argv, {{"dialog", DialogRounds}});
}
