#pragma once
// kvhost's output and the texts it shows: UTF-16 to a console, UTF-8 to a file or a pipe.
#include <windows.h>

#include <string>
#include <string_view>

namespace kvhost {

// UTF-8 and UTF-16 as the core converts them; wchar_t is UTF-16 on Windows.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// One line of standard output.
void Print(const std::wstring& line);

// S_OK, E_FAIL, ... by name, any other value in hexadecimal.
std::wstring Hresult(HRESULT result);

// The text in double quotes, a quote inside doubled.
std::wstring Quoted(std::wstring_view text);

}  // namespace kvhost
