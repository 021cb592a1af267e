// The process entry points of Windows. PSAPI.dll is loaded by name at run time and ToolHelp and
// QueryFullProcessImageNameA are looked up in kernel32, so the component loads on every
// system from Windows 95 on and only sees fewer processes where a part is missing. Each entry
// is resolved once and kept; a PSAPI.dll that failed to load is tried again at the next call.
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <cstring>

#include "platform/backend.h"

namespace kv::backend {
namespace {

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using Process32Fn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);
using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
using QueryFullProcessImageNameAFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, DWORD*);

// The system's own entry points, null until resolved (or when the system lacks them).
struct SystemEntries {
    CreateSnapshotFn create_snapshot = nullptr;
    Process32Fn process_first = nullptr;
    Process32Fn process_next = nullptr;
    EnumProcessesFn enum_processes = nullptr;
    EnumProcessModulesFn enum_process_modules = nullptr;
    GetModuleFileNameExAFn module_file_name = nullptr;
    QueryFullProcessImageNameAFn query_image_name = nullptr;
};
SystemEntries sys;

template <typename Fn>
Fn Lookup(HMODULE library, const char* name) {
    // GetProcAddress returns a generic pointer; the cast through void* keeps -Wcast-function-type
    // quiet about what is, by the entry point's documentation, the right type.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

HANDLE AsHandle(uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

uintptr_t CreateSnapshot() {
    HANDLE snapshot = sys.create_snapshot(TH32CS_SNAPPROCESS, 0);
    return snapshot == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<uintptr_t>(snapshot);
}

bool WalkSnapshot(Process32Fn step, uintptr_t snapshot, ProcessSnapshotEntry& entry) {
    PROCESSENTRY32 record;
    std::memset(&record, 0, sizeof record);
    record.dwSize = sizeof record;
    if (!step(AsHandle(snapshot), &record)) return false;
    entry.process_id = record.th32ProcessID;
    static_assert(sizeof entry.exe_file == sizeof record.szExeFile);
    std::memcpy(entry.exe_file, record.szExeFile, sizeof entry.exe_file);
    return true;
}

bool ProcessFirst(uintptr_t snapshot, ProcessSnapshotEntry& entry) {
    return WalkSnapshot(sys.process_first, snapshot, entry);
}

bool ProcessNext(uintptr_t snapshot, ProcessSnapshotEntry& entry) {
    return WalkSnapshot(sys.process_next, snapshot, entry);
}

bool EnumProcessIds(uint32_t* ids, uint32_t bytes, uint32_t& bytes_returned) {
    static_assert(sizeof(DWORD) == sizeof(uint32_t));
    DWORD returned = 0;
    const BOOL ok = sys.enum_processes(reinterpret_cast<DWORD*>(ids), bytes, &returned);
    bytes_returned = ok ? returned : 0;
    return ok != FALSE;
}

uintptr_t OpenProcessHandle(uint32_t access, bool inherit, uint32_t process_id) {
    return reinterpret_cast<uintptr_t>(OpenProcess(access, inherit ? TRUE : FALSE, process_id));
}

// Room for one module handle: the first module is the executable.
bool FirstModule(uintptr_t process, uintptr_t& module) {
    HMODULE first = nullptr;
    DWORD needed = 0;
    if (!sys.enum_process_modules(AsHandle(process), &first, sizeof first, &needed)) return false;
    module = reinterpret_cast<uintptr_t>(first);
    return true;
}

uint32_t ModuleFileName(uintptr_t process, uintptr_t module, char* buffer, uint32_t size) {
    return sys.module_file_name(AsHandle(process), reinterpret_cast<HMODULE>(module), buffer, size);
}

bool QueryImageName(uintptr_t process, char* buffer, uint32_t& size) {
    DWORD length = size;
    if (!sys.query_image_name(AsHandle(process), 0, buffer, &length)) return false;
    size = length;
    return true;
}

void CloseProcessHandle(uintptr_t handle) { CloseHandle(AsHandle(handle)); }

void LowerAnsi(char* text, uint32_t length) { CharLowerBuffA(text, length); }

uint32_t PlatformId() {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) ? version.dwPlatformId : VER_PLATFORM_WIN32_NT;
}

class Win32ProcessSystem final : public ProcessSystem {
  public:
    Win32ProcessSystem() {
        entry_points_.platform_id = PlatformId();
        entry_points_.open_process = OpenProcessHandle;
        entry_points_.close_handle = CloseProcessHandle;
        entry_points_.lower_ansi = LowerAnsi;
        HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
        if (kernel32 == nullptr) return;
        sys.create_snapshot = Lookup<CreateSnapshotFn>(kernel32, "CreateToolhelp32Snapshot");
        sys.process_first = Lookup<Process32Fn>(kernel32, "Process32First");
        sys.process_next = Lookup<Process32Fn>(kernel32, "Process32Next");
        if (sys.create_snapshot != nullptr && sys.process_first != nullptr &&
            sys.process_next != nullptr) {
            entry_points_.create_snapshot = CreateSnapshot;
            entry_points_.process_first = ProcessFirst;
            entry_points_.process_next = ProcessNext;
        }
        sys.query_image_name =
            Lookup<QueryFullProcessImageNameAFn>(kernel32, "QueryFullProcessImageNameA");
        if (sys.query_image_name != nullptr) entry_points_.query_image_name = QueryImageName;
    }

    const ProcessEntryPoints& EntryPoints() override {
        if (psapi_ == nullptr) LoadPsapi();
        return entry_points_;
    }

  private:
    void LoadPsapi() {
        psapi_ = LoadLibraryA("PSAPI.dll");
        if (psapi_ == nullptr) return;  // tried again at the next call
        sys.enum_processes = Lookup<EnumProcessesFn>(psapi_, "EnumProcesses");
        sys.enum_process_modules = Lookup<EnumProcessModulesFn>(psapi_, "EnumProcessModules");
        sys.module_file_name = Lookup<GetModuleFileNameExAFn>(psapi_, "GetModuleFileNameExA");
        if (sys.enum_processes != nullptr) entry_points_.enum_processes = EnumProcessIds;
        if (sys.enum_process_modules != nullptr) entry_points_.first_module = FirstModule;
        if (sys.module_file_name != nullptr) entry_points_.module_file_name = ModuleFileName;
    }

    HMODULE psapi_ = nullptr;  // kept for the life of the module once loaded
    ProcessEntryPoints entry_points_;
};

}  // namespace

ProcessSystem& Processes() {
    static Win32ProcessSystem processes;
    return processes;
}

}  // namespace kv::backend
