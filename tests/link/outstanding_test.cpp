// Requests that gave up, and the answers that come for them later: the record's rules, the wait
// of the next request, and what each request leaves behind, all in simulated time against a
// desktop application that answers every message when its time comes and drops none.
#include "link/outstanding.h"

#include <gtest/gtest.h>

#include <random>

#include "common/fields.h"
#include "link/fake_desktop.h"

namespace kv::test {
namespace {

using Wait = Outstanding::Wait;
constexpr int32_t kWindow = 123456;

TEST(OutstandingRecord, SettlesByTheBlockTheWindowAndTheClock) {
    struct Case {
        const char* what;
        Wait wait;
        const char* block;
        bool window_exists;
        uint32_t age;  // ticks since the record's `since`
        Wait after;
        Settling settling;
        bool asks_for_the_window;
    };
    const Case cases[] = {
        {"its request is still there", Wait::Answer, "-1\t123456\tA", true, 100, Wait::Answer,
         Settling::Waiting, true},
        {"a packet request covers field 2", Wait::Answer, "-1\tP1\t", true, 100, Wait::Answer,
         Settling::Waiting, true},
        {"answered, the window in it", Wait::Answer, "7\t123456\t", true, 100, Wait::None,
         Settling::WindowBack, false},
        {"answered over the window", Wait::Answer, "1\t4\t", true, 100, Wait::Window,
         Settling::Answered, true},
        {"answered without a tab", Wait::Answer, "5", true, 100, Wait::Window, Settling::Answered,
         true},
        {"the window back", Wait::Window, "1\t123456\t", true, 100, Wait::None,
         Settling::WindowBack, false},
        {"the window not back", Wait::Window, "1\t4\t", true, 100, Wait::Window, Settling::Waiting,
         true},
        {"a pending text does not bring the window back", Wait::Window, "-1\t123456\t", true, 100,
         Wait::None, Settling::WindowBack, false},
        {"at the lifetime", Wait::Answer, "-1\t123456\t", true, 30000, Wait::Answer,
         Settling::Waiting, true},
        {"past the lifetime", Wait::Answer, "-1\t123456\t", true, 30001, Wait::None,
         Settling::Expired, false},
        {"the window not back for too long", Wait::Window, "1\t4\t", true, 30001, Wait::None,
         Settling::Expired, false},
        {"its window is gone", Wait::Answer, "-1\t123456\t", false, 100, Wait::None,
         Settling::WindowGone, true},
        {"a block made anew", Wait::Answer, "", false, 100, Wait::None, Settling::WindowGone, true},
        {"answered, then the window gone", Wait::Window, "1\t4\t", false, 100, Wait::None,
         Settling::WindowGone, true},
    };
    for (const Case& c : cases) {
        for (const uint32_t since : {1000u, 0xFFFFFFF0u}) {  // the age counts across the wrap
            FakeDesktop desktop;
            desktop.window_gone = !c.window_exists;
            Outstanding record{c.wait, 1038, kWindow, 77, since};
            EXPECT_EQ(Advance(record, c.block, since + c.age, desktop), c.settling) << c.what;
            EXPECT_EQ(record.wait, c.after) << c.what;
            EXPECT_EQ(desktop.window_checks > 0, c.asks_for_the_window) << c.what;
            if (c.after == Wait::Window && c.wait == Wait::Answer) {
                EXPECT_EQ(record.since, since + c.age) << c.what
                                                       << ": the window's time counts "
                                                          "from the answer";
            }
        }
    }
}

TEST(OutstandingRecord, ReadsOnlyItsOwnLayout) {
    std::vector<char> bytes(24, '\0');
    const DesktopChannel::View view{bytes.data(), bytes.size()};
    EXPECT_EQ(ReadOutstanding(view).wait, Wait::None) << "a record made anew";
    const Outstanding written{Wait::Window, 1039, -7, 4242, 0xFFFFFFFEu};
    WriteOutstanding(view, written);
    const Outstanding read = ReadOutstanding(view);
    EXPECT_EQ(read.wait, written.wait);
    EXPECT_EQ(read.message, written.message);
    EXPECT_EQ(read.window, written.window);
    EXPECT_EQ(read.process, written.process);
    EXPECT_EQ(read.since, written.since);
    for (const size_t broken : {size_t{0}, size_t{4}}) {  // the tag, an unknown state
        std::vector<char> copy = bytes;
        copy[broken] = 9;
        EXPECT_EQ(ReadOutstanding({copy.data(), copy.size()}).wait, Wait::None) << broken;
    }
    EXPECT_EQ(ReadOutstanding({bytes.data(), 23}).wait, Wait::None) << "too small to be one";
}

// A process keeps what it holds of the record while a request of its own is outstanding in it.
TEST(OutstandingRecord, KeptWhileARequestOfThisProcessIsOutstanding) {
    struct Case {
        const char* what;
        Wait wait;
        uint32_t process;
        uint32_t age;
        bool held = true;
        bool keeps;
    };
    const Case cases[] = {
        {"nothing outstanding", Wait::None, 4242, 0, true, false},
        {"its answer outstanding", Wait::Answer, 4242, 100, true, true},
        {"its window outstanding", Wait::Window, 4242, 100, true, true},
        {"another process's request", Wait::Answer, 77, 100, true, false},
        {"expired", Wait::Answer, 4242, 30001, true, false},
        {"no record held", Wait::Answer, 4242, 100, false, false},
    };
    for (const Case& c : cases) {
        FakeDesktop desktop;
        WriteOutstanding(desktop.RecordView(),
                         {c.wait, 1038, kWindow, c.process, desktop.tick - c.age});
        desktop.record_open_fails = !c.held;
        EXPECT_EQ(KeepsOutstanding(desktop, 4242), c.keeps) << c.what;
    }
}

// A component whose desktop application answers each FindPosition with its own goods: status
// the number in the trade name "good<n>", and that trade name.
struct Shop : Link {
    Shop() {
        vk.Timeout = 1000;
        desktop.answer_to = [this](const std::string& request) {
            const std::string name = GetDelimitedField(3, request, '\t');
            return std::optional<FakeDesktop::Reply>(
                {name.substr(4) + "\t123456\t" + name + "\t\t\t\t1\t\t1\t", delay});
        };
    }
    // FindPosition of good<n>; its result.
    int32_t Find(int n) {
        vk.TradeName = "good" + std::to_string(n);
        return Call("FindPosition", {Variant::Int32(1), Variant::Int32(2), Str("1")});
    }
    uint32_t delay = 0;  // of the answers
};

// Another copy's request was left outstanding: its answer comes `late_after` ticks after this
// request starts, or never. This request waits for it within its own Timeout, discards it, and
// only then writes; a window that has to come back after that answer is waited for too.
TEST(LateAnswers, EarlierRequestSettlesBeforeAnythingIsWritten) {
    struct Case {
        const char* what;
        int32_t timeout;
        Wait left;                            // what the earlier request left
        std::optional<uint32_t> late_after;   // its answer ("3" TAB 4: over the window)
        std::optional<uint32_t> window_back;  // then the window comes back (none: never)
        uint32_t age = 0;                     // of the record when the request starts
        int32_t record_window = kWindow;
        bool abandoned = false;  // its copy died in its turn
        int32_t result;
        Wait remains;
    };
    const Case cases[] = {
        {"its answer comes in time", 1000, Wait::Answer, 300, 0, 0, kWindow, false, 12, Wait::None},
        {"its answer is already there", 0, Wait::Answer, 0, 0, 0, kWindow, false, 12, Wait::None},
        {"already there, negative Timeout", -1, Wait::Answer, 0, 0, 0, kWindow, false, -3,
         Wait::None},
        {"its copy died in its turn", 1000, Wait::Answer, 300, 0, 0, kWindow, true, 12, Wait::None},
        {"its answer comes too late", 500, Wait::Answer, 800, 0, 0, kWindow, false, -3,
         Wait::Answer},
        {"its answer never comes",
         500,
         Wait::Answer,
         std::nullopt,
         {},
         0,
         kWindow,
         false,
         -3,
         Wait::Answer},
        {"it has expired",
         500,
         Wait::Answer,
         std::nullopt,
         {},
         30001,
         kWindow,
         false,
         12,
         Wait::None},
        {"it expires during the wait",
         1000,
         Wait::Answer,
         std::nullopt,
         {},
         29700,
         kWindow,
         false,
         12,
         Wait::None},
        {"its window is gone", 500, Wait::Answer, std::nullopt, {}, 0, 555, false, 12, Wait::None},
        {"answered over the window, back in time", 1000, Wait::Answer, 100, 400, 0, kWindow, false,
         12, Wait::None},
        {"answered over the window, never back",
         1000,
         Wait::Answer,
         100,
         {},
         0,
         kWindow,
         false,
         -3,
         Wait::Window},
        {"the window back in time", 1000, Wait::Window, std::nullopt, 200, 0, kWindow, false, 12,
         Wait::None},
        {"the window not back in time", 300, Wait::Window, std::nullopt, 600, 0, kWindow, false, -3,
         Wait::Window},
    };
    for (const Case& c : cases) {
        Shop shop;
        FakeDesktop& desktop = shop.desktop;
        shop.vk.Timeout = c.timeout;
        const uint32_t start = desktop.tick;
        const bool covers = c.window_back != std::optional<uint32_t>(0);
        const char* const late_answer = covers ? "3\t4\t" : "3\t123456\t";
        desktop.SetText(c.left == Wait::Window ? "1\t4\t"
                        : c.late_after == 0u   ? late_answer
                                               : "-1\t123456\tearlier");
        WriteOutstanding(desktop.RecordView(), {c.left, 1038, c.record_window, 77, start - c.age});
        if (c.abandoned) {
            desktop.other_holds_until = start;
            desktop.other_dies = true;
        }
        bool answered = c.late_after == 0u, back = !covers;
        desktop.on_pause = [&] {
            const uint32_t now = desktop.tick - start;
            if (!answered && c.late_after && now >= *c.late_after) {
                desktop.SetText(late_answer);
                answered = true;
            }
            if (!back && c.window_back && now >= *c.window_back) {
                desktop.SetText("3\t123456\t");
                back = true;
            }
        };
        const int32_t result = shop.Find(12);
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(shop.vk.PriceID, c.result) << c.what;
        const bool sent = c.result == 12 || (c.timeout < 0 && c.late_after == 0u);
        ASSERT_EQ(desktop.messages.size(), sent ? 1u : 0u) << c.what;
        if (sent) {
            EXPECT_EQ(desktop.messages[0].text.rfind("-1\t123456\tgood12\t", 0), 0u) << c.what;
        } else {
            EXPECT_EQ(shop.vk.TradeName, "good12") << c.what << ": no answer read";
        }
        EXPECT_EQ(ReadOutstanding(desktop.RecordView()).wait, c.remains) << c.what;
        EXPECT_EQ(shop.vk.Searching.load(), 0) << c.what;
        desktop.ExpectReleased();
    }
}

// The trace names the earlier request and tells how its wait ended, and why this one was not
// sent when it did not end in time.
TEST(LateAnswers, TraceTellsWhatTheEarlierRequestLeft) {
    struct Case {
        Wait left;
        std::optional<uint32_t> settles_after;  // none: never
        const char* earlier;
        const char* outcome;
    };
    const Case cases[] = {
        {Wait::Answer, 102,
         "earlier=FindPosition of process 77: its answer came after 110 ms and was discarded\t",
         "answered"},
        {Wait::Answer, std::nullopt,
         "earlier=FindPosition of process 77: still waiting for its answer after 308 ms\t",
         "earlier request outstanding"},
        {Wait::Window, 202, "earlier=FindPosition of process 77: the window back after 209 ms\t",
         "answered"},
    };
    for (const Case& c : cases) {
        Link link(Tracing::On);
        link.vk.Timeout = 300;
        link.desktop.answer = "7\t123456\t";
        const uint32_t start = link.desktop.tick;
        link.desktop.SetText(c.left == Wait::Answer ? "-1\t123456\t" : "1\t4\t");
        WriteOutstanding(link.desktop.RecordView(), {c.left, 1038, kWindow, 77, start});
        link.desktop.on_pause = [&] {
            if (c.settles_after && link.desktop.tick - start >= *c.settles_after &&
                link.desktop.messages.empty()) {
                link.desktop.SetText("3\t123456\t");
            }
        };
        link.Call("CountPositionInZakaz");
        ASSERT_EQ(link.traces.lines.size(), 1u);
        const std::string& line = link.traces.lines[0];
        EXPECT_NE(line.find(c.earlier), std::string::npos) << line;
        EXPECT_TRUE(line.ends_with(std::string("\toutcome=") + c.outcome)) << line;
    }
}

// What a request leaves for the next one: nothing once its answer has been read with the
// window in it, itself when it gave up, its window when the answer covered field 2. A request
// that waits for no answer leaves nothing: no answer to it will come.
TEST(LateAnswers, WhatEachRequestLeavesBehind) {
    struct Case {
        const char* method;
        std::vector<Variant> params;
        std::optional<std::string> answer;
        uint32_t answer_after;
        int32_t timeout;
        Wait left;
    };
    const std::vector<Variant> find = {Variant::Int32(1), Variant::Int32(2), Str("3")};
    const Case cases[] = {
        {"UseAutozakaz", {Variant::Int32(1)}, std::nullopt, 0, 1000, Wait::None},
        {"FindPosition", find, "7\t123456\t", 0, 1000, Wait::None},
        {"FindPosition", find, "7\t123456\t", 300, 1000, Wait::None},
        {"FindPosition", find, std::nullopt, 0, 1000, Wait::Answer},
        {"FindPosition", find, "7\t123456\t", 5000, 1000, Wait::Answer},
        // It arrives in the pause after which the time is up: -3, but nothing is outstanding.
        {"FindPosition", find, "7\t123456\t", 90, 100, Wait::None},
        {"FindPacket", {}, "1\t4\t", 0, 1000, Wait::Window},
        {"FindPacket", {}, "0\t123456\t", 0, 1000, Wait::None},
        {"FindAutoZakazFromFile", {Str("")}, "1", 0, 1000, Wait::Window},
        {"FindAutoZakazFromFile", {Str("")}, "1\t123456\t", 0, 1000, Wait::None},
        {"ClearCurrentZakaz", {}, std::nullopt, 0, -1, Wait::Answer},
    };
    for (const Case& c : cases) {
        Link link;
        link.vk.Timeout = c.timeout;
        link.desktop.answer = c.answer;
        link.desktop.answer_after = c.answer_after;
        link.Call(c.method, c.params);
        ASSERT_EQ(link.desktop.messages.size(), 1u) << c.method;
        const Outstanding left = ReadOutstanding(link.desktop.RecordView());
        EXPECT_EQ(left.wait, c.left) << c.method << " answered after " << c.answer_after;
        if (left.wait != Wait::None) {
            EXPECT_EQ(left.message, link.desktop.messages[0].message);
            EXPECT_EQ(left.window, kWindow);
            EXPECT_EQ(left.process, 4242u);
            EXPECT_EQ(left.since, link.desktop.tick) << "counted from when it gave up";
        }
        link.desktop.ExpectReleased();
    }
}

// The case that was found: one copy, a FindPosition that gives up before its answer, then one
// for other goods with time enough. The second returns its own answer, not the first one's,
// whether it comes through the same component object or another.
TEST(LateAnswers, TheNextRequestDoesNotTakeTheAnswerOfTheOneBefore) {
    for (const bool another_object : {false, true}) {
        Shop shop;
        shop.delay = 300;
        shop.vk.Timeout = 100;
        EXPECT_EQ(shop.Find(5), -3);
        Protocol second{shop.platform, &shop.errors, AddinMethods()};
        T_vk_object& vk = another_object ? second.object() : shop.vk;
        vk.Timeout = 3000;
        vk.TradeName = "good6";
        int32_t number = -1;
        ASSERT_EQ(second.FindMethod(u"FindPosition", number), kS_OK);
        const VectorParams params({Variant::Int32(1), Variant::Int32(2), Str("1")});
        Variant result;
        ASSERT_EQ((another_object ? second : shop.protocol).CallAsFunc(number, result, &params),
                  kS_OK);
        EXPECT_EQ(result.int_value(), 6);
        EXPECT_EQ(vk.TradeName, "good6");
        ASSERT_EQ(shop.desktop.messages.size(), 2u);
        EXPECT_GE(shop.desktop.messages[1].tick - shop.desktop.messages[0].tick, 300u)
            << "written only once the first answer had come";
    }
}

// Answers after random delays of 0 to twice Timeout, 500 requests each naming its own goods:
// each returns its own answer or -3, never another's.
TEST(LateAnswers, RandomDelaysCrossNoAnswers) {
    Shop shop;
    shop.vk.Timeout = 100;
    std::mt19937 random(21);
    int own = 0, timed_out = 0;
    for (int n = 1; n <= 500; ++n) {
        shop.delay = static_cast<uint32_t>(random() % 201);
        const int32_t result = shop.Find(n);
        if (result == -3) {
            ++timed_out;
            EXPECT_EQ(shop.vk.TradeName, "good" + std::to_string(n));
            continue;
        }
        EXPECT_EQ(result, n) << "request " << n << " took the answer of " << result;
        EXPECT_EQ(shop.vk.TradeName, "good" + std::to_string(n));
        ++own;
    }
    // Most give up: the wait for the one before comes out of each one's own Timeout.
    EXPECT_GT(own, 20);
    EXPECT_GT(timed_out, 100);
    shop.desktop.ExpectReleased();
}

}  // namespace
}  // namespace kv::test
