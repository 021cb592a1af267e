#include "component/trace.h"

#include <cstdio>

#include "common/text.h"

namespace kv {

namespace {

// A line longer than a quarter of the file's limit is cut, at a character's start, so that the
// file stays within its limit and keeps more than the last line.
void CutToFit(std::string& line, uint64_t most) {
    if (line.size() <= most) return;
    const size_t total = line.size();
    size_t keep = static_cast<size_t>(most);
    while (keep > 0 && (static_cast<unsigned char>(line[keep]) & 0xC0) == 0x80) --keep;
    line.resize(keep);
    line += "\t[cut: " + std::to_string(total) + " bytes]";
}

}  // namespace

Trace::Trace(Platform& platform) : platform_(&platform) {
    try {
        setting_ = platform.traces.Setting();
        on_ = !setting_.file.empty();
    } catch (...) {
        // A setting that cannot be read leaves the trace off: the component works as ever.
        on_ = false;
    }
}

Trace& Trace::Off() {
    static Trace off;
    return off;
}

uint32_t Trace::Ticks() { return on_ ? platform_->channel.TickCount() : 0; }

void Trace::Write(std::string_view event, const std::vector<TraceField>& fields) noexcept {
    if (!on_) return;
    try {
        const LocalDateTime now = platform_->clock.Now();
        char stamp[96];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d\tpid=%lu\t",
                      now.year, now.month, now.day, now.hour, now.minute, now.second,
                      now.millisecond, static_cast<unsigned long>(platform_->traces.ProcessId()));
        std::string line = stamp;
        line += event;
        for (const TraceField& field : fields) {
            line += '\t';
            line += field.name;
            line += '=';
            // ANSI and UTF-8 share the control characters, so escaping comes first.
            line += Utf16ToUtf8(platform_->codec.ToUtf16(EscapeControls(field.value)));
        }
        CutToFit(line, setting_.limit_bytes / 4);
        platform_->traces.Append(setting_, line);
    } catch (...) {
        // No memory for a line: the line is lost, the call goes on.
    }
}

}  // namespace kv
