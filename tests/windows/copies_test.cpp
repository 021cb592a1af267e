// Several copies of the component on one workstation, as two or three 1C sessions run it: each
// copy is a process of its own with its own add-in instance, all against one sim-kelvarin.exe
// over the one shared block. Every request names goods that no other copy asks for, so an
// answer meant for another copy cannot pass for one's own. Arguments after the group: the DLL,
// the simulator, the price list.
#include <windows.h>
// After windows.h, whose types it uses.
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "check.h"
#include "desktop_sim.h"

using namespace kvtest;

namespace {

// A search term of the sample price list and the offer it finds: the cheapest one in stock.
struct Good {
    const char* term;  // UTF-8; the trade name found contains it
    LONG offer;        // its number from 1, the status of the answer
};
const Good kGoods[] = {
    {"Парацетамол табл. 500", 2},
    {"Ибупрофен табл. 200", 4},
    {"Ибупрофен табл. 400", 5},
    {"Амоксициллин", 6},
    {"Лоратадин", 7},
    {"Аскорбиновая", 8},
    {"Цетиризин", 9},
    {"Натрия хлорид", 10},
};
constexpr size_t kGoodCount = sizeof kGoods / sizeof kGoods[0];
constexpr char kVictimGood[] = "VICTIM-NEVER-ANSWERED";

// The goods of copy `copy` of `copies`: every copies-th one, so no two copies share one.
std::vector<const Good*> GoodsOf(int copy, int copies) {
    std::vector<const Good*> goods;
    for (size_t i = static_cast<size_t>(copy); i < kGoodCount; i += static_cast<size_t>(copies)) {
        goods.push_back(&kGoods[i]);
    }
    return goods;
}

// How one FindPosition went.
enum class Answer { Own, Crossed, TimedOut, Other };

Answer FindOwn(Session& vk, const Good& good) {
    vk.SetText("TradeName", good.term);
    vk.SetText("Producer", "");
    const LONG result =
        vk.Call("FindPosition", {Session::Int(5), Session::Int(0), Session::Str("1")});
    if (result == -3) return Answer::TimedOut;
    if (result <= 0) return Answer::Other;
    const bool own = result == good.offer && vk.Int("PriceID") == good.offer &&
                     vk.Text("TradeName").find(good.term) != std::string::npos;
    return own ? Answer::Own : Answer::Crossed;
}

std::string Name(const char* kind) {
    return std::string("KelvarinVK-test-") + kind + "-" + std::to_string(GetCurrentProcessId());
}

// Child role: one copy. Arguments: copy number, copies, rounds, the ready semaphore and the
// start event. Prints its counts; fails on anything but its own answer.
void Copy() {
    const int copy = std::atoi(Argument(0).c_str());
    const int copies = std::atoi(Argument(1).c_str());
    const int rounds = std::atoi(Argument(2).c_str());
    if (copies <= 0 || rounds <= 0) {
        Fail(__FILE__, __LINE__, "copy needs: copy number, copies, rounds, semaphore, event");
        return;
    }
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Таймаут", 15000);
    const std::vector<const Good*> goods = GoodsOf(copy, copies);
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, Argument(3).c_str());
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, Argument(4).c_str());
    KV_CHECK(ready != nullptr && go != nullptr);
    if (ready == nullptr || go == nullptr) return;
    ReleaseSemaphore(ready, 1, nullptr);
    KV_CHECK_EQ(WaitForSingleObject(go, 60000), WAIT_OBJECT_0);
    int counts[4] = {};
    for (int i = 0; i < rounds; ++i) {
        ++counts[static_cast<int>(FindOwn(vk, *goods[static_cast<size_t>(i) % goods.size()]))];
    }
    std::printf("copy %d: own %d, crossed %d, timed out %d, other %d\n", copy, counts[0], counts[1],
                counts[2], counts[3]);
    KV_CHECK_EQ(counts[static_cast<int>(Answer::Own)], rounds);
    KV_CHECK(vk.TakeErrors().empty());
    CloseHandle(ready);
    CloseHandle(go);
}

// Child role: a copy whose request is never answered, so that it holds its turn until killed.
void Victim() {
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Таймаут", 600000);
    vk.SetText("TradeName", kVictimGood);
    vk.Call("FindPosition", {Session::Int(5), Session::Int(0), Session::Str("1")});
    Fail(__FILE__, __LINE__, "the request that nobody answers ended");
}

