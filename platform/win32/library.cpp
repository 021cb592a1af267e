#include <windows.h>

#include "platform/backend.h"

namespace kv {
namespace {

class Win32LibraryLoader final : public LibraryLoader {
  public:
    void* Open(const std::string& file_name, uint32_t& os_error) override {
        os_error = 0;
        if (file_name.empty()) return nullptr;
        // A missing library or one of its dependencies must fail quietly, not with a system
        // message box in front of the host.
        const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        HMODULE module = LoadLibraryA(file_name.c_str());
        if (module == nullptr) os_error = GetLastError();
        SetErrorMode(previous);
        return reinterpret_cast<void*>(module);
    }
    void* Symbol(void* library, const char* name) override {
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
    }
    void Close(void* library) override { FreeLibrary(static_cast<HMODULE>(library)); }
    void Pin(void* library) override {
        // A module handle is the module's address; a pinned module is never unloaded.
        HMODULE pinned = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           static_cast<LPCSTR>(library), &pinned);
    }
    std::string FileOf(void* library) override {
        // GetModuleFileNameA cuts the name short and answers the full buffer size when it is
        // too small.
        std::string path(MAX_PATH, '\0');
        while (path.size() <= 32768) {
            const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(library), path.data(),
                                                    static_cast<DWORD>(path.size()));
            if (length == 0) return {};
            if (length < path.size()) {
                path.resize(length);
                return path;
            }
            path.resize(path.size() * 2);
        }
        return {};
    }
};

}  // namespace

LibraryLoader& backend::Libraries() {
    static Win32LibraryLoader loader;
    return loader;
}

}  // namespace kv
