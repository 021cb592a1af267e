// The eleven requests as one table: each is its request text layout, message, message
// parameters, whether it waits, its answer reader and the results its failures leave. One
// routine runs any of them through the request cycle.
#include "link/requests.h"

#include <cmath>
#include <span>
#include <vector>

#include "common/datetime.h"
#include "common/fields.h"
#include "common/text.h"
#include "common/variant.h"
#include "component/date_pattern.h"
#include "component/trace.h"
#include "component/vk_object.h"
#include "link/messages.h"
#include "link/request_cycle.h"

namespace kv {
namespace {

// One field of a request text.
enum class Field : uint8_t {
    Pending,      // "-1": the status field of a request waiting for its answer
    HandleField,  // the handle field as read, untrimmed
    TradeName,
    Producer,
    DistribName,
    IntlName,
    PointName,
    PacketText,
    FileWithZakaz,
    Price,
    UseByDate,
    Amount,
    Empty,
    ZeroPrice,  // the price "0" that FindPosition sends
    Quantity,   // FindPosition's parameter 2, read while the text is built
};

// Where a message parameter comes from. Parameters of the call are read after the request
// text has been written, just before the message is sent.
enum class Arg : uint8_t { Zero, PacketCount, Param0, Param1 };

// Result and PriceID after a failure, where the requests differ from one another.
struct FailureRules {
    int32_t open_failed_result;   // the block cannot be opened: -1, or 0
    int32_t map_failed_result;    // it cannot be mapped: -2, or 0
    int32_t map_failed_price_id;  // -2, or -1
    int32_t timed_out_price_id;   // no complete answer within Timeout: -3, or -1
};

constexpr FailureRules kStatusEverywhere{-1, -2, -2, -3};

// Receives a complete answer and its status (0 or more); returns the method's result.
using AnswerReader = int32_t (*)(T_vk_object& vk, std::string_view answer, int32_t status);

struct RequestSpec {
    std::span<const Field> layout;  // fields joined by tabs
    bool ends_with_tab;
    uint32_t message;
    Arg wparam;
    Arg lparam;
    bool waits;  // a request that does not wait returns 1 once its message has returned
    bool takes_file_parameter;
    AnswerReader read_answer;
    FailureRules failures;
};

int32_t ReadStatus(T_vk_object&, std::string_view, int32_t status) { return status; }

int32_t ReadDone(T_vk_object&, std::string_view, int32_t) { return 1; }

int32_t ReadPacketAnswer(T_vk_object&, std::string_view answer, int32_t) {
    return CountFoundRecords(answer);
}

int32_t ReadFoundPosition(T_vk_object& vk, std::string_view answer, int32_t status) {
    vk.PriceID = status;
    const LocalDateTime now = vk.platform().clock.Now();
    if (status == 0) {  // nothing found; Pprice and DistribCode stay
        vk.TradeName.clear();
        vk.Producer.clear();
        vk.DistribName.clear();
        vk.IntlName.clear();
        vk.PointName.clear();
        vk.UseByDate = ToOleDate(now);
        vk.Amount = 0;
        return status;
    }
    FieldReader fields(answer, '\t');
    fields.Next();  // the status
    fields.Next();  // not ours to read
    vk.TradeName = TrimControl(fields.Next());
    vk.Producer = TrimControl(fields.Next());
    vk.DistribName = TrimControl(fields.Next());
    vk.IntlName = TrimControl(fields.Next());
    double price = 0;
    const bool priced = ParseDecimal(fields.Next(), vk.regional().decimal_separator, price);
    // An infinite price would come back as a text the desktop application cannot read.
    vk.Pprice = priced && std::isfinite(price) ? price : 0;
    double date = 0;
    const bool dated = ParseShortDate(TrimControl(fields.Next()), vk.regional(), now.year, date);
    vk.UseByDate = dated ? date : ToOleDate(now) + 180;
    int32_t amount = 1;
    vk.Amount = ParseInt32(TrimControl(fields.Next()), amount) ? amount : 1;
    vk.DistribCode = TrimControl(fields.Next());
    return status;
}

using F = Field;
namespace M = messages;
constexpr Field kPosition[] = {F::Pending,  F::HandleField, F::TradeName,
                               F::Producer, F::DistribName, F::IntlName,
                               F::Price,    F::UseByDate,   F::Amount};
constexpr Field kPositionAtPoint[] = {F::Pending,     F::HandleField, F::TradeName, F::Producer,
                                      F::DistribName, F::IntlName,    F::Price,     F::UseByDate,
                                      F::Amount,      F::PointName};
constexpr Field kPositionSought[] = {F::Pending,   F::HandleField, F::TradeName,
                                     F::Producer,  F::Empty,       F::Empty,
                                     F::ZeroPrice, F::Empty,       F::Quantity};
constexpr Field kPacket[] = {F::Pending, F::PointName, F::PacketText};
constexpr Field kAutoOrderFile[] = {F::Pending, F::FileWithZakaz};
constexpr Field kPoint[] = {F::Pending, F::HandleField, F::PointName};
constexpr Field kHandleOnly[] = {F::Pending, F::HandleField};

// Columns: text layout, text ends with a tab, message, wParam, lParam, waits for the
// answer, takes the file parameter, answer reader, {result when the block cannot be opened,
// result and PriceID when it cannot be mapped, PriceID on a timeout}.
// clang-format off
constexpr RequestSpec kUseAutozakaz{kPosition, false, M::UseAutozakaz, Arg::Param0, Arg::Zero,
                                    false, false, nullptr, {0, 0, -2, -3 /* never waits */}};
constexpr RequestSpec kPreparePrice{kPosition, false, M::PreparePrice, Arg::Zero, Arg::Zero,
                                    true, false, ReadStatus, {0, 0, -2, -3}};
constexpr RequestSpec kClearCurrentZakaz{kPositionAtPoint, false, M::ClearCurrentZakaz,
                                         Arg::Zero, Arg::Zero, true, false, ReadStatus,
                                         kStatusEverywhere};
constexpr RequestSpec kClearAutoZakaz{kPositionAtPoint, false, M::ClearAutoZakaz, Arg::Zero,
                                      Arg::Zero, true, false, ReadStatus, kStatusEverywhere};
constexpr RequestSpec kCountPositionInZakaz{kPositionAtPoint, false, M::CountPositionInZakaz,
                                            Arg::Zero, Arg::Zero, true, false, ReadStatus,
                                            kStatusEverywhere};
constexpr RequestSpec kZakazInArhive{kHandleOnly, false, M::ZakazInArhive, Arg::Zero, Arg::Zero,
                                     true, false, ReadStatus, {0, 0, -2, -1}};
constexpr RequestSpec kSelectPositionFromZakaz{kHandleOnly, true, M::SelectPositionFromZakaz,
                                               Arg::Param0, Arg::Zero, true, false, ReadStatus,
                                               {-1, -2, -1, -1}};
constexpr RequestSpec kGetPosition{kPoint, false, M::GetPosition, Arg::Zero, Arg::Zero, true,
                                   false, ReadStatus, {-1, -2, -1, -1}};
constexpr RequestSpec kFindPosition{kPositionSought, false, M::FindPosition, Arg::Param0,
                                    Arg::Param1, true, false, ReadFoundPosition,
                                    kStatusEverywhere};
constexpr RequestSpec kFindPacket{kPacket, true, M::FindPacket, Arg::PacketCount, Arg::Zero,
                                  true, false, ReadPacketAnswer, kStatusEverywhere};
constexpr RequestSpec kFindAutoZakazFromFile{kAutoOrderFile, true, M::FindAutoZakazFromFile,
                                             Arg::PacketCount, Arg::Zero, true, true, ReadDone,
                                             kStatusEverywhere};
// clang-format on

std::string FieldText(T_vk_object& vk, Field field, std::string_view handle_field) {
    switch (field) {
        case Field::Pending:
            return "-1";
        case Field::HandleField:
            return std::string(handle_field);
        case Field::TradeName:
            return vk.TradeName;
        case Field::Producer:
            return vk.Producer;
        case Field::DistribName:
            return vk.DistribName;
        case Field::IntlName:
            return vk.IntlName;
        case Field::PointName:
            return vk.PointName;
        case Field::PacketText:
            return vk.PacketText;
        case Field::FileWithZakaz:
            return vk.FileWithZakaz;
        case Field::Price:
            return PriceText(vk);
        case Field::UseByDate:
            return DateText(vk);
        case Field::Amount:
            return std::to_string(vk.Amount);
        case Field::Empty:
            return {};
        case Field::ZeroPrice:
            return "0";
        case Field::Quantity: {
            int32_t quantity = 1;
            if (!ParseInt32(vk.GetStringParam(2), quantity)) quantity = 1;
            return std::to_string(quantity);
        }
    }
    return {};
}

std::string RequestText(T_vk_object& vk, const RequestSpec& spec, std::string_view handle_field) {
    std::string text;
    for (size_t i = 0; i < spec.layout.size(); ++i) {
        if (i > 0) text += '\t';
        text += FieldText(vk, spec.layout[i], handle_field);
    }
    if (spec.ends_with_tab) text += '\t';
    return text;
}

int32_t Fetch(T_vk_object& vk, Arg arg) {
    switch (arg) {
        case Arg::Zero:
            return 0;
        case Arg::PacketCount:
            return vk.PacketCount;
        case Arg::Param0:
            return vk.GetIntegerParam(0);
        case Arg::Param1:
            return vk.GetIntegerParam(1);
    }
    return 0;
}

// What the trace tells of one request, filled in as the request goes.
struct RequestRecord {
    const char* outcome = "error";  // what ended the request; "error" when it raised one
    bool sent = false;
    int32_t wparam = 0;
    int32_t lparam = 0;
    std::string text;
    bool answered = false;
    std::string answer;
    std::string turn;     // what kept the turn's objects from this copy
    std::string earlier;  // what an earlier request had left outstanding
};

// The result of a request whose wait for its turn or its answer ended without an answer.
int32_t Unanswered(T_vk_object& vk, const RequestSpec& spec, WaitOutcome outcome) {
    if (outcome == WaitOutcome::Stopped) return 0;
    vk.PriceID = spec.failures.timed_out_price_id;
    return -3;
}

const char* Ending(WaitOutcome outcome, const char* timed_out) {
    return outcome == WaitOutcome::Stopped ? "stopped" : timed_out;
}

// Cycle steps 4 to 10 on an open and mapped block; returns the method's result. `record` is
// null when the trace is off, so that an untraced request copies nothing for it.
int32_t Exchange(T_vk_object& vk, const RequestSpec& spec, RequestCycle& cycle,
                 RequestRecord* record) {
    if (spec.takes_file_parameter) {
        // Taken before the window is tested: the path is kept even when nobody answers.
        std::string path = vk.GetStringParam(0);
        if (!path.empty()) vk.FileWithZakaz = std::move(path);
    }
    const WaitOutcome turn = cycle.TakeTurn();
    if (record != nullptr) record->turn = cycle.turn_note();
    if (turn != WaitOutcome::Done) {
        if (record != nullptr) record->outcome = Ending(turn, "no turn in time");
        return Unanswered(vk, spec, turn);
    }
    // Nothing is written while an earlier request may still be answered: its answer would be
    // read as this one's.
    const WaitOutcome earlier = cycle.SettleEarlier();
    if (record != nullptr) record->earlier = cycle.earlier_note();
    if (earlier != WaitOutcome::Done) {
        if (record != nullptr) record->outcome = Ending(earlier, "earlier request outstanding");
        return Unanswered(vk, spec, earlier);
    }
    const std::string block_text = cycle.Text();
    const std::string_view handle_field = HandleFieldOf(block_text);
    const int32_t window = WindowOf(handle_field);
    if (window == 0) {  // the desktop application is absent: nothing written or sent
        if (record != nullptr) record->outcome = "no window";
        return 0;
    }

    std::string text = RequestText(vk, spec, handle_field);
    cycle.Write(text);
    const int32_t lparam = Fetch(vk, spec.lparam);  // parameter 1 is read before parameter 0
    const int32_t wparam = Fetch(vk, spec.wparam);
    if (record != nullptr) {
        record->sent = true;
        record->wparam = wparam;
        record->lparam = lparam;
        record->text = std::move(text);
    }
    cycle.Send(window, spec.message, wparam, lparam, spec.waits);
    if (!spec.waits) {
        cycle.EndTurn();
        if (record != nullptr) record->outcome = "sent";
        return 1;
    }

    std::string answer;
    if (const WaitOutcome wait = cycle.Wait(answer); wait != WaitOutcome::Done) {
        if (record != nullptr) record->outcome = Ending(wait, "no answer in time");
        return Unanswered(vk, spec, wait);
    }
    if (record != nullptr) {
        record->outcome = "answered";
        record->answered = true;
        record->answer = answer;
    }
    return spec.read_answer(vk, answer, StatusOf(answer));
}

// The whole cycle; the block is released before the result is returned.
int32_t Cycle(T_vk_object& vk, const RequestSpec& spec, RequestRecord* record) {
    RequestCycle cycle(vk);
    if (!cycle.OpenBlock()) {
        if (record != nullptr) record->outcome = "block not opened";
        return spec.failures.open_failed_result;
    }
    if (!cycle.MapView()) {
        if (record != nullptr) record->outcome = "block not mapped";
        vk.PriceID = spec.failures.map_failed_price_id;
        return spec.failures.map_failed_result;
    }
    return Exchange(vk, spec, cycle, record);
}

// One line per request: what was sent, what came back, how long it took and what the
// method answers; `result` is null when the request raised an error.
void TraceRequest(T_vk_object& vk, const RequestSpec& spec, const RequestRecord& record,
                  uint32_t milliseconds, const int32_t* result) {
    std::vector<TraceField> fields = {{"method", M::MethodOf(spec.message)},
                                      {"message", std::to_string(spec.message)}};
    if (record.sent) {
        fields.push_back({"wParam", std::to_string(record.wparam)});
        fields.push_back({"lParam", std::to_string(record.lparam)});
        fields.push_back({"text", record.text});
    }
    if (record.answered) {
        fields.push_back({"answer", record.answer});
        fields.push_back({"status", std::to_string(StatusOf(record.answer))});
    }
    if (!record.turn.empty()) fields.push_back({"turn", record.turn});
    if (!record.earlier.empty()) fields.push_back({"earlier", record.earlier});
    fields.push_back({"ms", std::to_string(milliseconds)});
    if (result != nullptr) fields.push_back({"result", std::to_string(*result)});
    fields.push_back({"outcome", record.outcome});
    vk.trace().Write("request", fields);
}

void RunRequest(T_vk_object& vk, const RequestSpec& spec) {
    Trace& trace = vk.trace();
    if (!trace.On()) {
        vk.ResultValue = Variant::Int32(Cycle(vk, spec, nullptr));
        return;
    }
    RequestRecord record;
    const uint32_t start = trace.Ticks();
    int32_t result = 0;
    try {
        result = Cycle(vk, spec, &record);
    } catch (...) {
        TraceRequest(vk, spec, record, trace.Ticks() - start, nullptr);
        throw;
    }
    vk.ResultValue = Variant::Int32(result);
    TraceRequest(vk, spec, record, trace.Ticks() - start, &result);
}

}  // namespace

std::string PriceText(const T_vk_object& vk) {
    return FormatGeneral(vk.Pprice, vk.regional().decimal_separator);
}

std::string DateText(const T_vk_object& vk) {
    return vk.FormatDate(vk.regional().short_date_format, FromOleDate(vk.UseByDate));
}

int32_t CountFoundRecords(std::string_view answer) {
    FieldReader fields(answer, '\t');
    fields.Next();  // the status
    int32_t found = 0;
    for (std::string_view first = fields.Next(); !first.empty(); first = fields.Next()) {
        int32_t value = 0;
        if (ParseInt32(first, value) && value > 0) ++found;
        for (int skipped = 0; skipped < 8; ++skipped) fields.Next();  // not ours to read
    }
    return found;
}

// The methods of the catalogue.
void ExecUseAutozakaz(T_vk_object& vk) { RunRequest(vk, kUseAutozakaz); }
void ExecFindPosition(T_vk_object& vk) { RunRequest(vk, kFindPosition); }
void ExecGetPosition(T_vk_object& vk) { RunRequest(vk, kGetPosition); }
void ExecFindPacket(T_vk_object& vk) { RunRequest(vk, kFindPacket); }
void ExecFindAutoZakazFromFile(T_vk_object& vk) { RunRequest(vk, kFindAutoZakazFromFile); }
void ExecPreparePrice(T_vk_object& vk) { RunRequest(vk, kPreparePrice); }
void ExecClearCurrentZakaz(T_vk_object& vk) { RunRequest(vk, kClearCurrentZakaz); }
void ExecClearAutoZakaz(T_vk_object& vk) { RunRequest(vk, kClearAutoZakaz); }
void ExecCountPositionInZakaz(T_vk_object& vk) { RunRequest(vk, kCountPositionInZakaz); }
void ExecZakazInArhive(T_vk_object& vk) { RunRequest(vk, kZakazInArhive); }
void ExecSelectPositionFromZakaz(T_vk_object& vk) { RunRequest(vk, kSelectPositionFromZakaz); }

// Only ends a running wait, which may be on another thread; the result stays 0.
void ExecStopFind(T_vk_object& vk) { vk.Searching.store(0); }

}  // namespace kv
