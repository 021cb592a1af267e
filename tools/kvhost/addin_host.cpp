#include "tools/kvhost/addin_host.h"

#include "tools/kvhost/console.h"

namespace kvhost {

HRESULT ErrorLogSink::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IErrorLog)) return E_NOINTERFACE;
    *object = static_cast<IErrorLog*>(this);
    AddRef();
    return S_OK;
}

HRESULT ErrorLogSink::AddError(LPCOLESTR, EXCEPINFO* info) {
    ++entries;
    if (info == nullptr) return S_OK;
    auto text = [](BSTR s) { return std::wstring(s ? s : L"", s ? SysStringLen(s) : 0); };
    HostError error;
    error.code = info->wCode;
    error.source = text(info->bstrSource);
    error.description = text(info->bstrDescription);
    error.scode = info->scode;
    errors.push_back(error);
    if (listener_) listener_(error);
    return S_OK;
}

HRESULT HostConnection::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IErrorLog)) return log.QueryInterface(iid, object);
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
    *object = static_cast<IDispatch*>(this);
    return S_OK;
}

bool InstallForUser(const std::wstring& dll, bool install) {
    const HMODULE module = LoadLibraryW(dll.c_str());
    if (module == nullptr) {
        Print(L"cannot load " + dll + L" (error " + std::to_wstring(GetLastError()) + L")");
        return false;
    }
    using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    const auto dll_install = reinterpret_cast<InstallFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllInstall")));
    const HRESULT result = dll_install ? dll_install(install, L"user") : E_NOTIMPL;
    FreeLibrary(module);
    Print(std::wstring(install ? L"register " : L"unregister ") + L"for the current user: " + dll +
          L" -> " + Hresult(result));
    return SUCCEEDED(result);
}

std::wstring DefaultText(HKEY root, const std::wstring& path, REGSAM access, bool expandable) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, access, &opened) != ERROR_SUCCESS) return {};
    wchar_t value[MAX_PATH * 2] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read =
        RegQueryValueExW(opened, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(opened);
    const bool text = type == REG_SZ || (expandable && type == REG_EXPAND_SZ);
    return read == ERROR_SUCCESS && text ? std::wstring(value) : std::wstring();
}

std::wstring UserClassesValue(const std::wstring& key) {
    return DefaultText(HKEY_CURRENT_USER, L"Software\\Classes\\" + key, KEY_READ, false);
}

namespace {

// The object of a class registered for the current user; REGDB_E_CLASSNOTREG when none is.
HRESULT CreateFromUserClasses(const std::wstring& prog_id, CreatedAddIn& created) {
    const std::wstring clsid_text = UserClassesValue(prog_id + L"\\Clsid");
    CLSID clsid{};
    if (clsid_text.empty() || FAILED(CLSIDFromString(clsid_text.c_str(), &clsid))) {
        return REGDB_E_CLASSNOTREG;
    }
    created.user_path = UserClassesValue(L"CLSID\\" + clsid_text + L"\\InprocServer32");
    if (created.user_path.empty()) return REGDB_E_CLASSNOTREG;
    created.user_module = LoadLibraryW(created.user_path.c_str());
    if (created.user_module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    created.from_user_classes = true;
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get_class_object = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(created.user_module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    HRESULT result = get_class_object ? get_class_object(clsid, IID_IClassFactory,
                                                         reinterpret_cast<void**>(&factory))
                                      : E_NOINTERFACE;
    if (SUCCEEDED(result)) {
        result = factory->CreateInstance(nullptr, kv::host::IID_IInitDone,
                                         reinterpret_cast<void**>(&created.object));
        factory->Release();
    }
    return result;
}

}  // namespace

CreatedAddIn CreateAddIn(const std::wstring& prog_id) {
    CreatedAddIn created;
    created.result = CreateFromUserClasses(prog_id, created);
    if (created.result == REGDB_E_CLASSNOTREG) {
        created.through_com = true;
        CLSID clsid{};
        created.prog_id_lookup = CLSIDFromProgID(prog_id.c_str(), &clsid);
        created.result = created.prog_id_lookup;
        if (SUCCEEDED(created.prog_id_lookup)) {
            created.result =
                CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kv::host::IID_IInitDone,
                                 reinterpret_cast<void**>(&created.object));
        }
    }
    if (SUCCEEDED(created.result) && created.object == nullptr) created.result = E_NOINTERFACE;
    return created;
}

void Release(CreatedAddIn& created) {
    if (created.object != nullptr) created.object->Release();
    created.object = nullptr;
    if (created.user_module != nullptr) FreeLibrary(created.user_module);
    created.user_module = nullptr;
}

}  // namespace kvhost
