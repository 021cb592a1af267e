// The readers of numbers, currency and short dates under varying regional settings.
// Input: a mode byte, a decimal-separator byte, then what the mode reads:
//   0  a text for ParseDecimal, against the reference grammar and the C library's value
//   1  a text for ParseInt32, against the reference grammar and range
//   2  a short date format line, a date separator line, the current year (2 bytes) and a text
//      for ParseShortDate: whatever it accepts is a calendar date of that format
//   3  a generated short date format (order, run lengths, separator) and a date: the date as
//      the format renders it reads back as that date
//   4  a currency value (8 bytes): its text reads back as its value, its integer is the nearest
//   5  a double (8 bytes): its general form reads back as the same 15 significant digits
#include <cmath>
#include <limits>

#include "common/datetime.h"
#include "common/error.h"
#include "common/variant.h"
#include "component/date_pattern.h"
#include "fuzz_support.h"
#include "link/requests.h"

using namespace kv;
using kv::fuzz::Check;
using kv::fuzz::Shown;

namespace {

// A decimal separator that cannot be read as part of a number's other characters.
char SeparatorOf(uint8_t byte) {
    const char c = static_cast<char>(byte);
    if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'e' || c == 'E') return ',';
    return c;
}

class Formats final : public ValueFormats {
  public:
    explicit Formats(char separator) : separator_(separator) {}
    const TextCodec& Codec() const override { return codec_; }
    char DecimalSeparator() const override { return separator_; }
    std::string DateText(double) const override { return "date"; }

  private:
    Cp1251Codec codec_;
    char separator_;
};

