// The Win32 dialog window is still being built: everything up to showing
// it works, and showing it fails with an error that says so.
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
        throw Error("SopostavNames: the dialog window is not built yet");
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
