#include "common/variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "common/error.h"

namespace kv {
namespace {

constexpr uint16_t Code(VarType t) { return static_cast<uint16_t>(t); }

bool IsReal(VarType t) { return t == VarType::R4 || t == VarType::R8 || t == VarType::Date; }

const char* const kTextTarget = "String";
const char* const kIntegerTarget = "Integer";
const char* const kDoubleTarget = "Double";

[[noreturn]] void CannotConvert(const Variant& v, const char* target) {
    throw Error("Could not convert variant of type (" + VarTypeName(v.vt()) + ") into type (" +
                target + ")");
}

[[noreturn]] void Overflow(const Variant& v, const char* target) {
    throw Error("Overflow while converting variant of type (" + VarTypeName(v.vt()) +
                ") into type (" + target + ")");
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Currency is an integer count of 1/10,000; its text drops trailing zeros of the fraction.
std::string CurrencyText(int64_t scaled, char separator) {
    const bool negative = scaled < 0;
    const uint64_t magnitude =
        negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string text;
    if (negative) text.push_back('-');
    text += std::to_string(magnitude / 10000);
    std::string fraction = std::to_string(10000 + magnitude % 10000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) text += separator + fraction;
    return text;
}

// Whether a number in the plain form of ParseDecimal (sign, digits with '.', exponent) is 1 or
// more in magnitude: whether its first non-zero digit, moved by the exponent, stands at the
// units or above. The exponent saturates, so that any count of its digits is read.
bool AtLeastOne(std::string_view plain) {
    size_t i = plain.empty() || plain.front() != '-' ? 0 : 1;
    int64_t power = 0;  // of the first non-zero digit, without the exponent
    bool leading = false, fraction = false;
    for (; i < plain.size() && plain[i] != 'e'; ++i) {
        if (plain[i] == '.') {
            fraction = true;
        } else if (!leading && plain[i] == '0') {
            if (fraction) --power;
        } else if (!leading) {
            leading = true;
            if (fraction) --power;
        } else if (!fraction) {
            ++power;
        }
    }
    if (!leading) return false;  // zero
    int64_t exponent = 0;
    bool negative = false;
    if (i < plain.size()) {
        ++i;  // 'e'
        if (i < plain.size() && (plain[i] == '+' || plain[i] == '-')) negative = plain[i++] == '-';
        for (; i < plain.size(); ++i) {
            exponent = std::min<int64_t>(exponent * 10 + (plain[i] - '0'), int64_t{1} << 40);
        }
    }
    return power + (negative ? -exponent : exponent) >= 0;
}

int32_t CheckedInt32(double rounded, const Variant& v) {
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) Overflow(v, kIntegerTarget);
    return static_cast<int32_t>(rounded);
}

}  // namespace

bool IsSigned(VarType t) {
    return t == VarType::I1 || t == VarType::I2 || t == VarType::I4 || t == VarType::I8 ||
           t == VarType::Int;
}

bool IsUnsigned(VarType t) {
    return t == VarType::UI1 || t == VarType::UI2 || t == VarType::UI4 || t == VarType::UI8 ||
           t == VarType::UInt;
}

Variant Variant::Text(std::u16string v) {
    Variant r;
    r.vt_ = Code(VarType::Bstr);
    r.text_ = std::move(v);
    return r;
}

Variant Variant::Null() { return Opaque(VarType::Null); }

Variant Variant::Bool(bool v) {
    Variant r;
    r.vt_ = Code(VarType::Bool);
    r.int_ = v ? -1 : 0;
    return r;
}

Variant Variant::Currency(int64_t scaled) {
    Variant r;
    r.vt_ = Code(VarType::Cy);
    r.int_ = scaled;
    return r;
}

Variant Variant::Signed(VarType type, int64_t v) {
    Variant r;
    r.vt_ = Code(type);
    r.int_ = v;
    return r;
}

Variant Variant::Unsigned(VarType type, uint64_t v) {
    Variant r;
    r.vt_ = Code(type);
    r.uint_ = v;
    return r;
}

Variant Variant::Real(VarType type, double v) {
    Variant r;
    r.vt_ = Code(type);
    r.real_ = type == VarType::R4 ? static_cast<double>(static_cast<float>(v)) : v;
    return r;
}

Variant Variant::Opaque(VarType type) {
    Variant r;
    r.vt_ = Code(type);
    return r;
}

Variant Variant::Reference(const Variant& target) {
    Variant r;
    r.vt_ = static_cast<uint16_t>((target.is_by_ref() ? Code(VarType::Variant) : target.vt_) |
                                  kVarByRef);
    r.target_ = &target;
    return r;
}

const Variant& Variant::Deref() const {
    const Variant* v = this;
    while (v->is_by_ref() && v->target_ != nullptr) v = v->target_;
    return *v;
}

bool Variant::operator==(const Variant& other) const {
    return vt_ == other.vt_ && int_ == other.int_ && uint_ == other.uint_ &&
           (real_ == other.real_ || (std::isnan(real_) && std::isnan(other.real_))) &&
           text_ == other.text_ && target_ == other.target_;
}

std::string VarTypeName(uint16_t vt) {
    std::string name;
    switch (static_cast<VarType>(vt & kVarTypeMask)) {
        case VarType::Empty:
            name = "Empty";
            break;
        case VarType::Null:
            name = "Null";
            break;
        case VarType::I2:
            name = "Smallint";
            break;
        case VarType::I4:
            name = "Integer";
            break;
        case VarType::R4:
            name = "Single";
            break;
        case VarType::R8:
            name = "Double";
            break;
        case VarType::Cy:
            name = "Currency";
            break;
        case VarType::Date:
            name = "Date";
            break;
        case VarType::Bstr:
            name = "OleStr";
            break;
        case VarType::Dispatch:
            name = "Dispatch";
            break;
        case VarType::Error:
            name = "Error";
            break;
        case VarType::Bool:
            name = "Boolean";
            break;
        case VarType::Variant:
            name = "Variant";
            break;
        case VarType::Unknown:
            name = "Unknown";
            break;
        case VarType::Decimal:
            name = "Decimal";
            break;
        case VarType::I1:
            name = "ShortInt";
            break;
        case VarType::UI1:
            name = "Byte";
            break;
        case VarType::UI2:
            name = "Word";
            break;
        case VarType::UI4:
            name = "LongWord";
            break;
        case VarType::I8:
            name = "Int64";
            break;
        case VarType::UI8:
            name = "UInt64";
            break;
        case VarType::Int:
            name = "Int";
            break;
        case VarType::UInt:
            name = "UInt";
            break;
        default:
            name = "Unknown type " + std::to_string(vt & kVarTypeMask);
            break;
    }
    if (vt & kVarByRef) name += " ByRef";
    return name;
}

std::string VariantToText(const Variant& value, const ValueFormats& formats) {
    const Variant& v = value.Deref();
    const VarType t = v.type();
    if (t == VarType::Empty) return {};
    if (t == VarType::Bstr) return formats.Codec().ToAnsi(v.text());
    if (IsSigned(t)) return std::to_string(v.int_value());
    if (IsUnsigned(t)) return std::to_string(v.uint_value());
    if (t == VarType::R4 || t == VarType::R8) {
        return FormatGeneral(v.real_value(), formats.DecimalSeparator());
    }
    if (t == VarType::Date) return formats.DateText(v.real_value());
    if (t == VarType::Cy) return CurrencyText(v.int_value(), formats.DecimalSeparator());
    if (t == VarType::Bool) return v.int_value() != 0 ? "True" : "False";
    CannotConvert(value, kTextTarget);
}

int32_t VariantToInt32(const Variant& value, const ValueFormats& formats) {
    const Variant& v = value.Deref();
    const VarType t = v.type();
    if (t == VarType::Empty) return 0;
    if (IsSigned(t)) {
        const int64_t i = v.int_value();
        if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max()) {
            Overflow(value, kIntegerTarget);
        }
        return static_cast<int32_t>(i);
    }
    if (IsUnsigned(t)) {
        if (v.uint_value() > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            Overflow(value, kIntegerTarget);
        }
        return static_cast<int32_t>(v.uint_value());
    }
    if (IsReal(t)) return CheckedInt32(RoundHalfEven(v.real_value()), value);
    if (t == VarType::Cy) {
        // Integer arithmetic: the scaled value may not be exact as a double.
        int64_t whole = v.int_value() / 10000;
        const int64_t rest = v.int_value() % 10000;
        const int64_t step = rest < 0 ? -1 : 1;
        const int64_t half = rest < 0 ? -rest : rest;
        if (half > 5000 || (half == 5000 && whole % 2 != 0)) whole += step;
        if (whole < std::numeric_limits<int32_t>::min() ||
            whole > std::numeric_limits<int32_t>::max()) {
            Overflow(value, kIntegerTarget);
        }
        return static_cast<int32_t>(whole);
    }
    if (t == VarType::Bool) return v.int_value() != 0 ? -1 : 0;
    if (t == VarType::Bstr) {
        double number = 0;
        if (!ParseDecimal(formats.Codec().ToAnsi(v.text()), formats.DecimalSeparator(), number)) {
            CannotConvert(value, kIntegerTarget);
        }
        return CheckedInt32(RoundHalfEven(number), value);
    }
    CannotConvert(value, kIntegerTarget);
}

