#include "common/fields.h"

namespace kv {

std::string GetDelimitedField(int n, std::string_view text, char delimiter) {
    // Skip one character at a time, counting the delimiters passed, until the field starts.
    while (n > 1 && !text.empty()) {
        if (text.front() == delimiter) --n;
        text.remove_prefix(1);
    }
    const size_t end = text.find(delimiter);
    return std::string(end == std::string_view::npos ? text : text.substr(0, end));
}

std::string_view FieldReader::Next() {
    if (done_) return {};
    const size_t end = rest_.find(delimiter_);
    std::string_view field = rest_.substr(0, end);
    if (end == std::string_view::npos) {
        done_ = true;
        rest_ = {};
    } else {
        rest_.remove_prefix(end + 1);
    }
    return field;
}

}  // namespace kv
