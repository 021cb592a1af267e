// The request cycle and the answer readers over arbitrary block contents, through the host
// protocol. The block is exactly as large as the block bytes of the input, and the desktop
// application answers with those bytes, so that an answer fills the block to its very end and
// holds a zero byte only where the input has one.
// Input: the request (a byte), flags (a byte), then the block bytes. Flags:
//   bit 0     the block starts out as the bytes themselves, not as the announcement
//             "0" TAB 123456 TAB
//   bit 1     the desktop application never answers
//   bits 2-3  the answer comes after that many pauses
//   bits 4-5  not used
//   bit 6     the decimal separator is '.', else ','
//   bit 7     the short date format is M/d/yy with "-" as separator, else dd.MM.yyyy
#include "common/datetime.h"
#include "common/fields.h"
#include "common/variant.h"
#include "component/date_pattern.h"
#include "fuzz_support.h"
#include "link/requests.h"

using namespace kv;
using kv::fuzz::Check;
using kv::fuzz::Shown;

namespace {

struct Request {
    const char* name;
    uint32_t message;
    std::vector<Variant> params;
    bool waits;
    int32_t timed_out_price_id;
};

const std::vector<Request>& Requests() {
    static const std::vector<Request> requests = {
        {"FindPosition",
         1038,
         {Variant::Int32(5), Variant::Int32(-9), Variant::Text(u"2")},
         true,
         -3},
        {"FindPacket", 1039, {}, true, -3},
        {"GetPosition", 1037, {}, true, -1},
        {"PreparePrice", 1031, {}, true, -3},
        {"ClearCurrentZakaz", 1032, {}, true, -3},
        {"ClearAutoZakaz", 1033, {}, true, -3},
        {"CountPositionInZakaz", 1034, {}, true, -3},
        {"ZakazInArhive", 1035, {}, true, -1},
        {"SelectPositionFromZakaz", 1036, {Variant::Int32(7)}, true, -1},
        {"FindAutoZakazFromFile", 1040, {Variant::Text(u"")}, true, -3},
        {"UseAutozakaz", 1025, {Variant::Int32(1)}, false, -1},
    };
    return requests;
}

std::string Field(int n, std::string_view text) { return GetDelimitedField(n, text, '\t'); }

// The packet answer by its stated rule: field i, i + 9, ... from field 2, each from the start.
int32_t CountByFieldNumbers(std::string_view answer) {
    int32_t found = 0;
    for (int i = 2; !Field(i, answer).empty(); i += 9) {
        int32_t value = 0;
        if (fuzz::ReferenceInt32(Field(i, answer), value) && value > 0) ++found;
    }
    return found;
}

// The window that a block's text names in its field 2 (the whole text without a tab), or 0.
int32_t WindowNamed(std::string_view text) {
    const std::string field =
        text.find('\t') == std::string_view::npos ? std::string(text) : Field(2, text);
    int32_t window = 0;
    return fuzz::ReferenceInt32(TrimControl(field), window) && window > 0 ? window : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input input(data, size);
    const Request& request = Requests()[input.Byte() % Requests().size()];
    const uint8_t flags = input.Byte();
    const std::string_view bytes = input.Rest();
    if (bytes.empty()) return 0;  // a mapped block is never empty

    fuzz::FuzzPlatform os;
    fuzz::FuzzDesktop& desk = os.desktop;
    desk.block.assign(bytes.begin(), bytes.end());
    if ((flags & 1) == 0) {
        const std::string_view announcement = "0\t123456\t";
        const size_t n = std::min(announcement.size(), desk.block.size());
        std::copy(announcement.begin(), announcement.begin() + static_cast<std::ptrdiff_t>(n),
                  desk.block.begin());
        if (n < desk.block.size()) desk.block[n] = '\0';
    }
    const std::vector<char> initial = desk.block;
    const std::string initial_text = desk.Text();
    desk.answers = (flags & 2) == 0;
    desk.answer = std::string(bytes);
    desk.answer_after_pauses = (flags >> 2) & 3;
    os.regional.settings.decimal_separator = (flags & 64) != 0 ? '.' : ',';
    if ((flags & 128) != 0) {
        os.regional.settings.short_date_format = "M/d/yy";
        os.regional.settings.date_separator = "-";
    }

    fuzz::RecordingErrors errors;
    {
        Protocol protocol(os.platform, &errors, AddinMethods());
        T_vk_object& vk = protocol.object();
        vk.Timeout = 1000;
        vk.TradeName = "old";
        vk.PointName = "P1";
        vk.DistribCode = "code";
        vk.Pprice = 9.5;
        desk.searching = &vk.Searching;

        int32_t number = -1;
        Check(protocol.FindMethod(Utf8ToUtf16(request.name), number) == kS_OK, "method found");
        fuzz::VectorParams params;
        params.values = request.params;
        Variant result;
        Check(protocol.CallAsFunc(number, result, &params) == kS_OK, "a call answers S_OK");
        Check(result.type() == VarType::I4, "a request's result is an integer");
        const auto value = static_cast<int32_t>(result.int_value());
        const auto detail = [&] {
            return std::string(request.name) + ", flags " + std::to_string(flags) + ", block " +
                   Shown(std::string_view(initial.data(), initial.size())) + ", result " +
                   std::to_string(value) + ", PriceID " + std::to_string(vk.PriceID);
        };

        Check(vk.Searching.load() == 0, "no request is left waiting", detail);
        Check(vk.MapHandle == 0, "no block handle outlives the request", detail);
        desk.CheckReleased();

        const int32_t window = WindowNamed(initial_text);
        if (window == 0) {
            Check(desk.messages.empty() && errors.records.empty(),
                  "an absent desktop application gets nothing", detail);
            Check(desk.block == initial, "nothing is written for an absent desktop application",
                  detail);
            Check(value == 0 && vk.PriceID == -1, "absent: result 0, PriceID -1", detail);
            return 0;
        }
        if (!errors.records.empty()) {
            // A request that does not fit is refused before anything is written or sent.
            const std::string error = Utf16ToUtf8(errors.records.front().description);
            Check(error.rfind("Запрос не помещается в общую память", 0) == 0,
                  "the only error of these requests is one that does not fit",
                  [&] { return detail() + ": " + error; });
            Check(desk.messages.empty() && desk.block == initial,
                  "a request that does not fit leaves the block as it was", detail);
            Check(value == 0 && vk.PriceID == -1, "refused: result 0, PriceID -1", detail);
            return 0;
        }

        Check(desk.messages.size() == 1, "one message per request", detail);
        const fuzz::FuzzDesktop::Message& sent = desk.messages.front();
        Check(sent.window == window && sent.message == request.message,
              "the message goes to the window named, with the request's number", detail);
        // The request and its zero byte; the bytes behind them stay as they were.
        const auto zero = std::find(sent.block.begin(), sent.block.end(), '\0');
        Check(zero != sent.block.end(), "the request ends with a zero byte inside the block",
              detail);
        Check(std::equal(zero + 1, sent.block.end(),
                         initial.begin() + (zero + 1 - sent.block.begin())),
              "the bytes behind the request stay as they were", detail);
        Check(std::string(sent.block.begin(), zero).rfind("-1\t", 0) == 0,
              "a request starts with the pending status", detail);

        if (!request.waits) {
            Check(value == 1 && vk.PriceID == -1, "a request that does not wait returns 1", detail);
            return 0;
        }
        // The answer as the component must read it: up to the first zero byte or the block's end.
        const std::string answer =
            desk.answers ? std::string(bytes.substr(0, bytes.find('\0'))) : std::string();
        int32_t status = -1;
        if (!desk.answers || !fuzz::ReferenceInt32(Field(1, answer), status) || status < 0) {
            Check(value == -3 && vk.PriceID == request.timed_out_price_id,
                  "an answer that never completes times out", detail);
            return 0;
        }
        const std::string what = std::string(request.name);
        if (what == "FindPacket") {
            Check(value == CountByFieldNumbers(answer),
                  "the packet answer counts the records with a positive first field", detail);
            Check(vk.PriceID == -1, "FindPacket leaves PriceID at -1", detail);
        } else if (what == "FindAutoZakazFromFile") {
            Check(value == 1 && vk.PriceID == -1, "a complete answer to the file request is 1",
                  detail);
        } else if (what == "FindPosition") {
            Check(value == status && vk.PriceID == status, "FindPosition returns the status",
                  detail);
            const LocalDateTime now = os.clock.now;
            if (status == 0) {
                Check(vk.TradeName.empty() && vk.PointName.empty() && vk.Amount == 0 &&
                          vk.UseByDate == ToOleDate(now) && vk.Pprice == 9.5 &&
                          vk.DistribCode == "code",
                      "nothing found: the texts cleared, the price and code kept", detail);
            } else {
                Check(vk.TradeName == TrimControl(Field(3, answer)) &&
                          vk.Producer == TrimControl(Field(4, answer)) &&
                          vk.DistribName == TrimControl(Field(5, answer)) &&
                          vk.IntlName == TrimControl(Field(6, answer)) &&
                          vk.DistribCode == TrimControl(Field(10, answer)) && vk.PointName == "P1",
                      "the offer's texts are fields 3 to 6 and 10, trimmed", detail);
                double price = 0;
                const bool priced = fuzz::ReferenceDecimal(
                    Field(7, answer), os.regional.settings.decimal_separator, price);
                Check(vk.Pprice == (priced && std::isfinite(price) ? price : 0),
                      "the price is field 7, 0 when it is no finite number", detail);
                int32_t amount = 0;
                Check(
                    vk.Amount ==
                        (fuzz::ReferenceInt32(TrimControl(Field(9, answer)), amount) ? amount : 1),
                    "the quantity is field 9, 1 when it is no number", detail);
                double date = 0;
                const bool dated = ParseShortDate(TrimControl(Field(8, answer)),
                                                  os.regional.settings, now.year, date);
                Check(vk.UseByDate == (dated ? date : ToOleDate(now) + 180),
                      "the use-by date is field 8, now and 180 days when it is no date", detail);
            }
        } else {
            Check(value == status && vk.PriceID == -1, "the result is the answer's status", detail);
        }
    }
    return 0;
}
