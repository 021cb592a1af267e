#include "link/request_cycle.h"

#include <algorithm>
#include <cstring>

#include "common/error.h"
#include "common/text.h"
#include "common/variant.h"
#include "component/vk_object.h"
#include "link/messages.h"

namespace kv {

int32_t WindowOf(std::string_view handle_field) {
    int32_t window = 0;
    if (!ParseInt32(TrimControl(handle_field), window) || window <= 0) return 0;
    return window;
}

std::string_view HandleFieldOf(std::string_view block_text) {
    const size_t first = block_text.find('\t');
    if (first == std::string_view::npos) return block_text;
    std::string_view rest = block_text.substr(first + 1);
    return rest.substr(0, rest.find('\t'));
}

int32_t StatusOf(std::string_view block_text) {
    int32_t status = -1;
    if (!ParseInt32(block_text.substr(0, block_text.find('\t')), status)) return -1;
    return status;
}

RequestCycle::RequestCycle(T_vk_object& vk) : vk_(vk), channel_(vk.platform().channel) {
    vk_.PriceID = -1;
}

RequestCycle::~RequestCycle() {
    if (waiting_) vk_.Searching.store(0);
    EndTurn();
    if (view_.data != nullptr) channel_.UnmapBlock(view_);
    if (block_ != 0) channel_.CloseBlock(block_);
    // No handle survives the request, not even as a number.
    vk_.MapHandle = 0;
}

bool RequestCycle::OpenBlock() {
    block_ = channel_.OpenBlock(kBlockName, kBlockCreateSize);
    vk_.MapHandle = block_;
    return block_ != 0;
}

bool RequestCycle::MapView() {
    view_ = channel_.MapBlock(block_);
    if (view_.data == nullptr) view_.size = 0;
    return view_.data != nullptr;
}

namespace {

bool Took(DesktopChannel::TurnWait wait) {
    return wait == DesktopChannel::TurnWait::Taken ||
           wait == DesktopChannel::TurnWait::TakenAbandoned;
}

}  // namespace

WaitOutcome RequestCycle::TakeTurn() {
    turn_ = channel_.OpenTurn(kTurnName, kRecordName, kOutstandingRecordSize);
    if (!turn_.missing.empty()) {
        turn_note_ = turn_.missing + " cannot be had (error " + std::to_string(turn_.os_error) +
                     (turn_.mutex == 0 ? "): no turn, alone" : "): no record of earlier requests");
    }
    if (turn_.mutex == 0) return WaitOutcome::Done;  // on alone, as a lone copy
    DesktopChannel::TurnWait wait = channel_.WaitForTurn(turn_.mutex, 0);
    if (wait == DesktopChannel::TurnWait::Busy) {
        // Another copy is talking to the desktop application. Waiting in slices lets StopFind
        // end the wait as it ends the wait for an answer.
        vk_.Searching.store(1);
        waiting_ = true;
        const uint32_t start = channel_.TickCount();
        int64_t left = vk_.Timeout;
        while (wait == DesktopChannel::TurnWait::Busy && left >= 0 && vk_.Searching.load() == 1) {
            // At most until the first moment at which more than Timeout has passed.
            wait = channel_.WaitForTurn(
                turn_.mutex, static_cast<uint32_t>(std::min<int64_t>(kPollMilliseconds, left + 1)));
            spent_ = channel_.TickCount() - start;
            left = static_cast<int64_t>(vk_.Timeout) - spent_;
        }
        waiting_ = false;
        has_turn_ = Took(wait);
        if (vk_.Searching.exchange(0) != 1) return WaitOutcome::Stopped;
        if (left < 0) return WaitOutcome::TimedOut;
    }
    has_turn_ = Took(wait);
    if (wait == DesktopChannel::TurnWait::TakenAbandoned) {
        turn_note_ = "taken over from a copy that ended in its turn";
    } else if (wait == DesktopChannel::TurnWait::Failed) {
        turn_note_ = "the wait for the turn failed: alone";  // as a lone copy would
    }
    return WaitOutcome::Done;
}

template <typename Done>
WaitOutcome RequestCycle::WaitBeforeTheMessage(Done done) {
    vk_.Searching.store(1);
    waiting_ = true;
    const uint32_t start = channel_.TickCount();
    WaitOutcome outcome = WaitOutcome::Done;
    while (!done()) {
        const uint32_t elapsed = channel_.TickCount() - start;
        if (static_cast<int64_t>(elapsed) + spent_ > static_cast<int64_t>(vk_.Timeout)) {
            outcome = WaitOutcome::TimedOut;
            break;
        }
        channel_.Pause(kEarlierPollMilliseconds);
        if (vk_.Searching.load() != 1) {
            outcome = WaitOutcome::Stopped;
            break;
        }
    }
    spent_ += channel_.TickCount() - start;
    waiting_ = false;
    if (vk_.Searching.exchange(0) != 1) outcome = WaitOutcome::Stopped;
    return outcome;
}

WaitOutcome RequestCycle::SettleEarlier() {
    if (!has_turn_) return WaitOutcome::Done;
    Outstanding record = ReadOutstanding(turn_.record);
    if (record.wait == Outstanding::Wait::None) return WaitOutcome::Done;
    const Outstanding found = record;
    const uint32_t start = channel_.TickCount();
    bool answer_came = false;
    uint32_t answered_after = 0;
    uint32_t last_look = 0;
    Settling settling = Settling::Waiting;
    const WaitOutcome outcome = WaitBeforeTheMessage([&] {
        const Outstanding::Wait before = record.wait;
        const uint32_t now = channel_.TickCount();
        settling = Advance(record, Text(), now, channel_);
        last_look = now - start;
        if (before == Outstanding::Wait::Answer &&
            (settling == Settling::Answered || settling == Settling::WindowBack)) {
            answer_came = true;
            answered_after = now - start;
        }
        return record.wait == Outstanding::Wait::None;
    });
    WriteOutstanding(turn_.record, record);

    // For the trace.
    const uint32_t waited = channel_.TickCount() - start;
    std::string note = std::string(messages::MethodOf(found.message)) + " of process " +
                       std::to_string(found.process) + ": ";
    if (answer_came) {
        note += "its answer came after " + std::to_string(answered_after) + " ms and was discarded";
    }
    const char* separator = answer_came ? "; " : "";
    switch (settling) {
        case Settling::WindowBack:
            if (!answer_came || last_look > answered_after) {
                note += separator + std::string("the window back after ") +
                        std::to_string(last_look) + " ms";
            }
            break;
        case Settling::Expired:
            note += separator + std::string("expired");
            break;
        case Settling::WindowGone:
            note += separator + std::string("its window is gone");
            break;
        case Settling::Waiting:
        case Settling::Answered:
            note +=
                separator +
                std::string(outcome == WaitOutcome::Stopped ? "stopped" : "still waiting") +
                (record.wait == Outstanding::Wait::Answer ? " for its answer" : " for the window") +
                " after " + std::to_string(waited) + " ms";
            break;
    }
    earlier_note_ = std::move(note);
    return outcome;
}

void RequestCycle::EndTurn() {
    if (!has_turn_) return;
    channel_.EndTurn(turn_.mutex);
    has_turn_ = false;
}

std::string BlockText(const DesktopChannel::View& view) {
    if (view.data == nullptr) return {};
    const void* zero = std::memchr(view.data, 0, view.size);
    const size_t length = zero != nullptr
                              ? static_cast<size_t>(static_cast<const char*>(zero) - view.data)
                              : view.size;
    return std::string(view.data, length);
}

std::string RequestCycle::Text() const { return BlockText(view_); }

void RequestCycle::Write(std::string_view request) {
    const size_t needed = request.size() + 1;  // with its zero byte
    if (view_.data == nullptr || needed > view_.size) {
        throw Error(Cp1251FromUtf8("Запрос не помещается в общую память \"") + kBlockName +
                    Cp1251FromUtf8("\": ему нужно ") + std::to_string(needed) +
                    Cp1251FromUtf8(" байт с завершающим нулём, размер блока ") +
                    std::to_string(view_.size) + Cp1251FromUtf8(" байт."));
    }
    std::memcpy(view_.data, request.data(), request.size());
    view_.data[request.size()] = '\0';
}

void RequestCycle::Send(int32_t window, uint32_t message, int32_t wparam, int32_t lparam,
                        bool waits) {
    const bool recorded = waits && has_turn_ && turn_.record.data != nullptr;
    if (recorded) {
        own_ = {Outstanding::Wait::Answer, message, window, vk_.platform().traces.ProcessId(),
                channel_.TickCount()};
        WriteOutstanding(turn_.record, own_);
    }
    channel_.SendToWindow(window, message, wparam, lparam);
    if (recorded) {
        own_.since = channel_.TickCount();  // a long message: still waited for
        WriteOutstanding(turn_.record, own_);
    }
}

void RequestCycle::SettleOwn(std::string_view block_text) {
    if (own_.wait == Outstanding::Wait::None) return;
    const uint32_t now = channel_.TickCount();
    Advance(own_, block_text, now, channel_);
    // Given up on now: the record's lifetime counts from here.
    if (own_.wait == Outstanding::Wait::Answer) own_.since = now;
    WriteOutstanding(turn_.record, own_);
}

WaitOutcome RequestCycle::Wait(std::string& answer) {
    vk_.Searching.store(1);
    waiting_ = true;
    const uint32_t start = channel_.TickCount();  // after the message has returned
    while (vk_.Searching.load() == 1) {
        // Unsigned difference: a wrap of the tick counter during the wait does no harm. Signed
        // 64-bit comparison: a negative Timeout has always passed.
        const uint32_t elapsed = channel_.TickCount() - start;
        if (static_cast<int64_t>(elapsed) > static_cast<int64_t>(vk_.Timeout) - spent_) {
            vk_.Searching.store(0);
            waiting_ = false;
            SettleOwn(Text());
            return WaitOutcome::TimedOut;
        }
        std::string text = Text();
        if (StatusOf(text) >= 0) {
            vk_.Searching.store(0);
            waiting_ = false;
            SettleOwn(text);
            answer = std::move(text);
            return WaitOutcome::Done;
        }
        channel_.Pause(kPollMilliseconds);
    }
    waiting_ = false;  // StopFind cleared the flag
    SettleOwn(Text());
    return WaitOutcome::Stopped;
}

}  // namespace kv
