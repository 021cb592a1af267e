#pragma once
// A small check framework for the Windows test programs. A program holds named groups of
// checks; `program GROUP` runs one group and `program` all of them. The last line is
// "KV-TEST-PASSED <group>" only when every check held: CTest requires that line, because a
// program that cannot start under Wine still ends with exit code 0.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace kvtest {

struct Group {
    const char* name;
    std::function<void()> run;
};

// Runs the group named by argv[1] (all when there is none).
void Run(int argc, char** argv, std::initializer_list<Group> groups);
// Called last, after every cleanup: prints the closing line and gives the exit code.
int Finish();
// Run and Finish inside a single-threaded COM apartment, as the 1C host calls add-ins.
int RunInApartment(int argc, char** argv, std::initializer_list<Group> groups);

// Arguments after the group name, for tests that need paths from the build.
const std::string& Argument(int index);

void Fail(const char* file, int line, const std::string& what);
void Note(const std::string& text);

// Printable forms for failure messages.
std::string Show(const std::wstring& text);
std::string Show(std::wstring_view text);
std::string Show(const wchar_t* text);
std::string Show(const std::string& text);
std::string Show(const char* text);
std::string Show(int64_t value);
std::string Show(uint64_t value);
std::string Show(double value);
std::string ShowHresult(HRESULT value);
template <typename T>
std::string Show(const T& value) requires std::is_integral_v<T> || std::is_enum_v<T> {
    if constexpr (std::is_signed_v<T> || std::is_enum_v<T>) {
        return Show(static_cast<int64_t>(value));
    } else {
        return Show(static_cast<uint64_t>(value));
    }
}

std::wstring Utf16(std::string_view utf8);
std::string Utf8(std::wstring_view utf16);

}  // namespace kvtest

#define KV_CHECK(condition)                                                            \
    do {                                                                               \
        if (!(condition)) ::kvtest::Fail(__FILE__, __LINE__, "CHECK(" #condition ")"); \
    } while (0)

#define KV_CHECK_EQ(actual, expected)                                                       \
    do {                                                                                    \
        const auto& kv_actual_ = (actual);                                                  \
        const auto& kv_expected_ = (expected);                                              \
        if (!(kv_actual_ == kv_expected_)) {                                                \
            ::kvtest::Fail(__FILE__, __LINE__,                                              \
                           #actual " == " #expected ": got " + ::kvtest::Show(kv_actual_) + \
                               ", expected " + ::kvtest::Show(kv_expected_));               \
        }                                                                                   \
    } while (0)

#define KV_CHECK_HR(actual, expected)                                                             \
    do {                                                                                          \
        const HRESULT kv_actual_ = (actual);                                                      \
        const HRESULT kv_expected_ = (expected);                                                  \
        if (kv_actual_ != kv_expected_) {                                                         \
            ::kvtest::Fail(__FILE__, __LINE__,                                                    \
                           #actual ": got " + ::kvtest::ShowHresult(kv_actual_) + ", expected " + \
                               ::kvtest::ShowHresult(kv_expected_));                              \
        }                                                                                         \
    } while (0)
