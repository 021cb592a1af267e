#pragma once
// AddInObject: the COM object through which the host drives one add-in instance. It owns the
// component (through kv::Protocol), holds the host's callback interfaces, and turns every host
// call into a call of the portable protocol.
#include <oaidl.h>
#include <windows.h>

#include <memory>
#include <string_view>

#include "component/protocol.h"
#include "host/addin_lib.h"
#include "host/error_log.h"

namespace kv::host {

class AddInObject final : public IInitDone,
                          public ILanguageExtender,
                          public IDispatch,
                          public ISupportErrorInfo {
  public:
    // Creates an object (aggregated by `outer` when it is not null) and asks it for `iid`;
    // an object that no one holds afterwards is destroyed again at once.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** object);

    // IUnknown: delegated to the controlling unknown (the outer object, or our own).
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    // IInitDone
    STDMETHOD(Init)(IDispatch* connection) override;
    STDMETHOD(Done)() override;
    STDMETHOD(GetInfo)(SAFEARRAY** info) override;

    // ILanguageExtender
    STDMETHOD(RegisterExtensionAs)(BSTR* extension_name) override;
    STDMETHOD(GetNProps)(long* count) override;
    STDMETHOD(FindProp)(BSTR name, long* number) override;
    STDMETHOD(GetPropName)(long number, long alias, BSTR* name) override;
    STDMETHOD(GetPropVal)(long number, VARIANT* value) override;
    STDMETHOD(SetPropVal)(long number, VARIANT* value) override;
    STDMETHOD(IsPropReadable)(long number, BOOL* readable) override;
    STDMETHOD(IsPropWritable)(long number, BOOL* writable) override;
    STDMETHOD(GetNMethods)(long* count) override;
    STDMETHOD(FindMethod)(BSTR name, long* number) override;
    STDMETHOD(GetMethodName)(long number, long alias, BSTR* name) override;
    STDMETHOD(GetNParams)(long number, long* count) override;
    STDMETHOD(GetParamDefValue)(long method, long param, VARIANT* value) override;
    STDMETHOD(HasRetVal)(long number, BOOL* has_value) override;
    STDMETHOD(CallAsProc)(long number, SAFEARRAY** params) override;
    STDMETHOD(CallAsFunc)(long number, VARIANT* result, SAFEARRAY** params) override;

    // IDispatch: the host never dispatches through it.
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHOD(GetIDsOfNames)
    (REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHOD(Invoke)
    (DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
     EXCEPINFO* exception, UINT* arg_error) override;

    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID iid) override;

  private:
    // The object's own IUnknown: the one identity and the one reference count.
    class Inner final : public IUnknown {
      public:
        explicit Inner(AddInObject& owner) : owner_(owner) {}
        virtual ~Inner() = default;
        STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
        STDMETHOD_(ULONG, AddRef)() override;
        STDMETHOD_(ULONG, Release)() override;

      private:
        AddInObject& owner_;
    };

    explicit AddInObject(IUnknown* outer);
    ~AddInObject();
    AddInObject(const AddInObject&) = delete;
    AddInObject& operator=(const AddInObject&) = delete;

    // Releases the callback interfaces and destroys the component.
    void Finish();
    // Inside a catch block: reports a failure of the shell itself (no memory for a BSTR, ...)
    // as the core reports its own.
    void ReportFailure(ErrorOrigin origin);

    Inner inner_;
    IUnknown* controlling_;  // the outer object, or &inner_
    volatile LONG references_ = 1;

    IDispatch* Connection = nullptr;
    IStatusLine* StatusLine = nullptr;
    IExtWndsSupport* ExtWndsSupport = nullptr;
    IErrorLog* ErrorLog = nullptr;
    IAsyncEvent* AsyncEvent = nullptr;
    HostErrorLog error_log_{ErrorLog};
    // The component object with the protocol that drives it; exists between Init and Done.
    std::unique_ptr<Protocol> VkObject;
};

}  // namespace kv::host
