#include "link/request_cycle.h"

#include <algorithm>
#include <cstring>

#include "common/error.h"
#include "common/text.h"
#include "common/variant.h"
#include "component/vk_object.h"

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
    uintptr_t& turn = vk_.TurnHandle;
    if (turn == 0) turn = channel_.OpenTurn(kTurnName);
    if (turn == 0) return WaitOutcome::Done;  // no mutex to be had: on alone, as a lone copy
    DesktopChannel::TurnWait wait = channel_.WaitForTurn(turn, 0);
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
                turn, static_cast<uint32_t>(std::min<int64_t>(kPollMilliseconds, left + 1)));
            turn_wait_ = channel_.TickCount() - start;
            left = static_cast<int64_t>(vk_.Timeout) - turn_wait_;
        }
        waiting_ = false;
        has_turn_ = Took(wait);
        if (vk_.Searching.exchange(0) != 1) return WaitOutcome::Stopped;
        return left < 0 ? WaitOutcome::TimedOut : WaitOutcome::Done;
    }
    // A wait that failed leaves the request to go on alone, as a lone copy would.
    has_turn_ = Took(wait);
    return WaitOutcome::Done;
}

void RequestCycle::EndTurn() {
    if (!has_turn_) return;
    channel_.EndTurn(vk_.TurnHandle);
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

void RequestCycle::Send(int32_t window, uint32_t message, int32_t wparam, int32_t lparam) {
    channel_.SendToWindow(window, message, wparam, lparam);
}

WaitOutcome RequestCycle::Wait(std::string& answer) {
    vk_.Searching.store(1);
    waiting_ = true;
    const uint32_t start = channel_.TickCount();  // after the message has returned
    while (vk_.Searching.load() == 1) {
        // Unsigned difference: a wrap of the tick counter during the wait does no harm. Signed
        // 64-bit comparison: a negative Timeout has always passed.
        const uint32_t elapsed = channel_.TickCount() - start;
        if (static_cast<int64_t>(elapsed) > static_cast<int64_t>(vk_.Timeout) - turn_wait_) {
            vk_.Searching.store(0);
            waiting_ = false;
            return WaitOutcome::TimedOut;
        }
        std::string text = Text();
        if (StatusOf(text) >= 0) {
            vk_.Searching.store(0);
            waiting_ = false;
            answer = std::move(text);
            return WaitOutcome::Done;
        }
        channel_.Pause(kPollMilliseconds);
    }
    waiting_ = false;  // StopFind cleared the flag
    return WaitOutcome::Stopped;
}

void RequestCycle::AwaitWindow(int32_t window) {
    const uint32_t start = channel_.TickCount();
    while (WindowOf(HandleFieldOf(Text())) != window) {
        if (channel_.TickCount() - start > kWindowBackMilliseconds) return;
        channel_.Pause(kPollMilliseconds);
    }
}

}  // namespace kv