// `copies` processes start `rounds` requests each at one moment; none reads another's answer.
// Requests per second of them all.
double AtOnce(int copies, int rounds = 500) {
    Simulator sim(Argument(1), {"--prices", Argument(2)});
    if (!sim.WaitReady()) return 0;
    const std::string ready_name = Name("ready"), go_name = Name("go");
    HANDLE ready = CreateSemaphoreA(nullptr, 0, copies, ready_name.c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, go_name.c_str());
    std::vector<std::unique_ptr<Child>> children;
    for (int c = 0; c < copies; ++c) {
        children.push_back(std::make_unique<Child>(
            "copy", std::vector<std::string>{std::to_string(c), std::to_string(copies),
                                             std::to_string(rounds), ready_name, go_name}));
    }
    int up = 0;
    while (up < copies && WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0) ++up;
    KV_CHECK_EQ(up, copies);
    const double start = NowMs();
    SetEvent(go);
    for (auto& child : children) {
        KV_CHECK_EQ(child->Wait(300000), 0L);
        std::printf("%s", child->Output().c_str());
    }
    const double seconds = (NowMs() - start) / 1000.0;
    std::printf("%d copies: %d requests in %.2f s, %.0f requests/s\n", copies, copies * rounds,
                seconds, copies * rounds / seconds);
    KV_CHECK_EQ(sim.Requests().size(), static_cast<size_t>(copies * rounds));
    CloseHandle(ready);
    CloseHandle(go);
    return copies * rounds / seconds;
}

void TwoCopies() { AtOnce(2); }
void ThreeCopies() { AtOnce(3); }

// For the desktop benchmark: what two copies at once get through, against one copy alone.
// Argument 3: requests per copy.
void Throughput() {
    const int rounds = Argument(3).empty() ? 2000 : std::atoi(Argument(3).c_str());
    const double one = AtOnce(1, rounds);
    const double two = AtOnce(2, rounds);
    std::printf(
        "FindPosition throughput: one copy %.0f/s, two copies at once %.0f/s together,"
        " ratio %.2f\n",
        one, two, two / one);
}

// A copy killed while it holds its turn: the others wait no longer than their Timeout for it,
// and take their turns once it is gone.
void KilledCopy() {
    Simulator sim(Argument(1), {"--prices", Argument(2), "--ignore", kVictimGood});
    if (!sim.WaitReady()) return;
    Child victim("victim", {});
    if (!sim.WaitLog("IGNORED", 30000)) {
        Fail(__FILE__, __LINE__, "the victim's request did not come: " + victim.Output());
        return;
    }
    Session vk;
    if (!vk.ok()) return;
    const Good& good = kGoods[6];
    constexpr LONG kTimeout = 1000;
    vk.SetInt("Таймаут", kTimeout);
    double start = NowMs();
    KV_CHECK(FindOwn(vk, good) == Answer::TimedOut);
    const double waited = NowMs() - start;
    KV_CHECK(waited >= kTimeout - 20);
    KV_CHECK(waited < kTimeout + 3000);
    KV_CHECK_EQ(vk.Int("PriceID"), -3);
    KV_CHECK_EQ(sim.Requests().size(), size_t{1});  // nothing was sent out of turn

    victim.Kill();
    for (int i = 0; i < 20; ++i) {
        start = NowMs();
        KV_CHECK(FindOwn(vk, good) == Answer::Own);
        KV_CHECK(NowMs() - start < kTimeout);
    }
    KV_CHECK(vk.TakeErrors().empty());
}

}  // namespace

int main(int argc, char** argv) {
    // The child roles: copies started by the groups below, not tests of their own.
    if (argc > 1 && (std::strcmp(argv[1], "copy") == 0 || std::strcmp(argv[1], "victim") == 0)) {
        return RunInApartment(argc, argv, {{"copy", Copy}, {"victim", Victim}});
    }
    return RunInApartment(argc, argv,
                          {{"two", TwoCopies},
                           {"three", ThreeCopies},
                           {"killed", KilledCopy},
                           {"throughput", Throughput}});
}
