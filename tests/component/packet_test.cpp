#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "common/error.h"
#include "common/fields.h"
#include "component/vk_object.h"
#include "support/error_text.h"
#include "support/fake_platform.h"

namespace kv {
namespace {

using test::Str;

class Packet : public ::testing::Test {
  protected:
    int Number(const char* english) {
        for (int i = 0; i < kMethodCount; ++i) {
            std::string name;
            vk.MethodHandler(i, ActEnglishName, name);
            if (name == english) return i;
        }
        ADD_FAILURE() << "no method " << english;
        return 0;
    }
    // The host's call: ResultValue is VT_I4 0 before the method runs.
    Variant Call(int number, const test::VectorParams& params) {
        vk.ResultValue = Variant::Int32(0);
        vk.Params = &params;
        vk.MethodHandler(number, ActExecute, unused);
        vk.Params = nullptr;
        return vk.ResultValue;
    }
    Variant Add(const test::VectorParams& params) { return Call(add_, params); }
    Variant Clear() { return Call(clear_, {}); }

    test::VectorParams Letters(char first) {
        test::VectorParams p;
        for (char c = first; c < first + 10; ++c) p.values.push_back(Str(std::string(1, c)));
        return p;
    }

    test::FakePlatform fake;
    T_vk_object vk{fake.platform, test::ComponentMethods()};
    std::string unused;
    const int add_ = Number("AddPositionInPacket");
    const int clear_ = Number("ClearPacket");
};

TEST_F(Packet, ClearOnANewObject) {
    EXPECT_EQ(Clear(), Variant::Int32(1));
    EXPECT_EQ(vk.PacketText, "");
    EXPECT_EQ(vk.PacketCount, 0);
}

TEST_F(Packet, PositionsAreTenFieldsEachEndedByATab) {
    EXPECT_EQ(Add(Letters('a')), Variant::Int32(1));
    EXPECT_EQ(Add(Letters('k')), Variant::Int32(2));
    EXPECT_EQ(vk.PacketText, "a\tb\tc\td\te\tf\tg\th\ti\tj\tk\tl\tm\tn\to\tp\tq\tr\ts\tt\t");
    // Empty or missing parameters are empty fields.
    Clear();
    Add({Str(""), Str(""), Str("")});
    EXPECT_EQ(vk.PacketText, std::string(10, '\t'));
}

TEST_F(Packet, FieldsAreCopiedUnchanged) {
    test::VectorParams p = Letters('a');
    p.values[1] = Str(" x\ty ");  // a tab inside shifts the later fields by one
    p.values[2] = Variant::Int32(-12);
    p.values[3] = Str("Аптека");
    Add(p);
    EXPECT_EQ(GetDelimitedField(2, vk.PacketText, '\t'), " x");
    EXPECT_EQ(GetDelimitedField(3, vk.PacketText, '\t'), "y ");
    EXPECT_EQ(GetDelimitedField(4, vk.PacketText, '\t'), "-12");
    EXPECT_EQ(GetDelimitedField(5, vk.PacketText, '\t'), Cp1251FromUtf8("Аптека"));
    EXPECT_EQ(GetDelimitedField(12, vk.PacketText, '\t'), "");
}

TEST_F(Packet, CountIsNeverReset) {
    for (int i = 0; i < 3; ++i) Add(Letters('a'));
    EXPECT_EQ(Clear(), Variant::Int32(1));
    EXPECT_EQ(vk.PacketCount, 3);
    EXPECT_EQ(Add(Letters('k')), Variant::Int32(4));
    EXPECT_EQ(vk.PacketText, "k\tl\tm\tn\to\tp\tq\tr\ts\tt\t");
}

TEST_F(Packet, ABadParameterChangesNothing) {
    Add(Letters('a'));
    const std::string before = vk.PacketText;
    test::VectorParams p = Letters('k');
    p.values[5] = Variant::Null();
    vk.ResultValue = Variant::Int32(77);
    EXPECT_EQ(test::ErrorText([&] { Add(p); }),
              Cp1251FromUtf8("Параметр номер 6 не может быть преобразован в строку."));
    EXPECT_EQ(vk.PacketText, before);
    EXPECT_EQ(vk.PacketCount, 1);
    EXPECT_EQ(vk.ResultValue, Variant::Int32(0));  // as the call protocol left it
}

TEST_F(Packet, HundredThousandPositionsGrowLinearly) {
    const test::VectorParams p = Letters('a');
    constexpr int kPositions = 100000;
    int moves = 0;
    const char* data = vk.PacketText.data();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPositions; ++i) {
        Add(p);
        if (vk.PacketText.data() != data) ++moves, data = vk.PacketText.data();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d positions in %.3f s, text moved %d times\n", kPositions, seconds, moves);
    EXPECT_EQ(vk.PacketCount, kPositions);
    EXPECT_EQ(vk.PacketText.size(), 20u * kPositions);
    // Geometric growth moves the text a few dozen times; copying per append would move it
    // on every call.
    EXPECT_LT(moves, 64);
    EXPECT_LE(vk.PacketText.capacity(), 2 * vk.PacketText.size() + 64);
}

}  // namespace
}  // namespace kv
