#pragma once
// A desktop ordering application that the test scripts: the shared block is a vector of exactly
// the block's size (so that the sanitizers catch any access past it), the tick counter is
// simulated, and the answer comes inside the message, some ticks later, or never.
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

    // Every turn mutex the component opened is closed by the time the component has gone.
    ~FakeDesktop() override { EXPECT_EQ(turns_opened, turns_closed); }

    struct Message {
        int32_t window;
        uint32_t message;
        int32_t wparam;
        int32_t lparam;
        std::string text;  // the block's text when the message arrived
    };

    std::vector<char> block = std::vector<char>(4096, '#');
    bool open_fails = false;
    bool map_fails = false;
    int32_t window = 123456;            // the window that answers; a message to any other is lost
    std::optional<std::string> answer;  // written on a message to `window`, none when empty
    uint32_t answer_after = 0;          // ticks after the message; 0 answers inside it
    uint32_t tick = 1000;
    uint32_t tick_per_read = 0;
    bool real_sleep = false;
    std::function<void()> on_pause;

    // The turn at the block: another copy holds it until `other_holds_until` (a tick), unless
    // it is free; `other_dies` makes that copy end while it holds the turn.
    bool turn_open_fails = false;
    std::optional<uint32_t> other_holds_until;
    bool other_dies = false;
    bool holds_turn = false;  // the component's own turn
    std::vector<uint32_t> turn_waits;
    std::function<void()> on_turn_wait;  // after each wait in which the turn did not come
    int turns_opened = 0, turns_closed = 0;

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
    uintptr_t OpenTurn(const std::string& name) override {
        EXPECT_EQ(name, "KelvarinMapFile.Turn");
        if (turn_open_fails) return 0;
        ++turns_opened;
        return kTurn;
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
    void CloseTurn(uintptr_t turn) override {
        if (turn == 0) return;
        EXPECT_EQ(turn, kTurn);
        ++turns_closed;
    }
    void SendToWindow(int32_t to, uint32_t message, int32_t wparam, int32_t lparam) override {
        EXPECT_TRUE(holds_turn || turn_open_fails) << "a message sent out of turn";
        messages.push_back({to, message, wparam, lparam, Text()});
        if (to != window || !answer) return;
        due_ = tick + answer_after;
        pending_ = true;
        if (answer_after == 0) Reply();
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
        if (pending_ && static_cast<int32_t>(tick - due_) >= 0) Reply();
        if (on_pause) on_pause();
    }

  private:
    // An answer as long as the block or longer fills it without a zero byte.
    void Reply() {
        pending_ = false;
        const size_t n = std::min(answer->size(), block.size());
        std::copy(answer->begin(), answer->begin() + static_cast<std::ptrdiff_t>(n), block.begin());
        if (n < block.size()) block[n] = '\0';
    }
    uint32_t due_ = 0;
    bool pending_ = false;
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
