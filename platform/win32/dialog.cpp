// The name-matching dialog as a Win32 window: a fixed 729 x 417 client area centred on the
// screen, the title line, the filter strip, a virtual (owner-data) list view with two-level
// column titles and a row marker, and two owner-drawn buttons with thumbs drawn in code. The
// window runs its own modal loop with the thread's other windows disabled. Texts are ANSI.
#include <windows.h>
// After windows.h, whose types it needs.
#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "platform/backend.h"

namespace kv {
namespace {

constexpr char kClassName[] = "KelvarinVKSelect";
constexpr char kOwnerProperty[] = "KelvarinVKSelectOwner";
constexpr int kClientWidth = 729;
constexpr int kClientHeight = 417;
constexpr int kTitleHeight = 30;
constexpr int kFilterStripHeight = 32;
constexpr int kButtonStripHeight = 41;
constexpr int kButtonWidth = 190;
constexpr int kButtonHeight = 39;
constexpr int kIconSize = 24;

// Control identifiers; 1 and 2 are left to IDOK and IDCANCEL, which the dialog manager sends
// for Enter and Esc.
enum ControlId : int { kIdTitle = 100, kIdLabel, kIdFilter, kIdList, kIdApply, kIdClose };
constexpr UINT_PTR kTimer1Id = 1;
// Posted to itself when the list shows rows not read yet: wParam the result's generation,
// lParam the last row wanted.
constexpr UINT kRowsWanted = WM_APP + 1;

struct ColumnTitle {
    const char* upper;  // UTF-8; rows of equal upper titles share one upper cell
    const char* lower;
    int width;  // 0: a code column, which shares what the others leave
};
// The marker column first, then the four columns of the result.
constexpr ColumnTitle kColumns[] = {
    {"", "", 14},
    {"Препарат", "Код", 0},
    {"Препарат", "Наименование", 285},
    {"Производитель", "Код", 0},
    {"Производитель", "Наименование", 284},
};
constexpr int kMinCodeWidth = 40;
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
static_assert(kColumnCount == kSelectColumnCount + 1);

std::string Ansi(const char* utf8) { return Cp1251FromUtf8(utf8); }

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

// A thumb, up or down, in a 24 x 24 box at (x, y): a fist with its thumb raised and the cuff of
// a sleeve, drawn with GDI so that no icon file is needed. Down is up mirrored vertically.
void DrawThumb(HDC dc, int x, int y, bool up, bool enabled) {
    const COLORREF fill = !enabled ? RGB(190, 190, 190) : up ? RGB(60, 170, 60) : RGB(215, 50, 50);
    const COLORREF line = !enabled ? RGB(128, 128, 128) : up ? RGB(0, 95, 0) : RGB(125, 0, 0);
    const COLORREF cuff = !enabled ? RGB(160, 160, 160) : up ? RGB(30, 110, 30) : RGB(150, 20, 20);
    auto ty = [&](int v) { return up ? y + v : y + kIconSize - v; };
    auto box = [&](int left, int top, int right, int bottom, RECT& r) {
        r = {x + left, std::min(ty(top), ty(bottom)), x + right, std::max(ty(top), ty(bottom))};
    };
    HPEN pen = CreatePen(PS_SOLID, 1, line);
    HBRUSH body = CreateSolidBrush(fill);
    HBRUSH sleeve = CreateSolidBrush(cuff);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    HGDIOBJ old_brush = SelectObject(dc, sleeve);
    RECT r;
    box(1, 11, 7, 23, r);
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, body);
    box(6, 10, 22, 23, r);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, 5, 5);
    box(8, 1, 14, 13, r);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, 6, 6);
    for (int finger : {14, 17, 20}) {
        MoveToEx(dc, x + 13, ty(finger), nullptr);
        LineTo(dc, x + 21, ty(finger));
    }
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
    DeleteObject(sleeve);
    DeleteObject(body);
    DeleteObject(pen);
}

// The row marker of the list: a black triangle pointing at the current row.
HIMAGELIST MakeMarkerImages() {
    constexpr int kSize = 16;
    HIMAGELIST images = ImageList_Create(kSize, kSize, ILC_COLOR24 | ILC_MASK, 1, 1);
    if (images == nullptr) return nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kSize, kSize);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
    RECT all{0, 0, kSize, kSize};
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRect(dc, &all, white);
    DeleteObject(white);
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
    const POINT triangle[] = {{5, 3}, {11, 8}, {5, 13}};
    Polygon(dc, triangle, 3);
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
    SelectObject(dc, old_bitmap);
    DeleteDC(dc);
    ImageList_AddMasked(images, bitmap, RGB(255, 255, 255));
    DeleteObject(bitmap);
    return images;
}

