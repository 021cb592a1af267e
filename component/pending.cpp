// Methods whose work is still being built. Each raises an error naming itself, so that a call
// reaches the host's error log instead of pretending to succeed.
#include "common/error.h"
#include "component/method_bodies.h"
#include "component/vk_object.h"

namespace kv {
namespace {
[[noreturn, maybe_unused]] void NotBuilt(const char* method) {
    throw Error(std::string(method) + ": not built yet");
}
}  // namespace


}  // namespace kv
