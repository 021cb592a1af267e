#pragma once
// The text of the error that a step of a test raises.
#include <string>

#include "common/error.h"

namespace kv::test {

// The message of the kv::Error that `action` raises, or "no error" when it raises none.
template <typename Action>
std::string ErrorText(Action&& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace kv::test
