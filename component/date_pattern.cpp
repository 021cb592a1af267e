#include "component/date_pattern.h"

#include <cstdio>

#include "common/text.h"

namespace kv {
namespace {

constexpr size_t kMaxLength = 256;
// The caller's pattern is level 1; a regional format met there is expanded as level 2, and one
// met inside that yields nothing, so regional formats cannot recurse.
constexpr int kMaxLevel = 2;

// Only ASCII letters are specifiers; everything else, Cyrillic included, is copied.
char Upper(char c) { return UpperAscii(c); }
bool IsQuote(char c) { return c == '\'' || c == '"'; }

// The length of an AM/PM, A/P or AMPM specifier at the start of `text`, or 0.
size_t MeridiemLength(std::string_view text) {
    if (StartsWithIgnoringAsciiCase(text, "am/pm")) return 5;
    if (StartsWithIgnoringAsciiCase(text, "a/p")) return 3;
    if (StartsWithIgnoringAsciiCase(text, "ampm")) return 4;
    return 0;
}

// Whether an hour specifier ending before `from` is on the 12-hour clock: the first unquoted
// 'a' after it, looking no further than the next hour, starts a morning/afternoon specifier.
bool MeridiemFollows(std::string_view pattern, size_t from) {
    for (size_t j = from; j < pattern.size(); ++j) {
        const char c = pattern[j];
        if (IsQuote(c)) {
            const size_t close = pattern.find(c, j + 1);
            if (close == std::string_view::npos) return false;
            j = close;
        } else if (Upper(c) == 'H') {
            return false;
        } else if (Upper(c) == 'A') {
            return MeridiemLength(pattern.substr(j)) != 0;
        }
    }
    return false;
}

class Renderer {
  public:
    Renderer(const LocalDateTime& when, const RegionalSettings& regional)
        : when_(when), regional_(regional) {}

    void Append(std::string_view pattern, int level);
    std::string Take() { return std::move(out_); }

  private:
    bool Full() const { return out_.size() >= kMaxLength; }
    void Put(std::string_view text) { out_.append(text.substr(0, kMaxLength - out_.size())); }
    void Put(char c) {
        if (!Full()) out_.push_back(c);
    }
    void PutNumber(int value, int min_digits) {
        char buffer[16];
        const int n = std::snprintf(buffer, sizeof buffer, "%0*d", min_digits, value);
        if (n > 0) Put(std::string_view(buffer, static_cast<size_t>(n)));
    }
    void PutMonthName(const std::array<std::string, 12>& names) {
        if (when_.month >= 1 && when_.month <= 12) Put(names[static_cast<size_t>(when_.month - 1)]);
    }
    void PutDayName(const std::array<std::string, 7>& names) {
        Put(names[static_cast<size_t>(DayOfWeek(when_))]);
    }
    void Expand(std::string_view format, int level) {
        if (level < kMaxLevel) Append(format, level + 1);
    }

