// The 1C:Enterprise 8 shell through its own interface declarations, with a counting memory
// manager and a recording connection: values in and out, names without regard to case,
// ownership of every string, errors as false answers with AddError. Whether the declarations
// match 1C's layout is for the MSVC-ABI host of the Windows tier to show.
#include "native/native_addin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "addin/methods.h"
#include "common/text.h"
#include "support/fake_platform.h"

extern "C" {
const char16_t* GetClassNames();
int32_t GetClassObject(const char16_t* name, kv::native::IComponentBase** object);
int32_t DestroyObject(kv::native::IComponentBase** object);
int32_t SetPlatformCapabilities(int32_t capabilities);
int32_t GetAttachType();
}

namespace kv::native {
namespace {

// The platform's allocator: every block it handed out must come back, and nothing else.
class CountingMemory final : public IMemoryManager {
  public:
    bool refuses = false;
    std::set<void*> live;
    int allocated = 0, freed = 0, foreign = 0;

    ~CountingMemory() {
        for (void* block : live) std::free(block);
    }
    void* DestructorSlot(unsigned) override { return this; }
    bool AllocMemory(void** block, uint32_t bytes) override {
        if (refuses) return false;
        *block = std::malloc(bytes);
        live.insert(*block);
        ++allocated;
        return true;
    }
    void FreeMemory(void** block) override {
        if (live.erase(*block) == 0) ++foreign;
        std::free(*block);
        *block = nullptr;
        ++freed;
    }
    // What the platform does with a string the add-in returned: reads it, then frees it.
    std::u16string Take(const WideChar* text) {
        if (text == nullptr) return u"(null)";
        std::u16string copy(text);
        void* block = const_cast<WideChar*>(text);
        FreeMemory(&block);
        return copy;
    }
};

class FakeMsgBox final : public IMsgBox {
  public:
    bool answers = true;
    std::vector<std::u16string> alerts;
    bool Confirm(const WideChar*, tVariant*) override { return false; }
    bool Alert(const WideChar* text) override {
        alerts.emplace_back(text);
        return answers;
    }
};

class RecordingConnection final : public IAddInDefBaseEx {
  public:
    struct Error {
        uint16_t code;
        std::u16string source, description;
        int32_t scode;
    };
    std::vector<Error> errors;
    FakeMsgBox* box = nullptr;

    void* DestructorSlot(unsigned) override { return this; }
    bool AddError(uint16_t code, const WideChar* source, const WideChar* description,
                  int32_t scode) override {
        errors.push_back({code, source, description, scode});
        return true;
    }
    bool Read(WideChar*, tVariant*, int32_t*, WideChar**) override { return false; }
    bool Write(WideChar*, tVariant*) override { return false; }
    bool RegisterProfileAs(WideChar*) override { return false; }
    bool SetEventBufferDepth(int32_t) override { return false; }
    int32_t GetEventBufferDepth() override { return 0; }
    bool ExternalEvent(WideChar*, WideChar*, WideChar*) override { return false; }
    void CleanEventBuffer() override {}
    bool SetStatusLine(WideChar*) override { return false; }
    void ResetStatusLine() override {}
    // As 1C's compiler gives it: the address of the empty base behind the vtable pointer.
    void* GetInterface(int32_t which) override {
        if (which != eIMsgBox || box == nullptr) return nullptr;
        return reinterpret_cast<char*>(static_cast<IMsgBox*>(box)) + sizeof(void*);
    }
    std::string LastText() const {
        return errors.empty() ? "" : Utf16ToUtf8(errors.back().description);
    }
};

// A PWSTR over `text`, which must outlive it; not terminated, as the length says where it ends.
tVariant Wide(std::u16string_view text) {
    tVariant v{};
    v.vt = VTYPE_PWSTR;
    v.wstr.data = const_cast<WideChar*>(text.data());
    v.wstr.length = static_cast<uint32_t>(text.size());
    return v;
}

tVariant Null() {
    tVariant v{};
    v.vt = VTYPE_NULL;
    return v;
}

tVariant Tm(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    tVariant v{};
    v.vt = VTYPE_TM;
    v.tmVal.tm_year = year - 1900;
    v.tmVal.tm_mon = month - 1;
    v.tmVal.tm_mday = day;
    v.tmVal.tm_hour = hour;
    v.tmVal.tm_min = minute;
    v.tmVal.tm_sec = second;
    return v;
}

class NativeAddInTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AcceptCapabilities(eAppCapabilitiesInvalid);
        addin.Init(&connection);
        addin.setMemManager(&memory);
    }
    void TearDown() override {
        EXPECT_EQ(memory.allocated, memory.freed) << "a string the platform never got back";
        EXPECT_EQ(memory.foreign, 0) << "memory that did not come from the platform";
    }

