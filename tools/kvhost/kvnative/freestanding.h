#pragma once
// What kvnative.dll takes from the system, declared here: no C or C++ library exists in the
// MSVC ABI on the build machine, so the proxy calls kernel32 alone, through mingw-w64's import
// library, and provides the few functions that the compiler itself may call.
#include <stddef.h>
#include <stdint.h>

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryW(const wchar_t* path);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) unsigned long __stdcall GetLastError();
__declspec(dllimport) void* __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, unsigned long flags, size_t bytes);
__declspec(dllimport) int __stdcall HeapFree(void* heap, unsigned long flags, void* block);
__declspec(dllimport) void __stdcall InitializeCriticalSection(void* section);
__declspec(dllimport) void __stdcall EnterCriticalSection(void* section);
__declspec(dllimport) void __stdcall LeaveCriticalSection(void* section);
__declspec(dllimport) void __stdcall DeleteCriticalSection(void* section);

void* memcpy(void* to, const void* from, size_t bytes);
void* memset(void* to, int byte, size_t bytes);
}

inline void* operator new(size_t, void* where) noexcept { return where; }

namespace kvn {

constexpr unsigned long kHeapZeroMemory = 0x8;

// Zero-filled memory of the process heap; null when there is none.
inline void* Allocate(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), kHeapZeroMemory, bytes == 0 ? 1 : bytes);
}
inline void Release(void* block) {
    if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

// A CRITICAL_SECTION, whose 24 (i686) or 40 (x86_64) bytes the system alone reads.
class Lock {
  public:
    Lock() { InitializeCriticalSection(storage_); }
    ~Lock() { DeleteCriticalSection(storage_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter() { EnterCriticalSection(storage_); }
    void Leave() { LeaveCriticalSection(storage_); }

  private:
    alignas(8) unsigned char storage_[6 * sizeof(void*)];
};

class Locked {
  public:
    explicit Locked(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~Locked() { lock_.Leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    Lock& lock_;
};

}  // namespace kvn
