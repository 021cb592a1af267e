// The kvhost script reader: statements, values and the errors it reports.
#include <cstdio>
#include <string>

#include "check.h"
#include "tools/kvhost/script.h"

using namespace kvtest;
using kvhost::ParseLine;
using kvhost::Statement;
using kvhost::Value;

namespace {

void Statements() {
    struct Case {
        const char* line;
        Statement::Kind kind;
        const char* name;
        size_t values;
    };
    const Case cases[] = {
        {"", Statement::Kind::Nothing, "", 0},
        {"   \t ", Statement::Kind::Nothing, "", 0},
        {"# Timeout = 5", Statement::Kind::Nothing, "", 0},
        {"Timeout", Statement::Kind::Read, "Timeout", 0},
        {"  Таймаут  # a comment", Statement::Kind::Read, "Таймаут", 0},
        {"Timeout=5", Statement::Kind::Write, "Timeout", 1},
        {"Таймаут = \"1500\"", Statement::Kind::Write, "Таймаут", 1},
        {"ClearPacket()", Statement::Kind::Call, "ClearPacket", 0},
        {"ClearPacket ( )", Statement::Kind::Call, "ClearPacket", 0},
        {"НайтиПозицию(5, 0, \"2\")", Statement::Kind::Call, "НайтиПозицию", 3},
        {"F(\"a,b\", \"(c)\", \"#d\")", Statement::Kind::Call, "F", 3},
    };
    for (const Case& c : cases) {
        const Statement s = ParseLine(c.line);
        if (s.kind != c.kind) Note(std::string("line: ") + c.line);
        KV_CHECK_EQ(static_cast<int>(s.kind), static_cast<int>(c.kind));
        KV_CHECK_EQ(s.name, std::string(c.name));
        KV_CHECK_EQ(s.values.size(), c.values);
    }
    const Statement call = ParseLine("F(\"a,b\", \"(c)\", \"#d\")");
    if (call.values.size() == 3) {
        KV_CHECK_EQ(call.values[0].text, std::string("a,b"));
        KV_CHECK_EQ(call.values[1].text, std::string("(c)"));
        KV_CHECK_EQ(call.values[2].text, std::string("#d"));
    }
}

Value One(const std::string& text) {
    const Statement s = ParseLine("P = " + text);
    return s.values.empty() ? Value() : s.values.front();
}

void Values() {
    KV_CHECK(One("123").kind == Value::Kind::Integer);
    KV_CHECK_EQ(One("123").integer, 123);
    KV_CHECK_EQ(One("-2147483648").integer, INT32_MIN);
    KV_CHECK_EQ(One("+7").integer, 7);
    // Past 32 bits, a whole number is a real.
    KV_CHECK(One("2147483648").kind == Value::Kind::Real);
    KV_CHECK_EQ(One("2147483648").real, 2147483648.0);
    KV_CHECK(One("2.5").kind == Value::Kind::Real);
    KV_CHECK_EQ(One("2.5").real, 2.5);
    KV_CHECK_EQ(One("-0.25").real, -0.25);
    KV_CHECK_EQ(One("1e3").real, 1000.0);
    KV_CHECK(One("\"\"").kind == Value::Kind::Text);
    KV_CHECK_EQ(One("\"\"").text, std::string());
    KV_CHECK_EQ(One("\"say \"\"hi\"\"\"").text, std::string("say \"hi\""));
    KV_CHECK_EQ(One("\"Аспирин\"").text, std::string("Аспирин"));
    KV_CHECK(One("empty").kind == Value::Kind::Empty);
    KV_CHECK(One("null").kind == Value::Kind::Null);
    KV_CHECK(One("true").kind == Value::Kind::Bool && One("true").boolean);
    KV_CHECK(One("false").kind == Value::Kind::Bool && !One("false").boolean);
    const Value day = One("date(2024-05-31)");
    KV_CHECK(day.kind == Value::Kind::Date);
    KV_CHECK(day.year == 2024 && day.month == 5 && day.day == 31 && day.hour == 0);
    const Value moment = One("date(2024-05-31 13:45:10)");
    KV_CHECK(moment.hour == 13 && moment.minute == 45 && moment.second == 10);
    const Value minute = One("date( 2024-05-31 13:45 )");
    KV_CHECK(minute.hour == 13 && minute.minute == 45 && minute.second == 0);
}

void Errors() {
    const char* bad[] = {
        "= 5",                   // no name
        "Timeout =",             // no value
        "Timeout = \"open",      // no closing quote
        "Timeout = 12abc",       // not a number
        "Timeout = maybe",       // not a value
        "Timeout = 5 6",         // text after the statement
        "F(1, 2",                // no closing parenthesis
        "F(1,)",                 // a comma without a value
        "F() extra",             // text after the statement
        "P = date(2024-13-01)",  // no such month
        "P = date(2024-05-31",   // no closing parenthesis
        "P = date(31.05.2024)",  // not the date form
        "P = date(2024-05-31 25:00)",
    };
    for (const char* line : bad) {
        bool refused = false;
        std::string message;
        try {
            ParseLine(line);
        } catch (const kvhost::ScriptError& e) {
            refused = true;
            message = e.what();
        }
        if (!refused) Note(std::string("accepted: ") + line);
        KV_CHECK(refused);
        KV_CHECK_EQ(message.rfind("column ", 0), 0u);  // says where
    }
}

}  // namespace

int main(int argc, char** argv) {
    Run(argc, argv, {{"statements", Statements}, {"values", Values}, {"errors", Errors}});
    return Finish();
}
