// The host-facing protocol through its portable entry points: name lookup, properties with
// their defaults and conversions, parameter counts, method calls and the error log.
#include "component/protocol.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "common/text.h"
#include "component/catalogue.h"
#include "support/error_text.h"
#include "support/fake_platform.h"

namespace kv {
namespace {

using test::Str;
using test::U;

class ProtocolTest : public ::testing::Test {
  protected:
    test::FakePlatform fake;
    test::RecordingErrorLog log;
    Protocol protocol{fake.platform, &log, test::ComponentMethods()};

    Variant Get(int32_t number) {
        Variant value = Variant::Int32(99);
        protocol.GetPropVal(number, value);
        return value;
    }
    int32_t Find(const char* utf8, bool method) {
        int32_t number = 123;
        method ? protocol.FindMethod(U(utf8), number) : protocol.FindProp(U(utf8), number);
        return number;
    }
    std::string LastError() {
        return log.records.empty() ? "" : Utf16ToUtf8(log.records.back().description);
    }
};

TEST_F(ProtocolTest, NameLookupIsByteForByteOverRussianThenEnglish) {
    struct Case {
        const char* name;
        bool method;
        int32_t number;
        int32_t answer;
    };
    const Case cases[] = {
        {"Таймаут", false, 8, kS_OK},
        {"Timeout", false, 8, kS_OK},
        {"timeout", false, -1, kS_FALSE},   // case matters
        {"Timeout ", false, -1, kS_FALSE},  // nothing is trimmed
        {"ТорговоеНаименование", false, 0, kS_OK},
        {"ИмяФайлаСЗаявкой", false, 20, kS_OK},
        {"FileWithZakaz", false, 20, kS_OK},
        {"FindPosition", false, -1, kS_FALSE},  // a method is not a property
        {"FindPacket", true, 19, kS_OK},
        {"ПодобратьАвтозаказИзФайла", true, 20, kS_OK},
        {"НайтиПозицию", true, 7, kS_OK},
        {"ОбновитьПрайсы", true, 0, kS_OK},
        {"findpacket", true, -1, kS_FALSE},
        {"", true, -1, kS_FALSE},
    };
    for (const Case& c : cases) {
        int32_t number = 123;
        const int32_t answer = c.method ? protocol.FindMethod(U(c.name), number)
                                        : protocol.FindProp(U(c.name), number);
        EXPECT_EQ(number, c.number) << c.name;
        EXPECT_EQ(answer, c.answer) << c.name;
    }
}

TEST_F(ProtocolTest, EveryMemberIsFoundByBothNames) {
    for (int i = 0; i < kPropertyCount; ++i) {
        EXPECT_EQ(Find(PropertyAt(i).russian, false), i);
        EXPECT_EQ(Find(PropertyAt(i).english, false), i);
    }
    for (int i = 0; i < kMethodCount; ++i) {
        EXPECT_EQ(Find(MethodAt(i).russian, true), i);
        EXPECT_EQ(Find(MethodAt(i).english, true), i);
    }
}

TEST_F(ProtocolTest, RussianNamesAreHeldAsWindows1251) {
    std::string name;
    protocol.object().PropertyHandler(8, ActRussianName, name);
    EXPECT_EQ(name, "\xD2\xE0\xE9\xEC\xE0\xF3\xF2");  // Таймаут
    protocol.object().MethodHandler(5, ActRussianName, name);
    EXPECT_EQ(name, "\xCF\xF0\xE5\xF0\xE2\xE0\xF2\xFC\xCF\xEE\xE8\xF1\xEA");  // ПрерватьПоиск
}

TEST_F(ProtocolTest, DefaultsOfANewComponent) {
    EXPECT_EQ(Get(8), Variant::Int32(0));   // Timeout
    EXPECT_EQ(Get(6), Variant::Int32(0));   // PriceID
    EXPECT_EQ(Get(7), Variant::Int32(0));   // Amount
    EXPECT_EQ(Get(4), Variant::Double(0));  // Pprice
    EXPECT_EQ(Get(5), Variant::Date(0));    // UseByDate
    EXPECT_EQ(Get(0), Variant::Text(u""));  // TradeName
    EXPECT_EQ(Get(9), Variant::Text(u""));  // NameWindow1C
    EXPECT_EQ(Get(11), Variant::Text(u"C:\\Kelvarin\\kelvarin.fdb"));
    EXPECT_EQ(Get(12), Variant::Text(u"SYSDBA"));
    EXPECT_EQ(Get(13), Variant::Text(u"plovimark"));
    EXPECT_EQ(Get(14), Variant::Text(u""));
    EXPECT_EQ(Get(15), Variant::Text(u"gds32.dll"));
    EXPECT_EQ(Get(16), Variant::Text(u""));
    EXPECT_EQ(Get(18), Variant::Text(u"C:\\Kelvarin\\Zakaz"));
    EXPECT_EQ(Get(20), Variant::Text(u"c:\\Kelvarin\\Autozakaz.txt"));
    EXPECT_EQ(Variant::Text(u""), T_vk_object(fake.platform, test::ComponentMethods()).ResultValue);
    EXPECT_TRUE(log.records.empty());
}

TEST_F(ProtocolTest, PropertyWritesConvertToTheFieldType) {
    struct Case {
        int32_t number;
        Variant written;
        Variant read;
    };
    const Case cases[] = {
        {8, Str("1500"), Variant::Int32(1500)},
        {8, Variant::Double(2.5), Variant::Int32(2)},
        {8, Variant::Double(3.5), Variant::Int32(4)},
        {7, Variant(), Variant::Int32(0)},
        {6, Variant::Bool(true), Variant::Int32(-1)},
        {0, Variant::Int32(12), Variant::Text(u"12")},
        {0, Variant(), Variant::Text(u"")},
        {1, Str("Фармстандарт"), Str("Фармстандарт")},
        {4, Str("12,5"), Variant::Double(12.5)},
        {4, Variant::Int32(3), Variant::Double(3)},
        {5, Variant::Date(45999.5), Variant::Date(45999.5)},
        {5, Variant::Int32(45999), Variant::Date(45999)},
        {10, Variant::Double(0.5), Variant::Text(u"0,5")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(protocol.SetPropVal(c.number, c.written), kS_OK) << c.number;
        EXPECT_EQ(Get(c.number), c.read) << c.number;
    }
    EXPECT_TRUE(log.records.empty());
}

TEST_F(ProtocolTest, AFailedWriteIsReportedAndKeepsTheValue) {
    protocol.SetPropVal(7, Variant::Int32(5));
    EXPECT_EQ(protocol.SetPropVal(7, Str("abc")), kS_FALSE);
    EXPECT_EQ(Get(7), Variant::Int32(5));
    EXPECT_EQ(LastError(),
              "Ошибка изменения свойства: Could not convert variant of type (OleStr) into type "
              "(Integer)");

    protocol.SetPropVal(5, Variant::Date(100));
    EXPECT_EQ(protocol.SetPropVal(5, Str("08.12.2025")), kS_FALSE);  // a date as text
    EXPECT_EQ(Get(5), Variant::Date(100));

    EXPECT_EQ(protocol.SetPropVal(0, Variant::Null()), kS_FALSE);
    EXPECT_EQ(protocol.SetPropVal(8, Variant::Double(1e10)), kS_FALSE);
    EXPECT_EQ(LastError(),
              "Ошибка изменения свойства: Overflow while converting variant of type (Double) "
              "into type (Integer)");
    EXPECT_EQ(log.records.size(), 4u);
}

TEST_F(ProtocolTest, ByReferenceWritesCopyTheTarget) {
    Variant target = Variant::Int32(42);
    EXPECT_EQ(protocol.SetPropVal(8, Variant::Reference(target)), kS_OK);
    target = Variant::Int32(7);  // the host's memory changes after the call
    EXPECT_EQ(Get(8), Variant::Int32(42));
    EXPECT_FALSE(protocol.object().ResultValue.is_by_ref());
}

TEST_F(ProtocolTest, NameWindow1CTakesAnyValueAndKeepsNone) {
    EXPECT_EQ(protocol.SetPropVal(9, Str("Окно")), kS_OK);
    EXPECT_EQ(protocol.SetPropVal(9, Variant::Null()), kS_OK);
    EXPECT_EQ(Get(9), Variant::Text(u""));
}

TEST_F(ProtocolTest, MemberNumbersUseTheirLowEightBits) {
    Variant value = Variant::Int32(5);
    EXPECT_EQ(protocol.GetPropVal(21, value), kS_FALSE);
    EXPECT_EQ(value, Variant());
    EXPECT_EQ(protocol.SetPropVal(21, Variant::Int32(5)), kS_FALSE);
    EXPECT_EQ(protocol.GetPropVal(-1, value), kS_FALSE);
    protocol.SetPropVal(8, Variant::Int32(77));
    EXPECT_EQ(protocol.GetPropVal(256 + 8, value), kS_OK);
    EXPECT_EQ(value, Variant::Int32(77));
    EXPECT_TRUE(log.records.empty());
}

TEST_F(ProtocolTest, ParameterCounts) {
    const int32_t expected[kMethodCount] = {0, 0, 1, 0, 1, 0, 0, 3,  2, 0, 0,
                                            0, 0, 0, 1, 0, 2, 0, 10, 0, 1};
    for (int32_t i = 0; i < kMethodCount; ++i) {
        int32_t count = -5;
        EXPECT_EQ(protocol.GetNParams(i, count), kS_OK);
        EXPECT_EQ(count, expected[i]) << MethodAt(i).english;
    }
    int32_t count = -5;
    EXPECT_EQ(protocol.GetNParams(200, count), kS_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(protocol.GetNParams(256 + 18, count), kS_OK);
    EXPECT_EQ(count, 10);
}

TEST_F(ProtocolTest, CallingAMethodThatSelectsNothing) {
    Variant result = Str("old");
    EXPECT_EQ(protocol.CallAsFunc(21, result, nullptr), kS_FALSE);
    EXPECT_EQ(result, Variant::Int32(0));
    EXPECT_TRUE(log.records.empty());
}

TEST_F(ProtocolTest, NameOnlyMethodsReturnZeroAndChangeNothing) {
    for (int32_t method : {3, 4}) {                        // GetDistribList, GetPriceItem
        const test::VectorParams params{Variant::Null()};  // never read
        Variant result;
        EXPECT_EQ(protocol.CallAsFunc(method, result, &params), kS_OK);
        EXPECT_EQ(result, Variant::Int32(0));
    }
    EXPECT_TRUE(log.records.empty());
    EXPECT_TRUE(fake.notices.shown.empty());
}

TEST_F(ProtocolTest, LoadPricesAndLoadOtkazesShowTheNotice) {
    for (int32_t method : {0, 1}) {
        Variant result;
        EXPECT_EQ(protocol.CallAsFunc(method, result, nullptr), kS_OK);
        EXPECT_EQ(result, Variant::Int32(0));
    }
    ASSERT_EQ(fake.notices.shown.size(), 2u);
    for (const auto& shown : fake.notices.shown) {
        EXPECT_EQ(Utf8FromCp1251(shown.text), "Функция временно недоступна");
        EXPECT_FALSE(shown.error);
    }
}

// Parameters through the call protocol, with a method body of the test's own.
class ParameterTest : public ProtocolTest {
  protected:
    T_vk_object& vk() { return protocol.object(); }
};

TEST_F(ParameterTest, ConversionsOfMethodParameters) {
    const test::VectorParams params{Variant::Double(3.5), Variant::Double(2.5), Str("abc"),
                                    Variant::Null()};
    vk().Params = &params;
    EXPECT_EQ(vk().GetIntegerParam(0), 4);
    EXPECT_EQ(vk().GetIntegerParam(1), 2);
    EXPECT_EQ(vk().GetStringParam(0), "3,5");
    EXPECT_EQ(vk().GetStringParam(2), "abc");
    EXPECT_EQ(vk().GetStringParam(7), "");  // beyond the parameters passed: empty, no error
    EXPECT_EQ(vk().GetIntegerParam(7), 0);
}

TEST_F(ParameterTest, ConversionFailuresGiveTheParameterMessages) {
    const test::VectorParams params{Str("abc"), Variant::Null()};
    vk().Params = &params;
    EXPECT_EQ(test::ErrorText([&] { vk().GetIntegerParam(0); }),
              Cp1251FromUtf8("Параметр номер 1 не может быть преобразован в целое число."));
    EXPECT_EQ(test::ErrorText([&] { vk().GetStringParam(1); }),
              Cp1251FromUtf8("Параметр номер 2 не может быть преобразован в строку."));
}

TEST_F(ProtocolTest, AFailingMethodAnswersOkWithZeroAndLogsItsMessage) {
    // AddPositionInPacket reads all ten parameters as text; the fourth has no text form.
    test::VectorParams params;
    for (int i = 0; i < 10; ++i) params.values.push_back(i == 3 ? Variant::Null() : Str("x"));
    Variant result = Str("old");
    EXPECT_EQ(protocol.CallAsFunc(18, result, &params), kS_OK);
    EXPECT_EQ(result, Variant::Int32(0));
    ASSERT_EQ(log.records.size(), 1u);
    const ErrorRecord& record = log.records[0];
    EXPECT_EQ(record.wCode, 1006);
    EXPECT_EQ(record.source, u"KelvarinVK");
    EXPECT_EQ(record.scode, static_cast<int32_t>(0x80004005u));
    EXPECT_EQ(Utf16ToUtf8(record.description),
              "Параметр номер 4 не может быть преобразован в строку.");
    EXPECT_EQ(protocol.object().Params, nullptr);  // the host's array is not kept
    EXPECT_EQ(protocol.object().PacketCount, 0);
}

TEST_F(ProtocolTest, ReportErrorDropsBlankTextsAndKeepsOthersUntrimmed) {
    protocol.ReportError("");
    protocol.ReportError(" \t\r\n");
    EXPECT_TRUE(log.records.empty());
    protocol.ReportError("  disk full \r\n");
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_EQ(log.records[0].description, u"  disk full \r\n");

    Protocol without_log(fake.platform, nullptr,
                         test::ComponentMethods());  // the host refused its error log
    without_log.ReportError("dropped");
    EXPECT_EQ(without_log.SetPropVal(7, Str("abc")), kS_FALSE);
}

}  // namespace
}  // namespace kv
