// The host protocol driven by a byte stream: member names and numbers, property values,
// parameter arrays and method calls in any order, with a desktop application, files and
// processes that are all fakes. The first byte chooses whether the host gave an error log and
// how large the block is; then each step is an operation byte and its operands:
//   0 FindProp and 1 FindMethod (a name), 2 GetPropVal (a number), 3 SetPropVal (a number and
//   a value), 4 GetNParams (a number), 5 CallAsFunc (a number and up to 11 values), 6 new block
//   text, 7 how the desktop application behaves next, 8 a new time of day.
// After every step: nothing borrowed or opened is left behind, no wait is left running, and
// every entry of the error log is one the host can show.
#include <cmath>

#include "common/variant.h"
#include "component/catalogue.h"
#include "fuzz_support.h"

using namespace kv;
using kv::fuzz::Check;

namespace {

// The parameter counts of the 21 methods, as the catalogue documents them.
constexpr int32_t kParamCounts[kMethodCount] = {0, 0, 1, 0, 1, 0, 0, 3,  2, 0, 0,
                                                0, 0, 0, 1, 0, 2, 0, 10, 0, 1};

std::string AnsiOf(fuzz::Input& in) { return std::string(in.Take(in.Byte() % 48)); }

Variant ValueOf(fuzz::Input& in, const Cp1251Codec& codec) {
    switch (in.Byte() % 14) {
        case 0:
            return Variant();
        case 1:
            return Variant::Null();
        case 2:
            return Variant::Int32(in.Number<int32_t>());
        case 3:
            return Variant::Int32(static_cast<int8_t>(in.Byte()));
        case 4: {
            const double v = in.Number<double>();
            return Variant::Double(v);
        }
        case 5:
        case 6:
            return Variant::Text(codec.ToUtf16(AnsiOf(in)));
        case 7:
            return Variant::Bool((in.Byte() & 1) != 0);
        case 8:
            return Variant::Date(static_cast<double>(in.Number<int32_t>()) / 16.0);
        case 9:
            return Variant::Currency(in.Number<int64_t>());
        case 10:
            return Variant::Signed(VarType::I8, in.Number<int64_t>());
        case 11:
            return Variant::Unsigned(VarType::UI4, in.Number<uint32_t>());
        case 12:
            return Variant::Opaque(VarType::Dispatch);
        default:
            return Variant::Real(VarType::R4, static_cast<double>(in.Number<float>()));
    }
}

// A member number: mostly one of the members, sometimes with high bits or past the last.
int32_t NumberOf(fuzz::Input& in) {
    const uint8_t b = in.Byte();
    if (b < 200) return b % 21;
    if (b < 240) return static_cast<int32_t>(static_cast<uint32_t>(b % 21) | (in.Byte() << 8));
    return in.Number<int32_t>();
}

// A member name: one of the 84 names, maybe with a character changed, or any text.
std::u16string NameOf(fuzz::Input& in, const Cp1251Codec& codec) {
    const uint8_t b = in.Byte();
    std::string name;
    if (b < 168) {
        const int member = b / 4 % 21;
        const bool method = b % 4 >= 2;
        name = b % 2 == 0 ? (method ? MethodRussianName(member) : PropertyRussianName(member))
                          : (method ? MethodAt(member).english : PropertyAt(member).english);
        const uint8_t change = in.Byte();
        if (change >= 192 && !name.empty()) name[change % name.size()] ^= 0x20;
    } else {
        name = AnsiOf(in);
    }
    return codec.ToUtf16(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const uint8_t setup = in.Byte();
    fuzz::FuzzPlatform os;
    fuzz::FuzzDesktop& desk = os.desktop;
    desk.block.assign(16 + (setup >> 1) * 8u, '#');
    const std::string announcement = "0\t123456\t";
    std::copy(announcement.begin(), announcement.end(), desk.block.begin());
    desk.block[announcement.size()] = '\0';
    desk.answer = "1\t123456\t";

    fuzz::RecordingErrors errors;
    Protocol protocol(os.platform, (setup & 1) != 0 ? &errors : nullptr, AddinMethods());
    T_vk_object& vk = protocol.object();
    desk.searching = &vk.Searching;

    std::string trace;
    const auto detail = [&] { return "steps: " + trace; };
    for (int step = 0; step < 48 && !in.empty(); ++step) {
        const uint8_t op = in.Byte() % 9;
        trace += std::to_string(op) + " ";
        desk.pauses = 0;
        switch (op) {
            case 0:
            case 1: {
                const std::u16string name = NameOf(in, os.codec);
                int32_t number = 7;
                const int32_t answer =
                    op == 0 ? protocol.FindProp(name, number) : protocol.FindMethod(name, number);
                if (answer == kS_OK) {
                    Check(number >= 0 && number < 21, "a name found gives a member", detail);
                    const std::string ansi = os.codec.ToAnsi(name);
                    const bool named = op == 0 ? (ansi == PropertyRussianName(number) ||
                                                  ansi == PropertyAt(number).english)
                                               : (ansi == MethodRussianName(number) ||
                                                  ansi == MethodAt(number).english);
                    Check(named, "a name found is the member's Russian or English name", detail);
                } else {
                    Check(answer == kS_FALSE && number == -1, "a name not found gives -1", detail);
                }
                break;
            }
            case 2: {
                const int32_t number = NumberOf(in);
                Variant value = Variant::Int32(99);
                const int32_t answer = protocol.GetPropVal(number, value);
                const bool member = (static_cast<uint32_t>(number) & 0xFF) < 21;
                Check(answer == (member ? kS_OK : kS_FALSE), "a property read answers", detail);
                if (!member) Check(value.type() == VarType::Empty, "no member reads as empty");
                break;
            }
            case 3: {
                const int32_t number = NumberOf(in);
                const int32_t answer = protocol.SetPropVal(number, ValueOf(in, os.codec));
                Check(answer == kS_OK || answer == kS_FALSE, "a property write answers", detail);
                break;
            }
            case 4: {
                const int32_t number = NumberOf(in);
                int32_t count = -1;
                Check(protocol.GetNParams(number, count) == kS_OK, "GetNParams answers S_OK");
                const uint32_t low = static_cast<uint32_t>(number) & 0xFF;
                Check(count == (low < 21 ? kParamCounts[low] : 0), "the parameter count", detail);
                break;
            }
            case 5: {
                const int32_t number = NumberOf(in);
                fuzz::VectorParams params;
                const int count = in.Byte() % 12;
                for (int i = 0; i < count; ++i) params.values.push_back(ValueOf(in, os.codec));
                // How long StopFind takes to come, if at all, and how busy the turn is.
                const uint8_t timing = in.Byte();
                // Without StopFind, Timeout ends every wait: pauses of 17 minutes make even
                // the longest one end within 2048 pauses.
                desk.stop_after_pauses = timing < 128 ? timing % 8 : -1;
                desk.pause_ticks = timing < 128 ? 0 : 1u << 20;
                desk.busy_turn_waits = timing % 5 == 0 ? timing % 40 : 0;
                Variant result = Variant::Double(1.5);
                const size_t errors_before = errors.records.size();
                const bool member = (static_cast<uint32_t>(number) & 0xFF) < 21;
                Check(protocol.CallAsFunc(number, result, &params) == (member ? kS_OK : kS_FALSE),
                      "a method call answers S_OK, S_FALSE when it names no method", detail);
                Check(result.type() == VarType::I4 || result.type() == VarType::Bstr,
                      "a method's result is an integer or a text", detail);
                if (!member || errors.records.size() > errors_before) {
                    Check(result == Variant::Int32(0), "a call that fails or names nothing gives 0",
                          detail);
                }
                trace += "(" + std::to_string(number) + ") ";
                break;
            }
            case 6: {
                const std::string_view text = in.Take(in.Byte());
                const size_t n = std::min(text.size(), desk.block.size());
                std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n),
                          desk.block.begin());
                if (n < desk.block.size() && (in.Byte() & 1) == 0) desk.block[n] = '\0';
                break;
            }
            case 7: {
                const uint8_t how = in.Byte();
                desk.answers = (how & 1) == 0;
                desk.answer_after_pauses = (how >> 1) & 3;
                desk.window_back_after_pauses = (how & 8) != 0 ? (how >> 4) & 3 : -1;
                desk.open_fails = how == 0xF0;
                desk.map_fails = how == 0xF1;
                desk.turn_open_fails = how == 0xF2;
                desk.turn_abandoned = how == 0xF3;
                desk.answer = std::string(in.Take(in.Byte()));
                break;
            }
            case 8: {
                double day_count = in.Number<double>();
                if (!std::isfinite(day_count)) day_count = 0;
                os.clock.now = FromOleDate(day_count);
                break;
            }
        }
        Check(vk.Params == nullptr, "the parameter array is not kept past its call", detail);
        Check(vk.Searching.load() == 0, "no wait outlives its call", detail);
        Check(vk.MapHandle == 0, "no block handle outlives its call", detail);
        desk.CheckReleased();
        for (const ErrorRecord& record : errors.records) {
            Check(record.wCode == kErrorCode && record.source == u"KelvarinVK" &&
                      record.scode == kE_FAIL &&
                      !TrimControl(os.codec.ToAnsi(record.description)).empty(),
                  "an error log entry has its code, source and a text", detail);
        }
        errors.records.clear();
    }
    return 0;
}
