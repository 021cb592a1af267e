#pragma once
// T_vk_object: the whole state of one add-in instance, with the handlers through which the host
// reads and writes its 21 properties and calls its 21 methods.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "common/variant.h"
#include "component/trace.h"
#include "platform/platform.h"

namespace kv {

enum HandlerAction : uint8_t {
    ActRussianName = 0,
    ActEnglishName = 1,
    ActGetValue = 2,
    ActSetValue = 3,
    ActParamCount = 4,
    ActExecute = 5,
};

constexpr int kPropertyCount = 21;
constexpr int kMethodCount = 21;

class T_vk_object;

// The parameters of the method being called, as the host passed them. Borrowed for one call.
class ParamSource {
  public:
    virtual ~ParamSource() = default;
    // Element n (0-based) as a value, or false when there is none.
    virtual bool Get(int32_t n, Variant& out) const = 0;
};

// What executes each method, numbered as the catalogue (component/catalogue.h).
using MethodBody = void (*)(T_vk_object&);
using MethodBodies = std::array<MethodBody, kMethodCount>;

class T_vk_object {
  public:
    // `methods` are borrowed and outlive the object.
    T_vk_object(Platform& platform, const MethodBodies& methods);
    T_vk_object(const T_vk_object&) = delete;
    T_vk_object& operator=(const T_vk_object&) = delete;

    // One handler per member, selected by its number in the property table or the catalogue.
    // `name` is written only for ActRussianName and ActEnglishName (ANSI text).
    void PropertyHandler(int number, HandlerAction action, std::string& name);
    void MethodHandler(int number, HandlerAction action, std::string& name);

    // Parameter n of the current method call, as text or as 32-bit integer. A missing
    // parameter reads as an empty value.
    std::string GetStringParam(int n);
    int32_t GetIntegerParam(int n);

    Platform& platform() { return platform_; }
    // The user's request trace, as it was set when the object was made.
    Trace& trace() { return trace_; }
    const ValueFormats& formats() const { return formats_; }
    // The user's regional settings as the component sees them.
    const RegionalSettings& regional() const { return platform_.regional.Settings(); }
    // Renders a local date and time by a date-time pattern.
    std::string FormatDate(std::string_view pattern, const LocalDateTime& when) const;

    // Fields, in declaration order.
    Variant ResultValue;
    int32_t ParamCount = 0;
    const ParamSource* Params = nullptr;
    uintptr_t MapHandle = 0;
    std::string PacketText;
    int32_t PacketCount = 0;
    std::string TradeName;
    std::string Producer;
    std::string DistribCode;
    std::string DistribName;
    std::string IntlName;
    std::string PointName;
    std::string PointCode;
    double Pprice = 0;
    double UseByDate = 0;
    int32_t PriceID = 0;
    int32_t Amount = 0;
    int32_t Timeout = 0;
    std::string BaseName;
    std::string UserName;
    std::string UserPass;
    std::string UserRole;
    std::string DLLName;
    std::string FileWithZakaz;
    std::string ZakazFileName;
    std::string DirToZakaz;
    // Cleared by StopFind, which may come from another thread while a request waits.
    std::atomic<int32_t> Searching{0};

    // Puts an ANSI text into ResultValue as VT_BSTR.
    void SetResultText(std::string_view ansi);

  private:
    // The user's regional settings as the conversions of host values need them.
    class Formats final : public ValueFormats {
      public:
        explicit Formats(const T_vk_object& vk) : vk_(vk) {}
        const TextCodec& Codec() const override { return vk_.platform_.codec; }
        char DecimalSeparator() const override { return vk_.regional().decimal_separator; }
        std::string DateText(double date) const override;

      private:
        const T_vk_object& vk_;
    };

    Platform& platform_;
    const MethodBodies& methods_;
    Formats formats_{*this};
    Trace trace_{platform_};
};

}  // namespace kv
