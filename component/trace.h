#pragma once
// The request trace of one component object, for administrators: off unless the user's
// setting names a file (platform TraceFiles). Each line is one event: the local time with
// milliseconds, the process, the event and its fields as name=value, separated by tabs, in
// UTF-8; values are escaped (EscapeControls) so that a line never breaks or mixes with another.
// Writing never changes what the component does: a line that cannot be written is dropped.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kv {

// One field of a trace line; the value is ANSI text, as the component holds its texts.
struct TraceField {
    std::string_view name;
    std::string value;
};

class Trace {
  public:
    // Reads the user's setting once: a component object keeps its trace for its life.
    explicit Trace(Platform& platform);
    // A trace that is off, for connections made outside a component object.
    static Trace& Off();

    bool On() const { return on_; }
    // Writes one line; nothing when the trace is off. Callers build the fields only when On().
    void Write(std::string_view event, const std::vector<TraceField>& fields) noexcept;
    // Milliseconds of the platform's tick counter, for the durations a line gives; 0 when off.
    uint32_t Ticks();

  private:
    Trace() = default;

    Platform* platform_ = nullptr;
    TraceSetting setting_;
    bool on_ = false;
};

}  // namespace kv