double VariantToDouble(const Variant& value, const ValueFormats& formats) {
    const Variant& v = value.Deref();
    const VarType t = v.type();
    if (t == VarType::Empty) return 0;
    if (IsSigned(t)) return static_cast<double>(v.int_value());
    if (IsUnsigned(t)) return static_cast<double>(v.uint_value());
    if (IsReal(t)) return v.real_value();
    if (t == VarType::Cy) return static_cast<double>(v.int_value()) / 10000.0;
    if (t == VarType::Bool) return v.int_value() != 0 ? -1 : 0;
    if (t == VarType::Bstr) {
        // The system's number parse and the component's own decimal parse accept the same
        // forms here: a plain decimal number with the user's separator and an optional exponent.
        double number = 0;
        if (!ParseDecimal(formats.Codec().ToAnsi(v.text()), formats.DecimalSeparator(), number)) {
            CannotConvert(value, kDoubleTarget);
        }
        if (!std::isfinite(number)) Overflow(value, kDoubleTarget);
        return number;
    }
    CannotConvert(value, kDoubleTarget);
}

std::string FormatGeneral(double value, char decimal_separator) {
    if (value == 0 || std::isnan(value)) return value == 0 ? "0" : "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    // 15 significant digits in scientific form: d.dddddddddddddde[+-]x
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    std::string_view sci(buffer, static_cast<size_t>(result.ptr - buffer));
    const bool negative = sci.front() == '-';
    if (negative) sci.remove_prefix(1);
    const size_t e_pos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_pos)) {
        if (c != '.') digits.push_back(c);
    }
    int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string text = negative ? "-" : "";
    if (exponent >= 15 || exponent < -4) {
        text += digits.substr(0, 1);
        if (digits.size() > 1) text += decimal_separator + digits.substr(1);
        text += 'E' + std::to_string(exponent);
    } else if (exponent < 0) {
        text += '0';
        text += decimal_separator;
        text += std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else {
        const size_t whole = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            text += digits + std::string(whole - digits.size(), '0');
        } else {
            text += digits.substr(0, whole) + decimal_separator + digits.substr(whole);
        }
    }
    return text;
}

