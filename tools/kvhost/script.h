#pragma once
// The kvhost script language, one statement per line:
//   Name = value        write a property
//   Name                read a property
//   Name(value, ...)    call a method (also with no values: Name())
//   # comment           ignored, as are blank lines
// Names are written as the add-in knows them, in Russian or English. Values:
//   123, -5             a 32-bit integer (VT_I4); a larger whole number is a real
//   2.5, 1e3, -0.25     a real (VT_R8); the decimal point is always '.'
//   "text"              a text (VT_BSTR); "" inside stands for one quote
//   date(2024-05-31), date(2024-05-31 13:45), date(2024-05-31 13:45:10)   a date (VT_DATE)
//   true, false         a boolean (VT_BOOL)
//   empty, null         VT_EMPTY and VT_NULL
// Script text is UTF-8.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kvhost {

struct Value {
    enum class Kind { Empty, Null, Integer, Real, Text, Bool, Date };
    Kind kind = Kind::Empty;
    int32_t integer = 0;
    double real = 0;
    std::string text;  // UTF-8
    bool boolean = false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct Statement {
    enum class Kind { Nothing, Read, Write, Call };
    Kind kind = Kind::Nothing;
    std::string name;  // UTF-8
    std::vector<Value> values;
};

// A line that is not a statement; the message says where and why.
class ScriptError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

Statement ParseLine(std::string_view line);

}  // namespace kvhost
