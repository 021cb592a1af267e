// The library's entry points: what the COM runtime and regsvr32 call.
#include <objbase.h>
#include <olectl.h>
#include <windows.h>

#include <cwctype>
#include <exception>
#include <string>

#include "host/addin_lib.h"
#include "host/registration.h"
#include "host/server.h"
#include "link/outstanding.h"
#include "platform/platform.h"

namespace {

HMODULE g_module = nullptr;

HRESULT Register(const kv::host::RegistryPlace& place) {
    try {
        const std::wstring path = kv::host::ServerPath(g_module);
        if (path.empty()) return E_FAIL;
        kv::host::RegisterClassEntries(place, kv::host::ClassEntries(path));
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT Unregister(const kv::host::RegistryPlace& place) {
    try {
        kv::host::UnregisterClassEntries(place, kv::host::ClassEntries(L""));
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

bool IsUserCommand(LPCWSTR command) {
    if (command == nullptr) return false;
    std::wstring word(command);
    for (wchar_t& c : word) c = static_cast<wchar_t>(std::towlower(c));
    return word == L"user";
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, kv::host::KelvarinClass().clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return kv::host::Factory().QueryInterface(iid, object);
}

// Also not while a request that this process left outstanding may still be answered: the
// record of it goes with the library, and a host that makes one add-in object per use and
// unloads the library between them would let the late answer pass for the next request's.
STDAPI DllCanUnloadNow() {
    const kv::host::ServerCounters& counters = kv::host::Counters();
    if (counters.ObjectCount != 0 || counters.FactoryCount != 0) return S_FALSE;
    return kv::KeepsOutstanding(kv::DefaultPlatform().channel, GetCurrentProcessId()) ? S_FALSE
                                                                                      : S_OK;
}

STDAPI DllRegisterServer() { return Register(kv::host::MachineClasses()); }

STDAPI DllUnregisterServer() { return Unregister(kv::host::MachineClasses()); }

// "user" (regsvr32 /n /i:user) registers for the current user alone, for users without the
// rights to write HKEY_CLASSES_ROOT; with /u it removes that registration. No command line is
// the machine-wide registration, as regsvr32 /i without /n expects.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR command) {
    kv::host::RegistryPlace place;
    if (command == nullptr || *command == L'\0') {
        place = kv::host::MachineClasses();
    } else if (IsUserCommand(command)) {
        place = kv::host::UserClasses();
    } else {
        return E_INVALIDARG;
    }
    return install ? Register(place) : Unregister(place);
}
