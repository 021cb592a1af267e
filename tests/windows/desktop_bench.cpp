// The desktop link's cost over real processes, in one run against one simulator:
// FindPosition through the registered DLL against the bare round trip it is made of
// (CreateFileMappingA, MapViewOfFile, handle field, request, SendMessageA, answer read,
// release), the same bare round trip with and without the turn (its mutex and its record),
// FindPosition with the request trace on against the same with it off, and CheckKelvarin against a
// bare PSAPI enumeration with the same name test. The two sides are called in turn and the median
// call of each is compared. Arguments after the group: the DLL, the simulator, the price list, and
// optionally the number of round trips.
#include <windows.h>
// After windows.h, whose types they use.
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "check.h"
#include "desktop_sim.h"

using namespace kvtest;

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The turn as the component takes it: the mutex, and the record of an earlier request,
// mapped once and kept.
struct BareTurn {
    HANDLE mutex = nullptr;
    char* record = nullptr;
};

// One FindPosition as a bare program does it; the status of the answer. With a turn it takes
// the turn as the component does, before it reads the block, looks at the record of an earlier
// request, marks its own request outstanding around the message and clears that once the
// answer is read, and gives the turn up at the end.
int BareFindPosition(const std::string& request, const BareTurn* turn = nullptr) {
    char record[24];
    if (turn != nullptr) {
        WaitForSingleObject(turn->mutex, 0);
        std::memcpy(record, turn->record, sizeof record);
    }
    HANDLE block =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, "KelvarinMapFile");
    char* view = static_cast<char*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, 0));
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(view, &region, sizeof region);
    const char* tab = static_cast<const char*>(std::memchr(view, '\t', region.RegionSize));
    const auto window = reinterpret_cast<HWND>(
        static_cast<intptr_t>(std::strtol(tab != nullptr ? tab + 1 : view, nullptr, 10)));
    std::memcpy(view, request.c_str(), request.size() + 1);
    if (turn != nullptr) {
        record[4] = 1;
        std::memcpy(turn->record, record, sizeof record);
    }
    SendMessageA(window, WM_USER + 14, 0, 0);
    if (turn != nullptr) {
        const DWORD since = GetTickCount();
        std::memcpy(record + 20, &since, sizeof since);
        std::memcpy(turn->record, record, sizeof record);
    }
    const size_t length = strnlen(view, region.RegionSize);
    const std::string answer(view, length);
    if (turn != nullptr) {
        record[4] = 0;
        std::memcpy(turn->record, record, sizeof record);
        ReleaseMutex(turn->mutex);
    }
    UnmapViewOfFile(view);
    CloseHandle(block);
    return std::atoi(answer.c_str());
}

// The processes whose file name contains "kelvarin.exe", counted as a bare program does.
int BareCountKelvarin() {
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) {
        return 0;
    }
    int count = 0;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process == nullptr) continue;
        HMODULE module = nullptr;
        DWORD needed = 0;
        char path[MAX_PATH + 1] = {};
        if (EnumProcessModules(process, &module, sizeof module, &needed) &&
            GetModuleFileNameExA(process, module, path, sizeof path) > 0) {
            const char* name = std::max({std::strrchr(path, '\\'), std::strrchr(path, ':'), path});
            std::string lower(name);
            CharLowerBuffA(lower.data(), static_cast<DWORD>(lower.size()));
            if (lower.find("kelvarin.exe") != std::string::npos) ++count;
        }
        CloseHandle(process);
    }
    return count;
}

double Microseconds(const std::function<void()>& call) {
    const double start = NowMs();
    call();
    return (NowMs() - start) * 1000.0;
}

// Median microseconds of each side, the sides called in turn so that all see the same load.
std::vector<double> Alternating(int calls, const std::vector<std::function<void()>>& sides) {
    std::vector<std::vector<double>> times(sides.size());
    for (int i = 0; i < calls; ++i) {
        for (size_t s = 0; s < sides.size(); ++s) times[s].push_back(Microseconds(sides[s]));
    }
    std::vector<double> medians;
    for (const std::vector<double>& t : times) medians.push_back(Median(t));
    return medians;
}

