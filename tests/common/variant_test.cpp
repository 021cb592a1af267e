#include "common/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "common/error.h"
#include "support/error_text.h"

namespace kv {
namespace {

class Formats final : public ValueFormats {
  public:
    explicit Formats(char separator = ',') : separator_(separator) {}
    const TextCodec& Codec() const override { return codec_; }
    char DecimalSeparator() const override { return separator_; }
    std::string DateText(double date) const override { return "date " + std::to_string(date); }

  private:
    Cp1251Codec codec_;
    char separator_;
};

std::string ErrorOf(auto&& convert) { return test::ErrorText(convert); }

Variant T(const char16_t* text) { return Variant::Text(text); }

TEST(VariantToInt32, ValuesThatConvert) {
    const Formats f;
    struct Case {
        Variant value;
        int32_t expected;
    };
    const Case cases[] = {
        {Variant(), 0},
        {Variant::Int32(-7), -7},
        {Variant::Signed(VarType::I8, 2147483647), 2147483647},
        {Variant::Unsigned(VarType::UI4, 2147483647u), 2147483647},
        {Variant::Double(2.5), 2},  // a half goes to the even neighbour
        {Variant::Double(3.5), 4},
        {Variant::Double(-2.5), -2},
        {Variant::Double(-3.5), -4},
        {Variant::Double(2.4999), 2},
        {Variant::Double(-2147483648.4), -2147483647 - 1},
        {Variant::Real(VarType::R4, 0.5), 0},
        {Variant::Date(1.75), 2},
        {Variant::Currency(25000), 2},  // 2.5
        {Variant::Currency(35000), 4},
        {Variant::Currency(-25001), -3},
        {Variant::Bool(true), -1},
        {Variant::Bool(false), 0},
        {T(u"1500"), 1500},
        {T(u" -12 "), -12},
        {T(u"12,5"), 12},  // the user's decimal separator
        {T(u"13,5"), 14},
        {T(u"1,5E3"), 1500},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VariantToInt32(c.value, f), c.expected) << VarTypeName(c.value.vt());
    }
}

TEST(VariantToInt32, FailuresNameBothTypes) {
    const Formats f;
    struct Case {
        Variant value;
        const char* message;
    };
    const Case cases[] = {
        {T(u"abc"), "Could not convert variant of type (OleStr) into type (Integer)"},
        {T(u"12.5"), "Could not convert variant of type (OleStr) into type (Integer)"},
        {T(u""), "Could not convert variant of type (OleStr) into type (Integer)"},
        {T(u"01.02.2025"), "Could not convert variant of type (OleStr) into type (Integer)"},
        {Variant::Null(), "Could not convert variant of type (Null) into type (Integer)"},
        {Variant::Opaque(VarType::Dispatch),
         "Could not convert variant of type (Dispatch) into type (Integer)"},
        {Variant::Double(2147483647.5),
         "Overflow while converting variant of type (Double) into type (Integer)"},
        {Variant::Double(NAN),
         "Overflow while converting variant of type (Double) into type (Integer)"},
        {Variant::Signed(VarType::I8, -2147483649LL),
         "Overflow while converting variant of type (Int64) into type (Integer)"},
        {Variant::Unsigned(VarType::UI4, 2147483648u),
         "Overflow while converting variant of type (LongWord) into type (Integer)"},
        {T(u"3000000000"),
         "Overflow while converting variant of type (OleStr) into type (Integer)"},
        {T(u"1E400"), "Overflow while converting variant of type (OleStr) into type (Integer)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ErrorOf([&] { VariantToInt32(c.value, f); }), c.message);
    }
}

TEST(VariantToDouble, ValuesAndFailures) {
    const Formats f;
    EXPECT_EQ(VariantToDouble(Variant(), f), 0);
    EXPECT_EQ(VariantToDouble(Variant::Date(45999.25), f), 45999.25);
    EXPECT_EQ(VariantToDouble(Variant::Currency(125000), f), 12.5);
    EXPECT_EQ(VariantToDouble(Variant::Bool(true), f), -1);
    EXPECT_EQ(VariantToDouble(T(u" 12,5 "), f), 12.5);
    EXPECT_EQ(VariantToDouble(T(u"-1,25e-2"), f), -0.0125);
    EXPECT_EQ(VariantToDouble(T(u"12.5"), Formats('.')), 12.5);
    EXPECT_EQ(ErrorOf([&] { VariantToDouble(T(u"12.5"), f); }),
              "Could not convert variant of type (OleStr) into type (Double)");
    EXPECT_EQ(ErrorOf([&] { VariantToDouble(T(u"08.12.2025"), f); }),
              "Could not convert variant of type (OleStr) into type (Double)");
    EXPECT_EQ(ErrorOf([&] { VariantToDouble(Variant::Null(), f); }),
              "Could not convert variant of type (Null) into type (Double)");
    EXPECT_EQ(ErrorOf([&] { VariantToDouble(T(u"1e999"), f); }),
              "Overflow while converting variant of type (OleStr) into type (Double)");
}

TEST(VariantToText, EveryTypeWithAText) {
    const Formats f;
    EXPECT_EQ(VariantToText(Variant(), f), "");
    EXPECT_EQ(VariantToText(Variant::Int32(12), f), "12");
    EXPECT_EQ(VariantToText(Variant::Signed(VarType::I8, -9000000000LL), f), "-9000000000");
    EXPECT_EQ(VariantToText(Variant::Unsigned(VarType::UI8, 18446744073709551615ull), f),
              "18446744073709551615");
    EXPECT_EQ(VariantToText(Variant::Double(12.5), f), "12,5");
    EXPECT_EQ(VariantToText(Variant::Double(12.5), Formats('.')), "12.5");
    EXPECT_EQ(VariantToText(Variant::Currency(-123400), f), "-12,34");
    EXPECT_EQ(VariantToText(Variant::Currency(70000), f), "7");
    EXPECT_EQ(VariantToText(Variant::Bool(true), f), "True");
    EXPECT_EQ(VariantToText(Variant::Date(2.5), f), f.DateText(2.5));
    EXPECT_EQ(VariantToText(T(u"Аптека"), f), "\xC0\xEF\xF2\xE5\xEA\xE0");
    EXPECT_EQ(ErrorOf([&] { VariantToText(Variant::Null(), f); }),
              "Could not convert variant of type (Null) into type (String)");
    EXPECT_EQ(ErrorOf([&] { VariantToText(Variant::Opaque(VarType::Unknown), f); }),
              "Could not convert variant of type (Unknown) into type (String)");
}

TEST(Variant, ByReferenceValuesAreFollowed) {
    const Formats f;
    const Variant target = Variant::Double(3.5);
    const Variant ref = Variant::Reference(target);
    EXPECT_TRUE(ref.is_by_ref());
    EXPECT_EQ(ref.vt(), static_cast<uint16_t>(VarType::R8) | kVarByRef);
    EXPECT_EQ(VariantToInt32(ref, f), 4);
    const Variant ref_to_ref = Variant::Reference(ref);
    EXPECT_EQ(ref_to_ref.type(), VarType::Variant);
    EXPECT_EQ(VariantToText(ref_to_ref, f), "3,5");
    const Variant null_target = Variant::Null();
    EXPECT_EQ(ErrorOf([&] { VariantToText(Variant::Reference(null_target), f); }),
              "Could not convert variant of type (Null ByRef) into type (String)");
}

TEST(FormatGeneral, FifteenDigitsAndExponentForm) {
    struct Case {
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {12.5, "12,5"},
        {100, "100"},
        {-3, "-3"},
        {0.1, "0,1"},
        {1.0 / 3, "0,333333333333333"},
        {2.0 / 3, "0,666666666666667"},
        {0.0001, "0,0001"},
        {0.00005, "5E-5"},
        {-0.000012345, "-1,2345E-5"},
        {123456789012345, "123456789012345"},
        {999999999999999, "999999999999999"},
        {1e15, "1E15"},
        {1.5e15, "1,5E15"},
        {9999999999999999.0, "1E16"},  // rounded to 15 digits first
        {1e300, "1E300"},
        {static_cast<double>(0.1f), "0,100000001490116"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatGeneral(c.value, ','), c.expected) << c.value;
}

// A number beyond the double range is too large or too small by its digits and its exponent
// together, not by the exponent's sign alone.
TEST(ParseDecimal, NumbersBeyondTheDoubleRange) {
    const std::string zeros(400, '0');
    struct Case {
        std::string text;
        double value;
    };
    const Case cases[] = {
        {"1e400", HUGE_VAL},
        {"-1e400", -HUGE_VAL},
        {"1e-400", 0},
        {"1e99999999999999999999", HUGE_VAL},
        {"1e-99999999999999999999", 0},
        {"0e99999", 0},
        {"0," + zeros + "1", 0},  // no exponent, and still too small
        {"-0," + zeros + "1", 0},
        {"1" + zeros + "e-5", HUGE_VAL},  // a negative exponent, and still too large
        {"-1" + zeros + "e-5", -HUGE_VAL},
        {"0," + zeros + "1e800", HUGE_VAL},
        {"1" + zeros + "e-800", 0},
    };
    for (const Case& c : cases) {
        double value = -7;
        EXPECT_TRUE(ParseDecimal(c.text, ',', value)) << c.text.substr(0, 40);
        EXPECT_EQ(value, c.value) << c.text.substr(0, 40);
    }
}

TEST(ParseInt32, DecimalIntegersOnly) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"7", true, 7},
        {"  -5", true, -5},
        {"+3", true, 3},
        {"0", true, 0},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"", false, 0},
        {" ", false, 0},
        {"abc", false, 0},
        {"12 ", false, 0},
        {"1.5", false, 0},
        {"-", false, 0},
        {"+-1", false, 0},
        {"99999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(ParseInt32(c.text, value), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(ParseInt64, TheWholeRangeAndNoFurther) {
    struct Case {
        const char* text;
        bool ok;
        int64_t value;
    };
    const Case cases[] = {
        {"9223372036854775807", true, INT64_MAX}, {"-9223372036854775808", true, INT64_MIN},
        {"9223372036854775808", false, 0},        {"-9223372036854775809", false, 0},
        {"18446744073709551616", false, 0},  // wraps to 0 in 64 bits unless checked
        {" +2147483648", true, 2147483648LL},     {"1e5", false, 0},
    };
    for (const Case& c : cases) {
        int64_t value = 0;
        EXPECT_EQ(ParseInt64(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(RoundHalfEven, Halves) {
    const double in[] = {0.5, 1.5, 2.5, -0.5, -1.5, 1e300, 4.500000001};
    const double out[] = {0, 2, 2, -0.0, -2, 1e300, 5};
    for (size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(RoundHalfEven(in[i]), out[i]) << in[i];
}

}  // namespace
}  // namespace kv
