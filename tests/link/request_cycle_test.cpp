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

TEST(RequestCycle, StopFindDuringTheWait) {
    Link link;
    link.vk.Timeout = 100000;
    link.vk.TradeName = "old";
    link.desktop.answer = "12\t\tnew";
    link.desktop.answer_after = 1000;
    int stops = 0;
    link.desktop.on_pause = [&] {
        if (link.desktop.pauses.size() == 3) {
            ++stops;
            EXPECT_EQ(link.Call("StopFind"), 0);
        }
    };
    EXPECT_EQ(link.Call("FindPosition", {Variant::Int32(1), Variant::Int32(2), Str("3")}), 0);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(link.desktop.pauses.size(), 3u) << "the wait ends at the next pass";
    EXPECT_EQ(link.vk.PriceID, -1);
    EXPECT_EQ(link.vk.TradeName, "old");
    EXPECT_EQ(link.vk.Searching.load(), 0);
    link.desktop.ExpectReleased();
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
