// The simulator's side of the protocol: its price list, its answers as the component reads
// them (fields through GetDelimitedField), and the orders it keeps between requests.
#include "desk.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/fields.h"
#include "common/text.h"

namespace kvsim {
namespace {

namespace M = kv::messages;

constexpr char kPrices[] =
    "\xEF\xBB\xBF# comment line\r\n"
    "Парацетамол 500 мг\tСеверфарм\tАптекарь\tParacetamol\t12.50\t31.12.2027\t120\tA-1\r\n"
    "Парацетамол 500 мг\tСеверфарм\tМедСнаб\tParacetamol\t11,9\t30.06.2027\t40\tM-7\n"
    "\n"
    "Парацетамол 200 мг\tВолгамед\tАптекарь\tParacetamol\t8.20\t31.03.2027\t0\tA-2\n"
    "Ибупрофен 200 мг\tВолгамед\tМедСнаб\tIbuprofen\t45\t1.2.2026\t60\tM-10\n";

std::string W(std::string_view utf8) { return kv::Cp1251FromUtf8(utf8); }
std::string F(int n, const std::string& text) { return kv::GetDelimitedField(n, text, '\t'); }

// The request texts as the component writes them.
std::string Position(std::string_view trade, std::string_view producer, std::string_view qty) {
    return "-1\t4660\t" + W(trade) + "\t" + W(producer) + "\t\t\t0\t\t" + std::string(qty);
}

class DeskTest : public ::testing::Test {
  protected:
    Desk desk{ParsePriceList(kPrices), Formats{',', [](const Date& d) {
                                                   return std::to_string(d.day) + "/" +
                                                          std::to_string(d.month) + "/" +
                                                          std::to_string(d.year);
                                               }}};
    std::map<std::string, std::string> files;

    void SetUp() override { desk.SetWindow(4660); }

