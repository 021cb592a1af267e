#pragma once
// kvhost as the host of the add-in: the connection object with its error log, per-user
// registration through the DLL's DllInstall, and the creation of the object by its ProgID the
// way the 1C host does it.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "host/addin_lib.h"
#include "tools/kvhost/addin.h"

namespace kvhost {

// The host's error log: every entry is kept and handed to the listener as it arrives.
class ErrorLogSink final : public IErrorLog {
  public:
    explicit ErrorLogSink(ErrorListener listener) : listener_(std::move(listener)) {}
    virtual ~ErrorLogSink() = default;
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return 2; }  // lives as long as its owner
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(AddError)(LPCOLESTR, EXCEPINFO* info) override;

    int entries = 0;
    std::vector<HostError> errors;  // what each entry said, until taken

  private:
    ErrorListener listener_;
};

// The connection object: it offers the error log and refuses the host's other callbacks,
// which the add-in holds but never calls.
class HostConnection final : public IDispatch {
  public:
    explicit HostConnection(ErrorListener listener) : log(std::move(listener)) {}
    virtual ~HostConnection() = default;
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return 2; }  // lives as long as its owner
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)
    (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    ErrorLogSink log;
};

// Per-user registration through the DLL's own DllInstall; prints what happened.
bool InstallForUser(const std::wstring& dll, bool install);

// The default value of a registry key as text (REG_SZ, and REG_EXPAND_SZ unexpanded when
// `expandable`); empty when there is none.
std::wstring DefaultText(HKEY root, const std::wstring& path, REGSAM access, bool expandable);

// The default value of a key under the current user's classes; empty when there is none.
std::wstring UserClassesValue(const std::wstring& key);

// The object of the class registered under a ProgID, and how it was found. Windows merges the
// current user's classes into HKEY_CLASSES_ROOT, so COM finds them by itself there; Wine does
// not, so the user's classes are looked up first, the way Windows would, and the DLL's class
// object is asked directly; otherwise COM creates it.
struct CreatedAddIn {
    HRESULT result = E_FAIL;
    kv::host::IInitDone* object = nullptr;
    bool from_user_classes = false;  // the DLL the user's classes name was loaded
    bool through_com = false;        // COM was asked, the user's classes having none
    std::wstring user_path;          // the server the user's classes name
    HRESULT prog_id_lookup = S_OK;   // CLSIDFromProgID, when COM was asked
    HMODULE user_module = nullptr;   // loaded for the user's classes; freed after the object
};
CreatedAddIn CreateAddIn(const std::wstring& prog_id);
// Releases the object and what was loaded for it.
void Release(CreatedAddIn& created);

}  // namespace kvhost
