#pragma once
// The desktop ordering application as the simulator plays it: the messages it answers, the
// price list it searches, the current and the automatic order it keeps, and the answer texts
// it writes into the shared block. All protocol knowledge of the simulator is here; the Windows
// program around it only moves texts between the block, the window and the log.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/messages.h"

namespace kvsim {

constexpr char kBlockName[] = "KelvarinMapFile";

struct Date {
    int year = 0;
    int month = 0;
    int day = 0;
};

// One offer of a distributor's price list. Texts are Windows-1251.
struct Offer {
    std::string trade_name;
    std::string producer;
    std::string distributor;
    std::string intl_name;
    std::string price;  // decimal digits with '.' as the separator
    Date use_by;
    int32_t quantity = 0;
    std::string distributor_code;
};

// Reads a price list: UTF-8 text (a byte-order mark is skipped), one offer per line with the
// eight tab-separated fields trade name, producer, distributor, international name, price
// (with '.' or ','), use-by date (dd.mm.yyyy), quantity and distributor code. Blank lines and
// lines starting with '#' are skipped. Throws std::runtime_error naming the line of a bad offer.
std::vector<Offer> ParsePriceList(std::string_view utf8);

// How the user's regional settings write prices and dates, as the component reads them.
struct Formats {
    char decimal_separator = ',';
    std::function<std::string(const Date&)> short_date;
};

// What the simulator does with one message.
struct Reply {
    bool answers = false;  // false: the block is left as the request left it
    std::string text;      // the complete answer, without its zero byte
    // The answer's field 2 is not the window handle (FindPacket's records start there): the
    // handle field must be written back once the component has read the answer.
    bool restore_handle = false;
};

class Desk {
  public:
    Desk(std::vector<Offer> offers, Formats formats);

    // The window whose handle goes into field 2, and the bytes an answer may take with its
    // zero byte.
    void SetWindow(uint32_t window) { window_ = window; }
    void SetCapacity(size_t bytes) { capacity_ = bytes; }

    // The text that announces the window before any request: "0" TAB handle TAB.
    std::string IdleText() const;
    // `block_text` with the window in field 2 and every other field as it was, the status
    // field first of all: a request still waiting for its answer stays pending.
    std::string WithWindow(std::string_view block_text) const;

    // Handles one message with the request text the component wrote. `read_file` reads an
    // automatic-order file by its path (ANSI); nullopt when it cannot be read.
    Reply Handle(uint32_t message, int32_t wparam, int32_t lparam, std::string_view request,
                 const std::function<std::optional<std::string>(const std::string&)>& read_file);

    struct OrderLine {
        size_t offer;  // index into the price list
        int32_t quantity;
    };
    const std::vector<OrderLine>& current_order() const { return current_; }
    const std::vector<OrderLine>& auto_order() const { return auto_; }
    const std::vector<OrderLine>& archive() const { return archive_; }
    const std::vector<Offer>& offers() const { return offers_; }

  private:
    // The cheapest offer in stock whose trade name contains `trade_name` and whose producer
    // contains `producer` (an empty one matches every producer), case aside; nullopt when none.
    std::optional<size_t> Find(std::string_view trade_name, std::string_view producer) const;
    size_t CountMatches(std::string_view trade_name, std::string_view producer) const;
    // The eight offer fields of an answer, with the given quantity.
    std::string OfferFields(const Offer& offer, int32_t quantity) const;
    std::string Answer(int32_t status, std::string_view rest) const;
    // Takes up to `quantity` of the best offer for the good into `order` (nothing when that is
    // 0 or less); position is the offer's number from 1, 0 when nothing was found.
    struct Taken {
        int32_t position = 0;
        int32_t quantity = 0;
    };
    Taken Take(std::vector<OrderLine>& order, std::string_view trade_name,
               std::string_view producer, int32_t quantity);

    std::vector<Offer> offers_;
    Formats formats_;
    uint32_t window_ = 0;
    size_t capacity_ = 65536;
    std::vector<OrderLine> current_;
    std::vector<OrderLine> auto_;
    std::vector<OrderLine> archive_;
};

// A quantity field: a decimal integer, `fallback` when it is not one.
int32_t QuantityOf(std::string_view field, int32_t fallback);

// A text for the log: UTF-8 of the Windows-1251 text, escaped as kv::EscapeControls does
// (the component's request trace writes its texts the same way).
std::string Printable(std::string_view cp1251);

}  // namespace kvsim
