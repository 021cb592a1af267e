#include "tools/kvhost/script.h"

#include <charconv>
#include <limits>

namespace kvhost {
namespace {

class Reader {
  public:
    explicit Reader(std::string_view line) : text_(line) {}

    void SkipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos_ >= text_.size();
    }
    char Peek() {
        SkipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    bool Take(char c) {
        if (Peek() != c) return false;
        ++pos_;
        return true;
    }
    void Expect(char c) {
        if (!Take(c)) Fail(std::string("expected '") + c + "'");
    }
    [[noreturn]] void Fail(const std::string& why) const {
        throw ScriptError("column " + std::to_string(pos_ + 1) + ": " + why);
    }

    // A member name: everything up to a blank or one of = ( ) , " #.
    std::string Name() {
        SkipBlanks();
        const size_t start = pos_;
        while (pos_ < text_.size() && !IsSeparator(text_[pos_])) ++pos_;
        if (pos_ == start) Fail("expected a name");
        return std::string(text_.substr(start, pos_ - start));
    }

    Value ParseValue() {
        const char c = Peek();
        if (c == '"') return Quoted();
        if (c == '-' || c == '+' || c == '.' || (c >= '0' && c <= '9')) return Number();
        const std::string word = Name();
        Value value;
        if (word == "empty") return value;
        if (word == "null") {
            value.kind = Value::Kind::Null;
        } else if (word == "true" || word == "false") {
            value.kind = Value::Kind::Bool;
            value.boolean = word == "true";
        } else if (word == "date") {
            return Date();
        } else {
            Fail("not a value: " + word);
        }
        return value;
    }

  private:
    static bool IsSeparator(char c) {
        return c == ' ' || c == '\t' || c == '=' || c == '(' || c == ')' || c == ',' || c == '"' ||
               c == '#';
    }

    Value Quoted() {
        ++pos_;  // the opening quote
        Value value;
        value.kind = Value::Kind::Text;
        for (;;) {
            if (pos_ >= text_.size()) Fail("the text has no closing quote");
            const char c = text_[pos_++];
            if (c != '"') {
                value.text += c;
            } else if (pos_ < text_.size() && text_[pos_] == '"') {
                value.text += '"';
                ++pos_;
            } else {
                return value;
            }
        }
    }

    Value Number() {
        const size_t start = pos_;
        if (text_[pos_] == '+' || text_[pos_] == '-') ++pos_;
        while (pos_ < text_.size() && !IsSeparator(text_[pos_])) ++pos_;
        std::string_view digits = text_.substr(start, pos_ - start);
        // One sign at most, then a digit or the point: from_chars would also read a second
        // sign, and inf and nan.
        const bool has_sign = digits.front() == '+' || digits.front() == '-';
        const std::string_view body = digits.substr(has_sign ? 1 : 0);
        if (body.empty() ||
            !(body.front() == '.' || (body.front() >= '0' && body.front() <= '9'))) {
            Fail("not a number: " + std::string(digits));
        }
        if (digits.front() == '+') digits.remove_prefix(1);
        const char* first = digits.data();
        const char* last = digits.data() + digits.size();
        Value value;
        int64_t whole = 0;
        const auto integer = std::from_chars(first, last, whole);
        if (integer.ec == std::errc() && integer.ptr == last &&
            whole >= std::numeric_limits<int32_t>::min() &&
            whole <= std::numeric_limits<int32_t>::max()) {
            value.kind = Value::Kind::Integer;
            value.integer = static_cast<int32_t>(whole);
            return value;
        }
        double real = 0;
        const auto parsed = std::from_chars(first, last, real);
        if (parsed.ec != std::errc() || parsed.ptr != last || digits.empty()) {
            Fail("not a number: " + std::string(text_.substr(start, pos_ - start)));
        }
        value.kind = Value::Kind::Real;
        value.real = real;
        return value;
    }

    // date(YYYY-MM-DD[ HH:MM[:SS]]): digits only in the numbers, blanks only around the date
    // and between the day and the time.
    Value Date() {
        Expect('(');
        const size_t close = text_.find(')', pos_);
        if (close == std::string_view::npos) Fail("the date has no closing ')'");
        const std::string_view inside = text_.substr(pos_, close - pos_);
        Value value;
        value.kind = Value::Kind::Date;
        if (!DateFields(inside, value)) Fail("a date is date(YYYY-MM-DD HH:MM:SS)");
        // A VT_DATE holds the years 100 to 9999.
        if (value.year < 100 || value.year > 9999 || value.month < 1 || value.month > 12 ||
            value.day < 1 || value.day > DaysInMonth(value.year, value.month) || value.hour > 23 ||
            value.minute > 59 || value.second > 59) {
            Fail("not a date: " + std::string(inside));
        }
        pos_ = close + 1;
        return value;
    }

    static bool DateFields(std::string_view text, Value& value) {
        size_t i = 0;
        auto blanks = [&] {
            const size_t start = i;
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
            return i > start;
        };
        auto number = [&](size_t most_digits, int& out) {
            const size_t start = i;
            out = 0;
            while (i < text.size() && i - start < most_digits && text[i] >= '0' && text[i] <= '9') {
                out = out * 10 + (text[i++] - '0');
            }
            return i > start && (i >= text.size() || text[i] < '0' || text[i] > '9');
        };
        auto take = [&](char c) {
            if (i >= text.size() || text[i] != c) return false;
            ++i;
            return true;
        };
        blanks();
        if (!number(4, value.year) || !take('-') || !number(2, value.month) || !take('-') ||
            !number(2, value.day)) {
            return false;
        }
        if (blanks() && i < text.size()) {
            if (!number(2, value.hour) || !take(':') || !number(2, value.minute)) return false;
            if (take(':') && !number(2, value.second)) return false;
            blanks();
        }
        return i == text.size();
    }

    static int DaysInMonth(int year, int month) {
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

Statement ParseLine(std::string_view line) {
    Reader reader(line);
    Statement statement;
    if (reader.AtEnd() || reader.Peek() == '#') return statement;
    statement.name = reader.Name();
    if (reader.Take('=')) {
        statement.kind = Statement::Kind::Write;
        statement.values.push_back(reader.ParseValue());
    } else if (reader.Take('(')) {
        statement.kind = Statement::Kind::Call;
        if (!reader.Take(')')) {
            do {
                statement.values.push_back(reader.ParseValue());
            } while (reader.Take(','));
            reader.Expect(')');
        }
    } else {
        statement.kind = Statement::Kind::Read;
    }
    if (!reader.AtEnd() && reader.Peek() != '#') reader.Fail("unexpected text after the statement");
    return statement;
}

}  // namespace kvhost