struct DisabledWindows {
    HWND keep;
    std::vector<HWND> windows;
};

BOOL CALLBACK DisableOne(HWND window, LPARAM context) {
    auto* disabled = reinterpret_cast<DisabledWindows*>(context);
    if (window != disabled->keep && IsWindowVisible(window) && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        disabled->windows.push_back(window);
    }
    return TRUE;
}

class Win32SelectDialog final : public SelectDialogWindow {
  public:
    explicit Win32SelectDialog(SelectDialogEvents& events);
    ~Win32SelectDialog() override;

    void SetTitle(std::string_view text) override {
        SetWindowTextA(title_, std::string(text).c_str());
    }
    void SetFilterText(std::string_view text) override;
    void ShowResult(size_t rows) override;
    void ResizeResult(size_t rows) override;
    void SelectRow(size_t row) override;
    void SetListRedraw(bool enabled) override;
    void EnableConfirm(bool enabled) override;
    void FocusList() override { SetFocus(list_); }
    void StartTimer(uint32_t milliseconds) override {
        SetTimer(window_, kTimer1Id, milliseconds, nullptr);
    }
    void StopTimer() override { KillTimer(window_, kTimer1Id); }
    void ShowError(std::string_view text) override;
    int32_t RunModal() override;
    void Close(int32_t modal_result) override {
        modal_result_ = modal_result;
        closed_ = true;
        // A close in a sent message (WM_CLOSE or BM_CLICK from another thread) runs inside
        // GetMessage, which would then wait on for a posted message: this one ends the loop.
        PostMessageA(window_, WM_NULL, 0, 0);
    }

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK ListProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK HeaderProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Notify(const NMHDR& header);
    void Command(int id, int code);
    void DrawButton(const DRAWITEMSTRUCT& item);
    void PaintHeader(HWND header);
    void CreateControls();
    // Destroys the window and everything it holds; the destructor's work, also for a
    // construction that fails half-way.
    void Release();
    bool PreTranslate(const MSG& message);
    template <typename Action>
    void Report(Action action);
    void SelectQuietly(size_t row);
    void MarkRow(size_t row);
    void WantRows(size_t row);

    SelectDialogEvents& events_;
    HWND window_ = nullptr;
    HWND title_ = nullptr;
    HWND filter_ = nullptr;
    HWND list_ = nullptr;
    HWND header_ = nullptr;
    HWND apply_ = nullptr;
    HWND close_ = nullptr;
    WNDPROC list_proc_ = nullptr;
    WNDPROC header_proc_ = nullptr;
    HFONT font_ = nullptr;
    HFONT title_font_ = nullptr;
    HIMAGELIST markers_ = nullptr;
    HWND saved_focus_ = nullptr;
    size_t rows_ = 0;
    size_t marked_row_ = 0;
    unsigned generation_ = 0;
    bool rows_wanted_ = false;
    bool quiet_ = false;  // changes made by the dialog itself are not reported back
    bool closed_ = false;
    int32_t modal_result_ = 0;
};

void RegisterWindowClass() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = ThisModule();
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kClassName;
        return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered) throw Error("The dialog window class cannot be registered.");
}

Win32SelectDialog::Win32SelectDialog(SelectDialogEvents& events) : events_(events) {
    RegisterWindowClass();
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    // The host's active window owns the dialog, so that it stays in front of it.
    HWND owner = GetActiveWindow();
    window_ = CreateWindowExA(ex_style, kClassName, Ansi("Сопоставление наименований").c_str(),
                              style, x, y, width, height, owner, nullptr, ThisModule(), nullptr);
    if (window_ == nullptr) throw Error("The dialog window cannot be created.");
    SetPropA(window_, kOwnerProperty, this);
    SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
    try {
        CreateControls();
    } catch (...) {
        Release();
        throw;
    }
}

Win32SelectDialog::~Win32SelectDialog() { Release(); }

