#include "host/server.h"

#include <exception>

#include "host/addin_lib.h"
#include "host/addin_obj.h"

namespace kv::host {

const ClassRecord& KelvarinClass() {
    static const ClassRecord record{CLSID_KelvarinVK, L"AddIn", L"KelvarinVK", L"AddIn.KelvarinVK",
                                    L"V7 AddIn 2.0"};
    return record;
}

ServerCounters& Counters() {
    static ServerCounters counters;
    return counters;
}

ClassFactory& Factory() {
    static ClassFactory factory;
    return factory;
}

HRESULT ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
        return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG ClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&Counters().FactoryCount));
}

ULONG ClassFactory::Release() {
    return static_cast<ULONG>(InterlockedDecrement(&Counters().FactoryCount));
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    // An outer object may only ask for our own IUnknown, through which it then reaches the
    // rest; any other interface would hand out a pointer with the wrong identity.
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    try {
        return AddInObject::Create(outer, iid, object);
    } catch (const std::exception& e) {
        MessageBoxA(nullptr, DaxErrorText(e.what()).c_str(), "DAX Error", MB_OK | MB_ICONSTOP);
    } catch (...) {
        MessageBoxA(nullptr, "Unknown error.", "DAX Error", MB_OK | MB_ICONSTOP);
    }
    return E_UNEXPECTED;
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    const HRESULT result = CoLockObjectExternal(static_cast<IClassFactory*>(this), lock, TRUE);
    if (lock) {
        InterlockedIncrement(&Counters().ObjectCount);
    } else {
        InterlockedDecrement(&Counters().ObjectCount);
    }
    return result;
}

std::string DaxErrorText(std::string ansi_message) {
    if (!ansi_message.empty() && static_cast<unsigned char>(ansi_message.back()) > '.') {
        ansi_message += '.';
    }
    return ansi_message;
}

}  // namespace kv::host