void Bench() {
    const int calls = Argument(3).empty() ? 2000 : std::atoi(Argument(3).c_str());
    Simulator sim(Argument(1), {"--prices", Argument(2)});
    if (!sim.WaitReady()) return;
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", 1000);
    vk.SetText("TradeName", "Ибупрофен");
    const std::string request = "-1\t0\t\xC8\xE1\xF3\xEF\xF0\xEE\xF4\xE5\xED\t\t\t\t0\t\t0";

    // Both sides must get the same answer, or the comparison means nothing.
    KV_CHECK_EQ(BareFindPosition(request), 4);
    KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("0")}), 4);
    vk.SetText("TradeName", "Ибупрофен");
    KV_CHECK_EQ(BareCountKelvarin(), 1);
    KV_CHECK_EQ(vk.Call("CheckKelvarin"), 1);

    // A second object with the request trace on: the setting is read when an object is made.
    const std::string trace_dir = TempDirectory("bench-trace");
    const std::string trace_file = trace_dir + "\\trace.log";
    SetEnvironmentVariableA("KELVARINVK_TRACE", trace_file.c_str());
    Session traced;
    SetEnvironmentVariableA("KELVARINVK_TRACE", nullptr);
    if (!traced.ok()) return;
    traced.SetInt("Timeout", 1000);
    traced.SetText("TradeName", "Ибупрофен");

    // The turn is an operating-system mutex and a small mapped record: the bare program with the
    // same calls shows what they cost on this system.
    BareTurn turn;
    turn.mutex = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "KelvarinMapFile.Turn");
    HANDLE record =
        OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, "KelvarinMapFile.Outstanding");
    KV_CHECK(turn.mutex != nullptr && record != nullptr);  // made by the component's requests
    if (turn.mutex == nullptr || record == nullptr) return;
    turn.record = static_cast<char*>(MapViewOfFile(record, FILE_MAP_WRITE, 0, 0, 24));
    const std::vector<double> trip = Alternating(
        calls,
        {[&] {
             vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("0")});
         },
         [&] { BareFindPosition(request); }, [&] { BareFindPosition(request, &turn); },
         [&] {
             traced.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("0")});
         }});
    UnmapViewOfFile(turn.record);
    CloseHandle(record);
    CloseHandle(turn.mutex);
    const std::vector<double> enumeration = Alternating(
        calls / 40 + 5, {[&] { vk.Call("CheckKelvarin"); }, [] { BareCountKelvarin(); }});
    const double dll = trip[0], bare = trip[1], bare_turn = trip[2];
    std::printf(
        "FindPosition round trip: DLL %.1f us (%.0f/s), bare %.1f us (%.0f/s), ratio %.3f"
        " (goal <= 1.10)\n",
        dll, 1e6 / dll, bare, 1e6 / bare, dll / bare);
    std::printf(
        "The turn: bare with the turn and its record %.1f us, ratio %.3f against bare; DLL"
        " against bare with the turn %.3f\n",
        bare_turn, bare_turn / bare, dll / bare_turn);
    std::printf("CheckKelvarin: DLL %.1f us, bare enumeration %.1f us, ratio %.3f\n",
                enumeration[0], enumeration[1], enumeration[0] / enumeration[1]);
    // Every traced request is one line of the file: the cost is measured on what was written.
    // The run writes more than one file's limit, so the lines are counted in the file and in
    // the one it was rotated to.
    size_t lines = 0;
    for (const std::string& name : {trace_file, trace_file + ".1"}) {
        if (FILE* file = std::fopen(name.c_str(), "rb")) {
            for (int c; (c = std::fgetc(file)) != EOF;) lines += c == '\n';
            std::fclose(file);
        }
    }
    std::printf(
        "The request trace: FindPosition with the trace on %.1f us, off %.1f us: %.1f us added"
        " per request (%zu lines written)\n",
        trip[3], dll, trip[3] - dll, lines);
    std::fflush(stdout);
    KV_CHECK(lines >= static_cast<size_t>(calls));
    KV_CHECK(vk.TakeErrors().empty());
    KV_CHECK(traced.TakeErrors().empty());
    DeleteFileA(trace_file.c_str());
    DeleteFileA((trace_file + ".1").c_str());
    RemoveDirectoryA(trace_dir.c_str());
}

}  // namespace

int main(int argc, char** argv) { return RunInApartment(argc, argv, {{"bench", Bench}}); }