void Win32SelectDialog::Release() {
    KillTimer(window_, kTimer1Id);
    if (list_proc_ != nullptr) {
        SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(list_proc_));
        RemovePropA(list_, kOwnerProperty);
    }
    if (header_proc_ != nullptr) {
        SetWindowLongPtrA(header_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(header_proc_));
        RemovePropA(header_, kOwnerProperty);
    }
    RemovePropA(window_, kOwnerProperty);
    DestroyWindow(window_);
    // The list shares its image list (LVS_SHAREIMAGELISTS), so that it is destroyed here once
    // and not by the list first.
    if (markers_ != nullptr) ImageList_Destroy(markers_);
    if (font_ != nullptr) DeleteObject(font_);
    if (title_font_ != nullptr) DeleteObject(title_font_);
}

void Win32SelectDialog::CreateControls() {
    const HINSTANCE module = ThisModule();
    auto font = [](int height, int weight) {
        return CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, "Tahoma");
    };
    font_ = font(11, FW_NORMAL);      // Tahoma 8 pt
    title_font_ = font(16, FW_BOLD);  // Tahoma bold 12 pt
    auto child = [&](DWORD ex_style, const char* cls, const std::string& text, DWORD style, int x,
                     int y, int w, int h, int id) {
        HWND control = CreateWindowExA(
            ex_style, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, nullptr);
        if (control == nullptr) throw Error("A control of the dialog cannot be created.");
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return control;
    };
    // Statics first; then the focusable controls in their tab order: cancel, confirm, list,
    // filter.
    title_ = child(0, "STATIC", "", SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, 0, 0, kClientWidth,
                   kTitleHeight, kIdTitle);
    SendMessageA(title_, WM_SETFONT, reinterpret_cast<WPARAM>(title_font_), FALSE);
    const int strip = kTitleHeight;
    const int filter_x = 192;
    child(0, "STATIC", Ansi("Фильтр"), SS_RIGHT | SS_NOPREFIX, filter_x - 52, strip + 10, 48, 14,
          kIdLabel);
    const int buttons_y = kClientHeight - kButtonStripHeight + 1;
    close_ = child(0, "BUTTON", Ansi("Отменить сопоставление"), WS_TABSTOP | BS_OWNERDRAW,
                   kClientWidth - kButtonWidth, buttons_y, kButtonWidth, kButtonHeight, kIdClose);
    apply_ = child(0, "BUTTON", Ansi("Сохранить сопоставление"), WS_TABSTOP | BS_OWNERDRAW, 0,
                   buttons_y, kButtonWidth, kButtonHeight, kIdApply);
    const int list_y = kTitleHeight + kFilterStripHeight;
    list_ = child(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                  WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                      LVS_SHAREIMAGELISTS,
                  0, list_y, kClientWidth, kClientHeight - kButtonStripHeight - list_y, kIdList);
    filter_ = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, filter_x, strip + 6,
                    249, 21, kIdFilter);
    SendMessageA(filter_, EM_LIMITTEXT, 0, 0);

    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    markers_ = MakeMarkerImages();
    if (markers_ != nullptr) ListView_SetImageList(list_, markers_, LVSIL_SMALL);
    // The code columns share the width that the others leave beside a vertical scrollbar, so
    // that a long list scrolls up and down only.
    RECT list_client;
    GetClientRect(list_, &list_client);
    int code_room = list_client.right - GetSystemMetrics(SM_CXVSCROLL);
    int code_columns = 0;
    for (const ColumnTitle& title : kColumns) {
        code_room -= title.width;
        if (title.width == 0) ++code_columns;
    }
    const int code_width = std::max(code_room / code_columns, kMinCodeWidth);
    for (int i = 0; i < kColumnCount; ++i) {
        std::string lower = Ansi(kColumns[i].lower);
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = kColumns[i].width != 0 ? kColumns[i].width : code_width;
        column.pszText = lower.data();
        column.iSubItem = i;
        SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&column));
    }
    SetPropA(list_, kOwnerProperty, this);
    list_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ListProc)));
    header_ = ListView_GetHeader(list_);
    if (header_ != nullptr) {
        SetPropA(header_, kOwnerProperty, this);
        header_proc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(header_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HeaderProc)));
        // A new layout, now through the subclass, gives the header its two title rows.
        RECT r;
        GetWindowRect(list_, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        SetWindowPos(list_, nullptr, 0, 0, w, h - 1, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(list_, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

template <typename Action>
void Win32SelectDialog::Report(Action action) {
    // Nothing may leave a window procedure: a failure the dialog did not handle is shown.
    try {
        action();
    } catch (const std::exception& error) {
        ShowError(error.what());
    } catch (...) {
        ShowError("Unexpected error.");
    }
}

void Win32SelectDialog::SetFilterText(std::string_view text) {
    quiet_ = true;
    SetWindowTextA(filter_, std::string(text).c_str());
    quiet_ = false;
    // Typing goes on at the end of the text.
    const LPARAM end = GetWindowTextLengthA(filter_);
    SendMessageA(filter_, EM_SETSEL, static_cast<WPARAM>(end), end);
}

void Win32SelectDialog::SelectQuietly(size_t row) {
    quiet_ = true;
    const int item = static_cast<int>(row);
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(list_, item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list_, item, FALSE);
    quiet_ = false;
    MarkRow(row);
}

void Win32SelectDialog::MarkRow(size_t row) {
    const size_t old = marked_row_;
    marked_row_ = row;
    if (old < rows_) ListView_RedrawItems(list_, static_cast<int>(old), static_cast<int>(old));
    if (row < rows_) ListView_RedrawItems(list_, static_cast<int>(row), static_cast<int>(row));
}

void Win32SelectDialog::ShowResult(size_t rows) {
    ++generation_;
    rows_wanted_ = false;
    rows_ = rows;
    marked_row_ = 0;
    quiet_ = true;
    ListView_SetItemCountEx(list_, static_cast<int>(rows), 0);
    quiet_ = false;
    if (rows > 0) SelectQuietly(0);
    InvalidateRect(list_, nullptr, TRUE);
}

void Win32SelectDialog::ResizeResult(size_t rows) {
    rows_wanted_ = false;
    rows_ = rows;
    quiet_ = true;
    ListView_SetItemCountEx(list_, static_cast<int>(rows), LVSICF_NOSCROLL);
    quiet_ = false;
    InvalidateRect(list_, nullptr, FALSE);
}

void Win32SelectDialog::SelectRow(size_t row) {
    if (row < rows_) SelectQuietly(row);
}

void Win32SelectDialog::SetListRedraw(bool enabled) {
    SendMessageA(list_, WM_SETREDRAW, enabled ? TRUE : FALSE, 0);
    if (enabled) InvalidateRect(list_, nullptr, TRUE);
}

void Win32SelectDialog::EnableConfirm(bool enabled) {
    if (!enabled && GetFocus() == apply_) SetFocus(list_);
    EnableWindow(apply_, enabled ? TRUE : FALSE);
}

void Win32SelectDialog::ShowError(std::string_view text) {
    MessageBoxA(window_, std::string(text).c_str(), Ansi("Ошибка").c_str(), MB_OK | MB_ICONERROR);
}

void Win32SelectDialog::WantRows(size_t row) {
    if (rows_wanted_) return;
    rows_wanted_ = true;
    // A page ahead, so that scrolling on finds the rows already read.
    const int page = std::max(ListView_GetCountPerPage(list_), 1);
    PostMessageA(window_, kRowsWanted, generation_, static_cast<LPARAM>(row + page));
}

int32_t Win32SelectDialog::RunModal() {
    closed_ = false;
    modal_result_ = 0;
    DisabledWindows disabled{window_, {}};
    EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    SetActiveWindow(window_);
    UpdateWindow(window_);
    Report([&] { events_.Shown(); });
    bool quit = false;
    WPARAM quit_code = 0;
    while (!closed_) {
        MSG message;
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // The application is ending: the dialog closes cancelled, the quit goes on.
            quit = got == 0;
            quit_code = message.wParam;
            modal_result_ = 0;
            break;
        }
        if (PreTranslate(message) || IsDialogMessageA(window_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    KillTimer(window_, kTimer1Id);
    // The other windows come back before this one goes, so that one of them is activated.
    for (auto it = disabled.windows.rbegin(); it != disabled.windows.rend(); ++it) {
        if (IsWindow(*it)) EnableWindow(*it, TRUE);
    }
    ShowWindow(window_, SW_HIDE);
    if (quit) PostQuitMessage(static_cast<int>(quit_code));
    return modal_result_ == 0 ? 2 : modal_result_;
}

bool Win32SelectDialog::PreTranslate(const MSG& message) {
    // Enter in the filter box refreshes; the dialog manager would otherwise turn it into IDOK.
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && message.hwnd == filter_) {
        Report([&] { events_.FilterEnter(); });
        return true;
    }
    return false;
}

LRESULT CALLBACK Win32SelectDialog::WindowProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
    auto* self = static_cast<Win32SelectDialog*>(GetPropA(window, kOwnerProperty));
    if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
    return self->Handle(message, wparam, lparam);
}

LRESULT Win32SelectDialog::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CLOSE:  // the close box, Alt+F4
            Report([&] { events_.CancelPressed(); });
            return 0;
        case WM_TIMER:
            if (wparam == kTimer1Id) {
                KillTimer(window_, kTimer1Id);  // one shot
                Report([&] { events_.TimerFired(); });
            }
            return 0;
        case kRowsWanted:
            if (wparam == generation_) {
                rows_wanted_ = false;
                Report([&] { events_.RowsNeeded(static_cast<size_t>(lparam)); });
            }
            return 0;
        case WM_COMMAND:
            Command(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case WM_NOTIFY:
            return Notify(*reinterpret_cast<const NMHDR*>(lparam));
        case WM_DRAWITEM:
            DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
            return TRUE;
        case WM_ACTIVATE:
            // Keyboard focus survives an error box or a switch to another window.
            if (LOWORD(wparam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus != nullptr && IsChild(window_, focus)) saved_focus_ = focus;
            } else if (saved_focus_ != nullptr && IsWindow(saved_focus_)) {
                SetFocus(saved_focus_);
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(window_, message, wparam, lparam);
}

void Win32SelectDialog::Command(int id, int code) {
    HWND focus = GetFocus();
    if (id == kIdFilter && code == EN_CHANGE) {
        if (!quiet_) Report([&] { events_.FilterChanged(WindowText(filter_)); });
    } else if (id == kIdApply && (code == BN_CLICKED || code == BN_DOUBLECLICKED)) {
        Report([&] { events_.ConfirmPressed(); });
    } else if (id == kIdClose && (code == BN_CLICKED || code == BN_DOUBLECLICKED)) {
        Report([&] { events_.CancelPressed(); });
    } else if (id == IDOK && (focus == apply_ || focus == close_)) {
        // Enter on a focused button presses it.
        SendMessageA(focus, BM_CLICK, 0, 0);
    }
}

LRESULT Win32SelectDialog::Notify(const NMHDR& header) {
    if (header.hwndFrom != list_) return 0;
    switch (header.code) {
        case LVN_GETDISPINFOA:
        case LVN_GETDISPINFOW: {
            // The A and W forms share the layout up to the text pointer's type.
            auto& item = const_cast<LVITEMA&>(reinterpret_cast<const NMLVDISPINFOA&>(header).item);
            const size_t row = static_cast<size_t>(item.iItem);
            if ((item.mask & LVIF_IMAGE) != 0) {
                item.iImage = item.iSubItem == 0 && row == marked_row_ ? 0 : -1;
            }
            if ((item.mask & LVIF_TEXT) == 0 || item.pszText == nullptr || item.cchTextMax <= 0) {
                return 0;
            }
            std::string text;
            if (item.iSubItem > 0 && item.iSubItem < kColumnCount) {
                const auto column = static_cast<SelectColumn>(item.iSubItem - 1);
                bool ready = true;
                Report([&] { ready = events_.CellText(row, column, text); });
                if (!ready) WantRows(row);
            }
            if (header.code == LVN_GETDISPINFOA) {
                lstrcpynA(item.pszText, text.c_str(), item.cchTextMax);
            } else {
                auto* wide = reinterpret_cast<wchar_t*>(item.pszText);
                const int written =
                    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide,
                                        item.cchTextMax - 1);
                wide[std::max(written, 0)] = L'\0';
            }
            return 0;
        }
        case LVN_ITEMCHANGED: {
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            const bool now_selected =
                (change.uNewState & LVIS_SELECTED) != 0 && (change.uOldState & LVIS_SELECTED) == 0;
            if (quiet_ || change.iItem < 0 || !now_selected) return 0;
            const auto row = static_cast<size_t>(change.iItem);
            MarkRow(row);
            Report([&] { events_.RowSelected(row); });
            return 0;
        }
        case LVN_ODFINDITEMA:
        case LVN_ODFINDITEMW:
            return -1;  // typed characters belong to the filter, not to a search
        case NM_DBLCLK:
            Report([&] { events_.ListDoubleClick(); });
            return 0;
        default:
            return 0;
    }
}

LRESULT CALLBACK Win32SelectDialog::ListProc(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
    auto* self = static_cast<Win32SelectDialog*>(GetPropA(window, kOwnerProperty));
    if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
        case WM_GETDLGCODE:
            // Tab, Enter and Esc stay in the list instead of going to the dialog manager.
            return CallWindowProcA(self->list_proc_, window, message, wparam, lparam) |
                   DLGC_WANTALLKEYS;
        case WM_CHAR:
            self->Report([&] { self->events_.ListKeyPress(static_cast<unsigned char>(wparam)); });
            return 0;
        default:
            return CallWindowProcA(self->list_proc_, window, message, wparam, lparam);
    }
}

LRESULT CALLBACK Win32SelectDialog::HeaderProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
    auto* self = static_cast<Win32SelectDialog*>(GetPropA(window, kOwnerProperty));
    if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
        case HDM_LAYOUT: {
            // Twice the height: the upper row holds the titles that span columns.
            const LRESULT result =
                CallWindowProcA(self->header_proc_, window, message, wparam, lparam);
            auto* layout = reinterpret_cast<HDLAYOUT*>(lparam);
            const int height = layout->pwpos->cy;
            layout->pwpos->cy += height;
            layout->prc->top += height;
            return result;
        }
        case WM_PAINT:
            self->PaintHeader(window);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_MOUSEMOVE:
        case WM_LBUTTONUP: {
            // A column being resized moves the upper titles too.
            const LRESULT result =
                CallWindowProcA(self->header_proc_, window, message, wparam, lparam);
            if (message == WM_LBUTTONUP || (wparam & MK_LBUTTON) != 0) {
                InvalidateRect(window, nullptr, FALSE);
            }
            return result;
        }
        default:
            return CallWindowProcA(self->header_proc_, window, message, wparam, lparam);
    }
}

