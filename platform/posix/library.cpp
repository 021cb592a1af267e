#include <dlfcn.h>
#include <link.h>

#include <algorithm>

#include "common/text.h"
#include "platform/backend.h"

namespace kv {
namespace {

// The component names its Firebird client by a Windows file name: "gds32.dll" by default, or
// "fbclient.dll", with or without a directory. On this system that client is
// libfbclient.so.2, so those two names (in any letter case) load it; every other name goes to
// the dynamic loader unchanged, and a Windows library that does not exist here fails to load.
std::string NativeFileName(const std::string& file_name) {
    const size_t slash = file_name.find_last_of("/\\");
    std::string base = file_name.substr(slash == std::string::npos ? 0 : slash + 1);
    std::transform(base.begin(), base.end(), base.begin(), LowerAscii);
    if (base == "gds32.dll" || base == "fbclient.dll") return "libfbclient.so.2";
    return file_name;
}

class PosixLibraryLoader final : public LibraryLoader {
  public:
    // The dynamic loader gives its reasons as text only: os_error stays 0.
    void* Open(const std::string& file_name, uint32_t& os_error) override {
        os_error = 0;
        if (file_name.empty()) return nullptr;
        return dlopen(NativeFileName(file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    void* Symbol(void* library, const char* name) override { return dlsym(library, name); }
    void Close(void* library) override { dlclose(library); }
    void Pin(void* library) override {
        // A second handle to the loaded library marks it never to be unloaded; the mark stays
        // when that handle is closed again.
        void* pinned = dlopen(FileOf(library).c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        if (pinned != nullptr) dlclose(pinned);
    }
    std::string FileOf(void* library) override {
        link_map* map = nullptr;
        if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return {};
        return map->l_name != nullptr ? map->l_name : "";
    }
};

}  // namespace

LibraryLoader& backend::Libraries() {
    static PosixLibraryLoader loader;
    return loader;
}

}  // namespace kv
