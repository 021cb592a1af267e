#pragma once
// A desktop ordering application that the test scripts: the shared block is a vector of exactly
// the block's size (so that the sanitizers catch any access past it), the tick counter is
// simulated, and each message's answer comes inside it, some ticks later, or never. Late answers
// are never dropped: each is written when its time comes, whatever the block holds then.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "addin/methods.h"
#include "common/text.h"
#include "component/protocol.h"
#include "platform/backend.h"
#include "support/fake_platform.h"

namespace kv::test {

class FakeDesktop final : public DesktopChannel {
  public:
    static constexpr uintptr_t kBlock = 0x4d4d;
    static constexpr uintptr_t kTurn = 0x7475;

    struct Message {
        int32_t window;
        uint32_t message;
        int32_t wparam;
        int32_t lparam;
        std::string text;  // the block's text when the message arrived
        uint32_t tick;     // when it arrived
    };

    std::vector<char> block = std::vector<char>(4096, '#');
    bool open_fails = false;
    bool map_fails = false;
    int32_t window = 123456;   // the window that answers; a message to any other is lost
    bool window_gone = false;  // `window` is no longer a window
    int window_checks = 0;
    std::optional<std::string> answer;  // written on a message to `window`, none when empty
    uint32_t answer_after = 0;          // ticks after the message; 0 answers inside it
    // When set, the answer to each message instead, and its ticks after the message (none:
    // that message is never answered).
    struct Reply {
        std::string text;
        uint32_t after = 0;
    };
    std::function<std::optional<Reply>(const std::string& request)> answer_to;
    uint32_t tick = 1000;
    uint32_t tick_per_read = 0;
    bool real_sleep = false;
    std::function<void()> on_pause;

    // The turn at the block: another copy holds it until `other_holds_until` (a tick), unless
    // it is free; `other_dies` makes that copy end while it holds the turn. The record of what
    // an earlier request left outstanding is shared by all copies.
    bool turn_open_fails = false;
    bool record_open_fails = false;
    std::optional<uint32_t> other_holds_until;
    bool other_dies = false;
    bool holds_turn = false;  // the component's own turn
    std::vector<uint32_t> turn_waits;
    std::function<void()> on_turn_wait;  // after each wait in which the turn did not come
    std::vector<char> record = std::vector<char>(24, '\0');
    DesktopChannel::View RecordView() { return {record.data(), record.size()}; }

    std::vector<Message> messages;
    std::vector<uint32_t> pauses;
    int opened = 0, closed = 0, mapped = 0, unmapped = 0;

    // The block's text and a zero byte; the rest of the block keeps its bytes.
    void SetText(std::string_view text) {
        std::copy(text.begin(), text.end(), block.begin());
        block[text.size()] = '\0';
    }
    std::string Text() const {
        const auto zero = std::find(block.begin(), block.end(), '\0');
        return std::string(block.begin(), zero);
    }
    void ExpectReleased() const {
        EXPECT_EQ(opened, closed);
        EXPECT_EQ(mapped, unmapped);
        EXPECT_FALSE(holds_turn) << "the turn outlived the request";
    }