void Win32SelectDialog::PaintHeader(HWND header) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(header, &paint);
    RECT client;
    GetClientRect(header, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ old_font = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    const int half = (client.bottom - client.top) / 2;
    const int count = std::min(Header_GetItemCount(header), kColumnCount);
    auto cell = [&](RECT r, const char* utf8) {
        DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        InflateRect(&r, -3, 0);
        std::string text = Ansi(utf8);
        DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    };
    int right = client.left;
    for (int i = 0; i < count;) {
        RECT first;
        Header_GetItemRect(header, i, &first);
        // The columns that share an upper title get one cell above them.
        int last = i;
        while (last + 1 < count && kColumns[last + 1].upper[0] != '\0' &&
               std::string_view(kColumns[last + 1].upper) == kColumns[i].upper) {
            ++last;
        }
        RECT end;
        Header_GetItemRect(header, last, &end);
        if (kColumns[i].upper[0] == '\0') {
            cell({first.left, client.top, first.right, client.bottom}, kColumns[i].lower);
        } else {
            cell({first.left, client.top, end.right, client.top + half}, kColumns[i].upper);
            for (int j = i; j <= last; ++j) {
                RECT r;
                Header_GetItemRect(header, j, &r);
                cell({r.left, client.top + half, r.right, client.bottom}, kColumns[j].lower);
            }
        }
        right = end.right;
        i = last + 1;
    }
    if (right < client.right) {
        RECT rest{right, client.top, client.right, client.bottom};
        DrawEdge(dc, &rest, BDR_RAISEDINNER, BF_RECT);
    }
    SelectObject(dc, old_font);
    EndPaint(header, &paint);
}

