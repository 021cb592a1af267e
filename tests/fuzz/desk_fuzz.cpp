// The simulator's request handling: any sequence of messages with any request texts, over the
// sample price list or one from the input. Input: flags (a byte: bit 0 the price list comes
// from the input, bits 1-2 the regional date format, bit 3 the decimal separator '.'), the
// block's capacity (a byte, times 16, at least 16), the price list up to a zero byte when it
// comes from the input, then an order file (a length byte and its bytes) and the messages: a
// message byte, a wParam byte (signed) and a request text (a length byte and its bytes).
// Every answer is one the component reads as the simulator meant it: a status of 0 or more,
// the window in field 2, a packet answer that fits the block and counts what it holds, an
// offer whose price, date and quantity read back; and the orders hold only real offers.
#include <stdexcept>

#include "common/fields.h"
#include "common/variant.h"
#include "component/date_pattern.h"
#include "desk.h"
#include "fuzz_support.h"
#include "link/requests.h"

using kv::fuzz::Check;
using kv::fuzz::Shown;
using kvsim::Desk;

namespace {

constexpr char kSamplePrices[] =
    "Парацетамол табл. 500 мг №10\tСеверфарм\tАптекарь-Опт\tParacetamol\t12.50\t31.12.2027\t120"
    "\tAO-1001\n"
    "Парацетамол табл. 500 мг №10\tСеверфарм\tМедСнаб\tParacetamol\t11.90\t30.06.2027\t40\tMS-77\n"
    "Парацетамол табл. 200 мг №10\tВолгамед\tАптекарь-Опт\tParacetamol\t8,20\t31.03.2027\t0"
    "\tAO-1002\n"
    "Ибупрофен табл. 200 мг №20\tВолгамед\tМедСнаб\tIbuprofen\t45\t1.2.2026\t60\tMS-102\n";

constexpr uint32_t kMessages[] = {1025, 1031, 1032, 1033, 1034, 1035,
                                  1036, 1037, 1038, 1039, 1040, 1024};
constexpr uint32_t kWindow = 4660;

std::string Field(int n, std::string_view text) { return kv::GetDelimitedField(n, text, '\t'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kv::fuzz::Input in(data, size);
    const uint8_t flags = in.Byte();
    const size_t capacity = std::max<size_t>(16, in.Byte() * size_t{16});
    std::vector<kvsim::Offer> offers;
    try {
        if ((flags & 1) != 0) {
            const std::string_view rest = in.Rest();
            const size_t zero = rest.find('\0');
            offers = kvsim::ParsePriceList(rest.substr(0, zero));
            in = kv::fuzz::Input(
                reinterpret_cast<const uint8_t*>(rest.data()) + std::min(rest.size(), zero + 1),
                zero == std::string_view::npos ? 0 : rest.size() - zero - 1);
        } else {
            offers = kvsim::ParsePriceList(kSamplePrices);
        }
    } catch (const std::runtime_error&) {
        return 0;  // the price list target checks the reader
    }
    kv::RegionalSettings regional;
    static const char* const kFormats[] = {"dd.MM.yyyy", "M/d/yyyy", "yyyy-MM-dd", "d/M/yyyy"};
    regional.short_date_format = kFormats[(flags >> 1) & 3];
    regional.date_separator = (flags & 2) != 0 ? "/" : ".";
    regional.decimal_separator = (flags & 8) != 0 ? '.' : ',';
    kvsim::Formats formats{regional.decimal_separator, [&regional](const kvsim::Date& d) {
                               kv::LocalDateTime when;
                               when.year = d.year;
                               when.month = d.month;
                               when.day = d.day;
                               return kv::FormatDatePattern(regional.short_date_format, when,
                                                            regional);
                           }};
    Desk desk(offers, formats);
    desk.SetWindow(kWindow);
    desk.SetCapacity(capacity);
    const std::string file(in.Take(in.Byte()));
    const auto read_file = [&](const std::string& path) -> std::optional<std::string> {
        if (path.empty() || path[0] == '!') return std::nullopt;
        return file;
    };

    std::string trace;
    for (int step = 0; step < 32 && !in.empty(); ++step) {
        const uint32_t message = kMessages[in.Byte() % std::size(kMessages)];
        const auto wparam = static_cast<int8_t>(in.Byte());
        const std::string request(in.Take(in.Byte()));
        trace += std::to_string(message) + " " + Shown(request) + "; ";
        const auto detail = [&] { return trace; };

        // Putting the window back keeps every other field, the status field first of all.
        const std::string back = desk.WithWindow(request);
        Check(Field(2, back) == std::to_string(kWindow), "the window goes back into field 2",
              detail);
        if (!request.empty()) {
            Check(Field(1, back) == Field(1, request), "the status field stays", detail);
            const size_t tabs =
                static_cast<size_t>(std::count(request.begin(), request.end(), '\t'));
            for (int k = 3; k <= static_cast<int>(tabs) + 1; ++k) {
                Check(Field(k, back) == Field(k, request), "the fields behind stay", detail);
            }
        }

        const kvsim::Reply reply = desk.Handle(message, wparam, 0, request, read_file);
        const bool answered = message != 1025 && message != 1024;
        Check(reply.answers == answered, "every request but UseAutozakaz is answered", detail);
        for (const Desk::OrderLine& line : desk.current_order()) {
            Check(line.offer < offers.size() && line.quantity >= 1 &&
                      line.quantity <= offers[line.offer].quantity,
                  "an order line is a real offer, in stock", detail);
        }
        for (const Desk::OrderLine& line : desk.auto_order()) {
            Check(line.offer < offers.size() && line.quantity >= 1 &&
                      line.quantity <= offers[line.offer].quantity,
                  "an automatic order line is a real offer, in stock", detail);
        }
        if (!reply.answers) continue;

        const std::string& a = reply.text;
        int32_t status = -1;
        Check(kv::fuzz::ReferenceInt32(Field(1, a), status) && status >= 0,
              "an answer's status is a number of 0 or more", [&] { return trace + Shown(a); });
        if (message == 1039) {
            Check(reply.restore_handle, "a packet answer asks for the window back", detail);
            Check(a.size() + 1 <= capacity, "a packet answer fits the block with its zero byte",
                  [&] { return trace + Shown(a); });
            Check(kv::CountFoundRecords(a) == status,
                  "the component counts the records the status counts",
                  [&] { return trace + Shown(a); });
            continue;
        }
        Check(Field(2, a) == std::to_string(kWindow), "field 2 of an answer names the window",
              [&] { return trace + Shown(a); });
        if (message == 1038 && status > 0) {
            const kvsim::Offer& offer = offers.at(static_cast<size_t>(status - 1));
            double price = 0, expected = 0, date = 0;
            Check(kv::ParseDecimal(Field(7, a), regional.decimal_separator, price) &&
                      kv::fuzz::ReferenceDecimal(offer.price, '.', expected) && price == expected,
                  "the component reads the offer's price", [&] { return trace + Shown(a); });
            kv::LocalDateTime when;
            when.year = offer.use_by.year;
            when.month = offer.use_by.month;
            when.day = offer.use_by.day;
            Check(kv::ParseShortDate(Field(8, a), regional, 2025, date) &&
                      date == kv::ToOleDate(when),
                  "the component reads the offer's use-by date", [&] { return trace + Shown(a); });
            int32_t quantity = -1;
            Check(kv::ParseInt32(Field(9, a), quantity) && quantity >= 0 &&
                      quantity <= offer.quantity,
                  "the quantity is at most the stock", [&] { return trace + Shown(a); });
        }
    }
    return 0;
}
