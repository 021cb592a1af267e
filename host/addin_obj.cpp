#include "host/addin_obj.h"

#include <exception>
#include <string>

#include "addin/methods.h"
#include "common/text.h"
#include "host/com_value.h"
#include "host/server.h"
#include "platform/platform.h"

namespace kv::host {
namespace {

template <typename T>
void ReleaseAndForget(T*& held) {
    if (held != nullptr) held->Release();
    held = nullptr;
}

// Asks the host's connection for one of its callback interfaces; a refusal leaves none.
template <typename T>
void AskHost(IDispatch* connection, REFIID iid, T*& held) {
    ReleaseAndForget(held);
    if (connection == nullptr) return;
    void* offered = nullptr;
    if (SUCCEEDED(connection->QueryInterface(iid, &offered))) held = static_cast<T*>(offered);
}

}  // namespace

HRESULT AddInObject::Create(IUnknown* outer, REFIID iid, void** object) {
    auto* created = new AddInObject(outer);
    const HRESULT result = created->inner_.QueryInterface(iid, object);
    created->inner_.Release();  // the creation reference; the query's own one remains
    return result;
}

AddInObject::AddInObject(IUnknown* outer)
    : inner_(*this), controlling_(outer != nullptr ? outer : &inner_) {
    InterlockedIncrement(&Counters().ObjectCount);
}

AddInObject::~AddInObject() {
    // A host that never called Done still gets its interfaces back and leaks no component.
    Finish();
    ReleaseAndForget(Connection);
    InterlockedDecrement(&Counters().ObjectCount);
}

HRESULT AddInObject::Inner::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    IUnknown* found = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        found = this;
    } else if (IsEqualIID(iid, IID_IInitDone)) {
        found = static_cast<IInitDone*>(&owner_);
    } else if (IsEqualIID(iid, IID_ILanguageExtender)) {
        found = static_cast<ILanguageExtender*>(&owner_);
    } else if (IsEqualIID(iid, IID_IDispatch)) {
        found = static_cast<IDispatch*>(&owner_);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
        found = static_cast<ISupportErrorInfo*>(&owner_);
    } else {
        return E_NOINTERFACE;
    }
    found->AddRef();  // through the controlling unknown for every interface but this one
    *object = found;
    return S_OK;
}

ULONG AddInObject::Inner::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&owner_.references_));
}

ULONG AddInObject::Inner::Release() {
    const LONG remaining = InterlockedDecrement(&owner_.references_);
    if (remaining == 0) delete &owner_;
    return static_cast<ULONG>(remaining);
}

HRESULT AddInObject::QueryInterface(REFIID iid, void** object) {
    return controlling_->QueryInterface(iid, object);
}

ULONG AddInObject::AddRef() { return controlling_->AddRef(); }

ULONG AddInObject::Release() { return controlling_->Release(); }

void AddInObject::Finish() {
    ReleaseAndForget(StatusLine);
    ReleaseAndForget(ExtWndsSupport);
    ReleaseAndForget(ErrorLog);
    ReleaseAndForget(AsyncEvent);
    VkObject.reset();
}

void AddInObject::ReportFailure(ErrorOrigin origin) {
    if (VkObject) VkObject->ReportCurrentError(origin);
}

// IInitDone

