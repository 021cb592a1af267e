#include "check.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/text.h"

namespace kvtest {
namespace {

int g_failures = 0;
std::vector<std::string> g_arguments;
std::string g_ran;  // the group that ran, "all", or empty when none did

// A fault in the add-in (a slot its vtable lacks, say) ends the program with a line that says
// so, after the groups' own lines, instead of silently.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::printf("crashed: exception 0x%08lX at %p\n",
                static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                exception->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

void Run(int argc, char** argv, std::initializer_list<Group> groups) {
    SetUnhandledExceptionFilter(ReportCrash);
    const char* wanted = argc > 1 ? argv[1] : nullptr;
    for (int i = 2; i < argc; ++i) g_arguments.emplace_back(argv[i]);
    bool found = false;
    for (const Group& group : groups) {
        if (wanted != nullptr && std::strcmp(wanted, group.name) != 0) continue;
        found = true;
        const int before = g_failures;
        group.run();
        std::printf("%s %s\n", g_failures == before ? "ok" : "FAILED", group.name);
        std::fflush(stdout);
    }
    if (!found) {
        std::printf("no group named %s\n", wanted);
        ++g_failures;
        return;
    }
    g_ran = wanted != nullptr ? wanted : "all";
}

int Finish() {
    if (g_failures == 0 && !g_ran.empty()) std::printf("KV-TEST-PASSED %s\n", g_ran.c_str());
    std::fflush(stdout);
    return g_failures;
}

int RunInApartment(int argc, char** argv, std::initializer_list<Group> groups) {
    if (FAILED(CoInitialize(nullptr))) {
        std::printf("CoInitialize failed\n");
        return 1;
    }
    Run(argc, argv, groups);
    CoUninitialize();
    return Finish();
}

const std::string& Argument(int index) {
    static const std::string none;
    return index >= 0 && static_cast<size_t>(index) < g_arguments.size() ? g_arguments[index]
                                                                         : none;
}

void Fail(const char* file, int line, const std::string& what) {
    ++g_failures;
    const char* name = std::strrchr(file, '/');
    std::printf("%s:%d: %s\n", name != nullptr ? name + 1 : file, line, what.c_str());
    std::fflush(stdout);
}

void Note(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

// UTF-8 and UTF-16 as the core converts them; wchar_t is UTF-16 on Windows.
std::wstring Utf16(std::string_view utf8) {
    const std::u16string text = kv::Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view utf16) {
    return kv::Utf16ToUtf8(std::u16string(utf16.begin(), utf16.end()));
}

std::string Show(const std::wstring& text) { return Show(std::wstring_view(text)); }
std::string Show(std::wstring_view text) { return "\"" + Utf8(text) + "\""; }
std::string Show(const wchar_t* text) {
    return text == nullptr ? "(null)" : Show(std::wstring_view(text));
}

// Bytes outside ASCII are shown in hexadecimal: they are ANSI text, not UTF-8.
std::string Show(const std::string& text) {
    std::string shown = "\"";
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            shown += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        }
    }
    return shown + "\"";
}
std::string Show(const char* text) { return text == nullptr ? "(null)" : Show(std::string(text)); }
std::string Show(int64_t value) { return std::to_string(value); }
std::string Show(uint64_t value) { return std::to_string(value); }
std::string Show(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}
std::string ShowHresult(HRESULT value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

}  // namespace kvtest
