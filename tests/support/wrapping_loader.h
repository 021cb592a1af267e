#pragma once
// The platform's own library loader, through which a test or a benchmark can stand in for
// single entry points of a real library (count its calls, leave it out).
#include <string>

#include "platform/backend.h"

namespace kv::test {

class WrappingLoader : public LibraryLoader {
  public:
    void* Open(const std::string& name, uint32_t& os_error) override {
        return backend::Libraries().Open(name, os_error);
    }
    void* Symbol(void* library, const char* name) override {
        return Wrap(name, backend::Libraries().Symbol(library, name));
    }
    void Close(void* library) override { backend::Libraries().Close(library); }
    std::string FileOf(void* library) override { return backend::Libraries().FileOf(library); }
    void Pin(void* library) override { backend::Libraries().Pin(library); }

  protected:
    // The entry point handed out for `name`; `real` is the library's own (null when it lacks it).
    virtual void* Wrap(const std::string& /*name*/, void* real) { return real; }
};

}  // namespace kv::test
