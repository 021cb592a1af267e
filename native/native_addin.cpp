#include "native/native_addin.h"

#include <atomic>
#include <string>

#include "common/text.h"
#include "component/catalogue.h"

namespace kv::native {
namespace {

std::atomic<int32_t> g_capabilities{eAppCapabilitiesInvalid};

// GetInfo's version times 1000: 2.0, the version the 7.7 add-in reports too.
constexpr int32_t kAddInVersion = 2000;

}  // namespace

int32_t AcceptCapabilities(int32_t offered) {
    g_capabilities = offered;
    return offered >= eAppCapabilities1 ? eAppCapabilities1 : eAppCapabilitiesInvalid;
}

void NativeAddIn::Connection::Write(const ErrorRecord& record) {
    if (connection_ == nullptr) return;
    // The strings stay ours: the platform reads them during the call.
    connection_->AddError(record.wCode, record.source.c_str(), record.description.c_str(),
                          record.scode);
}

IMsgBox* NativeAddIn::Connection::MessageBox() const {
    // Only a platform that announced its capabilities hands over the extended connection;
    // an older one has no GetInterface slot to call.
    if (connection_ == nullptr || g_capabilities < eAppCapabilities1) return nullptr;
    auto* extended = static_cast<IAddInDefBaseEx*>(connection_);
    return FromInterface<IMsgBox>(extended->GetInterface(eIMsgBox));
}

void NativeAddIn::Notices::Show(std::string_view ansi_text, bool error) {
    if (IMsgBox* box = connection_.MessageBox()) {
        const std::u16string text = system_.codec.ToUtf16(ansi_text);
        if (box->Alert(text.c_str())) return;
    }
    system_.notices.Show(ansi_text, error);
}

NativeAddIn::NativeAddIn(Platform& system, const MethodBodies& methods)
    : notices_(connection_, system),
      platform_{system.codec,   system.regional,  system.clock,     notices_,       system.files,
                system.channel, system.processes, system.libraries, system.dialogs, system.traces},
      protocol_(platform_, &connection_, methods) {}

template <typename Body>
bool NativeAddIn::Guarded(ErrorOrigin origin, Body&& body) noexcept {
    const uint64_t errors_before = protocol_.ErrorCount();
    try {
        const bool succeeded = body();
        return succeeded && protocol_.ErrorCount() == errors_before;
    } catch (...) {
        protocol_.ReportCurrentError(origin);
        return false;
    }
}

void* NativeAddIn::DestructorSlot(unsigned) { return this; }

// IInitDoneBase

bool NativeAddIn::Init(void* connection) {
    connection_.Attach(static_cast<IAddInDefBase*>(connection));
    return true;
}

bool NativeAddIn::setMemManager(void* manager) {
    memory_.Attach(static_cast<IMemoryManager*>(manager));
    return manager != nullptr;
}

int32_t NativeAddIn::GetInfo() { return kAddInVersion; }

void NativeAddIn::Done() { connection_.Attach(nullptr); }

// ILanguageExtenderBase

#ifdef KV_NATIVE_SHIFTED
bool NativeAddIn::ShiftedSlot(WideChar**) { return false; }
#endif

bool NativeAddIn::RegisterExtensionAs(WideChar** name) {
    return Guarded(ErrorOrigin::Method, [&] {
        if (name == nullptr) return false;
        *name = memory_.NewText(kExtensionName);
        return true;
    });
}

int32_t NativeAddIn::GetNProps() { return kPropertyCount; }

int32_t NativeAddIn::Find(bool method, const WideChar* name) noexcept {
    if (name == nullptr) return -1;
    try {
        int32_t number = -1;
        if (method) {
            protocol_.FindMethod(name, number, NameCase::Ignored);
        } else {
            protocol_.FindProp(name, number, NameCase::Ignored);
        }
        return number;
    } catch (...) {
        protocol_.ReportCurrentError(ErrorOrigin::Method);
        return -1;
    }
}

int32_t NativeAddIn::FindProp(const WideChar* name) { return Find(false, name); }

const WideChar* NativeAddIn::NameOf(bool method, int32_t number, int32_t alias) noexcept {
    const int member = SelectMember(number);
    if (member < 0 || (alias != 0 && alias != 1)) return nullptr;
    WideChar* name = nullptr;
    Guarded(ErrorOrigin::Method, [&] {
        const char* utf8 =
            method ? (alias == 0 ? MethodAt(member).english : MethodAt(member).russian)
                   : (alias == 0 ? PropertyAt(member).english : PropertyAt(member).russian);
        name = memory_.NewText(Utf8ToUtf16(utf8));
        return true;
    });
    return name;
}

const WideChar* NativeAddIn::GetPropName(int32_t number, int32_t alias) {
    return NameOf(false, number, alias);
}

bool NativeAddIn::GetPropVal(int32_t number, tVariant* value) {
    return Guarded(ErrorOrigin::PropertyRead, [&] {
        if (value == nullptr) return false;
        Variant read;
        if (protocol_.GetPropVal(number, read) != kS_OK) return false;
        StoreValue(read, *value, memory_);
        return true;
    });
}

bool NativeAddIn::SetPropVal(int32_t number, tVariant* value) {
    return Guarded(ErrorOrigin::PropertyWrite, [&] {
        return value != nullptr && protocol_.SetPropVal(number, ValueOf(*value)) == kS_OK;
    });
}

// Every property can be read, and every one takes a written value (NameWindow1C ignores it).
bool NativeAddIn::IsPropReadable(int32_t number) { return SelectMember(number) >= 0; }

bool NativeAddIn::IsPropWritable(int32_t number) { return SelectMember(number) >= 0; }

int32_t NativeAddIn::GetNMethods() { return kMethodCount; }

int32_t NativeAddIn::FindMethod(const WideChar* name) { return Find(true, name); }

const WideChar* NativeAddIn::GetMethodName(int32_t number, int32_t alias) {
    return NameOf(true, number, alias);
}

int32_t NativeAddIn::GetNParams(int32_t number) {
    int32_t count = 0;
    try {
        protocol_.GetNParams(number, count);
    } catch (...) {
        protocol_.ReportCurrentError(ErrorOrigin::Method);
        return 0;
    }
    return count;
}

// A parameter the script leaves out arrives empty, as the 7.7 host passes it: the method then
// reads an empty text or 0, as it does for a parameter past the end.
bool NativeAddIn::GetParamDefValue(int32_t method, int32_t param, tVariant* value) {
    if (value == nullptr || SelectMember(method) < 0 || param < 0 || param >= GetNParams(method)) {
        return false;
    }
    *value = tVariant{};
    value->vt = VTYPE_EMPTY;
    return true;
}

bool NativeAddIn::HasRetVal(int32_t) { return true; }

bool NativeAddIn::CallAsProc(int32_t number, tVariant* params, int32_t count) {
    return Guarded(ErrorOrigin::Method, [&] {
        const VariantParams source(params, count);
        Variant unused;
        return protocol_.CallAsFunc(number, unused, &source) == kS_OK;
    });
}

bool NativeAddIn::CallAsFunc(int32_t number, tVariant* result, tVariant* params, int32_t count) {
    return Guarded(ErrorOrigin::Method, [&] {
        if (result == nullptr) return false;
        const VariantParams source(params, count);
        Variant returned;
        const bool selected = protocol_.CallAsFunc(number, returned, &source) == kS_OK;
        StoreValue(returned, *result, memory_);
        return selected;
    });
}

// LocaleBase, UserLanguageBase

void NativeAddIn::SetLocale(const WideChar*) {}

void NativeAddIn::SetUserInterfaceLanguageCode(const WideChar*) {}

}  // namespace kv::native
