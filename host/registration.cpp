#include "host/registration.h"

#include <cwchar>

#include "common/error.h"
#include "host/server.h"

namespace kv::host {
namespace {

[[noreturn]] void RegistryEntryFailed() { throw Error("Error creating system registry entry"); }

// A path from a system call that reports the length it needs when the buffer is too small.
template <typename Call>
std::wstring GrowingPath(Call call) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(static_cast<size_t>(length) + 1);
    }
    return {};
}

}  // namespace

RegistryPlace MachineClasses() { return {HKEY_CLASSES_ROOT, L""}; }

RegistryPlace UserClasses() { return {HKEY_CURRENT_USER, L"Software\\Classes\\"}; }

std::wstring ClsidText(const CLSID& clsid) {
    wchar_t text[40];
    std::swprintf(text, sizeof text / sizeof text[0],
                  L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(clsid.Data1), clsid.Data2, clsid.Data3, clsid.Data4[0],
                  clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4], clsid.Data4[5],
                  clsid.Data4[6], clsid.Data4[7]);
    return text;
}

std::vector<RegistryEntry> ClassEntries(const std::wstring& server_path) {
    const ClassRecord& record = KelvarinClass();
    const std::wstring clsid_key = L"CLSID\\" + ClsidText(record.clsid);
    const std::wstring prog_id = record.prog_id;
    return {
        {clsid_key, record.description},    {clsid_key + L"\\InprocServer32", server_path},
        {prog_id, record.description},      {prog_id + L"\\Clsid", ClsidText(record.clsid)},
        {clsid_key + L"\\ProgID", prog_id},
    };
}

std::wstring ServerPath(HMODULE module) {
    // GetModuleFileName cuts the name short and answers the full buffer size when it is small.
    std::wstring loaded(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(module, loaded.data(), static_cast<DWORD>(loaded.size()));
        if (length == 0) return {};
        if (length < loaded.size()) {
            loaded.resize(length);
            break;
        }
        if (loaded.size() >= 32768) return {};
        loaded.resize(loaded.size() * 2);
    }
    std::wstring path = GrowingPath([&](wchar_t* buffer, DWORD size) {
        return GetLongPathNameW(loaded.c_str(), buffer, size);
    });
    if (path.empty()) path = loaded;
    if (path.find(L' ') == std::wstring::npos) return path;
    // Without 8.3 names on the volume the long form is the only one there is.
    const std::wstring short_path = GrowingPath(
        [&](wchar_t* buffer, DWORD size) { return GetShortPathNameW(path.c_str(), buffer, size); });
    return short_path.empty() ? path : short_path;
}

void RegisterClassEntries(const RegistryPlace& place, const std::vector<RegistryEntry>& entries) {
    for (const RegistryEntry& entry : entries) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(place.root, (place.prefix + entry.key).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            RegistryEntryFailed();
        }
        // The stored length counts the terminating zero.
        const DWORD bytes = static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t));
        const LONG set = RegSetValueExW(key, nullptr, 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(entry.value.c_str()), bytes);
        RegCloseKey(key);
        if (set != ERROR_SUCCESS) RegistryEntryFailed();
    }
}

void UnregisterClassEntries(const RegistryPlace& place, const std::vector<RegistryEntry>& entries) {
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        RegDeleteKeyW(place.root, (place.prefix + entry->key).c_str());
    }
}

}  // namespace kv::host
