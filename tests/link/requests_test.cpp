// The eleven requests through the host protocol: their texts byte for byte, their results and
// PriceID per outcome, and the reading of their answers.
#include "link/requests.h"

#include <gtest/gtest.h>

#include <random>

#include "common/datetime.h"
#include "common/fields.h"
#include "link/fake_desktop.h"
#include "support/dates.h"

namespace kv::test {
namespace {

std::string Joined(std::initializer_list<const char*> fields) {
    std::string text;
    bool first = true;
    for (const char* f : fields) {
        if (!first) text += '\t';
        text += Cp1251FromUtf8(f);
        first = false;
    }
    return text;
}

TEST(Requests, TextsMessagesAndParameters) {
    struct Case {
        const char* method;
        std::vector<Variant> params;
        std::string text;
        uint32_t message;
        int32_t wparam, lparam;
    };
    const std::string position =
        Joined({"-1", " 123456 ", "Аспирин", "B", "C", "D", "12,5", "31.12.2025", "3"});
    const Case cases[] = {
        {"UseAutozakaz", {Variant::Int32(4)}, position, 1025, 4, 0},
        {"PreparePrice", {}, position, 1031, 0, 0},
        {"ClearCurrentZakaz", {}, position + "\tP1", 1032, 0, 0},
        {"ClearAutoZakaz", {}, position + "\tP1", 1033, 0, 0},
        {"CountPositionInZakaz", {}, position + "\tP1", 1034, 0, 0},
        {"ZakazInArhive", {}, "-1\t 123456 ", 1035, 0, 0},
        {"SelectPositionFromZakaz", {Str("7")}, "-1\t 123456 \t", 1036, 7, 0},
        {"GetPosition", {}, "-1\t 123456 \tP1", 1037, 0, 0},
        {"FindPosition",
         {Variant::Int32(5), Variant::Double(-9), Str("2")},
         Joined({"-1", " 123456 ", "Аспирин", "B", "", "", "0", "", "2"}),
         1038,
         5,
         -9},
        {"FindPacket", {}, "-1\tP1\tx\ty\t\t", 1039, 2, 0},
        {"FindAutoZakazFromFile", {Str("")}, "-1\tc:\\Kelvarin\\Autozakaz.txt\t", 1040, 2, 0},
    };
    for (const Case& c : cases) {
        Link link;
        link.desktop.SetText("0\t 123456 \t");  // the handle field goes back untrimmed
        link.desktop.answer = "0";
        T_vk_object& vk = link.vk;
        vk.TradeName = Cp1251FromUtf8("Аспирин");
        vk.Producer = "B";
        vk.DistribName = "C";
        vk.IntlName = "D";
        vk.PointName = "P1";
        vk.Pprice = 12.5;
        vk.UseByDate = Day(2025, 12, 31);
        vk.Amount = 3;
        vk.PacketText = "x\ty\t";
        vk.PacketCount = 2;
        link.Call(c.method, c.params);
        ASSERT_EQ(link.desktop.messages.size(), 1u) << c.method;
        const FakeDesktop::Message& m = link.desktop.messages[0];
        EXPECT_EQ(m.text, c.text) << c.method;
        EXPECT_EQ(m.window, 123456);
        EXPECT_EQ(m.message, c.message) << c.method;
        EXPECT_EQ(m.wparam, c.wparam) << c.method;
        EXPECT_EQ(m.lparam, c.lparam) << c.method;
        // The zero byte ends the request; the bytes behind it stay as they were.
        const auto& block = link.desktop.block;
        EXPECT_TRUE(std::all_of(block.begin() + static_cast<std::ptrdiff_t>(c.text.size()) + 1,
                                block.end(), [](char b) { return b == '#'; }))
            << c.method;
        link.desktop.ExpectReleased();
    }
}

TEST(Requests, OrderRequestsSendTheCurrentPosition) {
    const std::string nine = Joined({"-1", "123456", "A", "", "", "", "12,5", "30.12.1899", "3"});
    const std::pair<const char*, std::string> cases[] = {
        {"PreparePrice", nine},
        {"ClearCurrentZakaz", nine + "\tP1"},
        {"ClearAutoZakaz", nine + "\tP1"},
    };
    for (const auto& [method, text] : cases) {
        Link link;
        link.desktop.answer = "0";
        link.vk.TradeName = "A";
        link.vk.Pprice = 12.5;
        link.vk.Amount = 3;
        link.vk.PointName = "P1";
        link.Call(method);
        ASSERT_EQ(link.desktop.messages.size(), 1u);
        EXPECT_EQ(link.desktop.messages[0].text, text) << method;
    }
}

TEST(Requests, RegionalSettingsShapePriceAndDate) {
    struct Case {
        char decimal;
        const char* date_format;
        double price;
        const char* price_text;
        const char* date_text;
    };
    const Case cases[] = {
        {',', "dd.MM.yyyy", 0, "0", "01.02.2026"},
        {'.', "M/d/yyyy", 12.5, "12.5", "2/1/2026"},
        {',', "dd.MM.yyyy", 0.00005, "5E-5", "01.02.2026"},
        {',', "dd.MM.yyyy", -1.5e15, "-1,5E15", "01.02.2026"},
    };
    for (const Case& c : cases) {
        Link link;
        link.regional.settings.decimal_separator = c.decimal;
        link.regional.settings.short_date_format = c.date_format;
        link.regional.settings.date_separator = "/";
        link.vk.Pprice = c.price;
        link.vk.UseByDate = Day(2026, 2, 1) + 0.75;  // the time is not sent
        link.Call("UseAutozakaz");
        ASSERT_EQ(link.desktop.messages.size(), 1u);
        const std::string& text = link.desktop.messages[0].text;
        EXPECT_EQ(GetDelimitedField(7, text, '\t'), c.price_text);
        EXPECT_EQ(GetDelimitedField(8, text, '\t'), c.date_text);
        EXPECT_EQ(GetDelimitedField(9, text, '\t'), "0");
    }
}

// Results and PriceID per outcome, row for row.
enum Outcome { OpenFails, MapFails, TimedOut, Absent, Answered, Stopped, kOutcomes };

struct Expected {
    int32_t result;
    int32_t price_id;
};

void Script(Link& link, Outcome outcome) {
    switch (outcome) {
        case OpenFails:
            link.desktop.open_fails = true;
            break;
        case MapFails:
            link.desktop.map_fails = true;
            break;
        case TimedOut:
            link.vk.Timeout = 200;
            break;
        case Absent:
            link.desktop.SetText("0\t\t");
            break;
        case Answered:
            link.desktop.answer = "7\t3\t";
            break;
        case Stopped:
            link.vk.Timeout = 100000;
            link.desktop.on_pause = [&link] { link.Call("StopFind"); };
            break;
        case kOutcomes:
            break;
    }
}

TEST(Requests, ResultAndPriceIdPerOutcome) {
    struct Row {
        const char* method;
        std::vector<Variant> params;
        Expected outcomes[kOutcomes];  // in the order of Outcome
    };
    const Row rows[] = {
        // Open fails, map fails, timeout, absent, complete answer "7\t3\t", stopped
        {"FindPacket", {}, {{-1, -1}, {-2, -2}, {-3, -3}, {0, -1}, {1, -1}, {0, -1}}},
        {"FindAutoZakazFromFile",
         {Str("")},
         {{-1, -1}, {-2, -2}, {-3, -3}, {0, -1}, {1, -1}, {0, -1}}},
        // does not wait: once sent, the result is 1 whatever the desktop application does
        {"UseAutozakaz",
         {Variant::Int32(1)},
         {{0, -1}, {0, -2}, {1, -1}, {0, -1}, {1, -1}, {1, -1}}},
        {"FindPosition",
         {Variant::Int32(1), Variant::Int32(2), Str("3")},
         {{-1, -1}, {-2, -2}, {-3, -3}, {0, -1}, {7, 7}, {0, -1}}},
        {"GetPosition", {}, {{-1, -1}, {-2, -1}, {-3, -1}, {0, -1}, {7, -1}, {0, -1}}},
        {"PreparePrice", {}, {{0, -1}, {0, -2}, {-3, -3}, {0, -1}, {7, -1}, {0, -1}}},
        {"ClearCurrentZakaz", {}, {{-1, -1}, {-2, -2}, {-3, -3}, {0, -1}, {7, -1}, {0, -1}}},
        {"ClearAutoZakaz", {}, {{-1, -1}, {-2, -2}, {-3, -3}, {0, -1}, {7, -1}, {0, -1}}},
        {"CountPositionInZakaz", {}, {{-1, -1}, {-2, -2}, {-3, -3}, {0, -1}, {7, -1}, {0, -1}}},
        {"ZakazInArhive", {}, {{0, -1}, {0, -2}, {-3, -1}, {0, -1}, {7, -1}, {0, -1}}},
        {"SelectPositionFromZakaz",
         {Variant::Int32(1)},
         {{-1, -1}, {-2, -1}, {-3, -1}, {0, -1}, {7, -1}, {0, -1}}},
    };
    for (const Row& row : rows) {
        for (int o = 0; o < kOutcomes; ++o) {
            Link link;
            Script(link, static_cast<Outcome>(o));
            link.vk.PriceID = 99;
            EXPECT_EQ(link.Call(row.method, row.params), row.outcomes[o].result)
                << row.method << " outcome " << o;
            EXPECT_EQ(link.vk.PriceID, row.outcomes[o].price_id) << row.method << " outcome " << o;
            const bool sends = o == TimedOut || o == Answered || o == Stopped;
            EXPECT_EQ(link.desktop.messages.size(), sends ? 1u : 0u) << row.method << " " << o;
            EXPECT_EQ(link.vk.Searching.load(), 0);
            EXPECT_EQ(link.vk.MapHandle, 0u);
            EXPECT_TRUE(link.errors.records.empty()) << link.LastError();
            link.desktop.ExpectReleased();
        }
    }
}

// Each request is one line of the trace: what was sent, what came back, how long it took, the
// result and what ended it. A trace that cannot be written changes no result.
TEST(Requests, TraceTellsEachRequestAndChangesNothing) {
    struct Row {
        const char* method;
        std::vector<Variant> params;
        bool waits;
    };
    const char* const ends[kOutcomes] = {"block not opened",  "block not mapped",
                                         "no answer in time", "no window",
                                         "answered",          "stopped"};
    const Row rows[] = {{"FindPosition", {Variant::Int32(1), Variant::Int32(2), Str("3")}, true},
                        {"UseAutozakaz", {Variant::Int32(1)}, false}};
    for (const Row& row : rows) {
        for (int o = 0; o < kOutcomes; ++o) {
            const auto outcome = static_cast<Outcome>(o);
            Link plain;
            Script(plain, outcome);
            const int32_t expected = plain.Call(row.method, row.params);
            for (const Tracing tracing : {Tracing::On, Tracing::Failing}) {
                Link link(tracing);
                Script(link, outcome);
                EXPECT_EQ(link.Call(row.method, row.params), expected) << row.method << " " << o;
                EXPECT_EQ(link.vk.PriceID, plain.vk.PriceID) << row.method << " " << o;
                if (tracing == Tracing::Failing) continue;
                ASSERT_EQ(link.traces.lines.size(), 1u) << row.method << " " << o;
                const std::string& line = link.traces.lines[0];
                const bool sent = outcome == TimedOut || outcome == Answered || outcome == Stopped;
                const std::string end =
                    sent && !row.waits ? "sent" : ends[o];  // one that does not wait is done
                EXPECT_NE(line.find(std::string("\trequest\tmethod=") + row.method + "\tmessage="),
                          std::string::npos)
                    << line;
                EXPECT_TRUE(
                    line.ends_with("\tresult=" + std::to_string(expected) + "\toutcome=" + end))
                    << line;
                EXPECT_EQ(line.find("\ttext=") != std::string::npos, sent) << line;
                EXPECT_EQ(line.find("\tanswer=") != std::string::npos,
                          outcome == Answered && row.waits)
                    << line;
            }
        }
    }
    // The whole line of an answered request, and how long a request without an answer waited.
    Link answered(Tracing::On);
    answered.desktop.answer = "7\t3\t";
    answered.Call("FindPosition", {Variant::Int32(1), Variant::Int32(2), Str("3")});
    ASSERT_EQ(answered.traces.lines.size(), 1u);
    EXPECT_TRUE(answered.traces.lines[0].ends_with(
        "\trequest\tmethod=FindPosition\tmessage=1038\twParam=1\tlParam=2"
        "\ttext=-1\\t123456\\t\\t\\t\\t\\t0\\t\\t3\tanswer=7\\t3\\t\tstatus=7\tms=0"
        "\tresult=7\toutcome=answered"))
        << answered.traces.lines[0];
    Link late(Tracing::On);
    Script(late, TimedOut);
    late.Call("CountPositionInZakaz");
    ASSERT_EQ(late.traces.lines.size(), 1u);
    const std::string& line = late.traces.lines[0];
    const size_t ms = line.find("\tms=");
    ASSERT_NE(ms, std::string::npos);
    EXPECT_GT(std::stoi(line.substr(ms + 4)), 200) << line;
}

// A request that raises an error has no result: its line says so, and the error follows.
TEST(Requests, TraceOfARequestThatFails) {
    Link link(Tracing::On);
    link.vk.TradeName = std::string(5000, 'A');
    link.desktop.answer = "0";
    EXPECT_EQ(link.Call("FindPosition", {Variant::Int32(0), Variant::Int32(0), Str("1")}), 0);
    ASSERT_EQ(link.traces.lines.size(), 2u);
    EXPECT_TRUE(link.traces.lines[0].ends_with("\tms=0\toutcome=error")) << link.traces.lines[0];
    EXPECT_NE(link.traces.lines[1].find("\terror\ttext=" + link.LastError()), std::string::npos)
        << link.traces.lines[1];
}

TEST(Requests, FindPositionReadsTheOfferFound) {
    struct Case {
        std::string answer;
        const char* trade_name;
        const char* producer;
        const char* distrib_name;
        const char* intl_name;
        const char* point_name;
        const char* distrib_code;
        double price;
        double use_by;  // days past the clock's now when below 1000
        int32_t amount;
    };
    const Case cases[] = {
        {Joined({"12", "x", " Аспирин ", "Prod\r", "Dist", "Intl", " 1,5 ", " 31.12.2026 ", " 4 ",
                 " K7 "}),
         "Аспирин", "Prod", "Dist", "Intl", "P1", "K7", 1.5, Day(2026, 12, 31), 4},
        {"3\t\tA\tB\tC\tD\t-2,5E3\t1.2.26\t-2\tK", "A", "B", "C", "D", "P1", "K", -2500,
         Day(2026, 2, 1), -2},
        {"12\t\tN\tP\tD\tI\tabc\t\tx\tc", "N", "P", "D", "I", "P1", "c", 0, 180, 1},
        {"12\t\tN\tP\tD\tI\t12.5\t31.12.2026 10:00\t1.5\tc", "N", "P", "D", "I", "P1", "c", 0, 180,
         1},
        {"12\t\tN\tP\tD\tI\t1E999\t32.12.2026\t\tc", "N", "P", "D", "I", "P1", "c", 0, 180, 1},
        {"12\t\tOnly", "Only", "", "", "", "P1", "", 0, 180, 1},
        // nothing found: texts and the point cleared, Pprice and DistribCode kept
        {"0\t\tN\tP\tD\tI\t5\t01.01.2030\t5\tc", "", "", "", "", "", "oldcode", 9.5, 0, 0},
    };
    for (const Case& c : cases) {
        Link link;
        T_vk_object& vk = link.vk;
        vk.TradeName = vk.Producer = vk.DistribName = vk.IntlName = "old";
        vk.PointName = "P1";
        vk.DistribCode = "oldcode";
        vk.Pprice = 9.5;
        link.desktop.answer = c.answer;
        const int32_t status = std::stoi(c.answer);
        EXPECT_EQ(link.Call("FindPosition", {Variant::Int32(0), Variant::Int32(0), Str("1")}),
                  status);
        EXPECT_EQ(vk.PriceID, status);
        EXPECT_EQ(vk.TradeName, Cp1251FromUtf8(c.trade_name)) << c.answer;
        EXPECT_EQ(vk.Producer, c.producer) << c.answer;
        EXPECT_EQ(vk.DistribName, c.distrib_name) << c.answer;
        EXPECT_EQ(vk.IntlName, c.intl_name) << c.answer;
        EXPECT_EQ(vk.PointName, c.point_name) << c.answer;
        EXPECT_EQ(vk.DistribCode, c.distrib_code) << c.answer;
        EXPECT_EQ(vk.Pprice, c.price) << c.answer;
        const double now = ToOleDate(link.clock.now);
        EXPECT_DOUBLE_EQ(vk.UseByDate, c.use_by < 1000 ? now + c.use_by : c.use_by) << c.answer;
        EXPECT_EQ(vk.Amount, c.amount) << c.answer;
    }
}

TEST(Requests, FindPositionQuantity) {
    const std::pair<Variant, const char*> cases[] = {
        {Str("7"), "7"},   {Str("abc"), "1"},        {Str(""), "1"},   {Str(" 7"), "7"},
        {Str("7.5"), "1"}, {Variant::Int32(3), "3"}, {Variant(), "1"}, {Str("-4"), "-4"},
    };
    for (const auto& [param, quantity] : cases) {
        Link link;
        link.Call("FindPosition", {Variant::Int32(0), Variant::Int32(0), param});
        ASSERT_EQ(link.desktop.messages.size(), 1u);
        EXPECT_EQ(GetDelimitedField(9, link.desktop.messages[0].text, '\t'), quantity);
    }
}

TEST(Requests, ParameterErrorsLeaveTheRequestUnsent) {
    struct Case {
        const char* method;
        std::vector<Variant> params;
        const char* error;
        const char* text_left;
    };
    const char* integer = " не может быть преобразован в целое число.";
    const Case cases[] = {
        {"FindPosition", {Str("x"), Str("y"), Str("2")}, "2", "-1\t123456\t\t\t\t\t0\t\t2"},
        {"FindPosition",
         {Str("x"), Variant::Int32(1), Str("2")},
         "1",
         "-1\t123456\t\t\t\t\t0\t\t2"},
        {"UseAutozakaz", {Str("x")}, "1", "-1\t123456\t\t\t\t\t0\t30.12.1899\t0"},
        {"SelectPositionFromZakaz", {Variant::Null()}, "1", "-1\t123456\t"},
        {"FindAutoZakazFromFile", {Variant::Null()}, nullptr, "0\t123456\t"},
    };
    for (const Case& c : cases) {
        Link link;
        link.desktop.answer = "0";
        EXPECT_EQ(link.Call(c.method, c.params), 0) << c.method;
        const std::string expected = c.error
                                         ? std::string("Параметр номер ") + c.error + integer
                                         : "Параметр номер 1 не может быть преобразован в строку.";
        EXPECT_EQ(link.LastError(), expected) << c.method;
        EXPECT_EQ(link.desktop.Text(), c.text_left) << c.method;
        EXPECT_TRUE(link.desktop.messages.empty());
        EXPECT_EQ(link.vk.PriceID, -1);
        EXPECT_EQ(link.vk.Searching.load(), 0);
        link.desktop.ExpectReleased();
    }
}

TEST(Requests, FindAutoZakazFromFileKeepsAGivenPath) {
    Link absent;
    absent.desktop.SetText("0\t\t");
    EXPECT_EQ(absent.Call("FindAutoZakazFromFile", {Str("d:\\orders\\a.txt")}), 0);
    EXPECT_EQ(absent.vk.FileWithZakaz, "d:\\orders\\a.txt");

    Link link;
    link.desktop.answer = "0";
    link.vk.FileWithZakaz = "e:\\held.txt";
    EXPECT_EQ(link.Call("FindAutoZakazFromFile", {Str("")}), 1);
    EXPECT_EQ(link.desktop.messages.at(0).text, "-1\te:\\held.txt\t");
    EXPECT_EQ(link.vk.FileWithZakaz, "e:\\held.txt");
}

TEST(Requests, FindPacketCountsPositionsFound) {
    const std::string eight_empty(8, '\t');
    const std::pair<std::string, int32_t> cases[] = {
        {"0\t5\tA" + std::string(7, '\t') + "\t0\tB" + std::string(7, '\t'), 1},
        {"0", 0},
        {"0\t", 0},
        {"0\t5" + eight_empty + "\t" + eight_empty + "\t4", 1},  // records end at an empty one
        {"0\t3\tX", 1},                                          // cut short, still counted
        {"0\t-4" + eight_empty + "\tabc" + eight_empty + "\t 2" + eight_empty + "\t2 ", 1},
        {"0\t1" + eight_empty + "\t1" + eight_empty + "\t1", 3},
    };
    for (const auto& [answer, found] : cases) {
        Link link;
        link.desktop.answer = answer;
        EXPECT_EQ(link.Call("FindPacket"), found) << answer;
        EXPECT_EQ(link.vk.PriceID, -1);
    }
}

// The reading rule as stated: field i, then i + 9, ..., from the start every time.
int32_t CountByFieldNumbers(std::string_view answer) {
    int32_t found = 0;
    for (int i = 2; !GetDelimitedField(i, answer, '\t').empty(); i += 9) {
        int32_t value = 0;
        if (ParseInt32(GetDelimitedField(i, answer, '\t'), value) && value > 0) ++found;
    }
    return found;
}

TEST(Requests, PacketAnswerSinglePassAgreesWithFieldNumbers) {
    std::mt19937 random(5);
    const char alphabet[] = {'\t', '\t', '\t', '1', '0', '-', ' ', 'a'};
    for (int round = 0; round < 3000; ++round) {
        std::string answer;
        const size_t length = random() % 120;
        for (size_t i = 0; i < length; ++i) answer += alphabet[random() % sizeof alphabet];
        EXPECT_EQ(CountFoundRecords(answer), CountByFieldNumbers(answer)) << answer;
    }
}

// How fast that is, bench/link_bench measures.
TEST(Requests, PacketAnswerOfManyRecordsIsCountedWhole) {
    std::string answer = "0";
    for (int i = 0; i < 100000; ++i) answer += "\t1\tname\tproducer\tdistributor\t12,5\t\t\t\t";
    EXPECT_EQ(CountFoundRecords(answer), 100000);
}

}  // namespace
}  // namespace kv::test
