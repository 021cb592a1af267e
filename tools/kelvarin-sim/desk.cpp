#include "desk.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "common/datetime.h"
#include "common/fields.h"
#include "common/text.h"
#include "common/variant.h"

namespace kvsim {

namespace M = kv::messages;
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    kv::LowerCp1251(lower);
    return lower;
}

bool Contains(std::string_view text, std::string_view part) {
    return Lower(text).find(Lower(part)) != std::string::npos;
}

std::vector<std::string_view> Split(std::string_view text, char delimiter) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t end = text.find(delimiter);
        fields.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return fields;
        text.remove_prefix(end + 1);
    }
}

// Digits with at most one '.' or ',', which becomes '.'; empty when it is anything else.
std::string NormalizedPrice(std::string_view text) {
    std::string price;
    bool separator = false, digits = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
            price.push_back(c);
        } else if ((c == '.' || c == ',') && !separator) {
            separator = true;
            price.push_back('.');
        } else {
            return {};
        }
    }
    return digits ? price : std::string{};
}

// A day of the years 100..9999 that a VT_DATE holds, the only ones the component reads.
bool ParseDate(std::string_view text, Date& date) {
    const std::vector<std::string_view> parts = Split(text, '.');
    if (parts.size() != 3 || parts[0].size() > 2 || parts[1].size() > 2 || parts[2].size() != 4) {
        return false;
    }
    int32_t d = 0, m = 0, y = 0;
    if (parts[0].empty() || parts[1].empty() || parts[0][0] == ' ' || parts[1][0] == ' ' ||
        parts[2][0] == ' ' || !kv::ParseInt32(parts[0], d) || !kv::ParseInt32(parts[1], m) ||
        !kv::ParseInt32(parts[2], y) || y < 100 || !kv::IsValidDate(y, m, d)) {
        return false;
    }
    date = {y, m, d};
    return true;
}

}  // namespace

std::vector<Offer> ParsePriceList(std::string_view utf8) {
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
    std::vector<Offer> offers;
    int number = 0;
    for (std::string_view line : Split(utf8, '\n')) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos || line[0] == '#') continue;
        const std::vector<std::string_view> f = Split(line, '\t');
        const auto bad = [&](const std::string& what) {
            return std::runtime_error("price list line " + std::to_string(number) + ": " + what);
        };
        if (f.size() != 8) {
            throw bad("expected 8 tab-separated fields, found " + std::to_string(f.size()));
        }
        Offer offer;
        offer.trade_name = kv::Cp1251FromUtf8(f[0]);
        offer.producer = kv::Cp1251FromUtf8(f[1]);
        offer.distributor = kv::Cp1251FromUtf8(f[2]);
        offer.intl_name = kv::Cp1251FromUtf8(f[3]);
        offer.price = NormalizedPrice(f[4]);
        if (offer.price.empty()) throw bad("price \"" + std::string(f[4]) + "\" is not a number");
        if (!ParseDate(f[5], offer.use_by)) {
            throw bad("use-by date \"" + std::string(f[5]) + "\" is not dd.mm.yyyy");
        }
        if (!kv::ParseInt32(f[6], offer.quantity) || offer.quantity < 0) {
            throw bad("quantity \"" + std::string(f[6]) + "\" is not a whole number");
        }
        offer.distributor_code = kv::Cp1251FromUtf8(f[7]);
        if (offer.trade_name.empty()) throw bad("the trade name is empty");
        offers.push_back(std::move(offer));
    }
    return offers;
}

int32_t QuantityOf(std::string_view field, int32_t fallback) {
    int32_t quantity = 0;
    return kv::ParseInt32(kv::TrimControl(field), quantity) ? quantity : fallback;
}

std::string Printable(std::string_view cp1251) {
    return kv::EscapeControls(kv::Utf8FromCp1251(cp1251));
}

Desk::Desk(std::vector<Offer> offers, Formats formats)
    : offers_(std::move(offers)), formats_(std::move(formats)) {}

std::string Desk::IdleText() const { return "0\t" + std::to_string(window_) + "\t"; }

std::string Desk::WithWindow(std::string_view block_text) const {
    if (block_text.empty()) return IdleText();
    const size_t first = block_text.find('\t');
    const std::string window = std::to_string(window_);
    if (first == std::string_view::npos) return std::string(block_text) + '\t' + window;
    const size_t second = block_text.find('\t', first + 1);
    return std::string(block_text.substr(0, first + 1)) + window +
           (second == std::string_view::npos ? "" : std::string(block_text.substr(second)));
}

std::optional<size_t> Desk::Find(std::string_view trade_name, std::string_view producer) const {
    if (kv::TrimControl(trade_name).empty()) return std::nullopt;
    std::optional<size_t> best;
    for (size_t i = 0; i < offers_.size(); ++i) {
        const Offer& offer = offers_[i];
        if (offer.quantity <= 0 || !Contains(offer.trade_name, trade_name) ||
            !Contains(offer.producer, producer)) {
            continue;
        }
        if (!best || std::strtod(offer.price.c_str(), nullptr) <
                         std::strtod(offers_[*best].price.c_str(), nullptr)) {
            best = i;
        }
    }
    return best;
}

size_t Desk::CountMatches(std::string_view trade_name, std::string_view producer) const {
    if (kv::TrimControl(trade_name).empty()) return 0;
    return static_cast<size_t>(std::count_if(offers_.begin(), offers_.end(), [&](const Offer& o) {
        return Contains(o.trade_name, trade_name) && Contains(o.producer, producer);
    }));
}