std::string ShowNumber(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

void Decimal(char separator, std::string_view text) {
    double value = 0, reference = 0;
    const bool ok = ParseDecimal(text, separator, value);
    const bool reference_ok = fuzz::ReferenceDecimal(text, separator, reference);
    const auto detail = [&] {
        return "separator " + Shown(std::string_view(&separator, 1)) + ", text " + Shown(text) +
               ", read " + ShowNumber(value) + ", reference " + ShowNumber(reference);
    };
    Check(ok == reference_ok, "ParseDecimal accepts exactly the number grammar", detail);
    if (ok) Check(value == reference, "ParseDecimal reads the number's value", detail);
}

void Int32(std::string_view text) {
    int32_t value = 0, reference = 0;
    const bool ok = ParseInt32(text, value);
    const bool reference_ok = fuzz::ReferenceInt32(text, reference);
    const auto detail = [&] {
        return Shown(text) + " read " + std::to_string(value) + ", reference " +
               std::to_string(reference);
    };
    Check(ok == reference_ok, "ParseInt32 accepts exactly the integer grammar", detail);
    if (ok) Check(value == reference, "ParseInt32 reads the integer's value", detail);
}

LocalDateTime DateOf(double day_count) { return FromOleDate(day_count); }

void ArbitraryShortDate(fuzz::Input& input) {
    RegionalSettings regional;
    regional.short_date_format = std::string(input.Line());
    regional.date_separator = std::string(input.Line());
    const int current_year = 1 + input.Number<uint16_t>() % 9999;
    const std::string_view text = input.Rest();
    double date = 0;
    if (!ParseShortDate(text, regional, current_year, date)) return;
    const auto detail = [&] {
        return "format " + Shown(regional.short_date_format) + ", separator " +
               Shown(regional.date_separator) + ", text " + Shown(text) + ", read " +
               ShowNumber(date);
    };
    const LocalDateTime when = DateOf(date);
    Check(IsValidDate(when.year, when.month, when.day) && ToOleDate(when) == date,
          "a short date read is a calendar day", detail);
    Check(when.hour == 0 && when.minute == 0 && when.second == 0 && when.millisecond == 0,
          "a short date read has no time", detail);
}

// Formats of the form the reader promises to read: day, month and year once each, in any
// order, as numbers, with one separator between them and nothing around them. The separator
// is written in the pattern language: "/" is the regional date separator, ":" the regional
// time separator, quoted text is itself.
void GeneratedShortDate(fuzz::Input& input) {
    static const char* const kOrders[] = {"dmy", "dym", "mdy", "myd", "ydm", "ymd"};
    static const char* const kSeparators[] = {"/",  ".",    "-",     " ",   ". ",   "\".\"",
                                              ":",  "'/'",  "\"-\"", ", ",  "/ ",   "'. '",
                                              "\\", "'\"'", "\"'\"", "/-/", "'.'-", "_"};
    constexpr size_t kChoices = sizeof kSeparators / sizeof kSeparators[0];
    const char* order = kOrders[input.Byte() % 6];
    const uint8_t runs = input.Byte();
    const size_t day_run = 1 + (runs & 1), month_run = 1 + ((runs >> 1) & 1);
    const size_t year_run = 1 + ((runs >> 2) & 3);
    const uint8_t choice = input.Byte();
    std::string separator;
    if (choice % (kChoices + 1) < kChoices) {
        separator = kSeparators[choice % (kChoices + 1)];
    } else {
        // Any characters that the pattern language copies as they are.
        for (char c : input.Line()) {
            const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            if (!letter && !(c >= '0' && c <= '9') && c != '\'' && c != '"') separator += c;
        }
    }
    RegionalSettings regional;
    regional.date_separator = std::string(input.Line());
    regional.time_separator = std::string(input.Line());
    LocalDateTime when;
    when.year = 100 + input.Number<uint16_t>() % 9900;  // the years of a VT_DATE
    when.month = 1 + input.Byte() % 12;
    when.day = 1 + input.Byte() % 31;
    while (!IsValidDate(when.year, when.month, when.day)) --when.day;
    when.hour = when.minute = when.second = 0;
    const int current_year = 100 + input.Number<uint16_t>() % 9900;

    std::string format;
    for (int k = 0; k < 3; ++k) {
        if (k > 0) format += separator;
        const char field = order[k];
        format.append(field == 'd' ? day_run : field == 'm' ? month_run : year_run, field);
    }
    regional.short_date_format = format;
    const std::string text = FormatDatePattern(format, when, regional);

    // What the separator renders as: the reader needs it to be there and not to be digits.
    const std::string between = FormatDatePattern(separator, when, regional);
    if (between.empty() ||
        std::any_of(between.begin(), between.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return;
    }
    // The renderer stops at 256 characters.
    if (text.size() >= 256) return;
    // A year of two digits comes back only inside the century around the current year.
    if (year_run <= 2 && !(when.year > current_year - 50 && when.year <= current_year + 50)) {
        return;
    }
    double date = 0;
    const bool ok = ParseShortDate(text, regional, current_year, date);
    const auto detail = [&] {
        return "format " + Shown(format) + ", date separator " + Shown(regional.date_separator) +
               ", time separator " + Shown(regional.time_separator) + ", text " + Shown(text) +
               ", current year " + std::to_string(current_year) + ", read " + ShowNumber(date);
    };
    Check(ok, "a date as its short format renders it is read", detail);
    Check(date == ToOleDate(when), "a date as its short format renders it reads back as itself",
          detail);
}

void Currency(char separator, fuzz::Input& input) {
    const int64_t scaled = input.Number<int64_t>();
    const Formats formats(separator);
    const Variant value = Variant::Currency(scaled);
    const std::string text = VariantToText(value, formats);
    const auto detail = [&] {
        return "currency " + std::to_string(scaled) + "/10000, separator " +
               Shown(std::string_view(&separator, 1)) + ", text " + Shown(text);
    };
    // At most four decimals, none of them a trailing zero.
    const size_t point = text.find(separator);
    if (point != std::string::npos) {
        Check(text.size() - point - 1 <= 4 && text.back() != '0', "currency decimals", detail);
    }
    double read = 0;
    Check(ParseDecimal(text, separator, read), "the text of a currency value is a number", detail);
    const double exact = static_cast<double>(scaled) / 10000.0;
    if (scaled >= -(int64_t{1} << 53) && scaled <= (int64_t{1} << 53)) {
        Check(read == exact, "the text of a currency value reads back as the value", detail);
    }
    Check(VariantToDouble(value, formats) == exact, "currency as a double", detail);

    // The nearest integer, a half to the even one, by floor division.
    int64_t whole = scaled / 10000;
    int64_t rest = scaled % 10000;
    if (rest < 0) rest += 10000, whole -= 1;
    if (rest > 5000 || (rest == 5000 && (whole & 1) != 0)) whole += 1;
    const bool fits = whole >= INT32_MIN && whole <= INT32_MAX;
    try {
        const int32_t integer = VariantToInt32(value, formats);
        Check(fits && integer == whole, "currency to the nearest integer, a half to the even",
              [&] { return detail() + ", got " + std::to_string(integer); });
    } catch (const Error& e) {
        Check(!fits, "only a currency value outside 32 bits fails as an integer",
              [&] { return detail() + ": " + e.what(); });
        Check(std::string(e.what()).rfind("Overflow while converting", 0) == 0,
              "a currency value too large for 32 bits is an overflow", detail);
    }
}

void General(char separator, fuzz::Input& input) {
    const double value = input.Number<double>();
    // Fifteen digits of the largest doubles round past the range: 1.79769313486232E308.
    if (!(std::fabs(value) < 1.797693134862315e308)) return;
    const std::string text = FormatGeneral(value, separator);
    const auto detail = [&] {
        return ShowNumber(value) + " separator " + Shown(std::string_view(&separator, 1)) +
               " text " + Shown(text);
    };
    double read = 0;
    Check(ParseDecimal(text, separator, read), "the general form is a number", detail);
    Check(std::fabs(read - value) <= std::fabs(value) * 5.1e-15,
          "the general form keeps 15 significant digits",
          [&] { return detail() + " read " + ShowNumber(read); });
    Check(FormatGeneral(read, separator) == text, "the general form of its reading is itself",
          detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const uint8_t mode = input.Byte() % 6;
    const char separator = SeparatorOf(input.Byte());
    switch (mode) {
        case 0:
            Decimal(separator, input.Rest());
            break;
        case 1:
            Int32(input.Rest());
            break;
        case 2:
            ArbitraryShortDate(input);
            break;
        case 3:
            GeneratedShortDate(input);
            break;
        case 4:
            Currency(separator, input);
            break;
        case 5:
            General(separator, input);
            break;
    }
    return 0;
}
