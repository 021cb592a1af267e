// kvnative.dll: the platform's side of a Native API add-in in the MSVC C++ ABI (kvnative.h).
// Every interface call goes through the declarations of native_abi.h, so a slot, a base offset
// or a calling convention that the add-in gets wrong shows here as it would in 1C.
#define KVN_BUILDING
#include "tools/kvhost/kvnative/kvnative.h"

#include "tools/kvhost/kvnative/freestanding.h"
#include "tools/kvhost/kvnative/native_abi.h"

namespace kvn {
namespace {

size_t Length(const WideChar* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// A copy of a text on the process heap, terminated; null for null or when there is no memory.
uint16_t* CopyText(const WideChar* text, size_t length) {
    if (text == nullptr) return nullptr;
    auto* copy = static_cast<uint16_t*>(Allocate((length + 1) * sizeof(uint16_t)));
    if (copy != nullptr) memcpy(copy, text, length * sizeof(uint16_t));
    return copy;
}

// The memory manager: every block carries a header and sits in a list of the blocks given
// out, so that a pointer can be recognised as the manager's without reading through it.
class Memory final : public IMemoryManager {
  public:
    explicit Memory(int32_t allocations_left) : allocations_left_(allocations_left) {}
    ~Memory() override {
        while (live_ != nullptr) Unlink(live_);
    }

    bool KVN_METHOD AllocMemory(void** memory, unsigned long bytes) override {
        if (memory == nullptr) return false;
        Locked locked(lock_);
        *memory = nullptr;
        if (allocations_left_ == 0) {
            ++counts_.refused;
            return false;
        }
        void* block = Give(bytes);
        if (block == nullptr) return false;
        if (allocations_left_ > 0) --allocations_left_;
        ++counts_.given;
        *memory = block;
        return true;
    }

    void KVN_METHOD FreeMemory(void** memory) override {
        if (memory == nullptr || *memory == nullptr) return;
        Locked locked(lock_);
        Header* header = Find(*memory);
        if (header == nullptr) {
            ++counts_.foreign_frees;  // not ours: left alone, as freeing it would corrupt a heap
            return;
        }
        Unlink(header);
        ++counts_.freed_by_addin;
        *memory = nullptr;
    }

    // A block the platform itself fills, for a text it passes in; null when there is no memory.
    void* GiveForHost(size_t bytes) {
        Locked locked(lock_);
        return Give(bytes);
    }

    // Frees a block the platform took a result out of; false (and counted) when the manager
    // never gave it.
    bool Take(void* block) {
        if (block == nullptr) return true;
        Locked locked(lock_);
        Header* header = Find(block);
        if (header == nullptr) {
            ++counts_.foreign_results;
            return false;
        }
        Unlink(header);
        ++counts_.freed_by_host;
        return true;
    }

    kvn_memory Counts() {
        Locked locked(lock_);
        kvn_memory counts = counts_;
        counts.outstanding = outstanding_;
        return counts;
    }

  private:
    struct alignas(16) Header {
        Header* previous;
        Header* next;
    };

    void* Give(size_t bytes) {
        auto* header = static_cast<Header*>(Allocate(sizeof(Header) + bytes));
        if (header == nullptr) return nullptr;
        header->next = live_;
        if (live_ != nullptr) live_->previous = header;
        live_ = header;
        ++outstanding_;
        return header + 1;
    }

    Header* Find(const void* block) const {
        for (Header* h = live_; h != nullptr; h = h->next) {
            if (h + 1 == block) return h;
        }
        return nullptr;
    }

    void Unlink(Header* header) {
        if (header->previous != nullptr) header->previous->next = header->next;
        if (header->next != nullptr) header->next->previous = header->previous;
        if (live_ == header) live_ = header->next;
        --outstanding_;
        Release(header);
    }

    Lock lock_;
    Header* live_ = nullptr;
    uint32_t outstanding_ = 0;
    int32_t allocations_left_;
    kvn_memory counts_{};
};

// The errors the add-in reported, kept with copies of their texts.
class ErrorList {
  public:
    ~ErrorList() { Forget(); }

    // The record as kept; its texts stay valid until Forget. False when there was no memory.
    bool Add(unsigned short code, const WideChar* source, const WideChar* description, long scode,
             kvn_error& kept) {
        Locked locked(lock_);
        if (count_ == capacity_) {
            const int32_t capacity = capacity_ == 0 ? 8 : capacity_ * 2;
            auto* grown = static_cast<kvn_error*>(Allocate(sizeof(kvn_error) * capacity));
            if (grown == nullptr) return false;
            if (count_ > 0) memcpy(grown, records_, sizeof(kvn_error) * count_);
            Release(records_);
            records_ = grown;
            capacity_ = capacity;
        }
        kvn_error& record = records_[count_++];
        record.code = code;
        record.source = source ? CopyText(source, Length(source)) : nullptr;
        record.description = description ? CopyText(description, Length(description)) : nullptr;
        record.scode = static_cast<int32_t>(scode);
        kept = record;
        return true;
    }

    int32_t Count() {
        Locked locked(lock_);
        return count_;
    }

    bool At(int32_t index, kvn_error& record) {
        Locked locked(lock_);
        if (index < 0 || index >= count_) return false;
        record = records_[index];
        return true;
    }

    void Forget() {
        Locked locked(lock_);
        for (int32_t i = 0; i < count_; ++i) {
            Release(const_cast<uint16_t*>(records_[i].source));
            Release(const_cast<uint16_t*>(records_[i].description));
        }
        count_ = 0;
    }

  private:
    Lock lock_;
    kvn_error* records_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

// Counts that threads other than the caller's may raise.
void Count(uint32_t& counter) { __atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED); }

class Platform;

class MessageBoxes final : public IMsgBox {
  public:
    explicit MessageBoxes(Platform& platform) : platform_(platform) {}
    bool KVN_METHOD Confirm(const WideChar* text, Variant* answer) override;
    bool KVN_METHOD Alert(const WideChar* text) override;

  private:
    Platform& platform_;
};

class PlatformInfo final : public IPlatformInfo {
  public:
    explicit PlatformInfo(Platform& platform) : platform_(platform) {}
    const AppInfo* KVN_METHOD GetPlatformInfo() override;

  private:
    Platform& platform_;
};

class AttachedInfo final : public IAttachedInfo {
  public:
    explicit AttachedInfo(Platform& platform) : platform_(platform) {}
    AttachedType KVN_METHOD GetAttachedInfo() override;

  private:
    Platform& platform_;
};

// The connection object that Init receives, with the services it hands out.
class Platform final : public IAddInDefBaseEx {
  public:
    explicit Platform(const kvn_options& options)
        : options_(options),
          memory_(options.allocations_left),
          message_boxes_(*this),
          platform_info_(*this),
          attached_info_(*this) {
        info_.version = L"8.3.0.0";
        info_.user_agent = L"kvnative";
        info_.application = static_cast<AppType>(options.application);
    }
    ~Platform() override = default;

    bool KVN_METHOD AddError(unsigned short code, const WideChar* source,
                             const WideChar* description, long scode) override {
        kvn_error kept{};
        if (!errors_.Add(code, source, description, scode, kept)) return false;
        if (options_.on_error != nullptr) options_.on_error(options_.context, &kept);
        return true;
    }
    bool KVN_METHOD Read(WideChar*, Variant*, long* error, WideChar**) override {
        Count(calls_.profile);
        if (error != nullptr) *error = 0;
        return false;  // nothing was ever saved
    }
    bool KVN_METHOD Write(WideChar*, Variant*) override { return Count(calls_.profile), false; }
    bool KVN_METHOD RegisterProfileAs(WideChar*) override { return Count(calls_.profile), false; }
    bool KVN_METHOD SetEventBufferDepth(long) override { return Count(calls_.events), true; }
    long KVN_METHOD GetEventBufferDepth() override { return Count(calls_.events), 1; }
    bool KVN_METHOD ExternalEvent(WideChar*, WideChar*, WideChar*) override {
        return Count(calls_.events), true;
    }
    void KVN_METHOD CleanEventBuffer() override { Count(calls_.events); }
    bool KVN_METHOD SetStatusLine(WideChar*) override { return Count(calls_.status_line), true; }
    void KVN_METHOD ResetStatusLine() override { Count(calls_.status_line); }

    IInterface* KVN_METHOD GetInterface(InterfaceId id) override {
        const int index = static_cast<int>(id);
        if (index < 0 || index > 2) return nullptr;
        Count(calls_.get_interface[index]);
        if ((options_.offers & (1 << index)) == 0) return nullptr;
        switch (id) {
            case InterfaceId::MsgBox:
                return &message_boxes_;
            case InterfaceId::PlatformInfo:
                return &platform_info_;
            case InterfaceId::AttachedInfo:
                return &attached_info_;
        }
        return nullptr;
    }

    bool Notice(bool confirm, const WideChar* text) {
        Count(confirm ? calls_.confirms : calls_.alerts);
        if (options_.on_notice != nullptr) {
            options_.on_notice(options_.context, confirm ? 1 : 0,
                               reinterpret_cast<const uint16_t*>(text));
        }
        return true;
    }

    const kvn_options& options() const { return options_; }
    Memory& memory() { return memory_; }
    ErrorList& errors() { return errors_; }
    kvn_calls& calls() { return calls_; }
    const AppInfo* info() { return Count(calls_.platform_info), &info_; }

  private:
    kvn_options options_;
    Memory memory_;
    ErrorList errors_;
    kvn_calls calls_{};
    AppInfo info_{};
    MessageBoxes message_boxes_;
    PlatformInfo platform_info_;
    AttachedInfo attached_info_;
};

bool MessageBoxes::Confirm(const WideChar* text, Variant* answer) {
    platform_.Notice(true, text);
    if (answer != nullptr) {
        answer->vt = KVN_BOOL;
        answer->boolean = platform_.options().confirm_answer != 0;
    }
    return true;
}

bool MessageBoxes::Alert(const WideChar* text) { return platform_.Notice(false, text); }

const AppInfo* PlatformInfo::GetPlatformInfo() { return platform_.info(); }

AttachedType AttachedInfo::GetAttachedInfo() {
    Count(platform_.calls().attached_info);
    return static_cast<AttachedType>(platform_.options().attached);
}

// A caller's value as the add-in receives it: texts and bytes in blocks of the manager.
bool ToVariant(const kvn_value& in, Variant& out, Memory& memory) {
    memset(&out, 0, sizeof out);
    out.vt = in.vt;
    switch (in.vt) {
        case KVN_I1:
            out.i8 = static_cast<int8_t>(in.integer);
            break;
        case KVN_I2:
            out.i16 = static_cast<int16_t>(in.integer);
            break;
        case KVN_I4:
        case KVN_ERROR:
            out.i32 = static_cast<int32_t>(in.integer);
            break;
        case KVN_I8:
        case KVN_UI8:
            out.i64 = in.integer;
            break;
        case KVN_UI1:
            out.u8 = static_cast<uint8_t>(in.integer);
            break;
        case KVN_UI2:
            out.u16 = static_cast<uint16_t>(in.integer);
            break;
        case KVN_UI4:
            out.u32 = static_cast<uint32_t>(in.integer);
            break;
        case KVN_R4:
            out.r4 = static_cast<float>(in.real);
            break;
        case KVN_R8:
        case KVN_DATE:
            out.r8 = in.real;
            break;
        case KVN_BOOL:
            out.boolean = in.integer != 0;
            break;
        case KVN_TM:
            memcpy(&out.tm, in.tm, sizeof out.tm);
            break;
        case KVN_PWSTR: {
            auto* units =
                static_cast<WideChar*>(memory.GiveForHost((in.length + 1) * sizeof(WideChar)));
            if (units == nullptr) return false;
            if (in.length > 0) memcpy(units, in.data, in.length * sizeof(WideChar));
            units[in.length] = 0;
            out.wstr.units = units;
            out.wstr.length = in.length;
            break;
        }
        case KVN_PSTR:
        case KVN_BLOB: {
            auto* bytes = static_cast<char*>(memory.GiveForHost(in.length + 1));
            if (bytes == nullptr) return false;
            if (in.length > 0) memcpy(bytes, in.data, in.length);
            bytes[in.length] = 0;
            out.str.bytes = bytes;
            out.str.length = in.length;
            break;
        }
        default:
            break;
    }
    return true;
}

// What a value holds, copied for the caller; the manager's block goes back to the manager, as
// the platform frees it once it has read it.
void FromVariant(const Variant& in, kvn_value& out, Memory& memory) {
    memset(&out, 0, sizeof out);
    out.vt = in.vt;
    switch (in.vt) {
        case KVN_I1:
            out.integer = in.i8;
            break;
        case KVN_I2:
            out.integer = in.i16;
            break;
        case KVN_I4:
        case KVN_ERROR:
            out.integer = in.i32;
            break;
        case KVN_I8:
        case KVN_UI8:
            out.integer = in.i64;
            break;
        case KVN_UI1:
            out.integer = in.u8;
            break;
        case KVN_UI2:
            out.integer = in.u16;
            break;
        case KVN_UI4:
            out.integer = in.u32;
            break;
        case KVN_R4:
            out.real = in.r4;
            break;
        case KVN_R8:
        case KVN_DATE:
            out.real = in.r8;
            break;
        case KVN_BOOL:
            out.integer = in.boolean ? 1 : 0;
            break;
        case KVN_TM:
            memcpy(out.tm, &in.tm, sizeof out.tm);
            break;
        case KVN_PWSTR:
            if (in.wstr.units != nullptr) {
                out.data = CopyText(in.wstr.units, in.wstr.length);
                out.length = in.wstr.length;
                memory.Take(in.wstr.units);
            }
            break;
        case KVN_PSTR:
        case KVN_BLOB:
            if (in.str.bytes != nullptr) {
                out.data = Allocate(in.str.length);
                if (out.data != nullptr) memcpy(out.data, in.str.bytes, in.str.length);
                out.length = in.str.length;
                memory.Take(in.str.bytes);
            }
            break;
        default:
            break;
    }
}

// Gives back what a parameter still holds after the call.
void ReleaseVariant(Variant& value, Memory& memory) {
    if (value.vt == KVN_PWSTR) memory.Take(value.wstr.units);
    if (value.vt == KVN_PSTR || value.vt == KVN_BLOB) memory.Take(value.str.bytes);
    memset(&value, 0, sizeof value);
}

// A name the add-in returned in a block of the manager: copied as a PWSTR, the block freed.
void TakeName(const WideChar* name, kvn_value& out, Memory& memory) {
    memset(&out, 0, sizeof out);
    if (name == nullptr) return;
    out.vt = KVN_PWSTR;
    out.length = static_cast<uint32_t>(Length(name));
    out.data = CopyText(name, out.length);
    memory.Take(const_cast<WideChar*>(name));
}

// A caller's parameters as an array of values; null for none or when there is no memory.
Variant* ToVariants(const kvn_value* params, int32_t count, Memory& memory, bool& ok) {
    ok = true;
    if (count <= 0 || params == nullptr) return nullptr;
    auto* values = static_cast<Variant*>(Allocate(sizeof(Variant) * static_cast<size_t>(count)));
    if (values == nullptr) {
        ok = false;
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) ok = ToVariant(params[i], values[i], memory) && ok;
    return values;
}

void ReleaseVariants(Variant* values, int32_t count, Memory& memory) {
    if (values == nullptr) return;
    for (int32_t i = 0; i < count; ++i) ReleaseVariant(values[i], memory);
    Release(values);
}

}  // namespace
}  // namespace kvn

struct kvn_library {
    void* module = nullptr;
    kvn::GetClassNamesFn get_class_names = nullptr;
    kvn::GetClassObjectFn get_class_object = nullptr;
    kvn::DestroyObjectFn destroy_object = nullptr;
    kvn::SetPlatformCapabilitiesFn set_platform_capabilities = nullptr;
    kvn::GetAttachTypeFn get_attach_type = nullptr;
};

struct kvn_object {
    explicit kvn_object(const kvn_options& options) : platform(options) {}
    kvn_library* library = nullptr;
    kvn::IComponentBase* component = nullptr;
    kvn::Platform platform;
};

namespace {

template <typename Fn>
Fn Export(void* module, const char* name) {
    return reinterpret_cast<Fn>(GetProcAddress(module, name));
}

int32_t Answer(bool value) { return value ? 1 : 0; }

kvn::ILanguageExtenderBase* Language(kvn_object* object) { return object->component; }

const kvn::WideChar* Wide(const uint16_t* text) {
    return reinterpret_cast<const kvn::WideChar*>(text);
}

}  // namespace

extern "C" {

int32_t kvn_version(void) { return KVN_VERSION; }

void kvn_value_clear(kvn_value* value) {
    if (value == nullptr) return;
    kvn::Release(value->data);
    memset(value, 0, sizeof *value);
}

void kvn_default_options(kvn_options* options) {
    memset(options, 0, sizeof *options);
    options->offers = KVN_OFFER_MSGBOX | KVN_OFFER_PLATFORM_INFO | KVN_OFFER_ATTACHED_INFO;
    options->application = 1;  // the thick client
    options->attached = 1;     // not isolated
    options->allocations_left = -1;
}

kvn_library* kvn_load(const uint16_t* path, uint32_t* system_error) {
    if (system_error != nullptr) *system_error = 0;
    void* module = LoadLibraryW(Wide(path));
    if (module == nullptr) {
        if (system_error != nullptr) *system_error = static_cast<uint32_t>(GetLastError());
        return nullptr;
    }
    void* memory = kvn::Allocate(sizeof(kvn_library));
    if (memory == nullptr) {
        FreeLibrary(module);
        if (system_error != nullptr) *system_error = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return nullptr;
    }
    auto* library = new (memory) kvn_library;
    library->module = module;
    library->get_class_names = Export<kvn::GetClassNamesFn>(module, "GetClassNames");
    library->get_class_object = Export<kvn::GetClassObjectFn>(module, "GetClassObject");
    library->destroy_object = Export<kvn::DestroyObjectFn>(module, "DestroyObject");
    library->set_platform_capabilities =
        Export<kvn::SetPlatformCapabilitiesFn>(module, "SetPlatformCapabilities");
    library->get_attach_type = Export<kvn::GetAttachTypeFn>(module, "GetAttachType");
    return library;
}

void kvn_unload(kvn_library* library) {
    if (library == nullptr) return;
    FreeLibrary(library->module);
    kvn::Release(library);
}

int32_t kvn_exports(const kvn_library* library) {
    return (library->get_class_names ? 1 : 0) | (library->get_class_object ? 2 : 0) |
           (library->destroy_object ? 4 : 0) | (library->set_platform_capabilities ? 8 : 0) |
           (library->get_attach_type ? 16 : 0);
}

const uint16_t* kvn_class_names(kvn_library* library) {
    if (library->get_class_names == nullptr) return nullptr;
    return reinterpret_cast<const uint16_t*>(library->get_class_names());
}

int32_t kvn_set_platform_capabilities(kvn_library* library, int32_t capabilities) {
    if (library->set_platform_capabilities == nullptr) return -2;
    return static_cast<int32_t>(
        library->set_platform_capabilities(static_cast<kvn::AppCapabilities>(capabilities)));
}

int32_t kvn_attach_type(kvn_library* library) {
    if (library->get_attach_type == nullptr) return -2;
    return static_cast<int32_t>(library->get_attach_type());
}

kvn_object* kvn_create(kvn_library* library, const uint16_t* class_name,
                       const kvn_options* options) {
    if (library->get_class_object == nullptr) return nullptr;
    kvn_options chosen;
    if (options != nullptr) {
        chosen = *options;
    } else {
        kvn_default_options(&chosen);
    }
    kvn::IComponentBase* component = nullptr;
    const long created = library->get_class_object(Wide(class_name), &component);
    if (created == 0 || component == nullptr) return nullptr;
    void* memory = kvn::Allocate(sizeof(kvn_object));
    if (memory == nullptr) {
        if (library->destroy_object != nullptr) library->destroy_object(&component);
        return nullptr;
    }
    auto* object = new (memory) kvn_object(chosen);
    object->library = library;
    object->component = component;
    return object;
}

int32_t kvn_destroy(kvn_object* object, kvn_memory* memory) {
    if (object == nullptr) return -2;
    int32_t answer = -2;
    if (object->library->destroy_object != nullptr) {
        answer = static_cast<int32_t>(object->library->destroy_object(&object->component));
    }
    if (memory != nullptr) *memory = object->platform.memory().Counts();
    object->~kvn_object();
    kvn::Release(object);
    return answer;
}

void kvn_memory_counts(kvn_object* object, kvn_memory* memory) {
    *memory = object->platform.memory().Counts();
}

void kvn_call_counts(kvn_object* object, kvn_calls* calls) {
    kvn_calls& counts = object->platform.calls();
    for (int i = 0; i < 3; ++i) {
        calls->get_interface[i] = __atomic_load_n(&counts.get_interface[i], __ATOMIC_RELAXED);
    }
    calls->alerts = __atomic_load_n(&counts.alerts, __ATOMIC_RELAXED);
    calls->confirms = __atomic_load_n(&counts.confirms, __ATOMIC_RELAXED);
    calls->platform_info = __atomic_load_n(&counts.platform_info, __ATOMIC_RELAXED);
    calls->attached_info = __atomic_load_n(&counts.attached_info, __ATOMIC_RELAXED);
    calls->profile = __atomic_load_n(&counts.profile, __ATOMIC_RELAXED);
    calls->events = __atomic_load_n(&counts.events, __ATOMIC_RELAXED);
    calls->status_line = __atomic_load_n(&counts.status_line, __ATOMIC_RELAXED);
}

int32_t kvn_error_count(kvn_object* object) { return object->platform.errors().Count(); }

int32_t kvn_error_at(kvn_object* object, int32_t index, kvn_error* error) {
    return Answer(object->platform.errors().At(index, *error));
}

void kvn_forget_errors(kvn_object* object) { object->platform.errors().Forget(); }

int32_t kvn_init(kvn_object* object, int32_t with_connection) {
    kvn::IAddInDefBase* connection = &object->platform;
    return Answer(object->component->Init(with_connection ? connection : nullptr));
}

int32_t kvn_set_memory_manager(kvn_object* object, int32_t with_manager) {
    kvn::IMemoryManager* manager = &object->platform.memory();
    return Answer(object->component->setMemManager(with_manager ? manager : nullptr));
}

int32_t kvn_get_info(kvn_object* object) {
    return static_cast<int32_t>(object->component->GetInfo());
}

void kvn_done(kvn_object* object) { object->component->Done(); }

void kvn_set_locale(kvn_object* object, const uint16_t* locale) {
    static_cast<kvn::LocaleBase*>(object->component)->SetLocale(Wide(locale));
}

void kvn_set_user_interface_language(kvn_object* object, const uint16_t* code) {
    static_cast<kvn::UserLanguageBase*>(object->component)
        ->SetUserInterfaceLanguageCode(Wide(code));
}

int32_t kvn_register_extension_as(kvn_object* object, kvn_value* name) {
    kvn::WideChar* given = nullptr;
    const bool answer = Language(object)->RegisterExtensionAs(&given);
    kvn::TakeName(given, *name, object->platform.memory());
    return Answer(answer);
}

int32_t kvn_get_n_props(kvn_object* object) {
    return static_cast<int32_t>(Language(object)->GetNProps());
}

int32_t kvn_find_prop(kvn_object* object, const uint16_t* name) {
    return static_cast<int32_t>(Language(object)->FindProp(Wide(name)));
}

void kvn_get_prop_name(kvn_object* object, int32_t number, int32_t alias, kvn_value* name) {
    kvn::TakeName(Language(object)->GetPropName(number, alias), *name, object->platform.memory());
}

int32_t kvn_get_prop_val(kvn_object* object, int32_t number, kvn_value* value) {
    kvn::Variant result;
    memset(&result, 0, sizeof result);
    const bool answer = Language(object)->GetPropVal(number, &result);
    kvn::FromVariant(result, *value, object->platform.memory());
    return Answer(answer);
}

int32_t kvn_set_prop_val(kvn_object* object, int32_t number, const kvn_value* value) {
    kvn::Memory& memory = object->platform.memory();
    kvn::Variant in;
    if (!kvn::ToVariant(*value, in, memory)) return -1;
    const bool answer = Language(object)->SetPropVal(number, &in);
    kvn::ReleaseVariant(in, memory);
    return Answer(answer);
}

int32_t kvn_is_prop_readable(kvn_object* object, int32_t number) {
    return Answer(Language(object)->IsPropReadable(number));
}

int32_t kvn_is_prop_writable(kvn_object* object, int32_t number) {
    return Answer(Language(object)->IsPropWritable(number));
}

int32_t kvn_get_n_methods(kvn_object* object) {
    return static_cast<int32_t>(Language(object)->GetNMethods());
}

int32_t kvn_find_method(kvn_object* object, const uint16_t* name) {
    return static_cast<int32_t>(Language(object)->FindMethod(Wide(name)));
}

void kvn_get_method_name(kvn_object* object, int32_t number, int32_t alias, kvn_value* name) {
    kvn::TakeName(Language(object)->GetMethodName(number, alias), *name, object->platform.memory());
}

int32_t kvn_get_n_params(kvn_object* object, int32_t number) {
    return static_cast<int32_t>(Language(object)->GetNParams(number));
}

int32_t kvn_get_param_def_value(kvn_object* object, int32_t method, int32_t param,
                                kvn_value* value) {
    kvn::Variant result;
    memset(&result, 0, sizeof result);
    const bool answer = Language(object)->GetParamDefValue(method, param, &result);
    kvn::FromVariant(result, *value, object->platform.memory());
    return Answer(answer);
}

int32_t kvn_has_ret_val(kvn_object* object, int32_t method) {
    return Answer(Language(object)->HasRetVal(method));
}

int32_t kvn_call_as_proc(kvn_object* object, int32_t method, kvn_value* params, int32_t count) {
    kvn::Memory& memory = object->platform.memory();
    bool ok = true;
    kvn::Variant* values = kvn::ToVariants(params, count, memory, ok);
    if (!ok) {
        kvn::ReleaseVariants(values, count, memory);
        return -1;
    }
    const bool answer = Language(object)->CallAsProc(method, values, values ? count : 0);
    kvn::ReleaseVariants(values, count, memory);
    return Answer(answer);
}

int32_t kvn_call_as_func(kvn_object* object, int32_t method, kvn_value* result, kvn_value* params,
                         int32_t count) {
    kvn::Memory& memory = object->platform.memory();
    bool ok = true;
    kvn::Variant* values = kvn::ToVariants(params, count, memory, ok);
    if (!ok) {
        kvn::ReleaseVariants(values, count, memory);
        return -1;
    }
    kvn::Variant returned;
    memset(&returned, 0, sizeof returned);
    const bool answer = Language(object)->CallAsFunc(method, &returned, values, values ? count : 0);
    kvn::FromVariant(returned, *result, memory);
    kvn::ReleaseVariants(values, count, memory);
    return Answer(answer);
}

}  // extern "C"
