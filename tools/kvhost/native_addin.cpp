#include "tools/kvhost/native_addin.h"

#include <windows.h>

#include <cmath>

#include "common/datetime.h"
#include "tools/kvhost/console.h"

namespace kvhost {
namespace {

const uint16_t* Units(const std::wstring& text) {
    return reinterpret_cast<const uint16_t*>(text.c_str());
}

std::wstring Text(const uint16_t* units) {
    return units == nullptr ? std::wstring()
                            : std::wstring(reinterpret_cast<const wchar_t*>(units));
}

Answer AnswerOf(int32_t answer) {
    if (answer < 0) return {false, true, L"no memory for the parameters"};
    return {answer != 0, false, answer != 0 ? L"true" : L"false"};
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// The day count of a struct tm; nullopt-like false when it names no calendar date.
bool DayCount(const int32_t tm[9], double& date) {
    kv::LocalDateTime when;
    when.year = tm[5] + 1900;
    when.month = tm[4] + 1;
    when.day = tm[3];
    when.hour = tm[2];
    when.minute = tm[1];
    when.second = tm[0];
    if (!kv::IsValidDate(when.year, when.month, when.day) || when.hour < 0 || when.hour > 23 ||
        when.minute < 0 || when.minute > 59 || when.second < 0 || when.second > 60) {
        return false;
    }
    date = kv::ToOleDate(when);
    return true;
}

}  // namespace

std::wstring SystemErrorName(uint32_t error) {
    std::wstring text = L"error " + std::to_wstring(error);
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return text + L" ERROR_FILE_NOT_FOUND";
        case ERROR_PATH_NOT_FOUND:
            return text + L" ERROR_PATH_NOT_FOUND";
        case ERROR_MOD_NOT_FOUND:
            return text + L" ERROR_MOD_NOT_FOUND";
        case ERROR_BAD_EXE_FORMAT:
            return text + L" ERROR_BAD_EXE_FORMAT";
        case ERROR_DLL_INIT_FAILED:
            return text + L" ERROR_DLL_INIT_FAILED";
        default:
            return text;
    }
}

const NativeProxy* LoadNativeProxy(std::wstring& why) {
    static NativeProxy proxy;
    static std::wstring problem;
    static const bool loaded = [] {
        const std::wstring path = OwnFolder() + L"kvnative.dll";
        const HMODULE module = LoadLibraryW(path.c_str());
        if (module == nullptr) {
            problem = L"cannot load " + path + L" (" + SystemErrorName(GetLastError()) + L")";
            return false;
        }
        bool complete = true;
#define KVN_RESOLVE(name)                                             \
    proxy.name = reinterpret_cast<decltype(proxy.name)>(              \
        reinterpret_cast<void (*)()>(GetProcAddress(module, #name))); \
    complete = complete && proxy.name != nullptr;
        KVN_FUNCTIONS(KVN_RESOLVE)
#undef KVN_RESOLVE
        if (!complete || proxy.kvn_version() != KVN_VERSION) {
            problem = path + L" is not the proxy this program was built with";
            FreeLibrary(module);
            return false;
        }
        return true;
    }();
    why = problem;
    return loaded ? &proxy : nullptr;
}

kv::Variant TakeNativeValue(const NativeProxy& proxy, kvn_value& value) {
    using kv::Variant;
    using kv::VarType;
    Variant result;
    switch (value.vt) {
        case KVN_EMPTY:
            break;
        case KVN_NULL:
            result = Variant::Null();
            break;
        case KVN_I1:
            result = Variant::Signed(VarType::I1, value.integer);
            break;
        case KVN_I2:
            result = Variant::Signed(VarType::I2, value.integer);
            break;
        case KVN_I4:
            result = Variant::Int32(static_cast<int32_t>(value.integer));
            break;
        case KVN_I8:
            result = Variant::Signed(VarType::I8, value.integer);
            break;
        case KVN_UI1:
            result = Variant::Unsigned(VarType::UI1, static_cast<uint64_t>(value.integer));
            break;
        case KVN_UI2:
            result = Variant::Unsigned(VarType::UI2, static_cast<uint64_t>(value.integer));
            break;
        case KVN_UI4:
            result = Variant::Unsigned(VarType::UI4, static_cast<uint64_t>(value.integer));
            break;
        case KVN_UI8:
            result = Variant::Unsigned(VarType::UI8, static_cast<uint64_t>(value.integer));
            break;
        case KVN_R4:
            result = Variant::Real(VarType::R4, value.real);
            break;
        case KVN_R8:
            result = Variant::Double(value.real);
            break;
        case KVN_DATE:
            result = Variant::Date(value.real);
            break;
        case KVN_BOOL:
            result = Variant::Bool(value.integer != 0);
            break;
        case KVN_TM: {
            double date = 0;
            // A struct tm that names no date is no value the host could show.
            result =
                DayCount(value.tm, date) ? Variant::Date(date) : Variant::Opaque(VarType::Error);
            break;
        }
        case KVN_PWSTR: {
            const auto* units = static_cast<const char16_t*>(value.data);
            result = Variant::Text(units ? std::u16string(units, value.length) : std::u16string());
            break;
        }
        default:
            result = Variant::Opaque(VarType::Error);
            break;
    }
    proxy.kvn_value_clear(&value);
    return result;
}

kvn_value NativeValueOf(const kv::Variant& value) {
    using kv::VarType;
    const kv::Variant& v = value.Deref();
    kvn_value out{};
    switch (v.type()) {
        case VarType::Empty:
            out.vt = KVN_EMPTY;
            break;
        case VarType::Null:
            out.vt = KVN_NULL;
            break;
        case VarType::I1:
            out.vt = KVN_I1;
            out.integer = v.int_value();
            break;
        case VarType::I2:
            out.vt = KVN_I2;
            out.integer = v.int_value();
            break;
        case VarType::I4:
        case VarType::Int:
            out.vt = KVN_I4;
            out.integer = v.int_value();
            break;
        case VarType::I8:
            out.vt = KVN_I8;
            out.integer = v.int_value();
            break;
        case VarType::UI1:
            out.vt = KVN_UI1;
            out.integer = static_cast<int64_t>(v.uint_value());
            break;
        case VarType::UI2:
            out.vt = KVN_UI2;
            out.integer = static_cast<int64_t>(v.uint_value());
            break;
        case VarType::UI4:
        case VarType::UInt:
            out.vt = KVN_UI4;
            out.integer = static_cast<int64_t>(v.uint_value());
            break;
        case VarType::UI8:
            out.vt = KVN_UI8;
            out.integer = static_cast<int64_t>(v.uint_value());
            break;
        case VarType::R4:
            out.vt = KVN_R4;
            out.real = v.real_value();
            break;
        case VarType::R8:
            out.vt = KVN_R8;
            out.real = v.real_value();
            break;
        case VarType::Cy:
            out.vt = KVN_R8;  // the platform has no currency type: a number
            out.real = static_cast<double>(v.int_value()) / 10000.0;
            break;
        case VarType::Date: {
            const kv::LocalDateTime when = kv::FromOleDate(v.real_value());
            kv::LocalDateTime new_year;
            new_year.year = when.year;
            new_year.month = 1;
            new_year.day = 1;
            out.vt = KVN_TM;
            out.tm[0] = when.second;
            out.tm[1] = when.minute;
            out.tm[2] = when.hour;
            out.tm[3] = when.day;
            out.tm[4] = when.month - 1;
            out.tm[5] = when.year - 1900;
            out.tm[6] = kv::DayOfWeek(when);
            out.tm[7] = static_cast<int32_t>(std::floor(kv::ToOleDate(when))) -
                        static_cast<int32_t>(kv::ToOleDate(new_year));
            break;
        }
        case VarType::Bool:
            out.vt = KVN_BOOL;
            out.integer = v.int_value() != 0 ? 1 : 0;
            break;
        case VarType::Bstr:
            out.vt = KVN_PWSTR;
            out.data = const_cast<char16_t*>(v.text().data());
            out.length = static_cast<uint32_t>(v.text().size());
            break;
        default:
            out.vt = KVN_ERROR;  // what the platform passes for a value it has no type for
            break;
    }
    return out;
}

NativeAddIn::Options NativeAddIn::DefaultOptions() {
    Options options;
    options.platform.offers = -1;
    return options;
}

NativeAddIn::NativeAddIn(const std::wstring& dll, Options options)
    : AddIn(Shell::Native), options_(std::move(options)) {
    proxy_ = LoadNativeProxy(problem_);
    if (proxy_ == nullptr) return;
    if (options_.platform.offers == -1) proxy_->kvn_default_options(&options_.platform);
    options_.platform.on_error = OnError;
    options_.platform.on_notice = OnNotice;
    options_.platform.context = this;
    library_ = proxy_->kvn_load(Units(dll), &load_error_);
    if (library_ == nullptr) {
        problem_ = L"cannot load " + dll + L" (" + SystemErrorName(load_error_) + L")";
        return;
    }
    if ((proxy_->kvn_exports(library_) & 3) != 3) {
        problem_ = dll + L" lacks GetClassNames or GetClassObject: it is no Native API add-in";
        return;
    }
    capabilities_ = proxy_->kvn_set_platform_capabilities(library_, 3);
    attach_type_ = proxy_->kvn_attach_type(library_);
    class_names_ = Text(proxy_->kvn_class_names(library_));
    const std::wstring first = class_names_.substr(0, class_names_.find(L'|'));
    object_ = proxy_->kvn_create(library_, Units(first), &options_.platform);
    if (object_ == nullptr) {
        problem_ = L"GetClassObject(" + Quoted(first) + L") created no object";
    }
}

NativeAddIn::~NativeAddIn() {
    if (object_ != nullptr) {
        if (started_ && !finished_) proxy_->kvn_done(object_);
        proxy_->kvn_destroy(object_, nullptr);
    }
    if (library_ != nullptr) proxy_->kvn_unload(library_);
}

void NativeAddIn::OnError(void* context, const kvn_error* error) {
    auto* self = static_cast<NativeAddIn*>(context);
    HostError copy;
    copy.code = error->code;
    copy.source = Text(error->source);
    copy.description = Text(error->description);
    copy.scode = error->scode;
    // Called from inside the add-in: nothing may leave it as an exception.
    try {
        {
            std::lock_guard<std::mutex> locked(self->errors_lock_);
            self->errors_.push_back(copy);
            ++self->error_entries_;
        }
        if (self->options_.errors) self->options_.errors(copy);
    } catch (...) {
    }
}

void NativeAddIn::OnNotice(void* context, int32_t confirm, const uint16_t* text) {
    auto* self = static_cast<NativeAddIn*>(context);
    try {
        if (self->options_.notices) self->options_.notices(confirm != 0, Text(text));
    } catch (...) {
    }
}

kvn_memory NativeAddIn::Memory() const {
    kvn_memory counts{};
    if (object_ != nullptr) proxy_->kvn_memory_counts(object_, &counts);
    return counts;
}

bool NativeAddIn::Start(std::vector<std::wstring>& steps) {
    if (object_ == nullptr) return false;
    started_ = true;
    auto manager = [&] {
        steps.push_back(L"setMemManager -> " +
                        AnswerOf(proxy_->kvn_set_memory_manager(object_, 1)).said);
    };
    if (options_.memory_manager == MemoryManagerOrder::BeforeInit) manager();
    const Answer init = AnswerOf(proxy_->kvn_init(object_, 1));
    steps.push_back(L"Init -> " + init.said);
    if (options_.memory_manager == MemoryManagerOrder::AfterInit) manager();
    steps.push_back(L"GetInfo -> " + std::to_wstring(proxy_->kvn_get_info(object_)));
    proxy_->kvn_set_locale(object_, Units(L"rus_RUS"));
    proxy_->kvn_set_user_interface_language(object_, Units(L"ru"));
    return init.accepted;
}

bool NativeAddIn::Finish(std::wstring& said) {
    if (object_ == nullptr) return false;
    if (started_) proxy_->kvn_done(object_);
    finished_ = true;
    kvn_memory memory{};
    const int32_t destroyed = proxy_->kvn_destroy(object_, &memory);
    object_ = nullptr;
    said = L"Done; DestroyObject -> " + std::to_wstring(destroyed) + L"; " +
           std::to_wstring(error_entries_) + L" error log entries; memory manager: " +
           std::to_wstring(memory.given) + L" blocks given";
    bool sound = true;
    if (memory.outstanding > 0) {
        said += L", " + std::to_wstring(memory.outstanding) + L" never freed";
        sound = false;
    } else {
        said += L", all freed";
    }
    if (memory.foreign_frees > 0) {
        said += L", " + std::to_wstring(memory.foreign_frees) + L" foreign pointers freed";
        sound = false;
    }
    if (memory.foreign_results > 0) {
        said += L", " + std::to_wstring(memory.foreign_results) +
                L" results in memory the manager did not give";
        sound = false;
    }
    return sound;
}

std::wstring NativeAddIn::Extension() {
    kvn_value name{};
    proxy_->kvn_register_extension_as(object_, &name);
    const kv::Variant text = TakeNativeValue(*proxy_, name);
    return std::wstring(text.text().begin(), text.text().end());
}

long NativeAddIn::PropertyCount() { return proxy_->kvn_get_n_props(object_); }

long NativeAddIn::MethodCount() { return proxy_->kvn_get_n_methods(object_); }

long NativeAddIn::Find(bool method, const std::wstring& name, Answer* answer) {
    const int32_t number = method ? proxy_->kvn_find_method(object_, Units(name))
                                  : proxy_->kvn_find_prop(object_, Units(name));
    if (answer != nullptr) *answer = {number >= 0, false, std::to_wstring(number)};
    return number >= 0 ? number : -1;
}

long NativeAddIn::ParamCount(long method) { return proxy_->kvn_get_n_params(object_, method); }

Answer NativeAddIn::ReadProperty(long number, kv::Variant& value) {
    kvn_value read{};
    const int32_t answer = proxy_->kvn_get_prop_val(object_, number, &read);
    value = TakeNativeValue(*proxy_, read);
    return AnswerOf(answer);
}

Answer NativeAddIn::WriteProperty(long number, const kv::Variant& value) {
    const kvn_value written = NativeValueOf(value);
    return AnswerOf(proxy_->kvn_set_prop_val(object_, number, &written));
}

Answer NativeAddIn::Call(long method, const std::vector<kv::Variant>& params, kv::Variant& result) {
    std::vector<kvn_value> values;
    for (const kv::Variant& param : params) values.push_back(NativeValueOf(param));
    kvn_value returned{};
    const int32_t answer = proxy_->kvn_call_as_func(object_, method, &returned, values.data(),
                                                    static_cast<int32_t>(values.size()));
    result = TakeNativeValue(*proxy_, returned);
    return AnswerOf(answer);
}

std::vector<HostError> NativeAddIn::TakeErrors() {
    std::lock_guard<std::mutex> locked(errors_lock_);
    std::vector<HostError> errors;
    errors.swap(errors_);
    return errors;
}

}  // namespace kvhost