void Win32SelectDialog::DrawButton(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    const bool enabled = (item.itemState & ODS_DISABLED) == 0;
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    const int shift = pushed ? 1 : 0;
    const std::string text = WindowText(item.hwndItem);
    HGDIOBJ old_font = SelectObject(dc, font_);
    RECT measure{0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &measure,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    // Icon and caption centred together; a caption too wide for that starts at the left.
    constexpr int kGap = 4;
    const int content = kIconSize + kGap + (measure.right - measure.left);
    const int icon_x = std::max<int>(r.left + 4, (r.left + r.right - content) / 2) + shift;
    const int icon_y = (r.top + r.bottom - kIconSize) / 2 + shift;
    DrawThumb(dc, icon_x, icon_y, item.CtlID == kIdApply, enabled);
    RECT text_rect{icon_x + kIconSize + kGap, r.top + shift, r.right - 3 + shift, r.bottom + shift};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &text_rect,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, old_font);
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT focus = r;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

class Win32Toolkit final : public DialogToolkit {
  public:
    std::unique_ptr<SelectDialogWindow> CreateSelectDialog(SelectDialogEvents& events) override {
        return std::make_unique<Win32SelectDialog>(events);
    }
};

}  // namespace

DialogToolkit& backend::Dialogs() {
    static Win32Toolkit toolkit;
    return toolkit;
}

}  // namespace kv
