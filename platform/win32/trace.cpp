// The request trace's file: named by the environment variable KELVARINVK_TRACE or by the value
// Trace of HKEY_CURRENT_USER\Software\KelvarinVK (the variable wins), with the size limit in
// KELVARINVK_TRACE_LIMIT_KB or TraceLimitKB. Each line is appended through a handle opened for
// appending only, with one write, so that the system puts each line whole at the end of the
// file whatever other processes write at the same moment.
#include <windows.h>

#include <cstring>
#include <string>

#include "common/text.h"
#include "platform/backend.h"

namespace kv::backend {
namespace {

constexpr wchar_t kKey[] = L"Software\\KelvarinVK";
// Held while a file that has grown too big is renamed, so that two processes never rotate twice.
constexpr wchar_t kRotationMutex[] = L"KelvarinVK.TraceRotation";
constexpr DWORD kRotationWait = 2000;

std::wstring Wide(std::string_view utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Utf8(const std::wstring& wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring Environment(const wchar_t* name) {
    std::wstring value(256, L'\0');
    DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length >= value.size()) {
        value.resize(length);
        length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    }
    value.resize(length < value.size() ? length : 0);
    return value;
}

// A text value (REG_SZ, REG_EXPAND_SZ with its variables expanded) or a REG_DWORD as digits.
std::wstring UserSetting(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return {};
    }
    DWORD type = 0;
    DWORD bytes = 0;
    std::wstring value;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
        bytes > 0 && bytes < 65536) {
        std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                             &bytes) == ERROR_SUCCESS) {
            if (type == REG_DWORD && bytes == sizeof(DWORD)) {
                DWORD number = 0;
                std::memcpy(&number, buffer.data(), sizeof number);
                value = std::to_wstring(number);
            } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
                value = buffer.c_str();  // up to the first zero
            }
        }
    }
    RegCloseKey(key);
    if (type == REG_EXPAND_SZ && !value.empty()) {
        const DWORD length = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
        std::wstring expanded(length, L'\0');
        if (length > 0 && ExpandEnvironmentStringsW(value.c_str(), expanded.data(), length) > 0) {
            value = expanded.c_str();
        }
    }
    return value;
}

std::wstring SettingOf(const wchar_t* variable, const wchar_t* value_name) {
    std::wstring value = Environment(variable);
    return value.empty() ? UserSetting(value_name) : value;
}

HANDLE OpenForAppending(const std::wstring& path) {
    // Others may append, read, rename or delete it meanwhile.
    return CreateFileW(path.c_str(), FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

uint64_t SizeOf(HANDLE file) {
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return (static_cast<uint64_t>(high) << 32) | low;
}

// Renames a file that still has no room for `adding` more bytes to its ".1" name, under the
// rotation mutex; another process may have done it already.
void Rotate(const std::wstring& path, uint64_t limit, size_t adding) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kRotationMutex);
    const DWORD waited = mutex != nullptr ? WaitForSingleObject(mutex, kRotationWait) : WAIT_FAILED;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size + adding > limit) {
            MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(mutex);
    if (mutex != nullptr) CloseHandle(mutex);
}

bool AppendLine(const TraceSetting& setting, std::string_view line) {
    const std::wstring path = Wide(setting.file);
    std::string bytes(line);
    bytes += "\r\n";
    HANDLE file = OpenForAppending(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (SizeOf(file) + bytes.size() > setting.limit_bytes) {
        CloseHandle(file);
        Rotate(path, setting.limit_bytes, bytes.size());
        file = OpenForAppending(path);
        if (file == INVALID_HANDLE_VALUE) return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

class Win32TraceFiles final : public TraceFiles {
  public:
    TraceSetting Setting() override {
        return MakeTraceSetting(Utf8(SettingOf(L"KELVARINVK_TRACE", L"Trace")),
                                Utf8(SettingOf(L"KELVARINVK_TRACE_LIMIT_KB", L"TraceLimitKB")));
    }

    bool Append(const TraceSetting& setting, std::string_view utf8_line) noexcept override {
        const DWORD saved = GetLastError();
        bool written = false;
        try {
            written = AppendLine(setting, utf8_line);
        } catch (...) {
            written = false;
        }
        SetLastError(saved);
        return written;
    }

    uint32_t ProcessId() override { return GetCurrentProcessId(); }
};

}  // namespace

TraceFiles& Traces() {
    static Win32TraceFiles traces;
    return traces;
}

}  // namespace kv::backend
