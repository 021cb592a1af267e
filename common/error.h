#pragma once
// The one error type of the core. Its message is ANSI text (Windows-1251 for our own texts);
// the host boundary converts it to UTF-16 when it reports it.
#include <stdexcept>
#include <string>

namespace kv {

class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& ansi_message) : std::runtime_error(ansi_message) {}
};

}  // namespace kv
