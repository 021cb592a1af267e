#include "component/protocol.h"

#include <exception>
#include <string>

#include "common/error.h"
#include "common/text.h"

namespace kv {
namespace {

// Text of the error being handled, whatever was raised; nothing may cross the host boundary.
std::string CurrentMessage() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

const char* PrefixOf(ErrorOrigin origin) {
    switch (origin) {
        case ErrorOrigin::PropertyRead:
            return "Ошибка чтения свойства: ";
        case ErrorOrigin::PropertyWrite:
            return "Ошибка изменения свойства: ";
        case ErrorOrigin::Method:
            break;
    }
    return "";
}

// The member table of one kind: properties or methods.
using Handler = void (T_vk_object::*)(int, HandlerAction, std::string&);

int32_t FindByName(T_vk_object& vk, Handler handler, int count, std::string ansi, NameCase match,
                   int32_t& number) {
    if (match == NameCase::Ignored) LowerCp1251(ansi);
    std::string name;
    for (int i = 0; i < count; ++i) {
        for (HandlerAction action : {ActRussianName, ActEnglishName}) {
            (vk.*handler)(i, action, name);
            if (match == NameCase::Ignored) LowerCp1251(name);
            if (name == ansi) {  // nothing trimmed
                number = i;
                return kS_OK;
            }
        }
    }
    number = -1;
    return kS_FALSE;
}

// Clears the borrowed parameter array when a call ends, however it ends.
class BorrowedParams {
  public:
    BorrowedParams(T_vk_object& vk, const ParamSource* params) : vk_(vk) { vk_.Params = params; }
    ~BorrowedParams() { vk_.Params = nullptr; }
    BorrowedParams(const BorrowedParams&) = delete;
    BorrowedParams& operator=(const BorrowedParams&) = delete;

  private:
    T_vk_object& vk_;
};

}  // namespace

// One selection serves properties and methods because there are as many of each.
static_assert(kPropertyCount == kMethodCount, "SelectMember needs a bound per member kind");

int SelectMember(int32_t number) {
    const int low = static_cast<int>(static_cast<uint32_t>(number) & 0xFF);
    return low < kPropertyCount ? low : -1;
}

Protocol::Protocol(Platform& platform, ErrorSink* errors, const MethodBodies& methods)
    : platform_(platform), errors_(errors), vk_(platform, methods) {}

int32_t Protocol::FindProp(std::u16string_view name, int32_t& number, NameCase match) {
    return FindByName(vk_, &T_vk_object::PropertyHandler, kPropertyCount,
                      platform_.codec.ToAnsi(name), match, number);
}

int32_t Protocol::FindMethod(std::u16string_view name, int32_t& number, NameCase match) {
    return FindByName(vk_, &T_vk_object::MethodHandler, kMethodCount, platform_.codec.ToAnsi(name),
                      match, number);
}

int32_t Protocol::GetPropVal(int32_t number, Variant& value) {
    try {
        vk_.ResultValue = Variant();
        const int member = SelectMember(number);
        std::string unused;
        if (member >= 0) vk_.PropertyHandler(member, ActGetValue, unused);
        value = vk_.ResultValue;
        return member >= 0 ? kS_OK : kS_FALSE;
    } catch (...) {
        ReportCurrentError(ErrorOrigin::PropertyRead);
        return kS_FALSE;
    }
}

int32_t Protocol::SetPropVal(int32_t number, const Variant& value) {
    try {
        // The host's value is copied, not referenced: the host may free it after the call.
        vk_.ResultValue = value.Deref();
        const int member = SelectMember(number);
        if (member < 0) return kS_FALSE;
        std::string unused;
        vk_.PropertyHandler(member, ActSetValue, unused);
        return kS_OK;
    } catch (...) {
        ReportCurrentError(ErrorOrigin::PropertyWrite);
        return kS_FALSE;
    }
}

int32_t Protocol::GetNParams(int32_t number, int32_t& count) {
    vk_.ParamCount = 0;
    const int member = SelectMember(number);
    std::string unused;
    if (member >= 0) vk_.MethodHandler(member, ActParamCount, unused);
    count = vk_.ParamCount;
    return kS_OK;
}

int32_t Protocol::CallAsFunc(int32_t number, Variant& result, const ParamSource* params) {
    try {
        result = Variant::Int32(0);
        vk_.ResultValue = Variant::Int32(0);
        BorrowedParams borrowed(vk_, params);
        const int member = SelectMember(number);
        if (member < 0) return kS_FALSE;
        std::string unused;
        vk_.MethodHandler(member, ActExecute, unused);
        result = vk_.ResultValue;
    } catch (...) {
        ReportCurrentError(ErrorOrigin::Method);
    }
    return kS_OK;
}

void Protocol::ReportError(std::string_view ansi_text) {
    if (TrimControl(ansi_text).empty()) return;
    if (vk_.trace().On()) vk_.trace().Write("error", {{"text", std::string(ansi_text)}});
    if (errors_ == nullptr) return;
    ErrorRecord record;
    record.source = u"KelvarinVK";
    record.description = platform_.codec.ToUtf16(ansi_text);
    errors_->Write(record);
}

void Protocol::ReportCurrentError(ErrorOrigin origin) noexcept {
    ++error_count_;
    try {
        ReportError(Cp1251FromUtf8(PrefixOf(origin)) + CurrentMessage());
    } catch (...) {
        // Nothing is left to tell the host with.
    }
}

}  // namespace kv
