// The pieces of the COM shell that its exports do not show: VARIANT conversion both ways,
// parameter reading from SAFEARRAYs, the registry entries, the "DAX Error" text; and the win32
// text codec under the Russian locale.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "check.h"
#include "common/error.h"
#include "common/text.h"
#include "host/addin_lib.h"
#include "host/com_value.h"
#include "host/registration.h"
#include "host/server.h"
#include "host_objects.h"
#include "platform/backend.h"

using namespace kvtest;
using kv::Variant;
using kv::VarType;

namespace {

CY Currency(LONGLONG scaled) {
    CY value;
    value.int64 = scaled;
    return value;
}

// Every value type: host VARIANT -> portable value -> VARIANT again gives the same type and
// value, directly and through a reference.
void RoundTrip() {
    struct Case {
        const char* name;
        VARTYPE vt;
        VarType type;
        size_t size;  // bytes of the value in the VARIANT
        void (*fill)(VARIANT&);
        void (*reference)(VARIANT& by_ref, VARIANT& target);
    };
#define KV_CASE(VT, TYPE, MEMBER, REF, VALUE)                                             \
    Case {                                                                                \
#VT, VT, VarType::TYPE, sizeof(VARIANT{}.MEMBER),                                 \
            [](VARIANT & v) { v.MEMBER = VALUE; }, [](VARIANT & r,                        \
                                                      VARIANT & t) { r.REF = &t.MEMBER; } \
    }
    const Case cases[] = {
        KV_CASE(VT_I1, I1, cVal, pcVal, -100),
        KV_CASE(VT_I2, I2, iVal, piVal, -30000),
        KV_CASE(VT_I4, I4, lVal, plVal, -2000000000),
        KV_CASE(VT_I8, I8, llVal, pllVal, -9000000000000000000LL),
        KV_CASE(VT_INT, Int, intVal, pintVal, 123456),
        KV_CASE(VT_UI1, UI1, bVal, pbVal, 250),
        KV_CASE(VT_UI2, UI2, uiVal, puiVal, 65000),
        KV_CASE(VT_UI4, UI4, ulVal, pulVal, 4000000000u),
        KV_CASE(VT_UI8, UI8, ullVal, pullVal, 18000000000000000000ULL),
        KV_CASE(VT_UINT, UInt, uintVal, puintVal, 4000000001u),
        KV_CASE(VT_R4, R4, fltVal, pfltVal, 1.5f),
        KV_CASE(VT_R8, R8, dblVal, pdblVal, -0.1),
        KV_CASE(VT_DATE, Date, date, pdate, 45443.5),
        KV_CASE(VT_CY, Cy, cyVal, pcyVal, Currency(-123456789)),
        KV_CASE(VT_BOOL, Bool, boolVal, pboolVal, VARIANT_TRUE),
    };
#undef KV_CASE
    for (const Case& c : cases) {
        VARIANT original;
        VariantInit(&original);
        V_VT(&original) = c.vt;
        c.fill(original);
        const Variant value = kv::host::ValueOf(original);
        if (value.type() != c.type) Note(c.name);
        KV_CHECK_EQ(static_cast<int>(value.type()), static_cast<int>(c.type));
        KV_CHECK(!value.is_by_ref());
        Var back;
        kv::host::StoreValue(value, *back.get());
        KV_CHECK_EQ(back.vt(), c.vt);
        // All value members start at the same place in the VARIANT.
        if (std::memcmp(&V_I8(back.get()), &V_I8(&original), c.size) != 0) {
            Fail(__FILE__, __LINE__, std::string("value changed: ") + c.name);
        }
        // Through a reference: the portable value keeps the by-reference flag and the value.
        VARIANT by_ref;
        VariantInit(&by_ref);
        V_VT(&by_ref) = static_cast<VARTYPE>(c.vt | VT_BYREF);
        c.reference(by_ref, original);
        const kv::host::HostValue host(by_ref);
        KV_CHECK(host.get().is_by_ref());
        KV_CHECK_EQ(host.get().vt(), static_cast<uint16_t>(c.vt | VT_BYREF));
        KV_CHECK(host.get().Deref() == value);
        KV_CHECK(kv::host::ValueOf(by_ref) == value);
        Var through;
        kv::host::StoreValue(host.get(), *through.get());
        KV_CHECK_EQ(through.vt(), c.vt);  // results never hand out references
    }
}

void Texts() {
    // Cyrillic, an embedded zero and the empty text; a null BSTR is the empty text too.
    const std::wstring texts[] = {L"Аспирин 500 мг", std::wstring(L"a\0b", 3), L""};
    for (const std::wstring& text : texts) {
        Var original = Var::Text(text);
        const Variant value = kv::host::ValueOf(*original.get());
        KV_CHECK_EQ(static_cast<int>(value.type()), static_cast<int>(VarType::Bstr));
        KV_CHECK_EQ(value.text().size(), text.size());
        Var back;
        kv::host::StoreValue(value, *back.get());
        KV_CHECK_EQ(back.vt(), VT_BSTR);
        KV_CHECK_EQ(back.text(), text);
        BSTR shared = V_BSTR(original.get());
        VARIANT by_ref;
        VariantInit(&by_ref);
        V_VT(&by_ref) = VT_BSTR | VT_BYREF;
        V_BSTRREF(&by_ref) = &shared;
        KV_CHECK(kv::host::ValueOf(by_ref) == value);
    }
    VARIANT null_text;
    VariantInit(&null_text);
    V_VT(&null_text) = VT_BSTR;
    V_BSTR(&null_text) = nullptr;
    KV_CHECK(kv::host::ValueOf(null_text).text().empty());
    KV_CHECK(kv::host::FromBstr(nullptr).empty());
}

// Values the component cannot use arrive as what they are, so that conversions name them.
void Unusual() {
    VARIANT v;
    VariantInit(&v);
    KV_CHECK_EQ(static_cast<int>(kv::host::ValueOf(v).type()), static_cast<int>(VarType::Empty));
    V_VT(&v) = VT_NULL;
    KV_CHECK_EQ(static_cast<int>(kv::host::ValueOf(v).type()), static_cast<int>(VarType::Null));
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    KV_CHECK_EQ(static_cast<int>(kv::host::ValueOf(v).type()), static_cast<int>(VarType::Error));
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = nullptr;
    KV_CHECK_EQ(static_cast<int>(kv::host::ValueOf(v).type()), static_cast<int>(VarType::Dispatch));
    // A reference to nothing reads as null rather than being followed.
    V_VT(&v) = VT_I4 | VT_BYREF;
    V_I4REF(&v) = nullptr;
    KV_CHECK_EQ(static_cast<int>(kv::host::ValueOf(v).type()), static_cast<int>(VarType::Null));
    // A VARIANT reference to a VARIANT reference goes no further.
    VARIANT inner;
    VariantInit(&inner);
    V_VT(&inner) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&inner) = &v;
    VARIANT outer;
    VariantInit(&outer);
    V_VT(&outer) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&outer) = &inner;
    KV_CHECK_EQ(static_cast<int>(kv::host::ValueOf(outer).type()), static_cast<int>(VarType::Null));
    // Arrays are not values of the component.
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 2);
    VARIANT holding;
    VariantInit(&holding);
    V_VT(&holding) = VT_ARRAY | VT_I4;
    V_ARRAY(&holding) = array;
    KV_CHECK_EQ(static_cast<int>(kv::host::ValueOf(holding).type()),
                static_cast<int>(VarType::Variant));
    KV_CHECK(!kv::host::ValueOf(holding).is_by_ref());
    SafeArrayDestroy(array);
    // Storing replaces what the VARIANT held (a BSTR here) and never hands out kinds the host
    // cannot use.
    Var target = Var::Text(L"old");
    kv::host::StoreValue(Variant::Opaque(VarType::Dispatch), *target.get());
    KV_CHECK_EQ(target.vt(), VT_EMPTY);
    kv::host::StoreValue(Variant::Null(), *target.get());
    KV_CHECK_EQ(target.vt(), VT_NULL);
}

