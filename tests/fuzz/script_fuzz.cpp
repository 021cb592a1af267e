// The kvhost script reader. Input: one line of script. A line is a statement or a ScriptError
// that says where; a statement written back in its plain form reads as the same statement, and
// a date it holds is a date of the calendar.
#include <cmath>
#include <cstring>

#include "common/datetime.h"
#include "fuzz_support.h"
#include "tools/kvhost/script.h"

using kv::fuzz::Check;
using kv::fuzz::Fail;
using kv::fuzz::Shown;
using kvhost::ParseLine;
using kvhost::ScriptError;
using kvhost::Statement;
using kvhost::Value;

namespace {

// The plain form of a value: what a script writer would type for it.
std::string Written(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Empty:
            return "empty";
        case Value::Kind::Null:
            return "null";
        case Value::Kind::Bool:
            return v.boolean ? "true" : "false";
        case Value::Kind::Integer:
            return std::to_string(v.integer);
        case Value::Kind::Real: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.17e", v.real);
            return buffer;
        }
        case Value::Kind::Text: {
            std::string text = "\"";
            for (char c : v.text) text += c == '"' ? std::string("\"\"") : std::string(1, c);
            return text + "\"";
        }
        case Value::Kind::Date: {
            char buffer[96];
            std::snprintf(buffer, sizeof buffer, "date(%d-%d-%d %d:%d:%d)", v.year, v.month, v.day,
                          v.hour, v.minute, v.second);
            return buffer;
        }
    }
    return {};
}

std::string Written(const Statement& s) {
    switch (s.kind) {
        case Statement::Kind::Nothing:
            return "";
        case Statement::Kind::Read:
            return s.name;
        case Statement::Kind::Write:
            return s.name + " = " + Written(s.values.at(0));
        case Statement::Kind::Call: {
            std::string text = s.name + "(";
            for (size_t i = 0; i < s.values.size(); ++i) {
                if (i > 0) text += ", ";
                text += Written(s.values[i]);
            }
            return text + ")";
        }
    }
    return {};
}

bool Same(const Value& a, const Value& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case Value::Kind::Integer:
            return a.integer == b.integer;
        case Value::Kind::Real:
            return a.real == b.real || (std::isnan(a.real) && std::isnan(b.real));
        case Value::Kind::Text:
            return a.text == b.text;
        case Value::Kind::Bool:
            return a.boolean == b.boolean;
        case Value::Kind::Date:
            return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
                   a.minute == b.minute && a.second == b.second;
        default:
            return true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    if (line.find('\n') != std::string::npos) return 0;  // the host reads lines
    Statement s;
    try {
        s = ParseLine(line);
    } catch (const ScriptError& e) {
        Check(std::strncmp(e.what(), "column ", 7) == 0, "a script error says where",
              [&] { return Shown(line) + ": " + e.what(); });
        return 0;
    }
    const auto detail = [&] { return Shown(line) + " written " + Shown(Written(s)); };
    switch (s.kind) {
        case Statement::Kind::Nothing:
            Check(s.name.empty() && s.values.empty(), "a blank line or comment is nothing", detail);
            return 0;
        case Statement::Kind::Read:
            Check(s.values.empty(), "a read has no value", detail);
            break;
        case Statement::Kind::Write:
            Check(s.values.size() == 1, "a write has one value", detail);
            break;
        case Statement::Kind::Call:
            break;
    }
    Check(!s.name.empty() && s.name.find_first_of(" \t=(),\"#") == std::string::npos,
          "a name is not empty and holds no separator", detail);
    for (const Value& v : s.values) {
        if (v.kind != Value::Kind::Date) continue;
        Check(kv::IsValidDate(v.year, v.month, v.day) && v.hour >= 0 && v.hour <= 23 &&
                  v.minute >= 0 && v.minute <= 59 && v.second >= 0 && v.second <= 59,
              "a date value is a date of the calendar", detail);
    }
    Statement again;
    try {
        again = ParseLine(Written(s));
    } catch (const ScriptError& e) {
        Fail("a statement written back reads again", detail() + ": " + e.what());
    }
    bool same =
        again.kind == s.kind && again.name == s.name && again.values.size() == s.values.size();
    for (size_t i = 0; same && i < s.values.size(); ++i) same = Same(s.values[i], again.values[i]);
    Check(same, "a statement written back reads as itself", detail);
    return 0;
}
