// Every variant type into every property, through Protocol::SetPropVal and GetPropVal.
// Input: the host's member number (4 bytes), the variant type code (2 bytes, by-reference flag
// included), the decimal separator (a byte), the value (8 bytes: integer, double or currency
// as the type wants), then UTF-16 code units for a text.
// A write either stores the documented conversion, read back through GetPropVal, or fails with
// the conversion message naming both types and leaves the property as it was.
#include <cmath>
#include <limits>

#include "common/variant.h"
#include "fuzz_support.h"

using namespace kv;
using kv::fuzz::Check;

namespace {

enum class Kind { Text, Double, Date, Integer, None };

Kind KindOf(int member) {
    switch (member) {
        case 4:
            return Kind::Double;
        case 5:
            return Kind::Date;
        case 6:
        case 7:
        case 8:
            return Kind::Integer;
        case 9:
            return Kind::None;
        default:
            return Kind::Text;
    }
}

// A host value holds only what its type can: an I2 is 16 bits, a UI1 8 and so on.
int64_t SignedOf(VarType t, uint64_t bits) {
    switch (t) {
        case VarType::I1:
            return static_cast<int8_t>(bits);
        case VarType::I2:
            return static_cast<int16_t>(bits);
        case VarType::I4:
        case VarType::Int:
            return static_cast<int32_t>(bits);
        default:
            return static_cast<int64_t>(bits);
    }
}
uint64_t UnsignedOf(VarType t, uint64_t bits) {
    switch (t) {
        case VarType::UI1:
            return static_cast<uint8_t>(bits);
        case VarType::UI2:
            return static_cast<uint16_t>(bits);
        case VarType::UI4:
        case VarType::UInt:
            return static_cast<uint32_t>(bits);
        default:
            return bits;
    }
}

struct Expected {
    enum { Value, CannotConvert, Overflow, Unchecked } outcome = Value;
    double number = 0;  // Double, Date and Integer properties
};

// The conversion of a numeric value as documented: integers exactly, reals to the nearest
// integer with a half to the even one (the default rounding of the C library).
Expected ToNumber(const Variant& v, Kind kind, char separator, const Cp1251Codec& codec) {
    Expected e;
    const VarType t = v.type();
    double value = 0;
    if (t == VarType::Empty) {
        value = 0;
    } else if (IsSigned(t)) {
        if (kind == Kind::Integer && (v.int_value() < INT32_MIN || v.int_value() > INT32_MAX)) {
            e.outcome = Expected::Overflow;
            return e;
        }
        value = static_cast<double>(v.int_value());
    } else if (IsUnsigned(t)) {
        if (kind == Kind::Integer && v.uint_value() > INT32_MAX) {
            e.outcome = Expected::Overflow;
            return e;
        }
        value = static_cast<double>(v.uint_value());
    } else if (t == VarType::R4 || t == VarType::R8 || t == VarType::Date) {
        value = v.real_value();
    } else if (t == VarType::Cy) {
        if (kind == Kind::Integer) {
            e.outcome = Expected::Unchecked;  // the currency mode of parsers_fuzz covers it
            return e;
        }
        value = static_cast<double>(v.int_value()) / 10000.0;
    } else if (t == VarType::Bool) {
        value = v.int_value() != 0 ? -1 : 0;
    } else if (t == VarType::Bstr) {
        if (!fuzz::ReferenceDecimal(codec.ToAnsi(v.text()), separator, value)) {
            e.outcome = Expected::CannotConvert;
            return e;
        }
        if (kind != Kind::Integer && !std::isfinite(value)) {
            e.outcome = Expected::Overflow;
            return e;
        }
    } else {
        e.outcome = Expected::CannotConvert;
        return e;
    }
    if (kind == Kind::Integer && t != VarType::Empty && !IsSigned(t) && !IsUnsigned(t)) {
        value = std::nearbyint(value);
        if (!(value >= -2147483648.0 && value <= 2147483647.0)) {
            e.outcome = Expected::Overflow;
            return e;
        }
    }
    e.number = value;
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const auto number = input.Number<int32_t>();
    const auto vt = input.Number<uint16_t>();
    char separator = static_cast<char>(input.Byte());
    if ((separator >= '0' && separator <= '9') || separator == '+' || separator == '-' ||
        separator == 'e' || separator == 'E') {
        separator = ',';
    }
    const auto bits = input.Number<uint64_t>();
    std::u16string text;
    for (std::string_view rest = input.Rest(); rest.size() >= 2; rest.remove_prefix(2)) {
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(rest[0]) |
                                             static_cast<uint8_t>(rest[1]) << 8));
    }

    // The value of the type code, followed through up to two references.
    const auto type = static_cast<VarType>(vt & kVarTypeMask);
    Variant target;
    double real = 0;
    std::memcpy(&real, &bits, sizeof real);
    if (IsSigned(type)) {
        target = Variant::Signed(type, SignedOf(type, bits));
    } else if (IsUnsigned(type)) {
        target = Variant::Unsigned(type, UnsignedOf(type, bits));
    } else if (type == VarType::R4 || type == VarType::R8 || type == VarType::Date) {
        target = Variant::Real(type, real);
    } else if (type == VarType::Cy) {
        target = Variant::Currency(static_cast<int64_t>(bits));
    } else if (type == VarType::Bool) {
        target = Variant::Bool((bits & 1) != 0);
    } else if (type == VarType::Bstr) {
        target = Variant::Text(text);
    } else if (type == VarType::Empty) {
        target = Variant();
    } else {
        target = Variant::Opaque(type);
    }
    const Variant once = Variant::Reference(target);
    const Variant twice = Variant::Reference(once);
    const Variant& value = (vt & kVarByRef) == 0 ? target : (bits >> 63) != 0 ? twice : once;

    fuzz::FuzzPlatform os;
    os.regional.settings.decimal_separator = separator;
    fuzz::RecordingErrors errors;
    Protocol protocol(os.platform, &errors, AddinMethods());
    Variant before, after;
    const int32_t read_before = protocol.GetPropVal(number, before);
    const int32_t answer = protocol.SetPropVal(number, value);
    const int32_t read_after = protocol.GetPropVal(number, after);
    const auto detail = [&] {
        std::string description =
            errors.records.empty() ? "" : Utf16ToUtf8(errors.records.back().description);
        return "member " + std::to_string(number) + ", type " + VarTypeName(value.vt()) +
               ", bits " + std::to_string(bits) + ", answer " + std::to_string(answer) + ", " +
               description;
    };

    const int member = static_cast<int>(static_cast<uint32_t>(number) & 0xFF);
    if (member >= kPropertyCount) {
        Check(answer == kS_FALSE && read_before == kS_FALSE && read_after == kS_FALSE &&
                  errors.records.empty(),
              "a number that names no property is refused without an error", detail);
        return 0;
    }
    Check(read_before == kS_OK && read_after == kS_OK, "reading a property cannot fail", detail);
    const Kind kind = KindOf(member);
    if (kind == Kind::None) {
        Check(answer == kS_OK && errors.records.empty() && after == Variant::Text(u""),
              "NameWindow1C takes anything and reads as an empty text", detail);
        return 0;
    }

    const Variant& v = value.Deref();
    // What the write should do, from the documented rules rather than from the code.
    Expected expected;
    if (kind == Kind::Text) {
        const VarType t = v.type();
        const bool convertible = t == VarType::Empty || t == VarType::Bstr || IsSigned(t) ||
                                 IsUnsigned(t) || t == VarType::R4 || t == VarType::R8 ||
                                 t == VarType::Date || t == VarType::Cy || t == VarType::Bool;
        expected.outcome = convertible ? Expected::Value : Expected::CannotConvert;
    } else {
        expected = ToNumber(v, kind, separator, os.codec);
    }

    if (answer != kS_OK) {
        Check(answer == kS_FALSE && errors.records.size() == 1, "a failed write is reported",
              detail);
        Check(after == before, "a failed write leaves the property as it was", detail);
        const std::string target_name = kind == Kind::Text      ? "String"
                                        : kind == Kind::Integer ? "Integer"
                                                                : "Double";
        const std::string types =
            "variant of type (" + VarTypeName(v.vt()) + ") into type (" + target_name + ")";
        const std::string message = Utf16ToUtf8(errors.records.front().description);
        const std::string prefix = "Ошибка изменения свойства: ";
        if (expected.outcome == Expected::CannotConvert) {
            Check(message == prefix + "Could not convert " + types, "the conversion message",
                  detail);
        } else if (expected.outcome == Expected::Overflow) {
            Check(message == prefix + "Overflow while converting " + types, "the overflow message",
                  detail);
        } else {
            Check(expected.outcome == Expected::Unchecked, "a write that should succeed fails",
                  detail);
        }
        return 0;
    }
    Check(errors.records.empty(), "a write that succeeds reports nothing", detail);
    Check(expected.outcome == Expected::Value || expected.outcome == Expected::Unchecked,
          "a write that should fail succeeds", detail);

    switch (kind) {
        case Kind::Text: {
            Check(after.type() == VarType::Bstr, "a text property reads as a text", detail);
            const std::u16string& stored = after.text();
            const VarType t = v.type();
            if (t == VarType::Empty) {
                Check(stored.empty(), "an empty value is an empty text", detail);
            } else if (IsSigned(t)) {
                Check(Utf16ToUtf8(stored) == std::to_string(v.int_value()),
                      "an integer's decimal digits", detail);
            } else if (IsUnsigned(t)) {
                Check(Utf16ToUtf8(stored) == std::to_string(v.uint_value()),
                      "an unsigned integer's decimal digits", detail);
            } else if ((t == VarType::R4 || t == VarType::R8) &&
                       std::fabs(v.real_value()) < 1.797693134862315e308) {
                // (Fifteen digits of the largest doubles round past the range.)
                double read = 0;
                Check(ParseDecimal(os.codec.ToAnsi(stored), separator, read) &&
                          std::fabs(read - v.real_value()) <= std::fabs(v.real_value()) * 5.1e-15,
                      "a real's text holds its 15 significant digits", detail);
            } else if (t == VarType::Bool) {
                Check(stored == (v.int_value() != 0 ? u"True" : u"False"), "a boolean's text",
                      detail);
            } else if (t == VarType::Bstr) {
                // One character per code point: the same where Windows-1251 holds it, '?' else.
                size_t k = 0;
                bool same = true;
                for (size_t i = 0; i < v.text().size(); ++i, ++k) {
                    char32_t c = v.text()[i];
                    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < v.text().size() &&
                        v.text()[i + 1] >= 0xDC00 && v.text()[i + 1] <= 0xDFFF) {
                        c = 0x10000 + ((c - 0xD800) << 10) + (v.text()[i + 1] - 0xDC00);
                        ++i;
                    }
                    if (k >= stored.size() || (stored[k] != c && stored[k] != u'?')) same = false;
                }
                Check(same && k == stored.size(), "a text keeps every character 1251 holds",
                      detail);
            }
            break;
        }
        case Kind::Double:
        case Kind::Date:
            Check(after.type() == (kind == Kind::Date ? VarType::Date : VarType::R8),
                  "a double property reads as its type", detail);
            if (expected.outcome == Expected::Value) {
                Check(after.real_value() == expected.number ||
                          (std::isnan(after.real_value()) && std::isnan(expected.number)),
                      "the double stored is the value's", detail);
            }
            break;
        case Kind::Integer:
            Check(after.type() == VarType::I4, "an integer property reads as VT_I4", detail);
            if (expected.outcome == Expected::Value) {
                Check(static_cast<double>(after.int_value()) == expected.number,
                      "the integer stored is the value's nearest, a half to the even", detail);
            }
            break;
        case Kind::None:
            break;
    }
    return 0;
}
