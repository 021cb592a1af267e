#pragma once
// The window of the name-matching dialog, as the windowing toolkit provides it. The dialog's
// behaviour (matching/UFormSelect) drives a SelectDialogWindow and hears its events through
// SelectDialogEvents; the window itself decides nothing. All texts are ANSI.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kv {

// Columns of the list, left to right (the row marker is the window's own).
enum class SelectColumn : uint8_t { TradeNameId, TradeName, FabrNameId, FabrName };
constexpr int kSelectColumnCount = 4;

// What the window reports. Calls come on the thread that runs the window, one at a time.
class SelectDialogEvents {
  public:
    // The window has become visible.
    virtual void Shown() = 0;
    // The user changed the filter box's text (not reported for SetFilterText).
    virtual void FilterChanged(std::string_view text) = 0;
    // Enter typed in the filter box.
    virtual void FilterEnter() = 0;
    // The timer started by StartTimer has expired.
    virtual void TimerFired() = 0;
    // A character typed in the list: one byte of the ANSI code page.
    virtual void ListKeyPress(unsigned char key) = 0;
    virtual void ListDoubleClick() = 0;
    // The user made `row` the list's selected row.
    virtual void RowSelected(size_t row) = 0;
    // The list is about to show rows up to `last_row`.
    virtual void RowsNeeded(size_t last_row) = 0;
    // The text of a cell; false when the row has not been read yet (the window then asks
    // for it through RowsNeeded).
    virtual bool CellText(size_t row, SelectColumn column, std::string& text) = 0;
    // The confirm button was pressed.
    virtual void ConfirmPressed() = 0;
    // The cancel button was pressed, or the window was closed (close box, Alt+F4).
    virtual void CancelPressed() = 0;

  protected:
    ~SelectDialogEvents() = default;
};

class SelectDialogWindow {
  public:
    virtual ~SelectDialogWindow() = default;
    // The title line.
    virtual void SetTitle(std::string_view text) = 0;
    // Replaces the filter box's text; the window reports no FilterChanged for it.
    virtual void SetFilterText(std::string_view text) = 0;
    // A new result with `rows` rows: scrolled to the top, its first row selected.
    virtual void ShowResult(size_t rows) = 0;
    // The same result has grown or shrunk to `rows` rows; scrolling and selection stay.
    virtual void ResizeResult(size_t rows) = 0;
    virtual void SelectRow(size_t row) = 0;
    // Suspends (false) and resumes (true) redrawing of the list.
    virtual void SetListRedraw(bool enabled) = 0;
    virtual void EnableConfirm(bool enabled) = 0;
    virtual void FocusList() = 0;
    // A one-shot timer: TimerFired comes once, `milliseconds` later, unless stopped first.
    // Starting it again restarts it.
    virtual void StartTimer(uint32_t milliseconds) = 0;
    virtual void StopTimer() = 0;
    // A modal error message box over the dialog; returns when the user closes it.
    virtual void ShowError(std::string_view text) = 0;
    // Shows the window modally (the caller's other windows disabled), reports Shown, and
    // returns the result passed to Close once the window has closed.
    virtual int32_t RunModal() = 0;
    virtual void Close(int32_t modal_result) = 0;
};

class DialogToolkit {
  public:
    virtual ~DialogToolkit() = default;
    // A new, hidden dialog window that reports to `events`, which outlives it.
    virtual std::unique_ptr<SelectDialogWindow> CreateSelectDialog(SelectDialogEvents& events) = 0;
};

}  // namespace kv
