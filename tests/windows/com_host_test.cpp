// The test host: plays the 1C:Enterprise 7.7 host against the registered DLL, created through
// its ProgID, and drives it through the real vtables of IInitDone and ILanguageExtender: what
// only the COM shell has (interfaces, their lifecycle, BSTR, VARIANT and SAFEARRAY shapes,
// aggregation). What both shells share is addin_test's.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "host/addin_lib.h"
#include "host_objects.h"

using kv::host::IInitDone;
using kv::host::ILanguageExtender;
using namespace kvtest;

namespace {

HRESULT DllCanUnloadNow() {
    const HMODULE dll = GetModuleHandleW(L"KelvarinVK.dll");
    if (dll == nullptr) return E_UNEXPECTED;
    using Fn = HRESULT(STDAPICALLTYPE*)();
    const auto fn =
        reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllCanUnloadNow")));
    return fn != nullptr ? fn() : E_UNEXPECTED;
}

long FindProp(ILanguageExtender* lang, const std::wstring& name, HRESULT expected) {
    BSTR bstr = SysAllocString(name.c_str());
    long number = 12345;
    KV_CHECK_HR(lang->FindProp(bstr, &number), expected);
    SysFreeString(bstr);
    return number;
}

long FindMethod(ILanguageExtender* lang, const std::wstring& name, HRESULT expected) {
    BSTR bstr = SysAllocString(name.c_str());
    long number = 12345;
    KV_CHECK_HR(lang->FindMethod(bstr, &number), expected);
    SysFreeString(bstr);
    return number;
}

void CheckRecord(const LoggedError& record, const std::wstring& description) {
    KV_CHECK(record.property_name_null);
    KV_CHECK_EQ(record.wCode, 1006);
    KV_CHECK_EQ(record.wReserved, 0);
    KV_CHECK(!record.source_null);
    KV_CHECK_EQ(record.source, std::wstring(L"KelvarinVK"));
    KV_CHECK(!record.description_null);
    KV_CHECK_EQ(record.description, description);
    KV_CHECK(record.help_file_null);
    KV_CHECK_EQ(record.dwHelpContext, 0u);
    KV_CHECK(record.pvReserved_null);
    KV_CHECK(record.pfnDeferredFillIn_null);
    KV_CHECK_HR(record.scode, E_FAIL);
}

// Creation through the ProgID, the interfaces the object answers, and its one identity.
void Interfaces() {
    AddIn addin(nullptr);
    if (!addin.ok()) return;
    Ref<IUnknown> identity;
    KV_CHECK_HR(addin.init->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
    for (const IID* iid : {&kv::host::IID_IInitDone, &kv::host::IID_ILanguageExtender,
                           &IID_IDispatch, &IID_ISupportErrorInfo, &IID_IUnknown}) {
        Ref<IUnknown> through;
        KV_CHECK_HR(addin.lang->QueryInterface(*iid, through.out_void()), S_OK);
        Ref<IUnknown> back;
        if (through) KV_CHECK_HR(through->QueryInterface(IID_IUnknown, back.out_void()), S_OK);
        KV_CHECK(back.get() == identity.get());
    }
    // Refused interfaces leave a null pointer, whatever the caller put there.
    for (const IID* iid : {&IID_IErrorLog, &IID_IClassFactory, &IID_IPersist}) {
        void* refused = reinterpret_cast<void*>(0x1);
        KV_CHECK_HR(addin.init->QueryInterface(*iid, &refused), E_NOINTERFACE);
        KV_CHECK(refused == nullptr);
    }

    Ref<ISupportErrorInfo> errors;
    KV_CHECK_HR(addin.init->QueryInterface(IID_ISupportErrorInfo, errors.out_void()), S_OK);
    if (errors) {
        KV_CHECK_HR(errors->InterfaceSupportsErrorInfo(kv::host::IID_ILanguageExtender), S_OK);
        KV_CHECK_HR(errors->InterfaceSupportsErrorInfo(kv::host::IID_IInitDone), S_OK);
        KV_CHECK_HR(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
        KV_CHECK_HR(errors->InterfaceSupportsErrorInfo(IID_IErrorLog), S_FALSE);
        KV_CHECK_HR(errors->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
    }

    Ref<IDispatch> dispatch;
    KV_CHECK_HR(addin.init->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
    if (dispatch) {
        UINT count = 7;
        KV_CHECK_HR(dispatch->GetTypeInfoCount(&count), E_NOTIMPL);
        ITypeInfo* info = nullptr;
        KV_CHECK_HR(dispatch->GetTypeInfo(0, 0, &info), E_NOTIMPL);
        LPOLESTR name = const_cast<LPOLESTR>(L"Timeout");
        DISPID id = 0;
        KV_CHECK_HR(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), E_NOTIMPL);
        DISPPARAMS none{};
        Var result;
        KV_CHECK_HR(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, result.get(), nullptr,
                                     nullptr),
                    E_NOTIMPL);
    }

    // Reference counts: one count for every interface of the object.
    const ULONG after_add = addin.lang->AddRef();
    KV_CHECK_EQ(addin.init->Release(), after_add - 1);
}

// Init asks for the four callbacks in order, holds them until Done, and keeps the connection
// until the object dies; a host that never calls Done gets everything back on release.
void Lifecycle() {
    for (const bool calls_done : {true, false}) {
        Connection connection(true);
        {
            AddIn addin(&connection);
            if (!addin.ok()) return;
            const std::vector<const IID*> expected = {&IID_IErrorLog, &kv::host::IID_IStatusLine,
                                                      &kv::host::IID_IAsyncEvent,
                                                      &kv::host::IID_IExtWndsSupport};
            KV_CHECK_EQ(connection.asked.size(), expected.size());
            for (size_t i = 0; i < expected.size() && i < connection.asked.size(); ++i) {
                KV_CHECK(IsEqualIID(connection.asked[i], *expected[i]));
            }
            KV_CHECK_EQ(connection.references(), 2);
            KV_CHECK_EQ(connection.log.references(), 2);
            KV_CHECK_EQ(connection.status.references(), 2);
            KV_CHECK_EQ(connection.async.references(), 2);
            KV_CHECK_EQ(connection.windows.references(), 2);
            KV_CHECK_HR(DllCanUnloadNow(), S_FALSE);
            if (calls_done) {
                KV_CHECK_HR(addin.init->Done(), S_OK);
                KV_CHECK_EQ(connection.log.references(), 1);
                KV_CHECK_EQ(connection.status.references(), 1);
                KV_CHECK_EQ(connection.async.references(), 1);
                KV_CHECK_EQ(connection.windows.references(), 1);
                KV_CHECK_EQ(connection.references(), 2);  // until the object is destroyed
            }
        }
        KV_CHECK_EQ(connection.references(), 1);
        KV_CHECK_EQ(connection.log.references(), 1);
        KV_CHECK_EQ(connection.status.references(), 1);
        KV_CHECK_EQ(connection.async.references(), 1);
        KV_CHECK_EQ(connection.windows.references(), 1);
        KV_CHECK_EQ(connection.CallbackCalls(), 0);
        KV_CHECK_HR(DllCanUnloadNow(), S_OK);
    }

    // A second Init replaces what the first one took.
    Connection first(true);
    Connection second(true);
    {
        AddIn addin(&first);
        if (!addin.ok()) return;
        KV_CHECK_HR(addin.init->Init(&second), S_OK);
        KV_CHECK_EQ(first.references(), 1);
        KV_CHECK_EQ(first.log.references(), 1);
        KV_CHECK_EQ(second.references(), 2);
        KV_CHECK_EQ(second.log.references(), 2);
    }
    KV_CHECK_EQ(second.references(), 1);
    KV_CHECK_EQ(second.log.references(), 1);

    // The library goes away once nothing holds it.
    CoFreeUnusedLibraries();
    KV_CHECK(GetModuleHandleW(L"KelvarinVK.dll") == nullptr);
}

// Before Init there is no component: the calls that need one say so instead of crashing.
void BeforeInit() {
    AddIn addin(nullptr);
    if (!addin.ok()) return;
    KV_CHECK_EQ(FindProp(addin.lang.get(), L"Timeout", E_UNEXPECTED), -1);
    Var value = Var::I4(5);
    KV_CHECK_HR(addin.lang->SetPropVal(8, value.get()), E_UNEXPECTED);
    KV_CHECK_HR(addin.lang->GetPropVal(8, value.get()), E_UNEXPECTED);
    KV_CHECK_EQ(value.vt(), VT_EMPTY);
    Var result = Var::Text(L"old");
    KV_CHECK_HR(addin.lang->CallAsFunc(3, result.get(), nullptr), E_UNEXPECTED);
    KV_CHECK_EQ(result.vt(), VT_I4);
    long count = 1;
    KV_CHECK_HR(addin.lang->GetNProps(&count), S_OK);
    KV_CHECK_EQ(count, 21);
    // After Done the same holds.
    Connection connection(true);
    KV_CHECK_HR(addin.init->Init(&connection), S_OK);
    KV_CHECK_EQ(FindProp(addin.lang.get(), L"Timeout", S_OK), 8);
    KV_CHECK_HR(addin.init->Done(), S_OK);
    KV_CHECK_EQ(FindProp(addin.lang.get(), L"Timeout", E_UNEXPECTED), -1);
    // Null out-pointers are refused, not written through.
    KV_CHECK_HR(addin.lang->GetNProps(nullptr), E_POINTER);
    KV_CHECK_HR(addin.lang->RegisterExtensionAs(nullptr), E_POINTER);
    KV_CHECK_HR(addin.init->GetInfo(nullptr), E_POINTER);
}

// What only the COM interfaces can show about names (the names themselves, in both shells, are
// addin_test's): a null BSTR, what an out BSTR held before, member numbers past the catalogue,
// and the flags and defaults written for any number.
void Names() {
    Connection connection(true);
    AddIn addin(&connection);
    if (!addin.ok()) return;
    ILanguageExtender* lang = addin.lang.get();
    // A null BSTR is the empty name.
    long number = 0;
    KV_CHECK_HR(lang->FindProp(nullptr, &number), S_FALSE);
    KV_CHECK_EQ(number, -1);
    KV_CHECK_EQ(FindProp(lang, L"timeout", S_FALSE), -1);
    KV_CHECK_EQ(FindMethod(lang, L"findpacket", S_FALSE), -1);

    BSTR name = SysAllocString(L"previous");
    KV_CHECK_HR(lang->RegisterExtensionAs(&name), S_OK);
    KV_CHECK_EQ(std::wstring(name, SysStringLen(name)), std::wstring(L"KelvarinVK"));
    SysFreeString(name);
    name = SysAllocString(L"previous");
    KV_CHECK_HR(lang->GetPropName(8, 0, &name), S_OK);
    KV_CHECK(name == nullptr);
    name = SysAllocString(L"previous");
    KV_CHECK_HR(lang->GetMethodName(19, 1, &name), S_OK);
    KV_CHECK(name == nullptr);

    // GetNParams uses the low 8 bits of the number.
    long params = -1;
    KV_CHECK_HR(lang->GetNParams(256 + 18, &params), S_OK);
    KV_CHECK_EQ(params, 10);
    for (long none : {21L, 200L, 255L, -1L}) {
        params = -1;
        KV_CHECK_HR(lang->GetNParams(none, &params), S_OK);
        KV_CHECK_EQ(params, 0);
    }
    for (long any : {0L, 7L, 20L, 21L, 200L, -1L}) {
        BOOL has = FALSE;
        KV_CHECK_HR(lang->HasRetVal(any, &has), S_OK);
        KV_CHECK_EQ(has, TRUE);
        Var value = Var::Text(L"previous");
        KV_CHECK_HR(lang->GetParamDefValue(any, 0, value.get()), S_OK);
        KV_CHECK_EQ(value.vt(), VT_EMPTY);
    }
    for (long property : {0L, 9L, 20L}) {
        BOOL flag = FALSE;
        KV_CHECK_HR(lang->IsPropReadable(property, &flag), S_OK);
        KV_CHECK_EQ(flag, TRUE);
        flag = FALSE;
        KV_CHECK_HR(lang->IsPropWritable(property, &flag), S_OK);
        KV_CHECK_EQ(flag, TRUE);
    }
    KV_CHECK(connection.log.records.empty());
}

// What only VARIANTs can carry: values by reference, as a script's variables arrive; what a
// read replaces; and the whole EXCEPINFO of a refused write.
void Properties() {
    Connection connection(true);
    AddIn addin(&connection);
    if (!addin.ok()) return;
    ILanguageExtender* lang = addin.lang.get();
    const long kTimeout = 8, kAmount = 7, kTradeName = 0;
    {
        Var value = Var::Text(L"held before");
        KV_CHECK_HR(lang->GetPropVal(kTimeout, value.get()), S_OK);
        KV_CHECK_EQ(value.vt(), VT_I4);
    }
    {
        LONG referenced = 321;
        VARIANT by_ref;
        VariantInit(&by_ref);
        V_VT(&by_ref) = VT_BYREF | VT_I4;
        V_I4REF(&by_ref) = &referenced;
        KV_CHECK_HR(lang->SetPropVal(kAmount, &by_ref), S_OK);
        Var inner = Var::Text(L"Аспирин");
        VARIANT to_variant;
        VariantInit(&to_variant);
        V_VT(&to_variant) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&to_variant) = inner.get();
        KV_CHECK_HR(lang->SetPropVal(kTradeName, &to_variant), S_OK);
        Var read;
        KV_CHECK_HR(lang->GetPropVal(kAmount, read.get()), S_OK);
        KV_CHECK_EQ(V_I4(read.get()), 321);
        KV_CHECK_HR(lang->GetPropVal(kTradeName, read.get()), S_OK);
        KV_CHECK_EQ(read.text(), std::wstring(L"Аспирин"));
    }
    KV_CHECK(connection.log.records.empty());
    Var abc = Var::Text(L"abc");
    KV_CHECK_HR(lang->SetPropVal(kAmount, abc.get()), S_FALSE);
    KV_CHECK_EQ(connection.log.records.size(), 1u);
    if (!connection.log.records.empty()) {
        CheckRecord(connection.log.records[0],
                    L"Ошибка изменения свойства: Could not convert variant of type (OleStr) "
                    L"into type (Integer)");
    }
}

// What only SAFEARRAYs can carry: no array, a null array, an array of another element type
// (not read as VARIANTs), the host's array left as it was; CallAsProc, which runs nothing; and
// the whole EXCEPINFO of a parameter that does not convert.
void Methods() {
    Connection connection(true);
    AddIn addin(&connection);
    if (!addin.ok()) return;
    ILanguageExtender* lang = addin.lang.get();
    const long kGetPriceItem = 4, kLoadPrices = 0, kLoadOtkazes = 1, kClearPacket = 17,
               kAddPositionInPacket = 18;

    {  // No such method: whatever the result held becomes VT_I4 0.
        Var result = Var::Text(L"held before");
        KV_CHECK_HR(lang->CallAsFunc(21, result.get(), nullptr), S_FALSE);
        KV_CHECK_EQ(result.vt(), VT_I4);
    }
    // CallAsProc runs nothing: were it to run LoadPrices, the notice would block this test.
    for (long any : {kLoadPrices, kLoadOtkazes, kClearPacket, 21L}) {
        Params params(0u);
        KV_CHECK_HR(lang->CallAsProc(any, params.get()), S_FALSE);
    }
    {
        Var ignored = Var::Text(L"x");
        Params params({ignored.get()});
        Var result;
        KV_CHECK_HR(lang->CallAsFunc(kGetPriceItem, result.get(), params.get()), S_OK);
        KV_CHECK_EQ(params.TextAt(0), std::wstring(L"x"));  // the host's array is untouched
    }
    {
        SAFEARRAY* no_array = nullptr;
        SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 10);
        SAFEARRAY** arrays[] = {nullptr, &no_array, &longs};
        LONG expected_count = 0;
        for (SAFEARRAY** array : arrays) {
            Var result = Var::Text(L"held before");
            KV_CHECK_HR(lang->CallAsFunc(kAddPositionInPacket, result.get(), array), S_OK);
            KV_CHECK_EQ(result.vt(), VT_I4);
            KV_CHECK_EQ(V_I4(result.get()), ++expected_count);
        }
        SafeArrayDestroy(longs);
        KV_CHECK(connection.log.records.empty());
    }
    {
        Params params(10u);
        Var null = Var::Null();
        LONG index = 4;
        SafeArrayPutElement(*params.get(), &index, null.get());
        Var result = Var::Text(L"held before");
        KV_CHECK_HR(lang->CallAsFunc(kAddPositionInPacket, result.get(), params.get()), S_OK);
        KV_CHECK_EQ(result.vt(), VT_I4);
        KV_CHECK_EQ(V_I4(result.get()), 0);
        KV_CHECK_EQ(connection.log.records.size(), 1u);
        if (!connection.log.records.empty()) {
            CheckRecord(connection.log.records[0],
                        L"Параметр номер 5 не может быть преобразован в строку.");
        }
        KV_CHECK_EQ(params.TypeAt(index), VT_NULL);
    }
    KV_CHECK_EQ(connection.CallbackCalls(), 0);
}

// Without the host's error log the add-in works and the texts go nowhere.
void RefusingHost() {
    Connection connection(false);
    AddIn addin(&connection);
    if (!addin.ok()) return;
    KV_CHECK_EQ(connection.asked.size(), 4u);
    Var abc = Var::Text(L"abc");
    KV_CHECK_HR(addin.lang->SetPropVal(7, abc.get()), S_FALSE);
    Params params(10u);
    Var null = Var::Null();
    LONG first = 0;
    SafeArrayPutElement(*params.get(), &first, null.get());
    Var result;
    KV_CHECK_HR(addin.lang->CallAsFunc(18, result.get(), params.get()), S_OK);
    KV_CHECK_EQ(V_I4(result.get()), 0);
    KV_CHECK(connection.log.records.empty());
    KV_CHECK_EQ(connection.log.references(), 1);
    KV_CHECK_HR(addin.init->Done(), S_OK);
    KV_CHECK_EQ(connection.references(), 2);

    // No connection at all: the component still works, and its errors go nowhere.
    AddIn alone(nullptr);
    if (!alone.ok()) return;
    KV_CHECK_HR(alone.init->Init(nullptr), S_OK);
    KV_CHECK_HR(alone.lang->SetPropVal(7, abc.get()), S_FALSE);
    Var twelve = Var::I4(12);
    KV_CHECK_HR(alone.lang->SetPropVal(7, twelve.get()), S_OK);
    Var read;
    KV_CHECK_HR(alone.lang->GetPropVal(7, read.get()), S_OK);
    KV_CHECK_EQ(V_I4(read.get()), 12);
    KV_CHECK_HR(alone.init->Done(), S_OK);
}

// GetInfo writes the version text into element 0 of the host's array.
void Info() {
    Connection connection(true);
    AddIn addin(&connection);
    if (!addin.ok()) return;
    Var before = Var::I4(1);
    Params info({before.get()});
    KV_CHECK_HR(addin.init->GetInfo(info.get()), S_OK);
    KV_CHECK_EQ(info.TypeAt(0), VT_BSTR);
    KV_CHECK_EQ(info.TextAt(0), std::wstring(L"2000"));
    SAFEARRAY* none = nullptr;
    KV_CHECK_HR(addin.init->GetInfo(&none), E_POINTER);
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 4);
    KV_CHECK_HR(addin.init->GetInfo(&bytes), E_INVALIDARG);
    SafeArrayDestroy(bytes);
}

