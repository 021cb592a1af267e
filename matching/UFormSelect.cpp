#include "matching/UFormSelect.h"

#include <exception>

#include "common/fields.h"
#include "common/text.h"

namespace kv {
namespace {

const char* ColumnName(SelectColumn column) {
    switch (column) {
        case SelectColumn::TradeNameId:
            return "TRADE_NAME_ID";
        case SelectColumn::TradeName:
            return "TRADE_NAME";
        case SelectColumn::FabrNameId:
            return "FABR_NAME_ID";
        case SelectColumn::FabrName:
            break;
    }
    return "FABR_NAME";
}

// The characters that typing in the list adds to the filter: blank, digits, Latin letters of
// either case and the small Cyrillic letters of code page 1251. Capital Cyrillic letters,
// ё and Ё, punctuation and control keys are ignored.
bool AppendsToFilter(unsigned char key) {
    const auto c = static_cast<unsigned char>(LowerAscii(static_cast<char>(key)));
    return c == ' ' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c >= 224;
}

}  // namespace

std::string CleanFilterText(std::string_view filter) {
    std::string cleaned;
    cleaned.reserve(filter.size());
    for (char c : filter) {
        if (c == ' ' && !cleaned.empty() && cleaned.back() == ' ') continue;
        cleaned += c;
    }
    return TrimControl(cleaned);
}

std::string WordCondition(std::string_view cleaned) {
    std::string condition;
    if (cleaned.empty()) return condition;
    for (int n = 1;; ++n) {
        const std::string word = GetDelimitedField(n, cleaned, ' ');
        if (word.empty()) break;
        if (!condition.empty()) condition += " and ";
        // A quote inside a word is a character of the word, never the end of the literal.
        std::string literal = "'";
        for (char c : word) {
            literal += c;
            if (c == '\'') literal += '\'';
        }
        condition += RegistryConnection::NameContains(literal + '\'');
    }
    return condition;
}

TfrmSelect::TfrmSelect(DialogToolkit& toolkit, LibraryLoader& libraries, Trace& trace)
    : registry_(libraries, trace), window_(toolkit.CreateSelectDialog(*this)) {
    window_->EnableConfirm(apply_enabled_);
}

TfrmSelect::~TfrmSelect() = default;

void TfrmSelect::SetTradeName(const std::string& name) {
    trade_name_ = name;
    window_->SetTitle(name);
}

void TfrmSelect::SetFilterText(const std::string& text) {
    if (text == filter_) return;
    filter_ = text;
    window_->SetFilterText(filter_);
    edtFilterChange();
}

int32_t TfrmSelect::ShowModal() { return window_->RunModal(); }

void TfrmSelect::edtFilterChange() {
    // Starting the timer again restarts it: the refresh waits for a pause in typing.
    timer1_enabled_ = true;
    window_->StartTimer(kTimer1Interval);
}

void TfrmSelect::Timer1Timer() {
    timer1_enabled_ = false;
    window_->StopTimer();
    window_->SetListRedraw(false);
    std::string failure;
    bool failed = false;
    try {
        registry_.Close();
        registry_.ReplaceFilterLine(WordCondition(CleanFilterText(filter_)));
        registry_.Open();
    } catch (const std::exception& error) {
        // The query is closed again by now; the dialog stays usable with an empty list.
        failed = true;
        failure = error.what();
    }
    window_->ShowResult(ShownRows());
    window_->SetListRedraw(true);
    if (failed) {
        window_->ShowError(failure);
        return;
    }
    apply_enabled_ = registry_.RowCount() > 0;
    window_->EnableConfirm(apply_enabled_);
}

size_t TfrmSelect::ShownRows() const {
    if (!registry_.IsOpen()) return 0;
    const size_t read = static_cast<size_t>(registry_.RowCount());
    return registry_.AllRowsFetched() ? read : read + 1;
}

void TfrmSelect::ConfirmIfEnabled() {
    if (apply_enabled_) ConfirmPressed();
}

void TfrmSelect::Shown() {
    Timer1Timer();
    window_->FocusList();
}

void TfrmSelect::FilterChanged(std::string_view text) {
    filter_.assign(text);
    edtFilterChange();
}

void TfrmSelect::FilterEnter() { Timer1Timer(); }

void TfrmSelect::TimerFired() {
    // A tick that was already on its way when the timer was stopped is not a pause in typing.
    if (timer1_enabled_) Timer1Timer();
}

void TfrmSelect::ListKeyPress(unsigned char key) {
    switch (key) {
        case 27:
            SetFilterText(std::string());
            return;
        case 13:
            ConfirmIfEnabled();
            return;
        default:
            if (AppendsToFilter(key)) SetFilterText(filter_ + static_cast<char>(key));
            return;
    }
}

void TfrmSelect::ListDoubleClick() { ConfirmIfEnabled(); }

void TfrmSelect::RowSelected(size_t row) {
    if (!registry_.IsOpen() || row == registry_.CurrentRow()) return;
    const int read = registry_.RowCount();
    const size_t shown = ShownRows();
    std::string failure;
    try {
        // A row not read yet is read now; past the end the last row becomes current.
        if (!registry_.MoveTo(row) && registry_.RowCount() > 0) {
            registry_.MoveTo(static_cast<size_t>(registry_.RowCount()) - 1);
        }
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (registry_.RowCount() != read || ShownRows() != shown) {
        window_->ResizeResult(ShownRows());
    }
    if (registry_.CurrentRow() != row) window_->SelectRow(registry_.CurrentRow());
    if (!failure.empty()) window_->ShowError(failure);
}

void TfrmSelect::RowsNeeded(size_t last_row) {
    if (!registry_.IsOpen() || registry_.AllRowsFetched()) return;
    const int read = registry_.RowCount();
    const size_t shown = ShownRows();
    const size_t current = registry_.CurrentRow();
    std::string failure;
    try {
        registry_.MoveTo(last_row);
        registry_.MoveTo(current);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // Rows read now replace blank ones even when the count the list shows stays the same.
    if (registry_.RowCount() != read || ShownRows() != shown) {
        window_->ResizeResult(ShownRows());
    }
    if (!failure.empty()) window_->ShowError(failure);
}

bool TfrmSelect::CellText(size_t row, SelectColumn column, std::string& text) {
    text.clear();
    if (!registry_.IsOpen()) return true;
    if (row >= static_cast<size_t>(registry_.RowCount())) return registry_.AllRowsFetched();
    try {
        text = registry_.RowText(row, ColumnName(column));
    } catch (const std::exception&) {
        // A cell that cannot be rendered stays blank; confirming reports the error.
        text.clear();
    }
    return true;
}

void TfrmSelect::ConfirmPressed() { window_->Close(mrOk); }

void TfrmSelect::CancelPressed() { window_->Close(mrCancel); }

}  // namespace kv
