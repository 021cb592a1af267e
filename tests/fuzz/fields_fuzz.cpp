// The delimited-field reader. Input: the delimiter byte, then the text.
// FieldReader must give GetDelimitedField's field k at its k-th call, for every field and past
// the last; no field holds the delimiter, and the fields joined by it are the text again.
#include "common/fields.h"
#include "fuzz_support.h"

using namespace kv;
using kv::fuzz::Check;
using kv::fuzz::Shown;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::Input input(data, size);
    const char delimiter = static_cast<char>(input.Byte());
    const std::string_view text = input.Rest();
    const size_t delimiters = static_cast<size_t>(std::count(text.begin(), text.end(), delimiter));
    const auto detail = [&] {
        return "delimiter " + Shown(std::string_view(&delimiter, 1)) + ", text " + Shown(text);
    };

    FieldReader reader(text, delimiter);
    std::string joined;
    for (size_t k = 1; k <= delimiters + 3; ++k) {
        const std::string_view field = reader.Next();
        const std::string by_number = GetDelimitedField(static_cast<int>(k), text, delimiter);
        Check(field == by_number, "FieldReader agrees with GetDelimitedField", [&] {
            return detail() + ", field " + std::to_string(k) + ": " + Shown(field) + " against " +
                   Shown(by_number);
        });
        Check(field.find(delimiter) == std::string_view::npos, "a field never holds the delimiter",
              detail);
        if (k <= delimiters + 1) {
            if (k > 1) joined += delimiter;
            joined += field;
        } else {
            Check(field.empty(), "past the last field the text is empty", detail);
        }
        Check(reader.AtEnd() == (k >= delimiters + 1), "AtEnd after the last field", detail);
    }
    Check(joined == text, "the fields joined are the text", detail);
    // 1 or less is the first field.
    for (int n : {0, -1, INT32_MIN}) {
        Check(GetDelimitedField(n, text, delimiter) == GetDelimitedField(1, text, delimiter),
              "a field number of 1 or less gives the first field", detail);
    }
    Check(GetDelimitedField(INT32_MAX, text, delimiter).empty() || delimiters + 1 >= INT32_MAX,
          "a field number far past the last gives the empty text", detail);
    return 0;
}
