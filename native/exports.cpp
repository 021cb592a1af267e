// The library's five entry points, which 1C:Enterprise 8 finds by name (undecorated, through
// the .def file, with the C calling convention).
#include <string_view>

#include "addin/methods.h"
#include "native/native_addin.h"
#include "platform/platform.h"

using kv::native::IComponentBase;
using kv::native::WideChar;

extern "C" {

// Static: the platform reads it and never frees it.
const WideChar* GetClassNames() { return kv::native::kExtensionName; }

// Non-zero when an object was made. Only that matters to the platform, so the answer is 1
// rather than the object's address, which a 32-bit answer could not hold on Win64.
int32_t GetClassObject(const WideChar* name, IComponentBase** object) {
    if (name == nullptr || object == nullptr ||
        std::u16string_view(name) != kv::native::kExtensionName) {
        return 0;
    }
    try {
        *object = new kv::native::NativeAddIn(kv::DefaultPlatform(), kv::AddinMethods());
        return 1;
    } catch (...) {
        return 0;
    }
}

// 0 when the object was destroyed; every object is one that GetClassObject made.
int32_t DestroyObject(IComponentBase** object) {
    if (object == nullptr || *object == nullptr) return -1;
    delete static_cast<kv::native::NativeAddIn*>(*object);
    *object = nullptr;
    return 0;
}

int32_t SetPlatformCapabilities(int32_t capabilities) {
    return kv::native::AcceptCapabilities(capabilities);
}

// In the platform's process only: the name-matching dialog is modal over the 1C window that
// is active on the calling thread, and the requests block that thread while the desktop
// application answers; a separate process has neither the window nor the thread.
int32_t GetAttachType() { return kv::native::eCanAttachNotIsolated; }

}  // extern "C"
