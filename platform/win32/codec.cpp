// The system's ANSI code page, as the Win32 "A" functions see it: Windows-1251 on the
// pharmacies' Russian systems, whatever the system is set to elsewhere.
#include <windows.h>

#include <limits>

#include "common/error.h"
#include "platform/backend.h"

namespace kv {
namespace {

class AnsiCodePageCodec final : public TextCodec {
  public:
    std::u16string ToUtf16(std::string_view ansi) const override {
        if (ansi.empty()) return {};
        const int length = CheckedLength(ansi.size());
        const int needed = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
        if (needed <= 0) return {};
        std::u16string utf16(static_cast<size_t>(needed), u'\0');
        const int written = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length,
                                                reinterpret_cast<wchar_t*>(utf16.data()), needed);
        utf16.resize(written > 0 ? static_cast<size_t>(written) : 0);
        return utf16;
    }

    std::string ToAnsi(std::u16string_view utf16) const override {
        if (utf16.empty()) return {};
        const auto* wide = reinterpret_cast<const wchar_t*>(utf16.data());
        const int length = CheckedLength(utf16.size());
        // Characters the code page cannot hold become the system's default character ('?').
        const int needed =
            WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
        if (needed <= 0) return {};
        std::string ansi(static_cast<size_t>(needed), '\0');
        const int written =
            WideCharToMultiByte(CP_ACP, 0, wide, length, ansi.data(), needed, nullptr, nullptr);
        ansi.resize(written > 0 ? static_cast<size_t>(written) : 0);
        return ansi;
    }

  private:
    // The conversion functions count in int; a longer text is a caller's error, not a
    // reason to read past the end.
    static int CheckedLength(size_t size) {
        if (size > static_cast<size_t>(std::numeric_limits<int>::max())) {
            throw Error("Text too long to convert");
        }
        return static_cast<int>(size);
    }
};

}  // namespace

TextCodec& backend::Codec() {
    static AnsiCodePageCodec codec;
    return codec;
}

}  // namespace kv