bool ParseDecimal(std::string_view text, char decimal_separator, double& out) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    // Rewrite into the plain form that from_chars reads, whatever the separator.
    std::string plain;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') plain.push_back('-');
        ++i;
    }
    size_t digits = 0;
    bool separator_seen = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            plain.push_back(c);
            ++digits;
        } else if (c == decimal_separator && !separator_seen) {
            plain.push_back('.');
            separator_seen = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain.push_back(text[i++]);
        size_t exponent_digits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++exponent_digits) {
            plain.push_back(text[i]);
        }
        if (exponent_digits == 0) return false;
    }
    if (i != text.size()) return false;
    const char* begin = plain.data();
    const auto result = std::from_chars(begin, begin + plain.size(), out);
    if (result.ec == std::errc::result_out_of_range) {
        // Underflow is a number (zero); overflow is one too, but not finite: callers report it.
        // Which of the two it is, the digits decide with the exponent: 1000...0e-5 overflows,
        // 0.000...01 without any exponent underflows.
        out = AtLeastOne(plain) ? (plain.front() == '-' ? -HUGE_VAL : HUGE_VAL) : 0.0;
        return true;
    }
    return result.ec == std::errc() && result.ptr == begin + plain.size();
}

bool ParseInt64(std::string_view text, int64_t& out) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    if (text.empty()) return false;
    // The magnitude, unsigned, so that the most negative value has one too.
    const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    uint64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool ParseInt32(std::string_view text, int32_t& out) {
    int64_t value = 0;
    if (!ParseInt64(text, value) || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    out = static_cast<int32_t>(value);
    return true;
}

double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5) return below + 1;
    if (fraction < 0.5) return below;
    return std::fmod(below, 2.0) == 0 ? below : below + 1;
}

}  // namespace kv
