// Several copies of the component on one workstation, as two or three 1C sessions run it: each
// copy is a process of its own with its own add-in instance, all against one sim-kelvarin.exe
// over the one shared block. Every request names goods that no other copy asks for, and a
// quantity that the nearest requests of its own copy do not ask for, so an answer meant for
// another request cannot pass for its own. The "late" groups run the simulator in its queue
// mode with answers after random delays of 0 to twice Timeout, so that many requests give up
// and their answers come while later requests are made. Arguments after the group: the DLL,
// the simulator, the price list.
#include <windows.h>
// After windows.h, whose types it uses.
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
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
// Timeout of the copies whose answers come late; the delays are 0 to twice this.
constexpr LONG kLateTimeout = 100;
// The one killed while its request is outstanding asks for the last good, which no copy asks
// for then; its answer comes this long after its message.
constexpr int kVictimAnswerMs = 3000;

// The goods of copy `copy` of `copies` among the first `pool`: every copies-th one, so no two
// copies share one.
std::vector<const Good*> GoodsOf(int copy, int copies, size_t pool) {
    std::vector<const Good*> goods;
    for (size_t i = static_cast<size_t>(copy); i < pool; i += static_cast<size_t>(copies)) {
        goods.push_back(&kGoods[i]);
    }
    return goods;
}

// How one FindPosition went.
enum class Answer { Own, Crossed, TimedOut, Other };

// Asks for `good` in `quantity` (every offer has at least 18 in stock, so the answer names it
// back).
Answer FindOwn(Session& vk, const Good& good, int quantity) {
    vk.SetText("TradeName", good.term);
    vk.SetText("Producer", "");
    const LONG result = vk.Call(
        "FindPosition", {Session::Int(5), Session::Int(0), Session::Str(std::to_string(quantity))});
    if (result == -3) return vk.Int("PriceID") == -3 ? Answer::TimedOut : Answer::Other;
    if (result <= 0) return Answer::Other;
    const bool own = result == good.offer && vk.Int("PriceID") == good.offer &&
                     vk.Text("TradeName").find(good.term) != std::string::npos &&
                     vk.Int("Amount") == quantity;
    return own ? Answer::Own : Answer::Crossed;
}

std::string Name(const char* kind) {
    return std::string("KelvarinVK-test-") + kind + "-" + std::to_string(GetCurrentProcessId());
}

// Child role: one copy. Arguments: copy number, copies, rounds, the ready semaphore, the start
// event, Timeout, the goods it may use (the first n), and "new" for a new add-in object for
// every request (as a configuration that makes one per use). Prints its counts; fails on an
// answer that is not its own and, with Timeout above kLateTimeout, on any but its own.
void Copy() {
    const int copy = std::atoi(Argument(0).c_str());
    const int copies = std::atoi(Argument(1).c_str());
    const int rounds = std::atoi(Argument(2).c_str());
    const LONG timeout = std::atol(Argument(5).c_str());
    const size_t pool = std::strtoul(Argument(6).c_str(), nullptr, 10);
    const bool per_use = Argument(7) == "new";
    if (copies <= 0 || rounds <= 0 || timeout <= 0 || pool == 0) {
        Fail(__FILE__, __LINE__,
             "copy needs: copy number, copies, rounds, semaphore, event, Timeout, goods");
        return;
    }
    auto vk = std::make_unique<Session>();
    if (!vk->ok()) return;
    const std::vector<const Good*> goods = GoodsOf(copy, copies, pool);
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, Argument(3).c_str());
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, Argument(4).c_str());
    KV_CHECK(ready != nullptr && go != nullptr);
    if (ready == nullptr || go == nullptr) return;
    ReleaseSemaphore(ready, 1, nullptr);
    KV_CHECK_EQ(WaitForSingleObject(go, 60000), WAIT_OBJECT_0);
    int counts[4] = {};
    int killed_copys = 0;
    for (int i = 0; i < rounds; ++i) {
        if (per_use && i > 0) {
            vk.reset();
            vk = std::make_unique<Session>();
            if (!vk->ok()) return;
        }
        vk->SetInt("Таймаут", timeout);
        // Quantities 1 to 17 in turn: 17 and the number of goods have no common divisor.
        const Answer answer =
            FindOwn(*vk, *goods[static_cast<size_t>(i) % goods.size()], 1 + i % 17);
        ++counts[static_cast<int>(answer)];
        // The killed copy's good is outside the pool: its offer's name tells its answer.
        const Good& killed = kGoods[kGoodCount - 1];
        if (answer == Answer::Crossed && pool < kGoodCount &&
            vk->Text("TradeName").find(killed.term) != std::string::npos) {
            ++killed_copys;
        }
    }
    std::printf("copy %d: own %d, crossed %d (the killed copy's %d), timed out %d, other %d\n",
                copy, counts[0], counts[1], killed_copys, counts[2], counts[3]);
    KV_CHECK_EQ(counts[static_cast<int>(Answer::Crossed)], 0);
    KV_CHECK_EQ(counts[static_cast<int>(Answer::Other)], 0);
    if (timeout > kLateTimeout) KV_CHECK_EQ(counts[static_cast<int>(Answer::Own)], rounds);
    KV_CHECK(vk->TakeErrors().empty());
    CloseHandle(ready);
    CloseHandle(go);
}

