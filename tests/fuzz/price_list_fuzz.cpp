// The simulator's price-list reader. Input: a price list. It is read or refused with an error
// that names the line; every offer read has the fields its line promises, and the offers
// written back as a price list read as the same offers.
#include <stdexcept>

#include "common/datetime.h"
#include "common/text.h"
#include "desk.h"
#include "fuzz_support.h"

using kv::fuzz::Check;
using kv::fuzz::Fail;
using kv::fuzz::Shown;
using kvsim::Offer;

namespace {

std::string Written(const std::vector<Offer>& offers) {
    std::string text;
    for (const Offer& o : offers) {
        char date[32];
        std::snprintf(date, sizeof date, "%02d.%02d.%04d", o.use_by.day, o.use_by.month,
                      o.use_by.year);
        for (const std::string* field :
             {&o.trade_name, &o.producer, &o.distributor, &o.intl_name}) {
            text += kv::Utf8FromCp1251(*field) + "\t";
        }
        text += o.price + "\t" + date + "\t" + std::to_string(o.quantity) + "\t" +
                kv::Utf8FromCp1251(o.distributor_code) + "\r\n";
    }
    return text;
}

bool Same(const Offer& a, const Offer& b) {
    return a.trade_name == b.trade_name && a.producer == b.producer &&
           a.distributor == b.distributor && a.intl_name == b.intl_name && a.price == b.price &&
           a.use_by.year == b.use_by.year && a.use_by.month == b.use_by.month &&
           a.use_by.day == b.use_by.day && a.quantity == b.quantity &&
           a.distributor_code == b.distributor_code;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<Offer> offers;
    try {
        offers = kvsim::ParsePriceList(text);
    } catch (const std::runtime_error& e) {
        Check(std::string(e.what()).rfind("price list line ", 0) == 0,
              "a bad price list names the line", [&] { return std::string(e.what()); });
        return 0;
    }
    const auto detail = [&] { return Shown(text); };
    for (const Offer& o : offers) {
        Check(!o.trade_name.empty(), "an offer has a trade name", detail);
        const size_t point = o.price.find('.');
        Check(!o.price.empty() && o.price.find_first_not_of("0123456789.") == std::string::npos &&
                  o.price.find('.', point == std::string::npos ? point : point + 1) ==
                      std::string::npos &&
                  o.price.find_first_of("0123456789") != std::string::npos,
              "a price is digits with at most one point", detail);
        Check(kv::IsValidDate(o.use_by.year, o.use_by.month, o.use_by.day),
              "a use-by date is a date of the calendar", detail);
        Check(o.quantity >= 0, "a quantity is not negative", detail);
    }
    std::vector<Offer> again;
    const std::string written = Written(offers);
    try {
        again = kvsim::ParsePriceList(written);
    } catch (const std::runtime_error& e) {
        Fail("the offers written back read again", Shown(text) + ": " + e.what());
    }
    bool same = again.size() == offers.size();
    for (size_t i = 0; same && i < offers.size(); ++i) same = Same(offers[i], again[i]);
    Check(same, "the offers written back read as the same offers",
          [&] { return Shown(text) + " written " + Shown(written); });
    return 0;
}
