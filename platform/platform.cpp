#include "platform/platform.h"

#include "platform/backend.h"

namespace kv {

Platform& DefaultPlatform() {
    static Platform platform{backend::Codec(),     backend::Regional(),  backend::SystemClock(),
                             backend::Notices(),   backend::Files(),     backend::Channel(),
                             backend::Processes(), backend::Libraries(), backend::Dialogs()};
    return platform;
}

}  // namespace kv