// Child role: a copy that waits a long time for its answer, until it is killed.
void Victim() {
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Таймаут", 600000);
    FindOwn(vk, kGoods[kGoodCount - 1], 1);
    Fail(__FILE__, __LINE__, "the request that was to be killed ended");
}

struct Run {
    int copies;
    int rounds = 500;
    bool late = false;
    bool per_use = false;
    size_t pool = kGoodCount;
    std::vector<std::string> simulator = {};  // more options
    // Before the copies start their requests, with them and the simulator ready; after they
    // have ended.
    std::function<bool(Simulator&)> before = {};
    std::function<void(Simulator&)> after = {};
};

// The copies of `run` start their requests at one moment; none reads another's answer. Their
// requests per second.
double AtOnce(const Run& run) {
    std::vector<std::string> options = {"--prices", Argument(2)};
    if (run.late) {
        options.insert(options.end(),
                       {"--queue", "--random-delay-ms", std::to_string(2 * kLateTimeout), "--seed",
                        std::to_string(run.copies)});
    }
    options.insert(options.end(), run.simulator.begin(), run.simulator.end());
    Simulator sim(Argument(1), options);
    if (!sim.WaitReady()) return 0;
    const std::string ready_name = Name("ready"), go_name = Name("go");
    HANDLE ready = CreateSemaphoreA(nullptr, 0, run.copies, ready_name.c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, go_name.c_str());
    std::vector<std::unique_ptr<Child>> children;
    const std::string timeout = std::to_string(run.late ? kLateTimeout : 15000);
    for (int c = 0; c < run.copies; ++c) {
        children.push_back(std::make_unique<Child>(
            "copy",
            std::vector<std::string>{std::to_string(c), std::to_string(run.copies),
                                     std::to_string(run.rounds), ready_name, go_name, timeout,
                                     std::to_string(run.pool), run.per_use ? "new" : "kept"}));
    }
    int up = 0;
    while (up < run.copies && WaitForSingleObject(ready, 60000) == WAIT_OBJECT_0) ++up;
    KV_CHECK_EQ(up, run.copies);
    if (run.before && !run.before(sim)) return 0;
    const size_t sent_before = sim.Requests().size();
    const double start = NowMs();
    SetEvent(go);
    int total[5] = {};
    for (auto& child : children) {
        KV_CHECK_EQ(child->Wait(600000), 0L);
        const std::string output = child->Output();
        std::printf("%s", output.c_str());
        int copy = 0, own = 0, crossed = 0, killed = 0, timed_out = 0, other = 0;
        const size_t line = output.find("copy ");
        if (line != std::string::npos &&
            std::sscanf(output.c_str() + line,
                        "copy %d: own %d, crossed %d (the killed copy's %d), timed out %d, other "
                        "%d",
                        &copy, &own, &crossed, &killed, &timed_out, &other) == 6) {
            total[0] += own, total[1] += crossed, total[2] += timed_out, total[3] += other;
            total[4] += killed;
        }
    }
    const double seconds = (NowMs() - start) / 1000.0;
    const int requests = run.copies * run.rounds;
    const size_t sent = sim.Requests().size() - sent_before;
    std::printf(
        "%d copies%s: %d requests in %.2f s, %.0f requests/s; own %d, crossed %d (the killed "
        "copy's %d), timed out %d, other %d; %zu sent\n",
        run.copies, run.late ? " with late answers" : "", requests, seconds, requests / seconds,
        total[0], total[1], total[4], total[2], total[3], sent);
    if (run.late) {
        // One that gives up while the answer before it is still to come is not sent. Most
        // give up, but some answers come in time: both paths are taken.
        KV_CHECK(sent <= static_cast<size_t>(requests));
        KV_CHECK(total[0] > 0);
    } else {
        KV_CHECK_EQ(sent, static_cast<size_t>(requests));
    }
    if (run.after) run.after(sim);
    CloseHandle(ready);
    CloseHandle(go);
    return requests / seconds;
}

