#pragma once
// The record of what the last request that waited for an answer left behind, shared by every
// copy of the component on the workstation in a small named mapping beside the turn mutex, and
// read and written only by the holder of the turn. A request that gave up (no answer within
// Timeout, StopFind, a copy killed while it waited) leaves its request outstanding: the desktop
// application may still answer it, and that answer must not be read as the next request's.
// So the next request of any copy first waits for that answer and discards it, and, when field
// 2 does not name the desktop application's window after it (a FindPacket answer covers it),
// waits for the window to come back before it writes its own text.
#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace kv {

constexpr char kRecordName[] = "KelvarinMapFile.Outstanding";
constexpr uint32_t kOutstandingRecordSize = 24;
// How long a record is waited for after its sender last waited for the answer itself (or after
// the answer came, for the window). A desktop application that never answers, or never puts
// its window back, must not block every later request for ever; one that is alive and answers
// a request this late has long lost it anyway.
constexpr uint32_t kOutstandingLifetimeMilliseconds = 30000;

struct Outstanding {
    enum class Wait : uint32_t {
        None = 0,    // nothing outstanding
        Answer = 1,  // the request has not been answered yet
        Window = 2,  // it has been, and field 2 does not name its window again yet
    };
    Wait wait = Wait::None;
    uint32_t message = 0;  // the request's message
    int32_t window = 0;    // the window it went to
    uint32_t process = 0;  // the process that sent it
    // The tick at which its sender last waited for the answer, or (Window) the answer came.
    uint32_t since = 0;
};

// A record that does not carry this layout's tag (the zero bytes of a new one) reads as None.
Outstanding ReadOutstanding(const DesktopChannel::View& record);
void WriteOutstanding(const DesktopChannel::View& record, const Outstanding& outstanding);

// Whether the record this process holds names a request of `process` (this one) that is still
// outstanding: the record would go with the process's handle, and the late answer with it would
// pass for the next request's. Read without the turn: a record half written reads as one of
// another layout, that is as nothing outstanding.
bool KeepsOutstanding(DesktopChannel& channel, uint32_t process);

// What one look at the block found.
enum class Settling {
    Waiting,     // still outstanding
    Answered,    // its answer is there (the window may still have to come back)
    WindowBack,  // field 2 names its window again
    Expired,     // older than kOutstandingLifetimeMilliseconds
    WindowGone,  // its window is no longer a window: nothing will answer or come back
};

// Advances `record` by one look at the block's text at tick `now`. An answer is there when the
// status field is 0 or more; the window is back when field 2 names it. Whether the window still
// exists is asked only while the record would stay outstanding.
Settling Advance(Outstanding& record, std::string_view block_text, uint32_t now,
                 DesktopChannel& channel);

}  // namespace kv