// Parameters: elements by index, nothing past the end, nothing from arrays of other shapes.
void Parameters() {
    Var first = Var::I4(10);
    Var second = Var::Text(L"два");
    Params params({first.get(), second.get()});
    const kv::host::SafeArrayParams source(params.get());
    Variant out;
    KV_CHECK(source.Get(0, out));
    KV_CHECK_EQ(out.int_value(), 10);
    KV_CHECK(source.Get(1, out));
    KV_CHECK(out.text() == u"два");
    KV_CHECK(!source.Get(2, out));
    KV_CHECK(!source.Get(-1, out));
    // A by-reference element is read as its value: the reference would outlive the copy.
    LONG referenced = 77;
    VARIANT by_ref;
    VariantInit(&by_ref);
    V_VT(&by_ref) = VT_I4 | VT_BYREF;
    V_I4REF(&by_ref) = &referenced;
    Params refs({&by_ref});
    const kv::host::SafeArrayParams ref_source(refs.get());
    KV_CHECK(ref_source.Get(0, out));
    KV_CHECK(!out.is_by_ref());
    KV_CHECK_EQ(out.int_value(), 77);

    const kv::host::SafeArrayParams none(nullptr);
    KV_CHECK(!none.Get(0, out));
    SAFEARRAY* empty = nullptr;
    const kv::host::SafeArrayParams null_array(&empty);
    KV_CHECK(!null_array.Get(0, out));
    SAFEARRAY* longs = SafeArrayCreateVector(VT_I4, 0, 4);
    KV_CHECK(!kv::host::IsVariantVector(longs));
    const kv::host::SafeArrayParams wrong_type(&longs);
    KV_CHECK(!wrong_type.Get(0, out));
    SafeArrayDestroy(longs);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    SAFEARRAY* square = SafeArrayCreate(VT_VARIANT, 2, bounds);
    KV_CHECK(!kv::host::IsVariantVector(square));
    SafeArrayDestroy(square);
    KV_CHECK(kv::host::IsVariantVector(*params.get()));
}