    const LocalDateTime& when_;
    const RegionalSettings& regional_;
    std::string out_;
};

void Renderer::Append(std::string_view p, int level) {
    // Context is per pattern: an expanded regional format has its own.
    char last_letter = 0;       // the nearest unquoted letter so far, upper case
    bool meridiem_out = false;  // an AM/PM, A/P or AMPM specifier has been output
    size_t i = 0;
    while (i < p.size() && !Full()) {
        const char c = p[i];
        if (IsQuote(c)) {
            const size_t close = p.find(c, i + 1);
            if (close == std::string_view::npos) {
                Put(p.substr(i + 1));
                break;
            }
            Put(p.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        if (c == '/' || c == ':') {
            Put(c == '/' ? regional_.date_separator : regional_.time_separator);
            ++i;
            continue;
        }
        if (!IsAsciiLetter(c)) {
            Put(c);
            ++i;
            continue;
        }

        size_t run = 1;
        while (i + run < p.size() && p[i + run] == c) ++run;
        size_t used = run;
        const bool prev_is_hour = last_letter == 'H';
        switch (Upper(c)) {
            case 'D':
                if (run <= 2) {
                    PutNumber(when_.day, static_cast<int>(run));
                } else if (run == 3) {
                    PutDayName(regional_.short_day_names);
                } else if (run == 4) {
                    PutDayName(regional_.long_day_names);
                } else {
                    Expand(run == 5 ? regional_.short_date_format : regional_.long_date_format,
                           level);
                }
                break;
            case 'M':
                if (prev_is_hour) {
                    PutNumber(when_.minute, run == 1 ? 1 : 2);
                } else if (run <= 2) {
                    PutNumber(when_.month, static_cast<int>(run));
                } else if (run == 3) {
                    PutMonthName(regional_.short_month_names);
                } else {
                    PutMonthName(regional_.long_month_names);
                }
                break;
            case 'Y':
                if (run <= 2) {
                    PutNumber(when_.year % 100, 2);
                } else {
                    PutNumber(when_.year, 4);
                }
                break;
            case 'H': {
                int hour = when_.hour;
                if (meridiem_out || MeridiemFollows(p, i + run)) {
                    hour %= 12;
                    if (hour == 0) hour = 12;
                }
                PutNumber(hour, run == 1 ? 1 : 2);
                break;
            }
            case 'N':
                PutNumber(when_.minute, run == 1 ? 1 : 2);
                break;
            case 'S':
                PutNumber(when_.second, run == 1 ? 1 : 2);
                break;
            case 'Z':
                PutNumber(when_.millisecond, run >= 3 ? 3 : static_cast<int>(run));
                break;
            case 'T':
                Expand(run == 1 ? regional_.short_time_format : regional_.long_time_format, level);
                break;
            case 'C':
                if (level < kMaxLevel) {
                    Expand(regional_.short_date_format, level);
                    if (when_.hour != 0 || when_.minute != 0 || when_.second != 0) {
                        Put(' ');
                        Expand(regional_.long_time_format, level);
                    }
                }
                break;
            case 'E': {
                const int era_year = when_.year - regional_.era_year_offset;
                PutNumber(era_year, run >= 3 ? 4 : static_cast<int>(run));
                break;
            }
            case 'G':
                Put(regional_.era_name);
                break;
            case 'A': {
                const size_t meridiem = MeridiemLength(p.substr(i));
                const bool morning = when_.hour < 12;
                if (meridiem == 5) {
                    Put(p.substr(morning ? i : i + 3, 2));
                } else if (meridiem == 3) {
                    Put(p[morning ? i : i + 2]);
                } else if (meridiem == 4) {
                    Put(morning ? regional_.am_designator : regional_.pm_designator);
                } else if (run >= 4) {
                    PutDayName(regional_.long_day_names);
                    used = 4;
                } else if (run == 3) {
                    PutDayName(regional_.short_day_names);
                } else {
                    Put(c);
                    used = 1;
                }
                if (meridiem != 0) {
                    meridiem_out = true;
                    used = meridiem;
                }
                break;
            }
            default:
                // Any other letter stands for itself.
                Put(c);
                used = 1;
                break;
        }
        last_letter = Upper(p[i + used - 1]);
        i += used;
    }
}

}  // namespace

std::string FormatDatePattern(std::string_view pattern, const LocalDateTime& when,
                              const RegionalSettings& regional) {
    Renderer renderer(when, regional);
    renderer.Append(pattern.empty() ? std::string_view("c") : pattern, 1);
    return renderer.Take();
}

bool ParseShortDate(std::string_view text, const RegionalSettings& regional, int current_year,
                    double& out) {
    // The order of day, month and year, and the separator between them as the format renders
    // it (FormatDatePattern): quoted text is itself, "/" the date separator, ":" the time
    // separator, any other character itself. Letters inside quotes are no fields.
    const std::string& format = regional.short_date_format;
    char order[3] = {};
    int parts = 0;
    std::string separator;
    for (size_t i = 0; i < format.size() && parts < 3;) {
        const char c = LowerAscii(format[i]);
        if (c == '\'' || c == '"') {
            const size_t close = format.find(format[i], i + 1);
            const size_t end = close == std::string::npos ? format.size() : close;
            if (parts == 1) separator.append(format, i + 1, end - i - 1);
            i = close == std::string::npos ? format.size() : close + 1;
            continue;
        }
        if (c != 'd' && c != 'm' && c != 'y') {
            if (parts == 1) {
                separator += c == '/'   ? regional.date_separator
                             : c == ':' ? regional.time_separator
                                        : std::string(1, format[i]);
            }
            ++i;
            continue;
        }
        for (int k = 0; k < parts; ++k) {
            if (order[k] == c) return false;
        }
        order[parts++] = c;
        while (i < format.size() && LowerAscii(format[i]) == c) ++i;
    }
    if (parts < 3 || separator.empty()) return false;

    int day = 0, month = 0, year = 0;
    size_t year_digits = 0;
    size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        if (k > 0) {
            if (text.substr(pos, separator.size()) != separator) return false;
            pos += separator.size();
        }
        const size_t start = pos;
        int value = 0;
        while (pos < text.size() && pos - start < 4 && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + (text[pos++] - '0');
        }
        const size_t digits = pos - start;
        if (digits == 0 || digits > (order[k] == 'y' ? 4u : 2u)) return false;
        (order[k] == 'd' ? day : order[k] == 'm' ? month : year) = value;
        if (order[k] == 'y') year_digits = digits;
    }
    if (pos != text.size()) return false;  // nothing may follow the date
    if (year_digits <= 2) {
        year += current_year / 100 * 100;
        if (year > current_year + 50) {
            year -= 100;
        } else if (year <= current_year - 50) {
            year += 100;
        }
    }
    // A VT_DATE holds the years 100..9999: an earlier year would come back as another date.
    if (year < 100 || !IsValidDate(year, month, day)) return false;
    LocalDateTime date;
    date.year = year;
    date.month = month;
    date.day = day;
    out = ToOleDate(date);
    return true;
}

}  // namespace kv