    uintptr_t OpenBlock(const std::string& name, uint32_t create_size) override {
        EXPECT_EQ(name, "KelvarinMapFile");
        EXPECT_EQ(create_size, 4u);
        if (open_fails) return 0;
        ++opened;
        return kBlock;
    }
    View MapBlock(uintptr_t handle) override {
        EXPECT_EQ(handle, kBlock);
        if (map_fails) return {};
        ++mapped;
        return {block.data(), block.size()};
    }
    void UnmapBlock(const View& view) override {
        EXPECT_EQ(view.data, block.data());
        ++unmapped;
    }
    void CloseBlock(uintptr_t handle) override {
        EXPECT_EQ(handle, kBlock);
        ++closed;
    }
    TurnObjects OpenTurn(const std::string& mutex_name, const std::string& record_name,
                         uint32_t record_size) override {
        EXPECT_EQ(mutex_name, "KelvarinMapFile.Turn");
        EXPECT_EQ(record_name, "KelvarinMapFile.Outstanding");
        EXPECT_EQ(record_size, record.size());
        TurnObjects turn;
        if (turn_open_fails) {
            turn.missing = mutex_name;
            turn.os_error = 5;
            return turn;
        }
        turn.mutex = kTurn;
        if (record_open_fails) {
            turn.missing = record_name;
            turn.os_error = 6;
            return turn;
        }
        turn.record = RecordView();
        return turn;
    }
    TurnWait WaitForTurn(uintptr_t turn, uint32_t milliseconds) override {
        EXPECT_EQ(turn, kTurn);
        EXPECT_FALSE(holds_turn) << "a request takes its turn once";
        turn_waits.push_back(milliseconds);
        if (turn_waits.size() > 10000)
            throw std::runtime_error("the wait for the turn does not end");
        if (other_holds_until) {
            const auto left = static_cast<int32_t>(*other_holds_until - tick);
            if (left > static_cast<int32_t>(milliseconds)) {
                tick += milliseconds;
                if (on_turn_wait) on_turn_wait();
                return TurnWait::Busy;
            }
            if (left > 0) tick = *other_holds_until;
            other_holds_until.reset();
            holds_turn = true;
            return other_dies ? TurnWait::TakenAbandoned : TurnWait::Taken;
        }
        holds_turn = true;
        return TurnWait::Taken;
    }
    void EndTurn(uintptr_t turn) override {
        EXPECT_EQ(turn, kTurn);
        EXPECT_TRUE(holds_turn) << "a turn ended that was not taken";
        holds_turn = false;
    }
    View HeldRecord() override { return record_open_fails ? View{} : RecordView(); }
    bool WindowExists(int32_t w) override {
        ++window_checks;
        return w == window && !window_gone;
    }
    void SendToWindow(int32_t to, uint32_t message, int32_t wparam, int32_t lparam) override {
        EXPECT_TRUE(holds_turn || turn_open_fails) << "a message sent out of turn";
        messages.push_back({to, message, wparam, lparam, Text(), tick});
        if (to != window || window_gone) return;
        std::optional<Reply> reply = answer_to ? answer_to(Text())
                                     : answer  ? Reply{*answer, answer_after}
                                               : std::optional<Reply>();
        if (!reply) return;
        pending_.push_back({tick + reply->after, std::move(reply->text)});
        std::stable_sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
            return static_cast<int32_t>(a.due - b.due) < 0;
        });
        Deliver();
    }
    uint32_t TickCount() override {
        const uint32_t now = tick;
        tick += tick_per_read;
        return now;
    }
    void Pause(uint32_t milliseconds) override {
        pauses.push_back(milliseconds);
        // A cycle that never gives up must fail the test rather than hang it.
        if (pauses.size() > 10000) throw std::runtime_error("the wait does not end");
        tick += milliseconds + 1;  // a sleep lasts a little longer than asked
        if (real_sleep) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Deliver();
        if (on_pause) on_pause();
    }

  private:
    struct Pending {
        uint32_t due;
        std::string text;
    };
    // The answers whose time has come, in the order of their messages. An answer as long as the
    // block or longer fills it without a zero byte.
    void Deliver() {
        while (!pending_.empty() && static_cast<int32_t>(tick - pending_.front().due) >= 0) {
            const std::string& text = pending_.front().text;
            const size_t n = std::min(text.size(), block.size());
            std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), block.begin());
            if (n < block.size()) block[n] = '\0';
            pending_.erase(pending_.begin());
        }
    }
    std::vector<Pending> pending_;
};

// Holds the desktop application ahead of the platform that refers to it.
struct DesktopHolder {
    FakeDesktop desktop;
};

// How the request trace of a Link is set when its component is made.
enum class Tracing { Off, On, Failing };

// A component whose desktop application is a FakeDesktop, driven through the host protocol.
struct Link : DesktopHolder, FakePlatform {
    explicit Link(Tracing tracing = Tracing::Off)
        : FakePlatform(desktop), tracing_(Switch(tracing)) {
        desktop.SetText("0\t123456\t");
    }

  private:
    // Before the component, which reads the setting when it is made.
    Tracing Switch(Tracing tracing) {
        if (tracing != Tracing::Off) traces.setting = MakeTraceSetting("trace.log", "");
        traces.fails = tracing == Tracing::Failing;
        return tracing;
    }
    Tracing tracing_;

  public:
    RecordingErrorLog errors;
    Protocol protocol{platform, &errors, AddinMethods()};
    T_vk_object& vk = protocol.object();

    // Calls a method by its English name; the result must be VT_I4.
    int32_t Call(const char* english, std::vector<Variant> params = {}) {
        int32_t number = -1;
        EXPECT_EQ(protocol.FindMethod(Utf8ToUtf16(english), number), kS_OK) << english;
        const VectorParams source(std::move(params));
        Variant result;
        EXPECT_EQ(protocol.CallAsFunc(number, result, &source), kS_OK);
        EXPECT_EQ(result.type(), VarType::I4) << english;
        return static_cast<int32_t>(result.int_value());
    }
    std::string LastError() const {
        return errors.records.empty() ? "" : Utf16ToUtf8(errors.records.back().description);
    }
};

}  // namespace kv::test