void DaxError() {
    struct Case {
        std::string message;
        std::string shown;
    };
    const Case cases[] = {
        {"Out of memory", "Out of memory."},
        {"Done.", "Done."},
        {"Why?", "Why?."},        // '?' comes after '.'
        {"Stop!", "Stop!"},       // '!' comes before '.'
        {"Count 1", "Count 1."},  // digits come after '.'
        {"a,", "a,"},             // ',' and '-' come before '.'
        {"a-", "a-"},
        {"", ""},
        {kv::Cp1251FromUtf8("Ошибка"), kv::Cp1251FromUtf8("Ошибка.")},
    };
    for (const Case& c : cases) KV_CHECK_EQ(kv::host::DaxErrorText(c.message), c.shown);
}

// The registry entries: order, texts, and a failing key stopping the rest.
void Registration() {
    wchar_t system_text[64] = {};
    StringFromGUID2(kv::host::CLSID_KelvarinVK, system_text, 64);
    KV_CHECK_EQ(kv::host::ClsidText(kv::host::CLSID_KelvarinVK), std::wstring(system_text));
    const GUID low = {0x0000000A, 0x000B, 0x000C, {0, 1, 2, 3, 0xA, 0xB, 0xC, 0xD}};
    StringFromGUID2(low, system_text, 64);
    KV_CHECK_EQ(kv::host::ClsidText(low), std::wstring(system_text));

    const auto entries = kv::host::ClassEntries(L"C:\\x\\KelvarinVK.dll");
    KV_CHECK_EQ(entries.size(), 5u);
    const std::wstring clsid_key = L"CLSID\\" + kv::host::ClsidText(kv::host::CLSID_KelvarinVK);
    if (entries.size() == 5) {
        KV_CHECK_EQ(entries[0].key, clsid_key);
        KV_CHECK_EQ(entries[1].key, clsid_key + L"\\InprocServer32");
        KV_CHECK_EQ(entries[1].value, std::wstring(L"C:\\x\\KelvarinVK.dll"));
        KV_CHECK_EQ(entries[2].key, std::wstring(L"AddIn.KelvarinVK"));
        KV_CHECK_EQ(entries[3].key, std::wstring(L"AddIn.KelvarinVK\\Clsid"));
        KV_CHECK_EQ(entries[4].key, clsid_key + L"\\ProgID");
    }

    // Into a private place: written in order; a key that cannot be created stops the rest
    // with the registry error, and what came before stays.
    const kv::host::RegistryPlace place{HKEY_CURRENT_USER, L"Software\\KvValueTest\\"};
    const std::wstring too_long(300, L'x');
    const std::vector<kv::host::RegistryEntry> failing = {
        {L"First", L"1"}, {L"Second\\" + too_long, L"2"}, {L"Third", L"3"}};
    std::string message;
    try {
        kv::host::RegisterClassEntries(place, failing);
    } catch (const kv::Error& e) {
        message = e.what();
    }
    KV_CHECK_EQ(message, std::string("Error creating system registry entry"));
    HKEY key = nullptr;
    KV_CHECK_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KvValueTest\\First", 0, KEY_READ, &key),
        ERROR_SUCCESS);
    if (key != nullptr) RegCloseKey(key);
    key = nullptr;
    KV_CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KvValueTest\\Third", 0, KEY_READ, &key) !=
             ERROR_SUCCESS);
    kv::host::UnregisterClassEntries(place, failing);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KvValueTest\\Second");
    KV_CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KvValueTest\\First", 0, KEY_READ, &key) !=
             ERROR_SUCCESS);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KvValueTest");

    // A root that is no key at all fails at the first entry.
    message.clear();
    try {
        kv::host::RegisterClassEntries({reinterpret_cast<HKEY>(0x1234), L""}, failing);
    } catch (const kv::Error& e) {
        message = e.what();
    }
    KV_CHECK_EQ(message, std::string("Error creating system registry entry"));
}

// The system codec: under the Russian locale the ANSI code page is 1251, byte for byte the
// portable one.
void Codec() {
    KV_CHECK_EQ(GetACP(), 1251u);
    const kv::TextCodec& system = kv::backend::Codec();
    const kv::Cp1251Codec portable;
    std::string every_byte;
    for (int c = 1; c < 256; ++c) every_byte.push_back(static_cast<char>(c));
    KV_CHECK(system.ToUtf16(every_byte) == portable.ToUtf16(every_byte));
    KV_CHECK_EQ(system.ToAnsi(system.ToUtf16(every_byte)), every_byte);
    KV_CHECK_EQ(system.ToAnsi(u"Функция"), kv::Cp1251FromUtf8("Функция"));
    KV_CHECK_EQ(system.ToAnsi(u"Ω"), std::string("?"));
    KV_CHECK(system.ToUtf16("").empty());
    KV_CHECK(system.ToAnsi(u"").empty());
    KV_CHECK_EQ(system.ToAnsi(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {
                              {"round_trip", RoundTrip},
                              {"texts", Texts},
                              {"unusual", Unusual},
                              {"parameters", Parameters},
                              {"dax_error", DaxError},
                              {"registration", Registration},
                              {"codec", Codec},
                          });
}
