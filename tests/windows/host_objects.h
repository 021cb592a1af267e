#pragma once
// The objects a test host needs to play the 1C host: a connection object that offers (or
// refuses) the host's callback interfaces and records what it was asked, an error log that
// records every AddError call field by field, and small owners for COM values.
#include <oaidl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "host/addin_lib.h"

namespace kvtest {

// One AddError call as the host received it.
struct LoggedError {
    bool property_name_null = false;
    WORD wCode = 0;
    WORD wReserved = 0;
    bool source_null = true;
    std::wstring source;
    bool description_null = true;
    std::wstring description;
    bool help_file_null = true;
    DWORD dwHelpContext = 0;
    bool pvReserved_null = true;
    bool pfnDeferredFillIn_null = true;
    SCODE scode = 0;
};

// Reference counting shared by the host objects; they live on the test's stack and report
// their count instead of deleting themselves.
class Counted {
  public:
    LONG references() const { return references_; }

  protected:
    ULONG Up() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG Down() { return static_cast<ULONG>(InterlockedDecrement(&references_)); }

  private:
    volatile LONG references_ = 1;
};

class ErrorLog final : public IErrorLog, public Counted {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return Up(); }
    STDMETHOD_(ULONG, Release)() override { return Down(); }
    STDMETHOD(AddError)(LPCOLESTR property_name, EXCEPINFO* info) override;
    virtual ~ErrorLog() = default;

    std::vector<LoggedError> records;
};

class StatusLine final : public kv::host::IStatusLine, public Counted {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return Up(); }
    STDMETHOD_(ULONG, Release)() override { return Down(); }
    STDMETHOD(SetStatusLine)(BSTR) override { return ++calls, S_OK; }
    STDMETHOD(ResetStatusLine)() override { return ++calls, S_OK; }
    virtual ~StatusLine() = default;
    int calls = 0;
};

class AsyncEvent final : public kv::host::IAsyncEvent, public Counted {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return Up(); }
    STDMETHOD_(ULONG, Release)() override { return Down(); }
    STDMETHOD(SetEventBufferDepth)(long) override { return ++calls, S_OK; }
    STDMETHOD(GetEventBufferDepth)(long*) override { return ++calls, S_OK; }
    STDMETHOD(ExternalEvent)(BSTR, BSTR, BSTR) override { return ++calls, S_OK; }
    STDMETHOD(CleanBuffer)() override { return ++calls, S_OK; }
    virtual ~AsyncEvent() = default;
    int calls = 0;
};

class ExtWndsSupport final : public kv::host::IExtWndsSupport, public Counted {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return Up(); }
    STDMETHOD_(ULONG, Release)() override { return Down(); }
    STDMETHOD(GetAppMainFrame)(HWND*) override { return ++calls, E_NOTIMPL; }
    STDMETHOD(GetAppMDIFrame)(HWND*) override { return ++calls, E_NOTIMPL; }
    virtual ~ExtWndsSupport() = default;
    int calls = 0;
};

// The host's connection object: answers QueryInterface for the four callback interfaces, or
// refuses them all, and records every identifier it was asked for.
class Connection final : public IDispatch, public Counted {
  public:
    explicit Connection(bool offers_callbacks) : offers_(offers_callbacks) {}
    virtual ~Connection() = default;
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return Up(); }
    STDMETHOD_(ULONG, Release)() override { return Down(); }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)
    (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // Callback calls of every kind: the add-in holds these interfaces but never calls them.
    int CallbackCalls() const { return status.calls + async.calls + windows.calls; }

    ErrorLog log;
    StatusLine status;
    AsyncEvent async;
    ExtWndsSupport windows;
    std::vector<IID> asked;

  private:
    bool offers_;
};

// Owns one VARIANT.
class Var {
  public:
    Var() { VariantInit(&v_); }
    ~Var() { VariantClear(&v_); }
    Var(Var&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    static Var I4(LONG value);
    static Var R8(double value);
    static Var Date(double value);
    static Var Text(const std::wstring& value);
    static Var Null();
    VARIANT* get() { return &v_; }
    VARTYPE vt() const { return V_VT(&v_); }
    std::wstring text() const;  // VT_BSTR only

  private:
    VARIANT v_;
};

// A one-dimensional SAFEARRAY of VARIANT with lower bound 0, as the host passes parameters.
class Params {
  public:
    explicit Params(std::vector<VARIANT*> values);
    explicit Params(ULONG count);
    ~Params() { SafeArrayDestroy(array_); }
    Params(const Params&) = delete;
    Params& operator=(const Params&) = delete;
    SAFEARRAY** get() { return &array_; }
    std::wstring TextAt(LONG index);  // VT_BSTR element, empty otherwise
    VARTYPE TypeAt(LONG index);

  private:
    SAFEARRAY* array_;
};

// Holds one interface reference.
template <typename T>
class Ref {
  public:
    Ref() = default;
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** out() {
        reset();
        return &p_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }
    void reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

// The class the DLL registers under "AddIn.KelvarinVK".
CLSID ClassOfProgId();

// One add-in instance as the host holds it: created through the ProgID and, when a connection
// is given, initialised with it.
struct AddIn {
    explicit AddIn(Connection* connection);
    bool ok() const { return init && lang; }
    Ref<kv::host::IInitDone> init;
    Ref<kv::host::ILanguageExtender> lang;
};

// An outer object that aggregates the add-in: it answers IUnknown itself and hands every other
// request to the inner object it holds.
class Outer final : public IUnknown, public Counted {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return Up(); }
    STDMETHOD_(ULONG, Release)() override { return Down(); }
    virtual ~Outer() = default;
    Ref<IUnknown> inner;
};

}  // namespace kvtest