void Aggregation() {
    const CLSID clsid = ClassOfProgId();
    Outer outer;
    void* refused = reinterpret_cast<void*>(0x1);
    KV_CHECK_HR(
        CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, kv::host::IID_IInitDone, &refused),
        CLASS_E_NOAGGREGATION);
    KV_CHECK(refused == nullptr);
    KV_CHECK_HR(
        CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, outer.inner.out_void()),
        S_OK);
    if (!outer.inner) return;
    KV_CHECK_EQ(outer.references(), 1);  // the inner object holds no count on its outer

    Ref<IInitDone> init;
    KV_CHECK_HR(outer.QueryInterface(kv::host::IID_IInitDone, init.out_void()), S_OK);
    KV_CHECK_EQ(outer.references(), 2);  // handed-out interfaces count on the outer object
    if (init) {
        Ref<IUnknown> identity;
        KV_CHECK_HR(init->QueryInterface(IID_IUnknown, identity.out_void()), S_OK);
        KV_CHECK(identity.get() == static_cast<IUnknown*>(&outer));
        identity.reset();
        Connection connection(true);
        KV_CHECK_HR(init->Init(&connection), S_OK);
        Ref<ILanguageExtender> lang;
        KV_CHECK_HR(init->QueryInterface(kv::host::IID_ILanguageExtender, lang.out_void()), S_OK);
        if (lang) {
            BSTR name = SysAllocString(L"Timeout");
            long number = -1;
            KV_CHECK_HR(lang->FindProp(name, &number), S_OK);
            KV_CHECK_EQ(number, 8);
            SysFreeString(name);
        }
        lang.reset();
        KV_CHECK_HR(init->Done(), S_OK);
    }
    init.reset();
    KV_CHECK_EQ(outer.references(), 1);
    KV_CHECK_HR(DllCanUnloadNow(), S_FALSE);
    outer.inner.reset();  // destroys the aggregated object
    KV_CHECK_HR(DllCanUnloadNow(), S_OK);
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {
                              {"interfaces", Interfaces},
                              {"lifecycle", Lifecycle},
                              {"before_init", BeforeInit},
                              {"names", Names},
                              {"properties", Properties},
                              {"methods", Methods},
                              {"refusing_host", RefusingHost},
                              {"info", Info},
                              {"aggregation", Aggregation},
                          });
}
