// What only the Native API has, driven through the MSVC-ABI host kvnative.dll as 1C:Enterprise 8
// drives the add-in: the library's exports, the orders in which a platform may start an object,
// the memory manager's books, the tVariant types that travel, errors as AddError with a false
// answer, and the platform's message box. The DLL is the one KV_NATIVE_ADDIN names.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "check.h"
#include "shell.h"

using namespace kvtest;
using kvhost::NativeAddIn;

namespace {

std::wstring Path() { return Utf16(NativeAddInPath()); }

const uint16_t* Units(const std::wstring& text) {
    return reinterpret_cast<const uint16_t*>(text.c_str());
}

std::wstring TextOf(const kvn_value& value) {
    if (value.vt != KVN_PWSTR || value.data == nullptr) return L"(not a text)";
    return std::wstring(static_cast<const wchar_t*>(value.data), value.length);
}

kvn_value TextValue(const std::wstring& text) {
    kvn_value value{};
    value.vt = KVN_PWSTR;
    value.data = const_cast<wchar_t*>(text.data());
    value.length = static_cast<uint32_t>(text.size());
    return value;
}

kvn_value IntValue(int32_t number) {
    kvn_value value{};
    value.vt = KVN_I4;
    value.integer = number;
    return value;
}

// struct tm of a calendar moment.
kvn_value TmValue(int year, int month, int day, int hour, int minute, int second) {
    kvn_value value{};
    value.vt = KVN_TM;
    const int32_t tm[9] = {second, minute, hour, day, month - 1, year - 1900, 0, 0, 0};
    for (int i = 0; i < 9; ++i) value.tm[i] = tm[i];
    return value;
}

enum class Started { Now, Later };

// The add-in with the platform's side as `configure` leaves it, started as kvhost starts it or
// left for the caller to start.
std::unique_ptr<NativeAddIn> Load(Started start,
                                  void (*configure)(NativeAddIn::Options&) = nullptr) {
    NativeAddIn::Options options = NativeAddIn::DefaultOptions();
    std::wstring why;
    const kvhost::NativeProxy* proxy = kvhost::LoadNativeProxy(why);
    if (proxy == nullptr) {
        Fail(__FILE__, __LINE__, Utf8(why));
        return nullptr;
    }
    proxy->kvn_default_options(&options.platform);
    if (configure != nullptr) configure(options);
    auto addin = std::make_unique<NativeAddIn>(Path(), options);
    if (!addin->created()) {
        Fail(__FILE__, __LINE__, Utf8(addin->problem()));
        return nullptr;
    }
    std::vector<std::wstring> steps;
    if (start == Started::Now && !addin->Start(steps)) {
        Fail(__FILE__, __LINE__, "the object did not start");
        return nullptr;
    }
    return addin;
}

// Finishes the object and requires every block the manager gave to be back, and nothing
// foreign handed over.
void CheckFinished(NativeAddIn& addin) {
    std::wstring said;
    if (!addin.Finish(said)) Fail(__FILE__, __LINE__, Utf8(said));
}

// The five exports, the one class, the attach type, and objects that share nothing.
void Library() {
    std::unique_ptr<NativeAddIn> first = Load(Started::Later);
    if (!first) return;
    const kvhost::NativeProxy& proxy = first->proxy();
    KV_CHECK_EQ(first->class_names(), std::wstring(L"KelvarinVK"));
    // In the platform's process only: the dialog is modal over the client's window and the
    // requests block the client's thread.
    KV_CHECK_EQ(first->attach_type(), 1);
    KV_CHECK(first->capabilities() >= 1);
    uint32_t error = 0;
    kvn_library* library = proxy.kvn_load(Units(Path()), &error);
    KV_CHECK(library != nullptr);
    if (library == nullptr) return;
    KV_CHECK_EQ(proxy.kvn_exports(library), 31);
    KV_CHECK(proxy.kvn_create(library, Units(L"Other"), nullptr) == nullptr);
    KV_CHECK(proxy.kvn_create(library, Units(L"kelvarinvk"), nullptr) == nullptr);

    // Two objects of one library keep their own values.
    kvn_object* second = proxy.kvn_create(library, Units(L"KelvarinVK"), nullptr);
    KV_CHECK(second != nullptr);
    if (second == nullptr) return;
    KV_CHECK_EQ(proxy.kvn_set_memory_manager(second, 1), 1);
    KV_CHECK_EQ(proxy.kvn_init(second, 1), 1);
    std::vector<std::wstring> steps;
    KV_CHECK(first->Start(steps));
    const kvn_value five = IntValue(5);
    KV_CHECK_EQ(proxy.kvn_set_prop_val(second, 8, &five), 1);
    kv::Variant timeout;
    first->ReadProperty(8, timeout);
    KV_CHECK(timeout == kv::Variant::Int32(0));
    proxy.kvn_done(second);
    kvn_memory memory{};
    KV_CHECK_EQ(proxy.kvn_destroy(second, &memory), 0);
    KV_CHECK_EQ(memory.outstanding, 0u);
    proxy.kvn_unload(library);
    CheckFinished(*first);
}

// The orders a platform may start an object in: the memory manager before Init, after it, or
// never; Init with the connection, without one, or not at all. Without a manager no text can
// leave the add-in, and the calls that would return one answer false; everything else works,
// and an error reaches AddError only through a connection.
void CallOrder() {
    enum class Init { Connection, Null, Never };
    struct Case {
        const char* name;
        kvhost::MemoryManagerOrder manager;
        Init init;
    };
    const Case cases[] = {
        {"manager, Init", kvhost::MemoryManagerOrder::BeforeInit, Init::Connection},
        {"Init, manager", kvhost::MemoryManagerOrder::AfterInit, Init::Connection},
        {"Init only", kvhost::MemoryManagerOrder::Never, Init::Connection},
        {"manager, Init(null)", kvhost::MemoryManagerOrder::BeforeInit, Init::Null},
        {"manager, no Init", kvhost::MemoryManagerOrder::BeforeInit, Init::Never},
        {"neither", kvhost::MemoryManagerOrder::Never, Init::Never},
    };
    for (const Case& c : cases) {
        std::unique_ptr<NativeAddIn> addin = Load(Started::Later);
        if (!addin) return;
        const kvhost::NativeProxy& proxy = addin->proxy();
        kvn_object* object = addin->object();
        const bool manager = c.manager != kvhost::MemoryManagerOrder::Never;
        auto give_manager = [&] { KV_CHECK_EQ(proxy.kvn_set_memory_manager(object, 1), 1); };
        if (c.manager == kvhost::MemoryManagerOrder::BeforeInit) give_manager();
        if (c.init != Init::Never) {
            KV_CHECK_EQ(proxy.kvn_init(object, c.init == Init::Connection ? 1 : 0), 1);
        }
        if (c.manager == kvhost::MemoryManagerOrder::AfterInit) give_manager();
        KV_CHECK_EQ(proxy.kvn_get_info(object), 2000);

        kvn_value name{};
        const int32_t registered = proxy.kvn_register_extension_as(object, &name);
        KV_CHECK_EQ(registered, manager ? 1 : 0);
        if (manager) KV_CHECK_EQ(TextOf(name), std::wstring(L"KelvarinVK"));
        proxy.kvn_value_clear(&name);
        kvn_value base{};
        KV_CHECK_EQ(proxy.kvn_get_prop_val(object, 11, &base), manager ? 1 : 0);
        if (manager) KV_CHECK_EQ(TextOf(base), std::wstring(L"C:\\Kelvarin\\kelvarin.fdb"));
        proxy.kvn_value_clear(&base);
        kvn_value timeout{};
        KV_CHECK_EQ(proxy.kvn_get_prop_val(object, 8, &timeout), 1);
        KV_CHECK_EQ(timeout.vt, KVN_I4);
        const kvn_value abc = TextValue(L"abc");
        KV_CHECK_EQ(proxy.kvn_set_prop_val(object, 7, &abc), 0);

        const size_t errors = addin->TakeErrors().size();
        // The refused write, and each text the missing manager kept in.
        const size_t expected = c.init == Init::Connection ? (manager ? 1 : 3) : 0;
        if (errors != expected) {
            Fail(__FILE__, __LINE__,
                 std::string(c.name) + ": " + Show(errors) + " errors, expected " + Show(expected));
        }
        if (c.init != Init::Never) proxy.kvn_done(object);
        kvn_memory memory = addin->Memory();
        KV_CHECK_EQ(memory.outstanding, 0u);
        KV_CHECK_EQ(memory.foreign_frees + memory.foreign_results, 0u);
    }
}

// Every text that leaves the add-in comes from the manager and goes back to it: names of both
// languages, property values. A refused allocation is an error, not a crash.
void Memory() {
    std::unique_ptr<NativeAddIn> addin = Load(Started::Now);
    if (!addin) return;
    const kvhost::NativeProxy& proxy = addin->proxy();
    kvn_object* object = addin->object();
    // Alias 0 is the English name, 1 the Russian one; nothing for another alias or number.
    struct Name {
        bool method;
        int32_t number;
        int32_t alias;
        const wchar_t* name;
    };
    const Name names[] = {
        {false, 8, 0, L"Timeout"},
        {false, 8, 1, L"Таймаут"},
        {false, 20, 1, L"ИмяФайлаСЗаявкой"},
        {true, 19, 0, L"FindPacket"},
        {true, 20, 1, L"ПодобратьАвтозаказИзФайла"},
        {false, 8, 2, nullptr},
        {false, 21, 0, nullptr},
        {true, 21, 1, nullptr},
    };
    for (const Name& n : names) {
        kvn_value name{};
        if (n.method) {
            proxy.kvn_get_method_name(object, n.number, n.alias, &name);
        } else {
            proxy.kvn_get_prop_name(object, n.number, n.alias, &name);
        }
        if (n.name == nullptr) {
            KV_CHECK_EQ(name.vt, KVN_EMPTY);
        } else {
            KV_CHECK_EQ(TextOf(name), std::wstring(n.name));
        }
        proxy.kvn_value_clear(&name);
    }
    for (int32_t property = 0; property < 21; ++property) {
        kv::Variant value;
        KV_CHECK(addin->ReadProperty(property, value).accepted);
    }
    const kvn_memory counts = addin->Memory();
    KV_CHECK_EQ(counts.given, 21u);  // 5 names and the 16 text properties: one block each
    KV_CHECK_EQ(counts.given, counts.freed_by_host + counts.freed_by_addin);
    CheckFinished(*addin);

    // The manager gives one block, then refuses: the second text cannot be returned.
    std::unique_ptr<NativeAddIn> starved =
        Load(Started::Now, [](NativeAddIn::Options& o) { o.platform.allocations_left = 1; });
    if (!starved) return;
    kvn_value first{}, second{};
    KV_CHECK_EQ(starved->proxy().kvn_get_prop_val(starved->object(), 0, &first), 1);
    KV_CHECK_EQ(starved->proxy().kvn_get_prop_val(starved->object(), 11, &second), 0);
    starved->proxy().kvn_value_clear(&first);
    starved->proxy().kvn_value_clear(&second);
    const std::vector<kvhost::HostError> errors = starved->TakeErrors();
    KV_CHECK_EQ(errors.size(), size_t{1});
    KV_CHECK_EQ(starved->Memory().refused, 1u);
    CheckFinished(*starved);
}

// The tVariant types that travel: texts as PWSTR, dates as struct tm both ways (a DATE is
// taken too), numbers as I4 and R8; a struct tm that names no date is refused.
void Values() {
    std::unique_ptr<NativeAddIn> addin = Load(Started::Now);
    if (!addin) return;
    const kvhost::NativeProxy& proxy = addin->proxy();
    kvn_object* object = addin->object();
    const int32_t kTradeName = 0, kPprice = 4, kUseByDate = 5, kTimeout = 8, kNameWindow = 9;
    auto read = [&](int32_t property) {
        kvn_value value{};
        KV_CHECK_EQ(proxy.kvn_get_prop_val(object, property, &value), 1);
        return value;
    };
    auto write = [&](int32_t property, const kvn_value& value) {
        return proxy.kvn_set_prop_val(object, property, &value);
    };

    KV_CHECK_EQ(write(kTradeName, TextValue(L"Аспирин")), 1);
    kvn_value text = read(kTradeName);
    KV_CHECK_EQ(text.vt, KVN_PWSTR);
    KV_CHECK_EQ(text.length, 7u);  // units, no terminator
    proxy.kvn_value_clear(&text);
    kvn_value window = read(kNameWindow);
    KV_CHECK_EQ(window.vt, KVN_PWSTR);
    KV_CHECK_EQ(window.length, 0u);
    proxy.kvn_value_clear(&window);
    KV_CHECK_EQ(read(kPprice).vt, KVN_R8);
    KV_CHECK_EQ(read(kTimeout).vt, KVN_I4);

    struct Date {
        const char* what;
        kvn_value written;
        int32_t tm[6];  // sec, min, hour, mday, mon, year as struct tm has them
    };
    kvn_value ole{};
    ole.vt = KVN_DATE;
    ole.real = 45443.5;  // 2024-05-31 12:00
    const Date dates[] = {
        {"TM", TmValue(2024, 5, 31, 13, 45, 10), {10, 45, 13, 31, 4, 124}},
        {"DATE", ole, {0, 0, 12, 31, 4, 124}},
        // 1C:Enterprise 8 keeps an empty date as the first moment of the year 1.
        {"empty date", TmValue(1, 1, 1, 0, 0, 0), {0, 0, 0, 1, 0, -1899}},
    };
    for (const Date& d : dates) {
        KV_CHECK_EQ(write(kUseByDate, d.written), 1);
        const kvn_value back = read(kUseByDate);
        KV_CHECK_EQ(back.vt, KVN_TM);
        for (int i = 0; i < 6; ++i) {
            if (back.tm[i] != d.tm[i]) {
                Fail(__FILE__, __LINE__,
                     std::string(d.what) + ": field " + Show(i) + " is " + Show(back.tm[i]));
            }
        }
    }
    KV_CHECK(addin->TakeErrors().empty());
    // The 13th month.
    KV_CHECK_EQ(write(kUseByDate, TmValue(2024, 13, 1, 0, 0, 0)), 0);
    KV_CHECK_EQ(addin->TakeErrors().size(), size_t{1});
    kvn_value boolean{};
    boolean.vt = KVN_BOOL;
    boolean.integer = 1;
    KV_CHECK_EQ(write(kTimeout, boolean), 1);
    KV_CHECK_EQ(read(kTimeout).integer, -1);
    CheckFinished(*addin);
}

// Errors go to AddError (code 1006, source KelvarinVK, a non-zero scode that makes 1C raise
// them) and the call answers false; the link's outcomes stay results; CallAsProc runs every
// method; defaults exist for the parameters a method has, and for nothing else.
void Calls() {
    std::unique_ptr<NativeAddIn> addin = Load(Started::Now);
    if (!addin) return;
    const kvhost::NativeProxy& proxy = addin->proxy();
    kvn_object* object = addin->object();
    const int32_t kFindPosition = 7, kClearPacket = 17, kAddPositionInPacket = 18;

    std::vector<kvn_value> position(10, TextValue(L""));
    KV_CHECK_EQ(proxy.kvn_call_as_proc(object, kAddPositionInPacket, position.data(), 10), 1);
    kvn_value result{};
    KV_CHECK_EQ(proxy.kvn_call_as_func(object, kAddPositionInPacket, &result, position.data(), 10),
                1);
    KV_CHECK_EQ(result.integer, 2);  // the procedure call added the first
    KV_CHECK_EQ(proxy.kvn_call_as_proc(object, kClearPacket, nullptr, 0), 1);
    KV_CHECK_EQ(proxy.kvn_call_as_proc(object, 21, nullptr, 0), 0);
    KV_CHECK(addin->TakeErrors().empty());

    position[0].vt = KVN_NULL;
    KV_CHECK_EQ(proxy.kvn_call_as_proc(object, kAddPositionInPacket, position.data(), 10), 0);
    std::vector<kvhost::HostError> errors = addin->TakeErrors();
    KV_CHECK_EQ(errors.size(), size_t{1});
    if (!errors.empty()) {
        KV_CHECK_EQ(errors[0].code, 1006);
        KV_CHECK_EQ(errors[0].source, std::wstring(L"KelvarinVK"));
        KV_CHECK_EQ(errors[0].description,
                    std::wstring(L"Параметр номер 1 не может быть преобразован в строку."));
        KV_CHECK(errors[0].scode != 0);
    }

    // No desktop application: 0 and PriceID -1 are the answer, not an error.
    std::vector<kvn_value> find = {IntValue(5), IntValue(0), TextValue(L"1")};
    KV_CHECK_EQ(proxy.kvn_call_as_func(object, kFindPosition, &result, find.data(), 3), 1);
    KV_CHECK_EQ(result.vt, KVN_I4);
    KV_CHECK_EQ(result.integer, 0);
    KV_CHECK(addin->TakeErrors().empty());

    for (int32_t method = 0; method < 21; ++method) {
        KV_CHECK_EQ(proxy.kvn_has_ret_val(object, method), 1);
        const int32_t params = proxy.kvn_get_n_params(object, method);
        for (int32_t param = 0; param <= params; ++param) {
            kvn_value value{};
            value.vt = KVN_I4;
            const int32_t has = proxy.kvn_get_param_def_value(object, method, param, &value);
            KV_CHECK_EQ(has, param < params ? 1 : 0);
            if (has) KV_CHECK_EQ(value.vt, KVN_EMPTY);
        }
    }
    KV_CHECK_EQ(proxy.kvn_get_n_params(object, 21), 0);
    for (int32_t property : {0, 9, 20}) {
        KV_CHECK_EQ(proxy.kvn_is_prop_readable(object, property), 1);
        KV_CHECK_EQ(proxy.kvn_is_prop_writable(object, property), 1);
    }
    KV_CHECK_EQ(proxy.kvn_is_prop_readable(object, 21), 0);
    CheckFinished(*addin);
}

// The notices of LoadPrices and LoadOtkazes go to the platform's message box when it offers
// one: no window of the add-in's own, the call returns when the box has been shown.
void PlatformMessageBox() {
    struct Seen {
        int alerts = 0;
        std::wstring text;
    };
    static Seen seen;
    std::unique_ptr<NativeAddIn> addin = Load(Started::Now, [](NativeAddIn::Options& o) {
        o.notices = [](bool confirm, const std::wstring& text) {
            if (!confirm) ++seen.alerts;
            seen.text = text;
        };
    });
    if (!addin) return;
    for (long method : {0L, 1L}) {
        kv::Variant result;
        KV_CHECK(addin->Call(method, {}, result).accepted);
        KV_CHECK(result == kv::Variant::Int32(0));
    }
    KV_CHECK_EQ(seen.alerts, 2);
    KV_CHECK_EQ(seen.text, std::wstring(L"Функция временно недоступна"));
    kvn_calls calls{};
    addin->proxy().kvn_call_counts(addin->object(), &calls);
    KV_CHECK(calls.get_interface[0] >= 1u);
    KV_CHECK_EQ(calls.confirms + calls.profile + calls.events + calls.status_line, 0u);
    KV_CHECK(addin->TakeErrors().empty());
    CheckFinished(*addin);
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {{"library", Library},
                           {"call_order", CallOrder},
                           {"memory", Memory},
                           {"values", Values},
                           {"calls", Calls},
                           {"message_box", PlatformMessageBox}});
}
