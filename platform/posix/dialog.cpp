// Without a window system the name-matching dialog cannot be shown: everything up to showing
// it works (so a call still fails on its parameters and its connection first), and showing it
// fails with an error that says why.
#include "common/error.h"
#include "platform/backend.h"

namespace kv::backend {
namespace {

class HeadlessSelectDialog final : public SelectDialogWindow {
  public:
    void SetTitle(std::string_view) override {}
    void SetFilterText(std::string_view) override {}
    void ShowResult(size_t) override {}
    void ResizeResult(size_t) override {}
    void SelectRow(size_t) override {}
    void SetListRedraw(bool) override {}
    void EnableConfirm(bool) override {}
    void FocusList() override {}
    void StartTimer(uint32_t) override {}
    void StopTimer() override {}
    void ShowError(std::string_view) override {}
    int32_t RunModal() override {
        throw Error("The name-matching dialog cannot be shown: there is no window system here.");
    }
    void Close(int32_t) override {}
};

class HeadlessToolkit final : public DialogToolkit {
  public:
    std::unique_ptr<SelectDialogWindow> CreateSelectDialog(SelectDialogEvents&) override {
        return std::make_unique<HeadlessSelectDialog>();
    }
};

}  // namespace

DialogToolkit& Dialogs() {
    static HeadlessToolkit toolkit;
    return toolkit;
}

}  // namespace kv::backend
