// The desktop application link in one run: reading a FindPacket answer of 100,000 records
// against a single pass over the same text, and a whole request through the host protocol
// against the bare block operations it consists of. Prints both ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "addin/methods.h"
#include "component/protocol.h"
#include "link/requests.h"
#include "platform/backend.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kParseRounds = 21;
constexpr int kRequests = 20000;

using Clock = std::chrono::steady_clock;

template <typename F>
double MedianSeconds(int rounds, F&& run) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A desktop application inside the process that answers every message at once with "0".
class InstantDesktop final : public kv::DesktopChannel {
  public:
    std::vector<char> block = std::vector<char>(65536, '\0');
    InstantDesktop() { std::strcpy(block.data(), "0\t123456\t"); }
    uintptr_t OpenBlock(const std::string&, uint32_t) override { return 1; }
    View MapBlock(uintptr_t) override { return {block.data(), block.size()}; }
    void UnmapBlock(const View&) override {}
    void CloseBlock(uintptr_t) override {}
    std::vector<char> record = std::vector<char>(24, '\0');
    TurnObjects OpenTurn(const std::string&, const std::string&, uint32_t) override {
        TurnObjects turn;
        turn.mutex = 1;
        turn.record = {record.data(), record.size()};
        return turn;
    }
    TurnWait WaitForTurn(uintptr_t, uint32_t) override { return TurnWait::Taken; }
    void EndTurn(uintptr_t) override {}
    View HeldRecord() override { return {record.data(), record.size()}; }
    bool WindowExists(int32_t) override { return true; }
    void SendToWindow(int32_t, uint32_t, int32_t, int32_t) override {
        std::strcpy(block.data(), "0\t123456\t");
    }
    uint32_t TickCount() override { return 0; }
    void Pause(uint32_t) override {}
};

class Params final : public kv::ParamSource {
  public:
    bool Get(int32_t, kv::Variant&) const override { return false; }
};

volatile size_t g_sink = 0;

}  // namespace

int main() {
    // FindPacket answer: status, then records of nine fields, every other one found.
    std::string answer = "0";
    for (int i = 0; i < kRecords; ++i) {
        answer += i % 2 == 0 ? "\t1" : "\t0";
        answer += "\tname\tproducer\tdistributor\tintl\t12,5\t31.12.2026\t3\tD1";
    }
    int32_t found = 0;
    const double parse =
        MedianSeconds(kParseRounds, [&] { found = kv::CountFoundRecords(answer); });
    const double pass = MedianSeconds(kParseRounds, [&] {
        g_sink = g_sink + static_cast<size_t>(std::count(answer.begin(), answer.end(), '\t'));
    });
    std::printf("FindPacket answer: %d records, %zu bytes, %d found\n", kRecords, answer.size(),
                found);
    std::printf("  parse %.3f ms, single pass %.3f ms, ratio %.1f\n", parse * 1e3, pass * 1e3,
                parse / pass);

    // A request round trip: ZakazInArhive through the catalogue, against the same block
    // operations done by hand.
    InstantDesktop desktop;
    kv::Cp1251Codec codec;
    kv::Platform platform{codec,
                          kv::backend::Regional(),
                          kv::backend::SystemClock(),
                          kv::backend::Notices(),
                          kv::backend::Files(),
                          desktop,
                          kv::backend::Processes(),
                          kv::backend::Libraries()};
    kv::Protocol protocol(platform, nullptr, kv::AddinMethods());
    int32_t method = -1;
    protocol.FindMethod(u"ZakazInArhive", method);
    Params params;
    kv::Variant result;
    const double request = MedianSeconds(5, [&] {
        for (int i = 0; i < kRequests; ++i) protocol.CallAsFunc(method, result, &params);
    });
    // By hand: the same block operations, the handle field, the text and the status read.
    kv::DesktopChannel& channel = desktop;
    const double bare = MedianSeconds(5, [&] {
        for (int i = 0; i < kRequests; ++i) {
            const uintptr_t block = channel.OpenBlock("KelvarinMapFile", 4);
            const kv::DesktopChannel::View view = channel.MapBlock(block);
            const std::string before(view.data, strnlen(view.data, view.size));
            const std::string handle = before.substr(before.find('\t') + 1);
            const std::string text = "-1\t" + handle.substr(0, handle.find('\t'));
            std::memcpy(view.data, text.c_str(), text.size() + 1);
            channel.SendToWindow(std::atoi(handle.c_str()), 1035, 0, 0);
            const std::string after(view.data, strnlen(view.data, view.size));
            g_sink = g_sink + static_cast<size_t>(std::atoi(after.c_str()) >= 0);
            channel.UnmapBlock(view);
            channel.CloseBlock(block);
        }
    });
    std::printf("Request round trip (instant desktop, %d requests): result %lld\n", kRequests,
                static_cast<long long>(result.int_value()));
    std::printf("  request %.3f us, bare %.3f us, ratio %.1f\n", request / kRequests * 1e6,
                bare / kRequests * 1e6, request / bare);
    return 0;
}
