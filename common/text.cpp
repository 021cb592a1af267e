#include "common/text.h"

#include <array>

namespace kv {
namespace {

// Windows-1251 bytes 0x80..0xFF; 0x98 is unassigned and maps to U+0098 as the system does.
constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

char EncodeCp1251(char32_t c) {
    if (c < 0x80) return static_cast<char>(c);
    if (c >= 0x0410 && c <= 0x044F) return static_cast<char>(0xC0 + (c - 0x0410));
    for (size_t i = 0; i < kCp1251High.size(); ++i) {
        if (kCp1251High[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

// Decodes UTF-16 to code points; an unpaired surrogate becomes U+FFFD.
template <typename Sink>
void ForEachCodePoint(std::u16string_view s, Sink sink) {
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        sink(c);
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes UTF-8 to code points; malformed sequences become U+FFFD, one per bad byte.
template <typename Sink>
void ForEachUtf8CodePoint(std::string_view s, Sink sink) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        if (b >= 0x80) {
            extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 0;
            if (extra == 0 || i + extra >= s.size()) {
                sink(0xFFFD);
                ++i;
                continue;
            }
        }
        char32_t c = extra == 0 ? b : (b & (0x3F >> extra));
        bool ok = true;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char cont = static_cast<unsigned char>(s[i + k]);
            if ((cont & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (cont & 0x3F);
        }
        // A longer form than the character needs (C0 89 for a tab), a surrogate or a value past
        // U+10FFFF is malformed too: read as a character it would smuggle a tab or a line
        // break into a field.
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (c < kLeast[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) ok = false;
        if (!ok) {
            sink(0xFFFD);
            ++i;
            continue;
        }
        sink(c);
        i += extra + 1;
    }
}

}  // namespace

std::u16string Cp1251Codec::ToUtf16(std::string_view ansi) const {
    std::u16string out;
    out.reserve(ansi.size());
    for (char ch : ansi) {
        const unsigned char b = static_cast<unsigned char>(ch);
        out.push_back(b < 0x80 ? char16_t{b} : kCp1251High[b - 0x80]);
    }
    return out;
}

std::string Cp1251Codec::ToAnsi(std::u16string_view utf16) const {
    std::string out;
    out.reserve(utf16.size());
    ForEachCodePoint(utf16, [&](char32_t c) { out.push_back(EncodeCp1251(c)); });
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    ForEachUtf8CodePoint(utf8, [&](char32_t c) { AppendUtf16(out, c); });
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    ForEachCodePoint(utf16, [&](char32_t c) { AppendUtf8(out, c); });
    return out;
}

std::string Cp1251FromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    ForEachUtf8CodePoint(utf8, [&](char32_t c) { out.push_back(EncodeCp1251(c)); });
    return out;
}

std::string Utf8FromCp1251(std::string_view cp1251) {
    return Utf16ToUtf8(Cp1251Codec().ToUtf16(cp1251));
}

std::string EscapeControls(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\t') {
            shown += "\\t";
        } else if (c == '\\') {
            shown += "\\\\";
        } else if (b < 32 || b == 127) {
            shown += "\\x";
            shown.push_back(kHex[b >> 4]);
            shown.push_back(kHex[b & 15]);
        } else {
            shown.push_back(c);
        }
    }
    return shown;
}

std::string TrimControl(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithIgnoringAsciiCase(a, b);
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
    }
    return true;
}

namespace {

// The small letter of every byte of code page 1251; bytes that are no capital letter map to
// themselves.
constexpr std::array<unsigned char, 256> kLowerCp1251 = [] {
    std::array<unsigned char, 256> table{};
    for (size_t b = 0; b < table.size(); ++b) table[b] = static_cast<unsigned char>(b);
    for (size_t b = 'A'; b <= 'Z'; ++b) table[b] = static_cast<unsigned char>(b + 0x20);
    for (size_t b = 0xC0; b <= 0xDF; ++b) table[b] = static_cast<unsigned char>(b + 0x20);
    // The capitals outside those two runs: Ђ Ѓ Љ Њ Ќ Ћ Џ Ў Ј Ґ Ё Є Ї І Ѕ.
    constexpr unsigned char kPairs[][2] = {
        {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
        {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
        {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
    };
    for (const auto& pair : kPairs) table[pair[0]] = pair[1];
    return table;
}();

}  // namespace

void LowerCp1251(std::string& text) {
    for (char& c : text) c = static_cast<char>(kLowerCp1251[static_cast<unsigned char>(c)]);
}

}  // namespace kv
