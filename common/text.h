#pragma once
// Text inside the component is single-byte ANSI text; UTF-16 exists only at the host boundary.
#include <string>
#include <string_view>

namespace kv {

// Conversion between the system's ANSI code page and UTF-16.
class TextCodec {
  public:
    virtual ~TextCodec() = default;
    virtual std::u16string ToUtf16(std::string_view ansi) const = 0;
    virtual std::string ToAnsi(std::u16string_view utf16) const = 0;
};

// Windows-1251, implemented without the operating system. Characters that 1251 cannot hold
// become '?', as the system's best-fit conversion does for unmapped characters.
class Cp1251Codec final : public TextCodec {
  public:
    std::u16string ToUtf16(std::string_view ansi) const override;
    std::string ToAnsi(std::u16string_view utf16) const override;
};

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The component's own texts are written in UTF-8 in the source and live as Windows-1251 bytes.
std::string Cp1251FromUtf8(std::string_view utf8);
std::string Utf8FromCp1251(std::string_view cp1251);

// A text on one line for a log: tabs as \t, backslashes as \\, other control characters
// (codes 0 to 31 and 127) as \xNN; every other byte stays, so UTF-8 and ANSI text stay what
// they are.
std::string EscapeControls(std::string_view text);

// Removes leading and trailing characters with codes 0 to 32 (blanks and control characters).
std::string TrimControl(std::string_view text);

// ASCII letters only: every other byte, Cyrillic included, is left as it is.
constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr bool IsAsciiLetter(char c) { return UpperAscii(c) >= 'A' && UpperAscii(c) <= 'Z'; }
// Equal but for the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// True when `text` starts with `prefix`, ASCII letter case aside.
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// Windows-1251 lower-casing of Latin and Cyrillic letters, for systems that have no ANSI
// lower-casing of their own.
void LowerCp1251(std::string& text);

}  // namespace kv
