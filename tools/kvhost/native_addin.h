#pragma once
// The Native API add-in as kvhost drives it: its DLL loaded through kvnative.dll, the proxy in
// the MSVC C++ ABI that plays the platform (kvnative/kvnative.h), which must lie beside the
// program that loads it. The object is started in the order a platform starts one: capability
// level 3, the attach type, the first class of GetClassNames, the memory manager, Init with the
// connection, GetInfo, the locale "rus_RUS" and the interface language "ru".
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/kvhost/addin.h"
#include "tools/kvhost/kvnative/kvnative.h"

namespace kvhost {

// kvnative.dll's functions, resolved once.
struct NativeProxy {
// clang-format off
#define KVN_FUNCTIONS(X) \
    X(kvn_version) X(kvn_value_clear) X(kvn_default_options) X(kvn_load) X(kvn_unload) \
    X(kvn_exports) X(kvn_class_names) X(kvn_set_platform_capabilities) X(kvn_attach_type) \
    X(kvn_create) X(kvn_destroy) X(kvn_memory_counts) X(kvn_call_counts) X(kvn_error_count) \
    X(kvn_error_at) X(kvn_forget_errors) X(kvn_init) X(kvn_set_memory_manager) \
    X(kvn_get_info) X(kvn_done) X(kvn_set_locale) X(kvn_set_user_interface_language) \
    X(kvn_register_extension_as) X(kvn_get_n_props) X(kvn_find_prop) X(kvn_get_prop_name) \
    X(kvn_get_prop_val) X(kvn_set_prop_val) X(kvn_is_prop_readable) X(kvn_is_prop_writable) \
    X(kvn_get_n_methods) X(kvn_find_method) X(kvn_get_method_name) X(kvn_get_n_params) \
    X(kvn_get_param_def_value) X(kvn_has_ret_val) X(kvn_call_as_proc) X(kvn_call_as_func)
// clang-format on
#define KVN_POINTER(name) decltype(&::name) name = nullptr;
    KVN_FUNCTIONS(KVN_POINTER)
#undef KVN_POINTER
};

// The proxy beside this program; null when it is missing or of another version, and then
// `why` says which.
const NativeProxy* LoadNativeProxy(std::wstring& why);

// A value the proxy returned, as the core's value: PWSTR as a text, TM and DATE as a date,
// integers and reals by their type. The proxy's copy is released.
kv::Variant TakeNativeValue(const NativeProxy& proxy, kvn_value& value);

// The Native API value of a portable one; texts point into `value`, which must outlive it.
// Dates go as struct tm, as the platform passes them.
kvn_value NativeValueOf(const kv::Variant& value);

// A library's name for a system error: "error 193 ERROR_BAD_EXE_FORMAT"...
std::wstring SystemErrorName(uint32_t error);

// An interface call of the Native API, as the host makes it.
enum class MemoryManagerOrder { BeforeInit, AfterInit, Never };

// Called as the add-in asks the platform to show a text (IMsgBox.Alert and Confirm).
using NoticeListener = std::function<void(bool confirm, const std::wstring& text)>;

class NativeAddIn final : public AddIn {
  public:
    struct Options {
        MemoryManagerOrder memory_manager = MemoryManagerOrder::BeforeInit;
        kvn_options platform{};  // filled with the proxy's defaults when `offers` is -1
        ErrorListener errors;
        NoticeListener notices;
    };
    // Loads the DLL and creates an object of its first class; loaded() and created() say how
    // far it came.
    NativeAddIn(const std::wstring& dll, Options options);
    ~NativeAddIn() override;
    NativeAddIn(const NativeAddIn&) = delete;
    NativeAddIn& operator=(const NativeAddIn&) = delete;

    static Options DefaultOptions();

    // Why the proxy or the DLL could not be used; empty once the object exists.
    const std::wstring& problem() const { return problem_; }
    bool loaded() const { return library_ != nullptr; }
    // The system's error when the DLL could not be loaded; 0 otherwise.
    uint32_t load_error() const { return load_error_; }
    bool created() const { return object_ != nullptr; }
    const std::wstring& class_names() const { return class_names_; }
    int32_t attach_type() const { return attach_type_; }
    int32_t capabilities() const { return capabilities_; }
    // For the calls that only the Native API has.
    const NativeProxy& proxy() const { return *proxy_; }
    kvn_object* object() const { return object_; }
    kvn_memory Memory() const;

    bool Start(std::vector<std::wstring>& steps) override;
    bool Finish(std::wstring& said) override;
    std::wstring Extension() override;
    long PropertyCount() override;
    long MethodCount() override;
    long Find(bool method, const std::wstring& name, Answer* answer) override;
    long ParamCount(long method) override;
    Answer ReadProperty(long number, kv::Variant& value) override;
    Answer WriteProperty(long number, const kv::Variant& value) override;
    Answer Call(long method, const std::vector<kv::Variant>& params, kv::Variant& result) override;
    std::vector<HostError> TakeErrors() override;

  private:
    static void OnError(void* context, const kvn_error* error);
    static void OnNotice(void* context, int32_t confirm, const uint16_t* text);

    Options options_;
    const NativeProxy* proxy_ = nullptr;
    kvn_library* library_ = nullptr;
    kvn_object* object_ = nullptr;
    std::wstring problem_;
    std::wstring class_names_;
    uint32_t load_error_ = 0;
    int32_t attach_type_ = -2;
    int32_t capabilities_ = -2;
    bool started_ = false;
    bool finished_ = false;
    std::mutex errors_lock_;
    std::vector<HostError> errors_;
    int error_entries_ = 0;
};

}  // namespace kvhost
