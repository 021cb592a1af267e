#include "link/outstanding.h"

#include <cstring>

#include "link/request_cycle.h"

namespace kv {
namespace {

// "KVO1" read as a little-endian number: the layout below, version 1.
constexpr uint32_t kTag = 0x314F564Bu;

// The record's bytes: the tag, then the five fields, 32 bits each in the machine's order
// (32- and 64-bit copies share it, so there is nothing of a pointer's size in it).
constexpr size_t kFields = 6;
static_assert(kFields * sizeof(uint32_t) == kOutstandingRecordSize);

}  // namespace

Outstanding ReadOutstanding(const DesktopChannel::View& record) {
    if (record.data == nullptr || record.size < kOutstandingRecordSize) return {};
    uint32_t field[kFields];
    std::memcpy(field, record.data, sizeof field);
    if (field[0] != kTag || field[1] > static_cast<uint32_t>(Outstanding::Wait::Window)) return {};
    Outstanding outstanding;
    outstanding.wait = static_cast<Outstanding::Wait>(field[1]);
    outstanding.message = field[2];
    outstanding.window = static_cast<int32_t>(field[3]);
    outstanding.process = field[4];
    outstanding.since = field[5];
    return outstanding;
}

void WriteOutstanding(const DesktopChannel::View& record, const Outstanding& outstanding) {
    if (record.data == nullptr || record.size < kOutstandingRecordSize) return;
    const uint32_t field[kFields] = {kTag,
                                     static_cast<uint32_t>(outstanding.wait),
                                     outstanding.message,
                                     static_cast<uint32_t>(outstanding.window),
                                     outstanding.process,
                                     outstanding.since};
    std::memcpy(record.data, field, sizeof field);
}

bool KeepsOutstanding(DesktopChannel& channel, uint32_t process) {
    const Outstanding record = ReadOutstanding(channel.HeldRecord());
    return record.wait != Outstanding::Wait::None && record.process == process &&
           channel.TickCount() - record.since <= kOutstandingLifetimeMilliseconds;
}

Settling Advance(Outstanding& record, std::string_view block_text, uint32_t now,
                 DesktopChannel& channel) {
    if (record.wait == Outstanding::Wait::None) return Settling::WindowBack;  // nothing to wait for
    // Unsigned difference: the tick counter may wrap while a request is outstanding.
    if (now - record.since > kOutstandingLifetimeMilliseconds) {
        record = {};
        return Settling::Expired;
    }
    Settling settling = Settling::Waiting;
    if (record.wait == Outstanding::Wait::Answer && StatusOf(block_text) >= 0) {
        // The answer is discarded: nobody waits for it any more.
        record.wait = Outstanding::Wait::Window;
        record.since = now;
        settling = Settling::Answered;
    }
    // A request text names the window in field 2 too: it counts only after the answer.
    if (record.wait == Outstanding::Wait::Window &&
        WindowOf(HandleFieldOf(block_text)) == record.window) {
        record = {};
        return Settling::WindowBack;
    }
    if (!channel.WindowExists(record.window)) {
        record = {};
        return Settling::WindowGone;
    }
    return settling;
}

}  // namespace kv
