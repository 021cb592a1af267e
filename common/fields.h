#pragma once
#include <string>
#include <string_view>

namespace kv {

// The n-th field (counted from 1) of a text whose fields are separated by a one-character
// delimiter. n of 1 or less gives the first field; past the last field gives the empty text.
std::string GetDelimitedField(int n, std::string_view text, char delimiter);

}  // namespace kv

namespace kv {

// Reads the fields of a delimited text one after the other in a single pass. Field k returned by
// the k-th call of Next() is exactly GetDelimitedField(k, text, delimiter); past the last field
// Next() gives the empty text.
class FieldReader {
  public:
    FieldReader(std::string_view text, char delimiter) : rest_(text), delimiter_(delimiter) {}
    std::string_view Next();
    bool AtEnd() const { return done_; }

  private:
    std::string_view rest_;
    char delimiter_;
    bool done_ = false;
};

}  // namespace kv
