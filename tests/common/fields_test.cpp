#include "common/fields.h"

#include <gtest/gtest.h>

#include <random>

namespace kv {
namespace {

struct FieldCase {
    int n;
    const char* text;
    const char* expected;
};

TEST(GetDelimitedField, FieldsByNumber) {
    const FieldCase cases[] = {
        {1, "abc", "abc"},           // no delimiter: the whole text
        {0, "a\tb", "a"},            // 1 or less: the first field
        {-3, "a\tb", "a"},           //
        {2, "a\tb\tc", "b"},         //
        {3, "a\tb\tc", "c"},         //
        {4, "a\tb\tc", ""},          // past the last field
        {2, "a\t\tc", ""},           // adjacent delimiters enclose an empty field
        {3, "a\t\tc", "c"},          //
        {1, "\tb", ""},              // a leading delimiter: empty first field
        {2, "\tb", "b"},             //
        {2, "a\t", ""},              // a trailing delimiter is followed by an empty field
        {1, "", ""},                 //
        {5, "", ""},                 //
        {2, " 0 \t 42 \t", " 42 "},  // nothing is trimmed
    };
    for (const FieldCase& c : cases) {
        EXPECT_EQ(GetDelimitedField(c.n, c.text, '\t'), c.expected)
            << "field " << c.n << " of \"" << c.text << "\"";
    }
}

TEST(GetDelimitedField, BlankDelimiter) {
    EXPECT_EQ(GetDelimitedField(2, "W1   W2", ' '), "");
    EXPECT_EQ(GetDelimitedField(4, "W1   W2", ' '), "W2");
}

// The single-pass reader must give exactly what GetDelimitedField gives, field for field.
TEST(FieldReader, AgreesWithGetDelimitedField) {
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'b', '\t', '\t', ' '};
    for (int round = 0; round < 500; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) text.push_back(alphabet[random() % sizeof alphabet]);
        FieldReader reader(text, '\t');
        for (int n = 1; n <= length + 3; ++n) {
            ASSERT_EQ(std::string(reader.Next()), GetDelimitedField(n, text, '\t'))
                << "field " << n << " of \"" << text << "\"";
        }
        EXPECT_TRUE(reader.AtEnd());
    }
}

}  // namespace
}  // namespace kv
