// The request cycle: the handle field, the wait with its timeout and completion tests, StopFind,
// the bounds of the block and the release of the block on every path.
#include "link/request_cycle.h"

#include <gtest/gtest.h>

#include <thread>

#include "link/fake_desktop.h"

namespace kv::test {
namespace {

TEST(RequestCycle, HandleFieldNamesTheWindow) {
    struct Case {
        const char* block_text;
        int32_t window;  // 0: the desktop application counts as absent
    };
    const Case cases[] = {
        {"0\t123456\t", 123456},
        {"123456", 123456},
        {"\t 42 \t", 42},
        {"0\t\r42\n\t9", 42},
        {"", 0},
        {"0\t0\t", 0},
        {"0\t-5\t", 0},
        {"0\tabc\t", 0},
        {"0\t\t123", 0},
        {"0\t4 2\t", 0},
        {"0\t2147483648", 0},
    };
    for (const Case& c : cases) {
        Link link;
        link.desktop.SetText(c.block_text);
        link.desktop.window = c.window;
        link.desktop.answer = "7";
        link.vk.PriceID = 5;
        EXPECT_EQ(link.Call("GetPosition"), c.window == 0 ? 0 : 7) << c.block_text;
        EXPECT_EQ(link.vk.PriceID, -1);
        if (c.window == 0) {
            EXPECT_TRUE(link.desktop.messages.empty()) << c.block_text;
            EXPECT_EQ(link.desktop.Text(), c.block_text) << "nothing written";
        } else {
            ASSERT_EQ(link.desktop.messages.size(), 1u) << c.block_text;
            EXPECT_EQ(link.desktop.messages[0].window, c.window);
        }
        link.desktop.ExpectReleased();
        EXPECT_EQ(link.vk.MapHandle, 0u);
    }
}

TEST(RequestCycle, StatusFieldDecidesCompletion) {
    struct Case {
        const char* answer;
        int32_t result;  // -3: still pending when the time ran out
    };
    const Case cases[] = {
        {"", -3}, {"abc", -3}, {"-2", -3},  {"\t5", -3}, {"7 ", -3},
        {"0", 0}, {"7", 7},    {"7\tx", 7}, {" 7\t", 7}, {"+3", 3},
    };
    for (const Case& c : cases) {
        Link link;
        link.vk.Timeout = 200;
        link.desktop.answer = c.answer;
        EXPECT_EQ(link.Call("ZakazInArhive"), c.result) << '"' << c.answer << '"';
        EXPECT_EQ(link.vk.Searching.load(), 0);
    }
}

TEST(RequestCycle, TimeoutCountsTicksAcrossTheWrap) {
    struct Case {
        int32_t timeout;
        uint32_t start_tick;
        uint32_t tick_per_read;
        std::optional<uint32_t> answer_after;  // none: no answer ever comes
        int32_t result;
        size_t pauses;  // each 50 ms, lasting 51 ticks
    };
    constexpr uint32_t kNearWrap = 0xFFFFFF00u;
    const Case cases[] = {
        {0, 1000, 0, 0, 7, 0},              // answered inside the message, read at the first look
        {0, 1000, 1, 0, -3, 0},             // the counter moved before the first look
        {0, 1000, 0, std::nullopt, -3, 1},  // one look, then the time has passed
        {-1, 1000, 0, 0, -3, 0},            // a negative Timeout has always passed
        {1000, 1000, 0, std::nullopt, -3, 20},
        {1000, kNearWrap, 0, std::nullopt, -3, 20},
        {1000, 0xFFFFFFFFu, 0, std::nullopt, -3, 20},
        {1000, 1000, 0, 300, 7, 6},
        {1000, kNearWrap, 0, 300, 7, 6},
        {2147483647, kNearWrap, 0, 100000, 7, 1961},
    };
    for (const Case& c : cases) {
        Link link;
        link.vk.Timeout = c.timeout;
        link.desktop.tick = c.start_tick;
        link.desktop.tick_per_read = c.tick_per_read;
        if (c.answer_after) {
            link.desktop.answer = "7";
            link.desktop.answer_after = *c.answer_after;
        }
        EXPECT_EQ(link.Call("ZakazInArhive"), c.result) << c.timeout << " from " << c.start_tick;
        EXPECT_EQ(link.desktop.pauses.size(), c.pauses) << c.timeout << " from " << c.start_tick;
        for (uint32_t p : link.desktop.pauses) EXPECT_EQ(p, 50u);
        EXPECT_EQ(link.desktop.messages.size(), 1u);
        EXPECT_EQ(link.vk.Searching.load(), 0);
    }
}

// Another copy of the component holds the turn at the block: the wait for the turn comes out
// of Timeout, and a copy that ended while holding it hands it on.
TEST(RequestCycle, CopiesTakeTurnsAtTheBlock) {
    struct Case {
        const char* what;
        int32_t timeout;
        std::optional<uint32_t> other_holds_for;  // ticks; none: the turn is free
        bool other_dies;
        std::optional<uint32_t> answer_after;  // ticks after the message; none: never
        int32_t result;
        bool sent;
    };
    const Case cases[] = {
        {"free turn", 1000, std::nullopt, false, 0, 7, true},
        {"turn comes in time", 1000, 120, false, 0, 7, true},
        {"holder died", 1000, 200, true, 0, 7, true},
        {"turn never comes in time", 500, 100000, false, 0, -3, false},
        {"turn takes the time the answer needed", 1000, 600, false, 450, -3, true},
        {"turn and answer within the time", 1000, 400, false, 450, 7, true},
        {"Timeout 0, turn taken", 0, 1, false, 0, -3, false},
        {"Timeout 0, free turn", 0, std::nullopt, false, 0, 7, true},
        {"negative Timeout, free turn", -1, std::nullopt, false, 0, -3, true},
        {"negative Timeout, turn taken", -1, 10, false, 0, -3, false},
    };
    for (const Case& c : cases) {
        Link link;
        link.vk.Timeout = c.timeout;
        if (c.other_holds_for)
            link.desktop.other_holds_until = link.desktop.tick + *c.other_holds_for;
        link.desktop.other_dies = c.other_dies;
        if (c.answer_after) {
            link.desktop.answer = "7";
            link.desktop.answer_after = *c.answer_after;
        }
        EXPECT_EQ(link.Call("CountPositionInZakaz"), c.result) << c.what;
        EXPECT_EQ(link.vk.PriceID, c.result == -3 ? -3 : -1) << c.what;
        EXPECT_EQ(link.desktop.messages.size(), c.sent ? 1u : 0u) << c.what;
        if (!c.sent) {
            EXPECT_EQ(link.desktop.Text(), "0\t123456\t") << c.what << ": nothing written";
        }
        ASSERT_FALSE(link.desktop.turn_waits.empty());
        EXPECT_EQ(link.desktop.turn_waits[0], 0u) << c.what << ": the first look does not wait";
        for (uint32_t w : link.desktop.turn_waits) EXPECT_LE(w, 50u) << c.what;
        EXPECT_EQ(link.vk.Searching.load(), 0) << c.what;
        link.desktop.ExpectReleased();
    }
}

TEST(RequestCycle, TurnOutcomesFollowEachRequestsTimeoutRules) {
    struct Case {
        const char* method;
        int32_t price_id;  // after the turn did not come within Timeout
    };
    for (const Case& c : {Case{"FindPosition", -3}, Case{"GetPosition", -1},
                          Case{"ZakazInArhive", -1}, Case{"UseAutozakaz", -3}}) {
        Link link;
        link.vk.Timeout = 100;
        link.desktop.other_holds_until = link.desktop.tick + 100000;
        EXPECT_EQ(link.Call(c.method, {Variant::Int32(1), Variant::Int32(2), Str("3")}), -3)
            << c.method;
        EXPECT_EQ(link.vk.PriceID, c.price_id) << c.method;
        EXPECT_TRUE(link.desktop.messages.empty()) << c.method;
    }
}

// Without the mutex the copy goes on alone, as a lone copy would; without the record it keeps
// its turn but cannot know of earlier requests. Either way the trace says which object could
// not be had and why.
TEST(RequestCycle, TurnObjectsThatCannotBeHadAreNamedInTheTrace) {
    struct Case {
        bool mutex_fails;
        const char* note;
    };
    for (const Case& c :
         {Case{true, "\tturn=KelvarinMapFile.Turn cannot be had (error 5): no turn, alone\t"},
          Case{false,
               "\tturn=KelvarinMapFile.Outstanding cannot be had (error 6): no record of "
               "earlier requests\t"}}) {
        Link link(Tracing::On);
        (c.mutex_fails ? link.desktop.turn_open_fails : link.desktop.record_open_fails) = true;
        link.desktop.answer = "7";
        link.vk.Timeout = 1000;
        EXPECT_EQ(link.Call("GetPosition"), 7);
        EXPECT_EQ(link.desktop.turn_waits.empty(), c.mutex_fails);
        ASSERT_EQ(link.traces.lines.size(), 1u);
        EXPECT_NE(link.traces.lines[0].find(c.note), std::string::npos) << link.traces.lines[0];
        link.desktop.ExpectReleased();
    }
}

TEST(RequestCycle, StaleWindowTimesOut) {
    Link link;
    link.desktop.window = 777;  // the block still names 123456, which nobody serves
    link.desktop.answer = "0";
    link.vk.Timeout = 500;
    EXPECT_EQ(link.Call("ClearCurrentZakaz"), -3);
    EXPECT_EQ(link.vk.PriceID, -3);
    EXPECT_EQ(link.desktop.Text().substr(0, 3), "-1\t");
    link.desktop.ExpectReleased();
}

// StopFind ends the wait for the answer, the wait for the turn and the wait for an earlier
// request's answer, at its next pass; nothing is sent for a request stopped before its message.
TEST(RequestCycle, StopFindDuringTheWait) {
    enum Wait { ForTheAnswer, ForTheTurn, ForTheEarlierRequest };
    for (const Wait wait : {ForTheAnswer, ForTheTurn, ForTheEarlierRequest}) {
        Link link;
        link.vk.Timeout = 100000;
        link.vk.TradeName = "old";
        link.desktop.answer = "12\t\tnew";
        link.desktop.answer_after = 1000;
        if (wait == ForTheTurn) link.desktop.other_holds_until = link.desktop.tick + 5000;
        if (wait == ForTheEarlierRequest) {
            link.desktop.SetText("-1\t123456\tearlier");
            WriteOutstanding(link.desktop.RecordView(),
                             {Outstanding::Wait::Answer, 1038, 123456, 77, link.desktop.tick});
        }
        const std::vector<uint32_t>& passes =
            wait == ForTheTurn ? link.desktop.turn_waits : link.desktop.pauses;
        int stops = 0;
        const auto stop_at_the_third_pass = [&] {
            if (passes.size() == 3) {
                ++stops;
                EXPECT_EQ(link.Call("StopFind"), 0);
            }
        };
        (wait == ForTheTurn ? link.desktop.on_turn_wait : link.desktop.on_pause) =
            stop_at_the_third_pass;
        EXPECT_EQ(link.Call("FindPosition", {Variant::Int32(1), Variant::Int32(2), Str("3")}), 0);
        EXPECT_EQ(stops, 1);
        EXPECT_EQ(passes.size(), 3u) << "the wait ends at the next pass";
        EXPECT_EQ(link.desktop.messages.size(), wait == ForTheAnswer ? 1u : 0u);
        EXPECT_EQ(link.vk.PriceID, -1);
        EXPECT_EQ(link.vk.TradeName, "old");
        EXPECT_EQ(link.vk.Searching.load(), 0);
        // A stopped request is as outstanding as one that timed out.
        if (wait != ForTheTurn) {
            EXPECT_EQ(ReadOutstanding(link.desktop.RecordView()).wait, Outstanding::Wait::Answer);
        }
        link.desktop.ExpectReleased();
    }
}

TEST(RequestCycle, StopFindFromAnotherThread) {
    Link link;
    link.vk.Timeout = 0x7FFFFFFF;
    link.desktop.real_sleep = true;
    std::thread stopper([&] {
        while (link.vk.Searching.load() == 0) std::this_thread::yield();
        std::string name;
        link.vk.MethodHandler(5, ActExecute, name);  // StopFind
    });
    EXPECT_EQ(link.Call("CountPositionInZakaz"), 0);
    stopper.join();
    EXPECT_EQ(link.vk.PriceID, -1);
    EXPECT_EQ(link.vk.Searching.load(), 0);
}

TEST(RequestCycle, StopFindWithoutAWaitOnlyAnswersZero) {
    Link link;
    link.vk.PriceID = 9;
    EXPECT_EQ(link.Call("StopFind"), 0);
    EXPECT_EQ(link.vk.PriceID, 9);
    EXPECT_EQ(link.desktop.opened, 0);
    EXPECT_TRUE(link.desktop.messages.empty());
}

TEST(RequestCycle, RequestThatDoesNotFitIsNotWritten) {
    // "-1" TAB "123456" and its zero byte need 10 bytes.
    for (size_t size : {size_t{9}, size_t{10}}) {
        Link link;
        link.desktop.block.assign(size, 'z');
        link.desktop.SetText("0\t123456");
        const std::vector<char> before = link.desktop.block;
        link.desktop.answer = "4";
        const int32_t result = link.Call("ZakazInArhive");
        if (size == 9) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(link.desktop.block, before);
            EXPECT_TRUE(link.desktop.messages.empty());
            const std::string error = link.LastError();
            EXPECT_NE(error.find(" 10 "), std::string::npos) << error;
            EXPECT_NE(error.find(" 9 "), std::string::npos) << error;
        } else {
            EXPECT_EQ(result, 4);
            ASSERT_EQ(link.desktop.messages.size(), 1u);
            EXPECT_EQ(link.desktop.messages[0].text, "-1\t123456");
            EXPECT_TRUE(link.errors.records.empty());
        }
        EXPECT_EQ(link.vk.PriceID, -1);
        link.desktop.ExpectReleased();
    }
}

TEST(RequestCycle, TextWithoutZeroByteEndsAtTheBlockEnd) {
    Link link;
    link.desktop.block.assign(64, 'z');
    std::copy_n("0\t123456\t", 9, link.desktop.block.begin());  // no zero byte anywhere
    const std::string answer = "5\t\tname\tprod\tdist\tintl\t1\t\t2\t";
    link.desktop.answer = answer + std::string(64 - answer.size(), 'c');
    link.vk.Timeout = 1000;
    EXPECT_EQ(link.Call("FindPosition", {Variant::Int32(1), Variant::Int32(2), Str("3")}), 5);
    EXPECT_EQ(link.vk.TradeName, "name");
    EXPECT_EQ(link.vk.DistribCode, std::string(64 - answer.size(), 'c'));
    link.desktop.ExpectReleased();
}

TEST(RequestCycle, BlockCreatedByTheComponentAloneIsEmpty) {
    Link link;
    link.desktop.block.assign(4096, '\0');
    EXPECT_EQ(link.Call("PreparePrice"), 0);
    EXPECT_EQ(link.vk.PriceID, -1);
    EXPECT_TRUE(link.desktop.messages.empty());
    link.desktop.ExpectReleased();
}

}  // namespace
}  // namespace kv::test
