#include <windows.h>

#include "platform/backend.h"

namespace kv {
namespace {

class Win32LibraryLoader final : public LibraryLoader {
  public:
    void* Open(const std::string& file_name) override {
        if (file_name.empty()) return nullptr;
        // A missing library or one of its dependencies must fail quietly, not with a system
        // message box in front of the host.
        const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        HMODULE module = LoadLibraryA(file_name.c_str());
        SetErrorMode(previous);
        return reinterpret_cast<void*>(module);
    }
    void* Symbol(void* library, const char* name) override {
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
    }
    void Close(void* library) override { FreeLibrary(static_cast<HMODULE>(library)); }
};

}  // namespace

LibraryLoader& backend::Libraries() {
    static Win32LibraryLoader loader;
    return loader;
}

}  // namespace kv
