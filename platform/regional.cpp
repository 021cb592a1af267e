#include "platform/regional.h"

#include "common/text.h"

namespace kv {

RegionalSettings RegionalSettings::Russian() {
    // The separators, the formats and the absent morning and afternoon designators are the
    // structure's defaults.
    RegionalSettings r;
    const char* const short_days[] = {"Вс", "Пн", "Вт", "Ср", "Чт", "Пт", "Сб"};
    const char* const long_days[] = {"воскресенье", "понедельник", "вторник", "среда",
                                     "четверг",     "пятница",     "суббота"};
    const char* const short_months[] = {"янв", "фев", "мар", "апр", "май", "июн",
                                        "июл", "авг", "сен", "окт", "ноя", "дек"};
    const char* const long_months[] = {"Январь",   "Февраль", "Март",   "Апрель",
                                       "Май",      "Июнь",    "Июль",   "Август",
                                       "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
    for (size_t i = 0; i < 7; ++i) {
        r.short_day_names[i] = Cp1251FromUtf8(short_days[i]);
        r.long_day_names[i] = Cp1251FromUtf8(long_days[i]);
    }
    for (size_t i = 0; i < 12; ++i) {
        r.short_month_names[i] = Cp1251FromUtf8(short_months[i]);
        r.long_month_names[i] = Cp1251FromUtf8(long_months[i]);
    }
    r.era_name = Cp1251FromUtf8("н.э.");
    return r;
}

namespace {

// Our quotes have no escape, so a text is wrapped in the quote character it does not hold,
// switching quote characters where it holds one.
void AppendLiteral(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const char quote = text[i] == '"' ? '\'' : '"';
        size_t end = text.find(quote, i);
        if (end == std::string_view::npos) end = text.size();
        out += quote;
        out += text.substr(i, end - i);
        out += quote;
        i = end;
    }
}

size_t RunLength(std::string_view s, size_t i) {
    size_t n = 1;
    while (i + n < s.size() && s[i + n] == s[i]) ++n;
    return n;
}

}  // namespace

std::string FromWindowsFormatPicture(std::string_view picture) {
    std::string out;
    size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'') {
            // Quoted text; inside it '' is one quote, and an unclosed quote runs to the end.
            std::string text;
            size_t j = i + 1;
            while (j < picture.size()) {
                if (picture[j] == '\'') {
                    if (j + 1 < picture.size() && picture[j + 1] == '\'') {
                        text += '\'';
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                text += picture[j++];
            }
            AppendLiteral(out, text);
            i = j;
            continue;
        }
        const size_t run = RunLength(picture, i);
        switch (c) {
            case 'd':
                out.append(run < 4 ? run : 4, 'd');
                break;
            case 'M':
                out.append(run < 4 ? run : 4, 'm');
                break;
            case 'y':
                out += run <= 2 ? "yy" : "yyyy";
                break;
            case 'g':
                out += "g";
                break;
            case 'h':
            case 'H':
            case 's':
                out.append(run < 2 ? run : 2, c);
                break;
            case 'm':
                out += run == 1 ? "n" : "nn";
                break;
            case 't':
                out += "AMPM";
                break;
            default:
                // Windows copies every other character; ours would read letters, separators
                // and quotes as specifiers.
                if (IsAsciiLetter(c) || c == '/' || c == ':' || c == '"') {
                    AppendLiteral(out, picture.substr(i, run));
                } else {
                    out.append(picture.substr(i, run));
                }
                break;
        }
        i += run;
    }
    return out;
}

std::string ShortTimePictureFromLong(std::string_view picture) {
    // Find the seconds outside quoted text.
    size_t seconds = std::string_view::npos;
    size_t last_field_end = 0;  // end of the last date or time field before the seconds
    bool quoted = false;
    for (size_t i = 0; i < picture.size(); ++i) {
        const char c = picture[i];
        if (c == '\'') {
            quoted = !quoted;
        } else if (!quoted && c == 's') {
            seconds = i;
            break;
        } else if (!quoted && (c == 'h' || c == 'H' || c == 'm' || c == 't')) {
            last_field_end = i + 1;
        }
    }
    if (seconds == std::string_view::npos) return std::string(picture);
    const size_t after = seconds + RunLength(picture, seconds);
    std::string out(picture.substr(0, last_field_end));
    out.append(picture.substr(after));
    return out;
}

}  // namespace kv