    Reply Send(uint32_t message, const std::string& request, int32_t wparam = 0) {
        return desk.Handle(message, wparam, 0, request,
                           [&](const std::string& path) -> std::optional<std::string> {
                               const auto it = files.find(path);
                               if (it == files.end()) return std::nullopt;
                               return it->second;
                           });
    }
    int32_t Status(uint32_t message, const std::string& request, int32_t wparam = 0) {
        const Reply reply = Send(message, request, wparam);
        EXPECT_TRUE(reply.answers);
        EXPECT_EQ(F(2, reply.text), "4660") << "field 2 must keep naming the window";
        return std::stoi(F(1, reply.text));
    }
};

TEST_F(DeskTest, ReadsThePriceList) {
    const auto& offers = desk.offers();
    ASSERT_EQ(offers.size(), 4u);
    EXPECT_EQ(offers[0].trade_name, W("Парацетамол 500 мг"));
    EXPECT_EQ(offers[0].price, "12.50");
    EXPECT_EQ(offers[1].price, "11.9");
    EXPECT_EQ(offers[1].distributor_code, "M-7");
    EXPECT_EQ(offers[3].use_by.year, 2026);
    EXPECT_EQ(offers[3].use_by.month, 2);
    EXPECT_EQ(offers[3].use_by.day, 1);
    EXPECT_EQ(offers[2].quantity, 0);
}

TEST(DeskPriceList, NamesTheLineOfABadOffer) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a\tb\tc\n", "line 1: expected 8"},
        {"# x\na\tb\tc\td\t1,2,3\t01.01.2027\t1\tz\n", "line 2: price"},
        {"a\tb\tc\td\t-1\t01.01.2027\t1\tz\n", "price"},
        {"a\tb\tc\td\t1\t31.02.2027\t1\tz\n", "use-by date"},
        {"a\tb\tc\td\t1\t2027-01-01\t1\tz\n", "use-by date"},
        {"a\tb\tc\td\t1\t31.12.0099\t1\tz\n", "use-by date"},
        {"a\tb\tc\td\t1\t01.01.2027\t-3\tz\n", "quantity"},
        {"a\tb\tc\td\t1\t01.01.2027\tmany\tz\n", "quantity"},
        {"\tb\tc\td\t1\t01.01.2027\t1\tz\n", "trade name"},
    };
    for (const auto& [text, message] : cases) {
        try {
            ParsePriceList(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

TEST_F(DeskTest, FindPositionAnswersTheCheapestOfferInStock) {
    // Case aside, by part of the name; the 200 mg offer is cheaper but out of stock.
    const Reply reply = Send(M::FindPosition, Position("парацетамол", "", "3"));
    ASSERT_TRUE(reply.answers);
    EXPECT_EQ(F(1, reply.text), "2");
    EXPECT_EQ(F(2, reply.text), "4660");
    EXPECT_EQ(F(3, reply.text), W("Парацетамол 500 мг"));
    EXPECT_EQ(F(4, reply.text), W("Северфарм"));
    EXPECT_EQ(F(5, reply.text), W("МедСнаб"));
    EXPECT_EQ(F(6, reply.text), "Paracetamol");
    EXPECT_EQ(F(7, reply.text), "11,9");
    EXPECT_EQ(F(8, reply.text), "30/6/2027");
    EXPECT_EQ(F(9, reply.text), "3");
    EXPECT_EQ(F(10, reply.text), "M-7");
    EXPECT_EQ(F(11, reply.text), "");
    EXPECT_FALSE(reply.restore_handle);
}

TEST_F(DeskTest, FindPositionMatchesProducerAndLimitsToTheStock) {
    struct Case {
        const char* trade;
        const char* producer;
        const char* quantity;
        const char* status;
        const char* amount;
    };
    const std::vector<Case> cases = {
        {"ибупрофен", "волга", "100", "4", "60"},  // no more than the stock
        {"ибупрофен", "Северфарм", "1", "0", ""},  // no offer of that producer
        {"Парацетамол 200", "", "1", "0", ""},     // out of stock
        {"", "", "1", "0", ""},                    // an empty name finds nothing
        {"ибупрофен", "", "abc", "4", "1"},        // not a number: one
    };
    for (const Case& c : cases) {
        const Reply reply = Send(M::FindPosition, Position(c.trade, c.producer, c.quantity));
        EXPECT_EQ(F(1, reply.text), c.status) << c.trade << "/" << c.producer;
        EXPECT_EQ(F(9, reply.text), c.amount) << c.trade << "/" << c.producer;
    }
}

TEST_F(DeskTest, TheCurrentOrderAnswersConsistently) {
    EXPECT_EQ(Status(M::CountPositionInZakaz, Position("", "", "0")), 0);
    EXPECT_EQ(Status(M::GetPosition, "-1\t4660\tP1"), 0);
    Send(M::FindPosition, Position("ибупрофен", "", "5"));
    Send(M::FindPosition, Position("парацетамол", "", "2"));
    Send(M::FindPosition, Position("нет такого", "", "2"));
    Send(M::FindPosition, Position("ибупрофен", "", "0"));  // found, nothing ordered
    EXPECT_EQ(Status(M::CountPositionInZakaz, Position("", "", "0") + "\tP1"), 2);
    EXPECT_EQ(Status(M::GetPosition, "-1\t4660\tP1"), 2);  // the offer ordered last
    // SelectPositionFromZakaz: the quantity of the n-th line, 0 past the order.
    EXPECT_EQ(Status(M::SelectPositionFromZakaz, "-1\t4660\t", 1), 5);
    EXPECT_EQ(Status(M::SelectPositionFromZakaz, "-1\t4660\t", 2), 2);
    EXPECT_EQ(Status(M::SelectPositionFromZakaz, "-1\t4660\t", 3), 0);
    EXPECT_EQ(Status(M::SelectPositionFromZakaz, "-1\t4660\t", -1), 0);
    EXPECT_EQ(Status(M::ZakazInArhive, "-1\t4660"), 2);
    EXPECT_EQ(desk.archive().size(), 2u);
    EXPECT_EQ(Status(M::CountPositionInZakaz, Position("", "", "0") + "\tP1"), 0);
    Send(M::FindPosition, Position("ибупрофен", "", "1"));
    EXPECT_EQ(Status(M::ClearCurrentZakaz, Position("", "", "0") + "\tP1"), 1);
    EXPECT_EQ(Status(M::CountPositionInZakaz, Position("", "", "0") + "\tP1"), 0);
    EXPECT_EQ(desk.archive().size(), 2u);
}

TEST_F(DeskTest, TheAutomaticOrderTakesPositionsAndFiles) {
    const Reply taken = Send(M::UseAutozakaz, Position("ибупрофен", "", "4"), 1);
    EXPECT_FALSE(taken.answers);
    ASSERT_EQ(desk.auto_order().size(), 1u);
    EXPECT_EQ(desk.auto_order()[0].quantity, 4);

    files["C:\\Kelvarin\\Autozakaz.txt"] =
        W("Ибупрофен\t\t2\r\nнет такого\t\t1\r\nпарацетамол\t\t1\r\n");
    EXPECT_EQ(Status(M::FindAutoZakazFromFile, "-1\tC:\\Kelvarin\\Autozakaz.txt\t"), 2);
    EXPECT_EQ(Status(M::FindAutoZakazFromFile, "-1\tC:\\missing.txt\t"), 0);
    EXPECT_EQ(desk.auto_order().size(), 3u);
    EXPECT_EQ(Status(M::ClearAutoZakaz, Position("", "", "0") + "\tP1"), 3);
    EXPECT_TRUE(desk.auto_order().empty());
    EXPECT_TRUE(desk.current_order().empty());
}

TEST_F(DeskTest, PreparePriceCountsTheMatchingOffers) {
    EXPECT_EQ(Status(M::PreparePrice, Position("ПАРАЦЕТАМОЛ", "", "1")), 3);
    EXPECT_EQ(Status(M::PreparePrice, Position("парацетамол", "волгамед", "1")), 1);
    EXPECT_EQ(Status(M::PreparePrice, Position("", "", "1")), 0);
}

// A packet as AddPositionInPacket builds it: ten fields, each followed by a tab.
std::string Packet(const std::vector<std::pair<std::string, std::string>>& goods) {
    std::string packet;
    for (const auto& [trade, qty] : goods) {
        packet += W(trade) + "\t\t" + qty + "\t";
        for (int i = 3; i < 10; ++i) packet += "x\t";
    }
    return packet;
}

TEST_F(DeskTest, FindPacketAnswersOneRecordPerPosition) {
    const std::string request =
        "-1\tP1\t" + Packet({{"ибупрофен", "2"}, {"нет такого", "1"}, {"парацетамол", "1"}}) + "\t";
    const Reply reply = Send(M::FindPacket, request, 3);
    ASSERT_TRUE(reply.answers);
    EXPECT_TRUE(reply.restore_handle);  // field 2 is the first record, not the window
    const std::string& a = reply.text;
    EXPECT_EQ(F(1, a), "2");
    // Record k starts at field 2 + 9k; the records end at an empty first field.
    EXPECT_EQ(F(2, a), "4");
    EXPECT_EQ(F(3, a), W("Ибупрофен 200 мг"));
    EXPECT_EQ(F(9, a), "2");
    EXPECT_EQ(F(11, a), "0");
    EXPECT_EQ(F(12, a), W("нет такого"));
    EXPECT_EQ(F(18, a), "0");
    EXPECT_EQ(F(20, a), "2");
    EXPECT_EQ(F(29, a), "");
    EXPECT_EQ(desk.current_order().size(), 2u);

    const Reply empty = Send(M::FindPacket, "-1\tP1\t\t", 0);
    EXPECT_EQ(empty.text, "0\t");
}

TEST_F(DeskTest, FindPacketSendsOnlyTheWholeRecordsThatFit) {
    std::vector<std::pair<std::string, std::string>> goods(40, {"ибупрофен", "1"});
    const std::string request = "-1\tP1\t" + Packet(goods) + "\t";
    desk.SetCapacity(200);
    const Reply reply = Send(M::FindPacket, request, 40);
    EXPECT_LT(reply.text.size() + 1, 201u);
    const int32_t found = std::stoi(F(1, reply.text));
    EXPECT_GT(found, 0);
    EXPECT_LT(found, 40);
    EXPECT_EQ(F(2 + 9 * found, reply.text), "");  // nothing after the last whole record
    EXPECT_EQ(F(2 + 9 * (found - 1), reply.text), "4");
    EXPECT_EQ(desk.current_order().size(), 40u);  // the order took them all
}

TEST_F(DeskTest, PutsTheWindowBackIntoWhateverTheBlockHolds) {
    const std::pair<std::string, std::string> cases[] = {
        {"2\t4\tA\t\t\t\t\t\t\t\t3\tB", "2\t4660\tA\t\t\t\t\t\t\t\t3\tB"},  // a packet answer
        {"-1\t4\tP1\t", "-1\t4660\tP1\t"},  // a request sent to the record's number: still pending
        {"0\t4660\t", "0\t4660\t"},
        {"7", "7\t4660"},
        {"", "0\t4660\t"},
        {"\t\t", "\t4660\t"},
    };
    for (const auto& [before, after] : cases) EXPECT_EQ(desk.WithWindow(before), after) << before;
}

TEST_F(DeskTest, IgnoresMessagesOfNoRequest) {
    EXPECT_FALSE(Send(1024, "-1\t4660").answers);
    EXPECT_FALSE(Send(1041, "-1\t4660").answers);
    EXPECT_EQ(M::Find(1026), nullptr);
    ASSERT_EQ(std::size(M::kAll), 11u);
    for (const M::MessageInfo& m : M::kAll) EXPECT_EQ(m.answered, m.number != M::UseAutozakaz);
    EXPECT_EQ(desk.IdleText(), "0\t4660\t");
}

TEST(DeskLog, ShowsTabsControlCharactersAndCyrillic) {
    EXPECT_EQ(Printable(W("-1\tАб\x01")), "-1\\tАб\\x01");
    EXPECT_EQ(Printable(std::string("a\x7F", 2)), "a\\x7F");
    // A backslash of its own is doubled, so that "\\t" in a path never reads as a tab.
    EXPECT_EQ(Printable("C:\\tmp\t"), "C:\\\\tmp\\t");
}

}  // namespace
}  // namespace kvsim
