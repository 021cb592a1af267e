#pragma once
// BSTR, VARIANT and SAFEARRAY at the host boundary, turned into the core's portable types and
// back. Nothing else in host/ touches the layout of a VARIANT.
#include <oaidl.h>
#include <windows.h>

#include <string>
#include <string_view>

#include "common/variant.h"
#include "component/vk_object.h"

namespace kv::host {

// A null BSTR is the empty text; embedded zeros are kept.
std::u16string FromBstr(BSTR text);
// A new BSTR the caller owns; throws std::bad_alloc when the system has no memory for it.
BSTR NewBstr(std::u16string_view text);

// A BSTR owned for the length of one call.
class ScopedBstr {
  public:
    explicit ScopedBstr(std::u16string_view text) : text_(NewBstr(text)) {}
    ~ScopedBstr() { SysFreeString(text_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR get() const { return text_; }
    // Hands the string over to a new owner.
    BSTR release() {
        BSTR text = text_;
        text_ = nullptr;
        return text;
    }

  private:
    BSTR text_;
};

// The value a VARIANT holds, by-reference values followed to what they point at (one level,
// as the host passes them). A reference to nothing reads as VT_NULL.
Variant ValueOf(const VARIANT& value);

// A host VARIANT in portable form: a by-reference VARIANT stays a by-reference Variant, whose
// target lives here, so the conversions see the type the host passed.
class HostValue {
  public:
    explicit HostValue(const VARIANT& value);
    HostValue(const HostValue&) = delete;
    HostValue& operator=(const HostValue&) = delete;
    const Variant& get() const { return value_; }

  private:
    Variant target_;
    Variant value_;
};

// Replaces what `out` holds with `value` (by-reference values followed). `out` must be a
// valid VARIANT; it is left untouched when the new value cannot be built.
void StoreValue(const Variant& value, VARIANT& out);

// Owns one VARIANT and clears it on every path.
class ScopedVariant {
  public:
    ScopedVariant() { VariantInit(&value_); }
    ~ScopedVariant() { VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT& get() { return value_; }

  private:
    VARIANT value_;
};

// True for a one-dimensional SAFEARRAY of VARIANT: the only shape whose elements may be read
// into or written from a VARIANT without going past either buffer.
bool IsVariantVector(const SAFEARRAY* array);

// The parameters of one method call, read from the host's array with SafeArrayGetElement.
class SafeArrayParams final : public ParamSource {
  public:
    explicit SafeArrayParams(SAFEARRAY** params);
    bool Get(int32_t n, Variant& out) const override;

  private:
    SAFEARRAY* array_ = nullptr;  // borrowed; null when the host passed no usable array
};

}  // namespace kv::host
