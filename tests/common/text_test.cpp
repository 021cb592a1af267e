#include "common/text.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(Cp1251, EveryByteSurvivesTheRoundTrip) {
    Cp1251Codec codec;
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::u16string wide = codec.ToUtf16(one);
        ASSERT_EQ(wide.size(), 1u);
        EXPECT_EQ(codec.ToAnsi(wide), one) << "byte " << b;
    }
}

// Checked against the code points: each upper-case letter of Windows-1251 becomes its lower-case
// letter, everything else stays.
TEST(Cp1251, LowerCp1251FollowsTheCyrillicAndLatinLetters) {
    Cp1251Codec codec;
    for (int b = 0; b < 256; ++b) {
        std::string text(1, static_cast<char>(b));
        const char16_t upper = codec.ToUtf16(text)[0];
        LowerCp1251(text);
        const char16_t lower = codec.ToUtf16(text)[0];
        char16_t expected = upper;
        if ((upper >= u'A' && upper <= u'Z') || (upper >= 0x0410 && upper <= 0x042F)) {
            expected = upper + 0x20;
        } else if (upper >= 0x0400 && upper <= 0x040F) {
            expected = upper + 0x50;
        } else if (upper == 0x0490) {
            expected = 0x0491;
        }
        EXPECT_EQ(lower, expected) << "byte " << b;
    }
}

TEST(Cp1251, KnownLetters) {
    Cp1251Codec codec;
    EXPECT_EQ(codec.ToUtf16("\xC0\xFF\xA8\xB8\xB9"), u"\u0410\u044F\u0401\u0451\u2116");
    EXPECT_EQ(codec.ToAnsi(u"\u20AC\u00A0"), "\x88\xA0");
}

TEST(Cp1251, UnmappableCharactersBecomeQuestionMarks) {
    Cp1251Codec codec;
    EXPECT_EQ(codec.ToAnsi(u"a\u4E2Db"), "a?b");
    EXPECT_EQ(codec.ToAnsi(u"\U0001F600"), "?");  // a surrogate pair is one character
    EXPECT_EQ(codec.ToAnsi(std::u16string(1, char16_t(0xD800))), "?");
}

TEST(Cp1251, SourceTextsBecomeWindows1251Bytes) {
    // "Параметр номер " as the component holds it.
    EXPECT_EQ(Cp1251FromUtf8("Параметр номер "),
              "\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\x20\xED\xEE\xEC\xE5\xF0\x20");
    EXPECT_EQ(Cp1251FromUtf8("Ёё №"), "\xA8\xB8\x20\xB9");
    EXPECT_EQ(Utf8FromCp1251("\xD4\xE8\xEB\xFC\xF2\xF0"), "Фильтр");
}

TEST(Utf8, MalformedInputIsReplacedNotDropped) {
    EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");            // cut short
    EXPECT_EQ(Utf8ToUtf16("\x80z"), u"\uFFFDz");            // stray continuation byte
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82z"), u"\uFFFD\uFFFDz");  // bad continuation
    // Longer forms than a character needs, surrogates and values past U+10FFFF: one
    // replacement per byte, so that no tab or line break hides in them.
    EXPECT_EQ(Utf8ToUtf16("a\xC0\x89"
                          "b"),
              u"a\uFFFD\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE0\x80\x8A"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x80\x80\x80"), std::u16string(4, u'\uFFFD'));
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), std::u16string(4, u'\uFFFD'));
    EXPECT_EQ(Cp1251FromUtf8("\xC0\x89"), "??");
    EXPECT_EQ(Utf8ToUtf16("\xC2\x80\xE0\xA0\x80\xF4\x8F\xBF\xBF"), u"\u0080\u0800\U0010FFFF");
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("Ж\U0001F600")), "Ж\U0001F600");
}

TEST(TrimControl, RemovesCodesUpTo32AtBothEnds) {
    EXPECT_EQ(TrimControl(" \t\r\n 12 \x01"), "12");
    EXPECT_EQ(TrimControl("  "), "");
    EXPECT_EQ(TrimControl(" a b "), "a b");
    EXPECT_EQ(TrimControl("\xA0x\xA0"), "\xA0x\xA0");  // no-break space is a character
}

}  // namespace
}  // namespace kv
