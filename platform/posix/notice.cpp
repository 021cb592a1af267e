// Without a windowing system a notice goes to standard error, in UTF-8, and returns at once.
#include <cstdio>

#include "platform/backend.h"

namespace kv::backend {
namespace {

class StderrNoticeBox final : public NoticeBox {
  public:
    void Show(std::string_view ansi_text, bool error) override {
        std::fprintf(stderr, "%s%s\n", error ? "error: " : "", Utf8FromCp1251(ansi_text).c_str());
    }
};

}  // namespace

NoticeBox& Notices() {
    static StderrNoticeBox notices;
    return notices;
}

}  // namespace kv::backend