    int32_t Find(const char* utf8, bool method) {
        const std::u16string name = Utf8ToUtf16(utf8);
        return method ? addin.FindMethod(name.c_str()) : addin.FindProp(name.c_str());
    }
    // A property read as the platform does it; strings are taken back into its memory.
    tVariant Read(int32_t number, bool& ok) {
        tVariant v{};
        ok = addin.GetPropVal(number, &v);
        return v;
    }
    std::u16string ReadText(int32_t number) {
        bool ok = false;
        const tVariant v = Read(number, ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(v.vt, VTYPE_PWSTR);
        if (v.vt != VTYPE_PWSTR) return u"";
        EXPECT_EQ(v.wstr.data[v.wstr.length], 0) << "not terminated";
        const std::u16string text(v.wstr.data, v.wstr.length);
        memory.Take(v.wstr.data);
        return text;
    }
    bool Call(const char* utf8, std::vector<tVariant> params, tVariant& result) {
        return addin.CallAsFunc(Find(utf8, true), &result, params.data(),
                                static_cast<int32_t>(params.size()));
    }

    test::FakePlatform fake;
    CountingMemory memory;
    RecordingConnection connection;
    NativeAddIn addin{fake.platform, AddinMethods()};
};

TEST_F(NativeAddInTest, NamesAreFoundWithoutRegardToCase) {
    struct Case {
        const char* name;
        bool method;
        int32_t number;
    };
    const Case cases[] = {
        {"Таймаут", false, 8},
        {"таймаут", false, 8},
        {"ТАЙМАУТ", false, 8},
        {"timeout", false, 8},
        {"имяокна1с", false, 9},
        {"ИМЯФАЙЛАСЗАЯВКОЙ", false, 20},
        {"Timeout ", false, -1},  // nothing is trimmed
        {"FindPosition", false, -1},
        {"findpacket", true, 19},
        {"подобратьавтозаказизфайла", true, 20},
        {"НАЙТИПОЗИЦИЮ", true, 7},
        {"Tаймаут", false, -1},  // a Latin T is no Cyrillic Т
        {"", true, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(Find(c.name, c.method), c.number) << c.name;
    EXPECT_EQ(addin.FindProp(nullptr), -1);
    EXPECT_EQ(addin.GetNProps(), 21);
    EXPECT_EQ(addin.GetNMethods(), 21);
}

TEST_F(NativeAddInTest, MemberNamesComeFromThePlatformsMemory) {
    struct Case {
        bool method;
        int32_t number, alias;
        const char* name;  // null: none
    };
    const Case cases[] = {
        {false, 8, 0, "Timeout"},
        {false, 8, 1, "Таймаут"},
        {true, 20, 0, "FindAutoZakazFromFile"},
        {true, 20, 1, "ПодобратьАвтозаказИзФайла"},
        {false, 8, 2, nullptr},
        {true, 21, 0, nullptr},
        {false, -1, 1, nullptr},
    };
    for (const Case& c : cases) {
        const WideChar* name = c.method ? addin.GetMethodName(c.number, c.alias)
                                        : addin.GetPropName(c.number, c.alias);
        EXPECT_EQ(Utf16ToUtf8(memory.Take(name)), c.name ? c.name : "(null)")
            << c.number << "/" << c.alias;
    }
    WideChar* extension = nullptr;
    ASSERT_TRUE(addin.RegisterExtensionAs(&extension));
    EXPECT_EQ(memory.Take(extension), u"KelvarinVK");
}

TEST_F(NativeAddInTest, ValuesInConvertAsThe77AddInConvertsThem) {
    const std::u16string_view cyrillic = u"Аспирин, 12!";
    const std::u16string_view cut = cyrillic.substr(0, 11);
    struct Case {
        const char* what;
        int32_t property;
        tVariant written;
        bool ok;
        tVariant read;  // vt and number compared; texts by ReadText
        const char16_t* text = nullptr;
    };
    tVariant i4{}, r8{}, yes{}, empty{}, date{}, blob{}, byref{};
    i4.vt = VTYPE_I4, i4.lVal = 1500;
    r8.vt = VTYPE_R8, r8.dblVal = 2.5;
    yes.vt = VTYPE_BOOL, yes.bVal = true;
    date.vt = VTYPE_DATE, date.date = 46568.5;
    blob.vt = VTYPE_BLOB;
    byref.vt = VTYPE_I4 | 0x4000;
    tVariant i4_1500{}, i4_2{}, i4_m1{}, r8_date{};
    i4_1500.vt = i4_2.vt = i4_m1.vt = VTYPE_I4;
    i4_1500.lVal = 1500, i4_2.lVal = 2, i4_m1.lVal = -1;
    r8_date.vt = VTYPE_R8, r8_date.dblVal = 46568.5;
    const Case cases[] = {
        {"I4", 8, i4, true, i4_1500},
        {"R8 half to even", 8, r8, true, i4_2},
        {"BOOL", 8, yes, true, i4_m1},
        {"PWSTR number", 8, Wide(u"1500"), true, i4_1500},
        {"DATE", 4, date, true, r8_date},
        {"TM", 4, Tm(2027, 6, 30, 12), true, r8_date},
        {"PWSTR text", 0, Wide(cut), true, {}, u"Аспирин, 12"},
        {"EMPTY", 0, empty, true, {}, u""},
        {"PWSTR not a number", 8, Wide(u"abc"), false, i4_1500},
        {"BLOB", 8, blob, false, i4_1500},
        {"by reference", 8, byref, false, i4_1500},
        {"TM of 31 June", 4, Tm(2027, 6, 31), false, r8_date},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tVariant written = c.written;
        EXPECT_EQ(addin.SetPropVal(c.property, &written), c.ok);
        if (c.text != nullptr) {
            EXPECT_EQ(ReadText(c.property), c.text);
            continue;
        }
        bool ok = false;
        const tVariant read = Read(c.property, ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(read.vt, c.read.vt);
        if (read.vt == VTYPE_I4) {
            EXPECT_EQ(read.lVal, c.read.lVal);
        } else {
            EXPECT_EQ(read.dblVal, c.read.dblVal);
        }
    }
}

TEST_F(NativeAddInTest, DatesGoOutAsTmToTheSecondFromTheYear1) {
    struct Case {
        tVariant written;
        int year, month, day, hour, minute, second, wday, yday;
    };
    tVariant zero{}, fraction{};
    zero.vt = VTYPE_DATE;
    fraction.vt = VTYPE_DATE, fraction.date = 46568.75 + 0.4 / 86400;  // 18:00:00.4
    const Case cases[] = {
        {zero, 1899, 12, 30, 0, 0, 0, 6, 363},
        {Tm(2027, 6, 30, 12, 34, 56), 2027, 6, 30, 12, 34, 56, 3, 180},
        {fraction, 2027, 6, 30, 18, 0, 0, 3, 180},
        {Tm(1, 1, 1), 1, 1, 1, 0, 0, 0, 1, 0},  // 1C's empty date
        {Tm(2024, 12, 31, 23, 59, 59), 2024, 12, 31, 23, 59, 59, 2, 365},
    };
    for (const Case& c : cases) {
        tVariant written = c.written;
        ASSERT_TRUE(addin.SetPropVal(5, &written));  // UseByDate
        bool ok = false;
        const tVariant read = Read(5, ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(read.vt, VTYPE_TM);
        const TmValue& tm = read.tmVal;
        EXPECT_EQ(tm.tm_year + 1900, c.year);
        EXPECT_EQ(tm.tm_mon + 1, c.month);
        EXPECT_EQ(tm.tm_mday, c.day);
        EXPECT_EQ(tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec,
                  c.hour * 3600 + c.minute * 60 + c.second)
            << c.year << "-" << c.month << "-" << c.day;
        EXPECT_EQ(tm.tm_wday, c.wday);
        EXPECT_EQ(tm.tm_yday, c.yday);
    }
}

TEST_F(NativeAddInTest, ErrorsAnswerFalseThroughAddErrorAndResultsStayResults) {
    struct Case {
        const char* call;
        std::vector<tVariant> params;
        bool ok;
        int32_t result;     // I4
        const char* error;  // the text AddError receives; null: none
    };
    tVariant empty{};
    const std::u16string_view abc = u"abc";
    const Case cases[] = {
        {"ДобавитьПозициюВПакет",
         {Null()},
         false,
         0,
         "Параметр номер 1 не может быть преобразован в строку."},
        {"СоздатьЗаявку",
         {empty, Null()},
         false,
         0,
         "Параметр номер 2 не может быть преобразован в строку."},
        // No desktop application on this system: the block cannot be opened.
        {"FindPosition", {}, true, -1, nullptr},
        {"ПолучитьПоставщиков", {}, true, 0, nullptr},
        {"ДобавитьПозициюВПакет", {Wide(abc), empty}, true, 1, nullptr},
        {"ОчиститьПакет", {}, true, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        const size_t errors_before = connection.errors.size();
        tVariant result{};
        result.vt = VTYPE_R8;
        EXPECT_EQ(Call(c.call, c.params, result), c.ok);
        EXPECT_EQ(result.vt, VTYPE_I4);
        EXPECT_EQ(result.lVal, c.result);
        ASSERT_EQ(connection.errors.size(), errors_before + (c.error ? 1 : 0));
        if (c.error == nullptr) continue;
        const RecordingConnection::Error& e = connection.errors.back();
        EXPECT_EQ(Utf16ToUtf8(e.description), c.error);
        EXPECT_EQ(e.code, 1006);
        EXPECT_EQ(e.source, u"KelvarinVK");
        EXPECT_EQ(e.scode, static_cast<int32_t>(0x80004005u));
    }

    tVariant written = Wide(abc);
    EXPECT_FALSE(addin.SetPropVal(7, &written));  // Amount
    EXPECT_EQ(connection.LastText(),
              "Ошибка изменения свойства: Could not convert variant of type (OleStr) into type "
              "(Integer)");
    // A member that does not exist is no error of the script's text, only a false answer.
    tVariant result{};
    const size_t errors_before = connection.errors.size();
    EXPECT_FALSE(addin.CallAsFunc(21, &result, nullptr, 0));
    EXPECT_FALSE(addin.GetPropVal(21, &result));
    EXPECT_EQ(connection.errors.size(), errors_before);
}

TEST_F(NativeAddInTest, ProceduresRunEveryMethodAndOmittedParametersArriveEmpty) {
    const int32_t add = Find("AddPositionInPacket", true);
    tVariant param = Wide(u"Анальгин");
    EXPECT_TRUE(addin.CallAsProc(add, &param, 1));
    EXPECT_TRUE(addin.CallAsProc(add, &param, 1));
    tVariant result{};
    ASSERT_TRUE(Call("ДобавитьПозициюВПакет", {param}, result));
    EXPECT_EQ(result.lVal, 3) << "the procedures added nothing";

    tVariant null = Null();
    EXPECT_FALSE(addin.CallAsProc(add, &null, 1));
    EXPECT_EQ(connection.LastText(), "Параметр номер 1 не может быть преобразован в строку.");

    for (int32_t method = 0; method < 21; ++method) {
        EXPECT_TRUE(addin.HasRetVal(method));
        for (int32_t p = 0; p < addin.GetNParams(method); ++p) {
            tVariant def{};
            def.vt = VTYPE_I4;
            EXPECT_TRUE(addin.GetParamDefValue(method, p, &def));
            EXPECT_EQ(def.vt, VTYPE_EMPTY);
        }
        tVariant def{};
        EXPECT_FALSE(addin.GetParamDefValue(method, addin.GetNParams(method), &def));
    }
    tVariant def{};
    EXPECT_FALSE(addin.GetParamDefValue(21, 0, &def));
    EXPECT_EQ(addin.GetNParams(18), 10);
}

TEST_F(NativeAddInTest, WithoutTheMemoryManagerOnlyTextsFail) {
    NativeAddIn bare{fake.platform, AddinMethods()};
    bare.Init(&connection);
    tVariant v{};
    EXPECT_TRUE(bare.GetPropVal(8, &v));  // Timeout: no memory needed
    EXPECT_EQ(v.vt, VTYPE_I4);
    EXPECT_FALSE(bare.GetPropVal(11, &v));  // BaseName
    EXPECT_EQ(connection.LastText(),
              "Ошибка чтения свойства: Компонента не может вернуть строку: платформа не "
              "передала ей менеджер памяти (setMemManager)");
    WideChar* name = nullptr;
    EXPECT_FALSE(bare.RegisterExtensionAs(&name));
    EXPECT_EQ(bare.GetPropName(8, 0), nullptr);
    EXPECT_EQ(bare.FindProp(u"Timeout"), 8);

    memory.refuses = true;
    EXPECT_FALSE(addin.GetPropVal(11, &v));
    EXPECT_EQ(connection.LastText(),
              "Ошибка чтения свойства: Платформа не выделила память для строки (байт: 50)");
    // Without a connection the answer is still false; nobody hears why.
    NativeAddIn alone{fake.platform, AddinMethods()};
    alone.setMemManager(&memory);
    const size_t errors_before = connection.errors.size();
    EXPECT_FALSE(alone.GetPropVal(11, &v));
    EXPECT_EQ(connection.errors.size(), errors_before);
}

TEST_F(NativeAddInTest, NoticesUseThePlatformsMessageBoxWhenItOffersOne) {
    FakeMsgBox box;
    struct Case {
        int32_t capabilities;
        bool offered, answers;
        size_t alerts, system_notices;
    };
    const Case cases[] = {
        {eAppCapabilities1, true, true, 1, 0},       {3, true, true, 1, 0},
        {eAppCapabilities1, false, true, 0, 1},       // GetInterface answers null
        {eAppCapabilitiesInvalid, true, true, 0, 1},  // no capabilities: no GetInterface slot
        {eAppCapabilities1, true, false, 1, 1},       // Alert failed
    };
    for (const Case& c : cases) {
        box.alerts.clear();
        box.answers = c.answers;
        fake.notices.shown.clear();
        connection.box = c.offered ? &box : nullptr;
        EXPECT_EQ(SetPlatformCapabilities(c.capabilities),
                  c.capabilities >= 1 ? eAppCapabilities1 : eAppCapabilitiesInvalid);
        tVariant result{};
        EXPECT_TRUE(Call("LoadPrices", {}, result));
        EXPECT_EQ(result.lVal, 0);
        ASSERT_EQ(box.alerts.size(), c.alerts) << c.capabilities;
        if (c.alerts > 0) {
            EXPECT_EQ(box.alerts[0], u"Функция временно недоступна");
        }
        EXPECT_EQ(fake.notices.shown.size(), c.system_notices) << c.capabilities;
    }
}

TEST(NativeExports, OneClassMadeAndDestroyedByName) {
    EXPECT_EQ(std::u16string(GetClassNames()), u"KelvarinVK");
    EXPECT_EQ(GetAttachType(), eCanAttachNotIsolated);
    IComponentBase* object = nullptr;
    EXPECT_EQ(GetClassObject(u"Other", &object), 0);
    EXPECT_EQ(object, nullptr);
    ASSERT_NE(GetClassObject(u"KelvarinVK", &object), 0);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetInfo(), 2000);
    EXPECT_EQ(DestroyObject(&object), 0);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DestroyObject(&object), -1);
}

}  // namespace
}  // namespace kv::native
