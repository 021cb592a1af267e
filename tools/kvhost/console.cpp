#include "tools/kvhost/console.h"

#include <cwchar>

#include "common/text.h"

namespace kvhost {

std::wstring Wide(std::string_view utf8) {
    const std::u16string text = kv::Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view wide) {
    return kv::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

void Print(const std::wstring& line) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    const std::wstring text = line + L"\n";
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        const std::string bytes = Utf8(text);
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

std::wstring Hresult(HRESULT result) {
    switch (result) {
        case S_OK:
            return L"S_OK";
        case S_FALSE:
            return L"S_FALSE";
        case E_NOTIMPL:
            return L"E_NOTIMPL";
        case E_FAIL:
            return L"E_FAIL";
        case E_POINTER:
            return L"E_POINTER";
        case E_UNEXPECTED:
            return L"E_UNEXPECTED";
        default: {
            wchar_t text[16];
            std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
            return text;
        }
    }
}

std::wstring Quoted(std::wstring_view text) {
    std::wstring quoted = L"\"";
    for (wchar_t c : text) quoted += c == L'"' ? std::wstring(L"\"\"") : std::wstring(1, c);
    return quoted + L"\"";
}

}  // namespace kvhost
