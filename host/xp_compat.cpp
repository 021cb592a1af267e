// The static threading runtime (winpthreads) calls GetTickCount64, which Windows XP does not
// have, and a DLL importing it does not load there at all. This object supplies the import
// slot itself, so the linker takes ours instead of kernel32's: it uses the system's function
// where there is one, and the 32-bit tick count on XP, where the runtime only times short waits.
#include <windows.h>

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI TickCount64() {
    // Looked up on every call: a cached value would need a guarded static, and the guard
    // itself runs on this runtime.
    const FARPROC system = GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64");
    if (system != nullptr) {
        return reinterpret_cast<TickCount64Fn>(reinterpret_cast<void (*)()>(system))();
    }
    return GetTickCount();
}

}  // namespace

#if defined(__i386__)
#define KV_IMPORT_SLOT "__imp__GetTickCount64@0"
#else
#define KV_IMPORT_SLOT "__imp_GetTickCount64"
#endif

extern "C" {
extern TickCount64Fn kv_GetTickCount64_slot __asm__(KV_IMPORT_SLOT);
TickCount64Fn kv_GetTickCount64_slot = TickCount64;
}
