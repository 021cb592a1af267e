#pragma once
// TfrmSelect: the name-matching dialog. It owns the registry connection (DB, Tr, SQLSelList)
// and the toolkit's window, keeps the filter text and the debounce timer Timer1, refreshes the
// list from the filter's words and decides what each key, click and button does. The window
// only shows what it is told and reports what the user does.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "matching/registry.h"
#include "platform/dialog.h"
#include "platform/platform.h"

namespace kv {

enum ModalResult : int32_t { mrNone = 0, mrOk = 1, mrCancel = 2 };

// The filter text with every run of blanks made one blank and the characters 0 to 32 removed
// from both ends.
std::string CleanFilterText(std::string_view filter);
// The filter line for the words of a cleaned filter text; empty when it has no words.
std::string WordCondition(std::string_view cleaned);

class TfrmSelect final : private SelectDialogEvents {
  public:
    static constexpr uint32_t kTimer1Interval = 500;
    // How much of the drug name becomes the initial filter.
    static constexpr size_t kInitialFilterLength = 10;

    // The dialog with its connection objects, not yet visible; `trace` receives the
    // connection's statements.
    TfrmSelect(DialogToolkit& toolkit, LibraryLoader& libraries, Trace& trace = Trace::Off());
    ~TfrmSelect();
    TfrmSelect(const TfrmSelect&) = delete;
    TfrmSelect& operator=(const TfrmSelect&) = delete;

    RegistryConnection& Connection() { return registry_; }

    // pnlTradeName, the title line.
    void SetTradeName(const std::string& name);
    const std::string& TradeName() const { return trade_name_; }
    // The manufacturer's line: kept, never shown.
    void SetProducerName(const std::string& name) { producer_name_ = name; }
    const std::string& ProducerName() const { return producer_name_; }

    // edtFilter.Text; a change restarts Timer1 (edtFilterChange).
    void SetFilterText(const std::string& text);
    const std::string& FilterText() const { return filter_; }

    bool ConfirmEnabled() const { return apply_enabled_; }
    bool Timer1Enabled() const { return timer1_enabled_; }

    // Shows the dialog modally; mrOk when the user confirmed a row, mrCancel otherwise.
    int32_t ShowModal();

    // Timer1Timer: rebuilds the filter line from the filter's words and reopens the list.
    void Timer1Timer();

  private:
    // SelectDialogEvents
    void Shown() override;
    void FilterChanged(std::string_view text) override;
    void FilterEnter() override;
    void TimerFired() override;
    void ListKeyPress(unsigned char key) override;
    void ListDoubleClick() override;
    void RowSelected(size_t row) override;
    void RowsNeeded(size_t last_row) override;
    bool CellText(size_t row, SelectColumn column, std::string& text) override;
    void ConfirmPressed() override;
    void CancelPressed() override;

    void edtFilterChange();
    void ConfirmIfEnabled();
    // Rows the list shows: those read, and one more while the result may go on.
    size_t ShownRows() const;

    // DB, Tr and SQLSelList; declared first so that the window, which reports to us, goes first.
    RegistryConnection registry_;
    std::unique_ptr<SelectDialogWindow> window_;
    std::string trade_name_;
    std::string producer_name_;
    std::string filter_;
    bool apply_enabled_ = true;
    bool timer1_enabled_ = false;
};

}  // namespace kv