void TwoCopies() { AtOnce({2}); }
void ThreeCopies() { AtOnce({3}); }
void LateOne() { AtOnce({1, 500, true, true}); }
void LateTwo() { AtOnce({2, 500, true}); }
void LateThree() { AtOnce({3, 500, true}); }

// For the desktop benchmark: what two copies at once get through, against one copy alone.
// Argument 3: requests per copy.
void Throughput() {
    const int rounds = Argument(3).empty() ? 2000 : std::atoi(Argument(3).c_str());
    const double one = AtOnce({1, rounds});
    const double two = AtOnce({2, rounds});
    std::printf(
        "FindPosition throughput: one copy %.0f/s, two copies at once %.0f/s together,"
        " ratio %.2f\n",
        one, two, two / one);
}

// Whether the simulator has answered a request for `good`.
bool Answered(const Simulator& sim, const char* good) {
    std::istringstream log(sim.Log());
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("ANSWER ", 0) == 0 && line.find(good) != std::string::npos) return true;
    }
    return false;
}

// A copy killed while its request is outstanding, whose answer comes 3 s after its message,
// while two other copies, ready before it was started, make their requests with late answers:
// neither takes it for its own.
// This process is a third copy that stays, as a 1C session beside them does: the record of
// the killed copy's request outlives it only while some copy holds the record.
void KilledCopy() {
    const char* const victim_good = kGoods[kGoodCount - 1].term;
    std::unique_ptr<Child> victim;
    Session stays;
    if (!stays.ok()) return;
    stays.SetInt("Таймаут", 3000);
    Run run{2, 150, true};
    run.pool = kGoodCount - 1;
    run.simulator = {"--late", AnsiOf(victim_good), std::to_string(kVictimAnswerMs)};
    run.before = [&](Simulator& sim) {
        KV_CHECK(stays.Call("CountPositionInZakaz") >= 0);
        victim = std::make_unique<Child>("victim", std::vector<std::string>{});
        if (!sim.WaitLog(victim_good, 30000)) {
            Fail(__FILE__, __LINE__, "the victim's request did not come: " + victim->Output());
            return false;
        }
        victim->Kill();
        // The others start before its answer has come.
        KV_CHECK(!Answered(sim, victim_good));
        return true;
    };
    run.after = [&](Simulator& sim) { KV_CHECK(Answered(sim, victim_good)); };
    AtOnce(run);
    KV_CHECK(stays.TakeErrors().empty());
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
                           {"late_one", LateOne},
                           {"late_two", LateTwo},
                           {"late_three", LateThree},
                           {"killed", KilledCopy},
                           {"throughput", Throughput}});
}
