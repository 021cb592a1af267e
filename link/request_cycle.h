#pragma once
// The request cycle over the desktop application's shared block. Each step is one call, so that
// a request runs them in order and fetches its parameters between them; the cycle itself keeps
// every read and write inside the mapped block and releases the block however the request ends.
#include <cstdint>
#include <string>
#include <string_view>

#include "link/outstanding.h"
#include "platform/platform.h"

namespace kv {

class T_vk_object;

constexpr char kBlockName[] = "KelvarinMapFile";
// The mutex by which copies of the component (several 1C sessions on one workstation) take
// turns at the block, in the block's namespace.
constexpr char kTurnName[] = "KelvarinMapFile.Turn";
constexpr uint32_t kBlockCreateSize = 4;  // counts only when the component creates the block
constexpr uint32_t kPollMilliseconds = 50;
// Between looks for what an earlier request left outstanding: its answer is mostly on its way
// already, and each look saved is time this request keeps for its own answer.
constexpr uint32_t kEarlierPollMilliseconds = 10;

// How a wait for the turn or for the answer ended: Done when the turn was taken or the answer
// is complete.
enum class WaitOutcome { TimedOut, Stopped, Done };

// The desktop application's window as the handle field names it; 0 when it names none (empty,
// not a number, 0 or negative). `handle_field` is the untrimmed field text.
int32_t WindowOf(std::string_view handle_field);

// Field 2 of the block's text, untrimmed; the whole text when it holds no tab.
std::string_view HandleFieldOf(std::string_view block_text);

// The status field of an answer read as an integer; -1 (pending) when it is not a number.
int32_t StatusOf(std::string_view block_text);

// The text of a mapped block: up to its first zero byte, or to its end without one.
std::string BlockText(const DesktopChannel::View& view);

class RequestCycle {
  public:
    // Step 1: PriceID becomes -1.
    explicit RequestCycle(T_vk_object& vk);
    // Step 11: unmaps the view and closes the block when they were opened.
    ~RequestCycle();
    RequestCycle(const RequestCycle&) = delete;
    RequestCycle& operator=(const RequestCycle&) = delete;

    // Step 2: opens the named block into MapHandle; false when it cannot be opened.
    bool OpenBlock();
    // Step 3: maps the whole block; false when it cannot be mapped.
    bool MapView();
    // Before step 4: takes this copy's turn at the block, which it keeps until the answer has
    // been read, the request has given up or EndTurn. Copies in other processes write into
    // the same block, and one copy must never read the answer meant for another. The wait
    // counts against Timeout, StopFind ends it, and a copy that ended while it held the turn
    // hands it on. Without the turn's objects to be had the request goes on alone, and
    // turn_note() says why.
    WaitOutcome TakeTurn();
    // With the turn, before step 4: waits until what an earlier request left outstanding has
    // settled (link/outstanding.h): its answer has come and is discarded, and field 2 names its
    // window again. The wait counts against Timeout, as the turn's does, and StopFind ends it.
    WaitOutcome SettleEarlier();
    // For a request that does not wait: once its message has returned, the others may go on.
    void EndTurn();
    // The block's text: up to its first zero byte, or to the end of the block without one.
    std::string Text() const;
    // Step 6: the request text and a zero byte at the start of the block. A text that does not
    // fit raises kv::Error naming both sizes and leaves the block as it was.
    void Write(std::string_view request);
    // Step 7. A request that will wait for its answer is recorded as outstanding first, so
    // that it stays outstanding for the next request if it gives up or its copy dies.
    void Send(int32_t window, uint32_t message, int32_t wparam, int32_t lparam, bool waits);
    // Steps 9 and 10: Searching is 1 while the block is looked at every 50 ms until the answer
    // is complete, Timeout (less the waits before the message) has passed or StopFind clears
    // Searching. `answer` receives the text of a complete answer. A request that gives up
    // leaves itself outstanding, unless its answer has come after all.
    WaitOutcome Wait(std::string& answer);

    // For the trace: what kept the turn's objects from this copy, and what an earlier request
    // had left outstanding; empty when nothing did.
    const std::string& turn_note() const { return turn_note_; }
    const std::string& earlier_note() const { return earlier_note_; }

  private:
    // Looks every kEarlierPollMilliseconds while `done` is false, Timeout (less `spent_`) has
    // not passed and Searching stays 1; the first look comes at once. Adds the time to `spent_`.
    template <typename Done>
    WaitOutcome WaitBeforeTheMessage(Done done);
    // This request's record after a look at the block at the end of its wait.
    void SettleOwn(std::string_view block_text);

    T_vk_object& vk_;
    DesktopChannel& channel_;
    uintptr_t block_ = 0;
    DesktopChannel::View view_;
    DesktopChannel::TurnObjects turn_;
    bool has_turn_ = false;
    uint32_t spent_ = 0;    // milliseconds waited before the message, spent from Timeout
    bool waiting_ = false;  // Searching was set by this cycle and is not cleared yet
    Outstanding own_;       // this request while it is recorded as outstanding
    std::string turn_note_;
    std::string earlier_note_;
};

}  // namespace kv