std::string Desk::OfferFields(const Offer& offer, int32_t quantity) const {
    std::string price = offer.price;
    std::replace(price.begin(), price.end(), '.', formats_.decimal_separator);
    return offer.trade_name + '\t' + offer.producer + '\t' + offer.distributor + '\t' +
           offer.intl_name + '\t' + price + '\t' + formats_.short_date(offer.use_by) + '\t' +
           std::to_string(quantity) + '\t' + offer.distributor_code;
}

std::string Desk::Answer(int32_t status, std::string_view rest) const {
    return std::to_string(status) + '\t' + std::to_string(window_) + '\t' + std::string(rest);
}

Desk::Taken Desk::Take(std::vector<OrderLine>& order, std::string_view trade_name,
                       std::string_view producer, int32_t quantity) {
    const std::optional<size_t> found = Find(trade_name, producer);
    if (!found) return {};
    const int32_t taken = std::clamp(quantity, 0, offers_[*found].quantity);
    if (taken > 0) order.push_back({*found, taken});
    return {static_cast<int32_t>(*found + 1), taken};
}

Reply Desk::Handle(uint32_t message, int32_t wparam, int32_t, std::string_view request,
                   const std::function<std::optional<std::string>(const std::string&)>& read_file) {
    // Every request is fields separated by tabs; field 1 is the component's "-1".
    const auto field = [&](int n) { return kv::GetDelimitedField(n, request, '\t'); };
    const auto count = [](const std::vector<OrderLine>& lines) {
        return static_cast<int32_t>(lines.size());
    };
    Reply reply;
    reply.answers = true;
    switch (message) {
        case M::UseAutozakaz:
            // The nine-field position goes into the automatic order; nobody waits for an answer.
            Take(auto_, field(3), field(4), QuantityOf(field(9), 1));
            reply.answers = false;
            break;
        case M::PreparePrice:
            reply.text = Answer(static_cast<int32_t>(CountMatches(field(3), field(4))), "");
            break;
        case M::ClearCurrentZakaz:
            reply.text = Answer(count(current_), "");
            current_.clear();
            break;
        case M::ClearAutoZakaz:
            reply.text = Answer(count(auto_), "");
            auto_.clear();
            break;
        case M::CountPositionInZakaz:
            reply.text = Answer(count(current_), "");
            break;
        case M::ZakazInArhive:
            reply.text = Answer(count(current_), "");
            archive_.insert(archive_.end(), current_.begin(), current_.end());
            current_.clear();
            break;
        case M::SelectPositionFromZakaz:
            if (wparam >= 1 && wparam <= count(current_)) {
                const OrderLine& line = current_[static_cast<size_t>(wparam - 1)];
                reply.text = Answer(line.quantity, OfferFields(offers_[line.offer], line.quantity));
            } else {
                reply.text = Answer(0, "");
            }
            break;
        case M::GetPosition:
            reply.text =
                Answer(current_.empty() ? 0 : static_cast<int32_t>(current_.back().offer + 1), "");
            break;
        case M::FindPosition: {
            const Taken taken = Take(current_, field(3), field(4), QuantityOf(field(9), 1));
            reply.text = taken.position == 0
                             ? Answer(0, "")
                             : Answer(taken.position,
                                      OfferFields(offers_[taken.position - 1], taken.quantity));
            break;
        }
        case M::FindPacket: {
            // "-1", the point of sale, then positions of ten fields: trade name, producer,
            // quantity and seven that the simulator does not use. One record of nine fields
            // answers each position, in order and whole, as many as the block holds.
            const std::vector<std::string_view> f = Split(request, '\t');
            const size_t positions = f.size() >= 2 ? (f.size() - 2) / 10 : 0;
            const size_t head = std::to_string(positions).size() + 1;  // room for the status
            std::string records;
            int32_t found = 0;
            bool full = false;
            for (size_t p = 0; p < positions; ++p) {
                const std::string_view* pos = &f[2 + 10 * p];
                const Taken taken = Take(current_, pos[0], pos[1], QuantityOf(pos[2], 1));
                std::string record = std::to_string(taken.position) + '\t';
                if (taken.position > 0) {
                    record += OfferFields(offers_[taken.position - 1], taken.quantity);
                } else {
                    // Not found: the good as asked for, no offer, quantity 0.
                    record += std::string(pos[0]) + '\t' + std::string(pos[1]) + "\t\t\t\t\t0\t";
                }
                record += '\t';
                if (full || head + records.size() + record.size() + 1 > capacity_) {
                    full = true;  // the order still takes the good; its record is left out
                    continue;
                }
                records += record;
                if (taken.position > 0) ++found;
            }
            reply.text = std::to_string(found) + '\t' + records;
            reply.restore_handle = true;
            break;
        }
        case M::FindAutoZakazFromFile: {
            // The file holds one good per line: trade name, producer and quantity.
            int32_t taken = 0;
            if (const std::optional<std::string> file = read_file(field(2))) {
                for (std::string_view line : Split(*file, '\n')) {
                    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                    const std::vector<std::string_view> g = Split(line, '\t');
                    if (Take(auto_, g[0], g.size() > 1 ? g[1] : "",
                             QuantityOf(g.size() > 2 ? g[2] : "", 1))
                            .quantity > 0) {
                        ++taken;
                    }
                }
            }
            reply.text = Answer(taken, "");
            break;
        }
        default:
            reply.answers = false;
            break;
    }
    return reply;
}

}  // namespace kvsim
