#pragma once
// The host-facing protocol of the add-in in portable terms: name lookup, property reads and
// writes, parameter counts, method calls and error reporting. The COM shell wraps it, turning
// BSTR, VARIANT and SAFEARRAY into these types and back.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/variant.h"
#include "component/vk_object.h"

namespace kv {

constexpr int32_t kS_OK = 0;
constexpr int32_t kS_FALSE = 1;
constexpr int32_t kE_FAIL = static_cast<int32_t>(0x80004005u);
constexpr uint16_t kErrorCode = 1006;

// One entry of the host's error log, as EXCEPINFO carries it.
struct ErrorRecord {
    uint16_t wCode = kErrorCode;
    std::u16string source;
    std::u16string description;
    int32_t scode = kE_FAIL;
};

// Where error-log entries go: the host's error log, as the COM shell hands it over.
class ErrorSink {
  public:
    virtual ~ErrorSink() = default;
    virtual void Write(const ErrorRecord& record) = 0;
};

// Which host call an error ended; property errors carry a prefix saying so.
enum class ErrorOrigin { PropertyRead, PropertyWrite, Method };

// How a host's member name is compared: 1C:Enterprise 7.7 matches byte for byte, 1C:Enterprise
// 8 ignores the case of Latin and Cyrillic letters.
enum class NameCase { Exact, Ignored };

class Protocol {
  public:
    // `errors` may be null (the host refused its error log); then error texts are dropped.
    // `methods` execute the catalogue's methods; borrowed, they outlive the protocol.
    Protocol(Platform& platform, ErrorSink* errors, const MethodBodies& methods);

    int32_t FindProp(std::u16string_view name, int32_t& number, NameCase match = NameCase::Exact);
    int32_t FindMethod(std::u16string_view name, int32_t& number, NameCase match = NameCase::Exact);
    int32_t GetPropVal(int32_t number, Variant& value);
    int32_t SetPropVal(int32_t number, const Variant& value);
    int32_t GetNParams(int32_t number, int32_t& count);
    // `result` receives the method's value; `params` is borrowed for the call (may be null).
    int32_t CallAsFunc(int32_t number, Variant& result, const ParamSource* params);

    // Hands an ANSI error text to the host's error log; blank texts are dropped.
    void ReportError(std::string_view ansi_text);
    // Inside a catch block: reports the error being handled, whatever was thrown, with the
    // prefix of its origin. Throws nothing.
    void ReportCurrentError(ErrorOrigin origin) noexcept;
    // How many errors host calls have ended with so far, blank ones included: a shell whose
    // host learns of a failure from the call's answer compares it before and after the call.
    uint64_t ErrorCount() const { return error_count_; }

    T_vk_object& object() { return vk_; }

  private:
    Platform& platform_;
    ErrorSink* errors_;
    uint64_t error_count_ = 0;
    T_vk_object vk_;
};

// The low 8 bits of a host's member number select member 0..20, anything else selects none (-1).
int SelectMember(int32_t number);

}  // namespace kv
