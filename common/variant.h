#pragma once
// A portable value with the type codes and meaning of an OLE automation VARIANT, so that every
// rule about host values is built and tested without COM.
#include <cstdint>
#include <string>

#include "common/text.h"

namespace kv {

enum class VarType : uint16_t {
    Empty = 0,
    Null = 1,
    I2 = 2,
    I4 = 3,
    R4 = 4,
    R8 = 5,
    Cy = 6,
    Date = 7,
    Bstr = 8,
    Dispatch = 9,
    Error = 10,
    Bool = 11,
    Variant = 12,
    Unknown = 13,
    Decimal = 14,
    I1 = 16,
    UI1 = 17,
    UI2 = 18,
    UI4 = 19,
    I8 = 20,
    UI8 = 21,
    Int = 22,
    UInt = 23,
};

// The integer types, which hold a signed or an unsigned value.
bool IsSigned(VarType t);
bool IsUnsigned(VarType t);

constexpr uint16_t kVarByRef = 0x4000;
constexpr uint16_t kVarTypeMask = 0x0FFF;

class Variant {
  public:
    Variant() = default;

    static Variant Int32(int32_t v) { return Signed(VarType::I4, v); }
    static Variant Double(double v) { return Real(VarType::R8, v); }
    static Variant Date(double v) { return Real(VarType::Date, v); }
    static Variant Text(std::u16string v);
    static Variant Null();
    static Variant Bool(bool v);
    // Currency: the value times 10,000, as OLE stores it.
    static Variant Currency(int64_t scaled);
    // Any integer type (VT_I1, VT_I2, VT_I4, VT_I8, VT_INT) with its value.
    static Variant Signed(VarType type, int64_t v);
    // VT_UI1, VT_UI2, VT_UI4, VT_UI8, VT_UINT.
    static Variant Unsigned(VarType type, uint64_t v);
    // VT_R4 (the value is rounded to float) or VT_R8 or VT_DATE.
    static Variant Real(VarType type, double v);
    // A type that carries no value the component can use (VT_DISPATCH, VT_ERROR, ...).
    static Variant Opaque(VarType type);
    // A by-reference value: the type is the target's type with kVarByRef; the target is borrowed.
    static Variant Reference(const Variant& target);

    uint16_t vt() const { return vt_; }
    VarType type() const { return static_cast<VarType>(vt_ & kVarTypeMask); }
    bool is_by_ref() const { return (vt_ & kVarByRef) != 0; }
    // Follows by-reference values to the value they point at.
    const Variant& Deref() const;

    int64_t int_value() const { return int_; }
    uint64_t uint_value() const { return uint_; }
    double real_value() const { return real_; }
    const std::u16string& text() const { return text_; }

    bool operator==(const Variant& other) const;

  private:
    uint16_t vt_ = static_cast<uint16_t>(VarType::Empty);
    int64_t int_ = 0;  // signed integers, VT_BOOL (0 or -1), VT_CY (scaled by 10,000)
    uint64_t uint_ = 0;
    double real_ = 0;
    std::u16string text_;
    const Variant* target_ = nullptr;
};

// Name of a variant type as the conversion messages show it, e.g. "OleStr" or "Integer".
std::string VarTypeName(uint16_t vt);

// What the conversions need from the user's regional settings.
class ValueFormats {
  public:
    virtual ~ValueFormats() = default;
    virtual const TextCodec& Codec() const = 0;
    virtual char DecimalSeparator() const = 0;
    // The locale's text of a date-time value (short date, and the long time when not midnight).
    virtual std::string DateText(double date) const = 0;
};

// The conversions of host values to the component's field types. Each follows by-reference
// values and raises kv::Error with "Could not convert variant of type (%s) into type (%s)" or
// "Overflow while converting variant of type (%s) into type (%s)".
std::string VariantToText(const Variant& value, const ValueFormats& formats);
int32_t VariantToInt32(const Variant& value, const ValueFormats& formats);
double VariantToDouble(const Variant& value, const ValueFormats& formats);

// The general decimal form of a double with at most 15 significant digits and the given decimal
// separator: trailing zeros dropped, exponent form (5E-5, 1,5E15) from 1e15 up and below 1e-4.
std::string FormatGeneral(double value, char decimal_separator);

// Parses a decimal number: optional blanks around it, an optional sign, digits with at most one
// decimal separator, and an optional exponent. False when the text is anything else.
bool ParseDecimal(std::string_view text, char decimal_separator, double& out);

// Parses a decimal integer: optional leading blanks, an optional sign, digits, nothing after.
// False when the text is anything else or outside the 32-bit (64-bit) range.
bool ParseInt32(std::string_view text, int32_t& out);
bool ParseInt64(std::string_view text, int64_t& out);

// Rounds to the nearest integer, a half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

}  // namespace kv