HRESULT AddInObject::Init(IDispatch* connection) {
    try {
        if (connection != nullptr) connection->AddRef();
        ReleaseAndForget(Connection);
        Connection = connection;
        AskHost(Connection, IID_IErrorLog, ErrorLog);
        AskHost(Connection, IID_IStatusLine, StatusLine);
        AskHost(Connection, IID_IAsyncEvent, AsyncEvent);
        AskHost(Connection, IID_IExtWndsSupport, ExtWndsSupport);
        VkObject.reset();
        VkObject = std::make_unique<Protocol>(DefaultPlatform(), &error_log_, AddinMethods());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AddInObject::Done() {
    Finish();
    return S_OK;
}

HRESULT AddInObject::GetInfo(SAFEARRAY** info) {
    if (info == nullptr || *info == nullptr) return E_POINTER;
    if (!IsVariantVector(*info)) return E_INVALIDARG;
    try {
        ScopedVariant version;
        V_VT(&version.get()) = VT_BSTR;
        V_BSTR(&version.get()) = NewBstr(u"2000");
        LONG index = 0;
        SafeArrayPutElement(*info, &index, &version.get());  // copies; its answer is not ours
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// ILanguageExtender

HRESULT AddInObject::RegisterExtensionAs(BSTR* extension_name) {
    if (extension_name == nullptr) return E_POINTER;
    try {
        ScopedBstr name(u"KelvarinVK");
        SysFreeString(*extension_name);
        *extension_name = name.release();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AddInObject::GetNProps(long* count) {
    if (count == nullptr) return E_POINTER;
    *count = kPropertyCount;
    return S_OK;
}

HRESULT AddInObject::FindProp(BSTR name, long* number) {
    if (number == nullptr) return E_POINTER;
    *number = -1;
    if (!VkObject) return E_UNEXPECTED;
    try {
        int32_t found = -1;
        const HRESULT result = VkObject->FindProp(FromBstr(name), found);
        *number = found;
        return result;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AddInObject::GetPropName(long, long, BSTR* name) {
    if (name == nullptr) return E_POINTER;
    SysFreeString(*name);
    *name = nullptr;
    return S_OK;
}

HRESULT AddInObject::GetPropVal(long number, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    if (!VkObject) {
        VariantClear(value);
        return E_UNEXPECTED;
    }
    try {
        Variant read;
        const HRESULT result = VkObject->GetPropVal(number, read);
        StoreValue(read, *value);
        return result;
    } catch (...) {
        ReportFailure(ErrorOrigin::PropertyRead);
        return S_FALSE;
    }
}

HRESULT AddInObject::SetPropVal(long number, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    if (!VkObject) return E_UNEXPECTED;
    try {
        const HostValue written(*value);
        return VkObject->SetPropVal(number, written.get());
    } catch (...) {
        ReportFailure(ErrorOrigin::PropertyWrite);
        return S_FALSE;
    }
}

// Every property can be read, and every one takes a written value (NameWindow1C ignores it).
HRESULT AddInObject::IsPropReadable(long number, BOOL* readable) {
    if (readable == nullptr) return E_POINTER;
    *readable = SelectMember(number) >= 0 ? TRUE : FALSE;
    return S_OK;
}

HRESULT AddInObject::IsPropWritable(long number, BOOL* writable) {
    if (writable == nullptr) return E_POINTER;
    *writable = SelectMember(number) >= 0 ? TRUE : FALSE;
    return S_OK;
}

HRESULT AddInObject::GetNMethods(long* count) {
    if (count == nullptr) return E_POINTER;
    *count = kMethodCount;
    return S_OK;
}

HRESULT AddInObject::FindMethod(BSTR name, long* number) {
    if (number == nullptr) return E_POINTER;
    *number = -1;
    if (!VkObject) return E_UNEXPECTED;
    try {
        int32_t found = -1;
        const HRESULT result = VkObject->FindMethod(FromBstr(name), found);
        *number = found;
        return result;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AddInObject::GetMethodName(long, long, BSTR* name) {
    if (name == nullptr) return E_POINTER;
    SysFreeString(*name);
    *name = nullptr;
    return S_OK;
}

HRESULT AddInObject::GetNParams(long number, long* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    if (!VkObject) return E_UNEXPECTED;
    try {
        int32_t params = 0;
        VkObject->GetNParams(number, params);
        *count = params;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AddInObject::GetParamDefValue(long, long, VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    VariantClear(value);
    return S_OK;
}

HRESULT AddInObject::HasRetVal(long, BOOL* has_value) {
    if (has_value == nullptr) return E_POINTER;
    *has_value = TRUE;
    return S_OK;
}

HRESULT AddInObject::CallAsProc(long, SAFEARRAY**) { return S_FALSE; }

HRESULT AddInObject::CallAsFunc(long number, VARIANT* result, SAFEARRAY** params) {
    if (result == nullptr) return E_POINTER;
    VariantClear(result);
    V_VT(result) = VT_I4;
    V_I4(result) = 0;
    if (!VkObject) return E_UNEXPECTED;
    try {
        const SafeArrayParams borrowed(params);
        Variant returned;
        const HRESULT answer = VkObject->CallAsFunc(number, returned, &borrowed);
        StoreValue(returned, *result);
        return answer;
    } catch (...) {
        ReportFailure(ErrorOrigin::Method);
        return S_OK;
    }
}

// IDispatch

HRESULT AddInObject::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

HRESULT AddInObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT AddInObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT AddInObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// ISupportErrorInfo

HRESULT AddInObject::InterfaceSupportsErrorInfo(REFIID iid) {
    for (const IID* own : {&IID_IUnknown, &IID_IInitDone, &IID_ILanguageExtender, &IID_IDispatch,
                           &IID_ISupportErrorInfo}) {
        if (IsEqualIID(iid, *own)) return S_OK;
    }
    return S_FALSE;
}

}  // namespace kv::host
