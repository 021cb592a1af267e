#include "host_objects.h"

#include <objbase.h>

#include "check.h"

namespace kvtest {
namespace {

template <typename Self>
HRESULT Answer(Self* self, REFIID iid, REFIID own, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, own)) return E_NOINTERFACE;
    self->AddRef();
    *object = self;
    return S_OK;
}

std::wstring Copy(BSTR text, bool& was_null) {
    was_null = text == nullptr;
    return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

}  // namespace

HRESULT ErrorLog::QueryInterface(REFIID iid, void** object) {
    return Answer(this, iid, IID_IErrorLog, object);
}

HRESULT ErrorLog::AddError(LPCOLESTR property_name, EXCEPINFO* info) {
    LoggedError record;
    record.property_name_null = property_name == nullptr;
    if (info != nullptr) {
        record.wCode = info->wCode;
        record.wReserved = info->wReserved;
        record.source = Copy(info->bstrSource, record.source_null);
        record.description = Copy(info->bstrDescription, record.description_null);
        record.help_file_null = info->bstrHelpFile == nullptr;
        record.dwHelpContext = info->dwHelpContext;
        record.pvReserved_null = info->pvReserved == nullptr;
        record.pfnDeferredFillIn_null = info->pfnDeferredFillIn == nullptr;
        record.scode = info->scode;
    }
    records.push_back(record);
    return S_OK;
}

HRESULT StatusLine::QueryInterface(REFIID iid, void** object) {
    return Answer(this, iid, kv::host::IID_IStatusLine, object);
}

HRESULT AsyncEvent::QueryInterface(REFIID iid, void** object) {
    return Answer(this, iid, kv::host::IID_IAsyncEvent, object);
}

HRESULT ExtWndsSupport::QueryInterface(REFIID iid, void** object) {
    return Answer(this, iid, kv::host::IID_IExtWndsSupport, object);
}

HRESULT Connection::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    asked.push_back(iid);
    IUnknown* found = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
        found = static_cast<IDispatch*>(this);
    } else if (offers_ && IsEqualIID(iid, IID_IErrorLog)) {
        found = &log;
    } else if (offers_ && IsEqualIID(iid, kv::host::IID_IStatusLine)) {
        found = &status;
    } else if (offers_ && IsEqualIID(iid, kv::host::IID_IAsyncEvent)) {
        found = &async;
    } else if (offers_ && IsEqualIID(iid, kv::host::IID_IExtWndsSupport)) {
        found = &windows;
    } else {
        return E_NOINTERFACE;
    }
    found->AddRef();
    *object = found;
    return S_OK;
}

HRESULT Outer::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        AddRef();
        *object = static_cast<IUnknown*>(this);
        return S_OK;
    }
    return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
}

Var Var::I4(LONG value) {
    Var v;
    V_VT(&v.v_) = VT_I4;
    V_I4(&v.v_) = value;
    return v;
}

Var Var::R8(double value) {
    Var v;
    V_VT(&v.v_) = VT_R8;
    V_R8(&v.v_) = value;
    return v;
}

Var Var::Date(double value) {
    Var v;
    V_VT(&v.v_) = VT_DATE;
    V_DATE(&v.v_) = value;
    return v;
}

Var Var::Text(const std::wstring& value) {
    Var v;
    V_VT(&v.v_) = VT_BSTR;
    V_BSTR(&v.v_) = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    return v;
}

Var Var::Null() {
    Var v;
    V_VT(&v.v_) = VT_NULL;
    return v;
}

std::wstring Var::text() const {
    if (V_VT(&v_) != VT_BSTR || V_BSTR(&v_) == nullptr) return {};
    return std::wstring(V_BSTR(&v_), SysStringLen(V_BSTR(&v_)));
}

Params::Params(std::vector<VARIANT*> values)
    : array_(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()))) {
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        SafeArrayPutElement(array_, &i, values[static_cast<size_t>(i)]);
    }
}

Params::Params(ULONG count) : array_(SafeArrayCreateVector(VT_VARIANT, 0, count)) {}

std::wstring Params::TextAt(LONG index) {
    Var element;
    if (FAILED(SafeArrayGetElement(array_, &index, element.get()))) return {};
    return element.text();
}

VARTYPE Params::TypeAt(LONG index) {
    Var element;
    if (FAILED(SafeArrayGetElement(array_, &index, element.get()))) return VT_ILLEGAL;
    return element.vt();
}

CLSID ClassOfProgId() {
    CLSID clsid{};
    KV_CHECK_HR(CLSIDFromProgID(L"AddIn.KelvarinVK", &clsid), S_OK);
    return clsid;
}

AddIn::AddIn(Connection* connection) {
    KV_CHECK_HR(CoCreateInstance(ClassOfProgId(), nullptr, CLSCTX_INPROC_SERVER,
                                 kv::host::IID_IInitDone, init.out_void()),
                S_OK);
    if (!init) return;
    KV_CHECK_HR(init->QueryInterface(kv::host::IID_ILanguageExtender, lang.out_void()), S_OK);
    if (connection != nullptr) KV_CHECK_HR(init->Init(connection), S_OK);
}

}  // namespace kvtest
