// The desktop link end to end: the registered DLL, created through its ProgID as 1C creates
// it, talking over the real shared block and real window messages to sim-kelvarin.exe running
// as a separate process. Arguments after the group: the DLL, the simulator, the price list.
#include <windows.h>
// After windows.h, whose types it uses.
#include <objbase.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "check.h"
#include "desktop_sim.h"

using namespace kvtest;

namespace {

const std::string& SimulatorExe() { return Argument(1); }
const std::string& Prices() { return Argument(2); }

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The request line of the simulator's log that names `message`, or empty.
std::string RequestLine(const Simulator& sim, int message) {
    std::string found;
    for (const std::string& line : sim.Requests()) {
        if (line.rfind("REQUEST " + std::to_string(message) + " ", 0) == 0) found = line;
    }
    return found;
}

// The VT_DATE of a calendar day, through the system's own conversion.
double DayNumber(WORD year, WORD month, WORD day) {
    SYSTEMTIME when{};
    when.wYear = year;
    when.wMonth = month;
    when.wDay = day;
    double date = 0;
    SystemTimeToVariantTime(&when, &date);
    return date;
}

// Every request type against a simulator with the sample price list, with answers that
// agree with one another: what FindPosition ordered is what the order requests count.
void Requests() {
    Simulator sim(SimulatorExe(), {"--prices", Prices()});
    if (!sim.WaitReady()) return;
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Таймаут", 3000);

    KV_CHECK_EQ(vk.Call("ПроверитьКелварин"), 1);

    // FindPosition(5, 0, "2"): the cheapest ibuprofen in stock, offer 4 of the list.
    vk.SetText("ТорговоеНаименование", "Ибупрофен");
    vk.SetText("НаименованиеПроизводителя", "");
    KV_CHECK_EQ(vk.Call("НайтиПозицию", {Session::Int(5), Session::Int(0), Session::Str("2")}), 4);
    KV_CHECK_EQ(vk.Int("PriceID"), 4);
    KV_CHECK_EQ(vk.Text("TradeName"), std::string("Ибупрофен табл. 200 мг №20"));
    KV_CHECK_EQ(vk.Text("Producer"), std::string("Волгамед"));
    KV_CHECK_EQ(vk.Text("DistribName"), std::string("МедСнаб"));
    KV_CHECK_EQ(vk.Text("IntlName"), std::string("Ibuprofen"));
    KV_CHECK_EQ(vk.Text("DistribCode"), std::string("MS-102"));
    KV_CHECK_EQ(vk.Real("Pprice", VT_R8), 45.0);
    KV_CHECK_EQ(vk.Real("UseByDate", VT_DATE), DayNumber(2036, 10, 31));
    KV_CHECK_EQ(vk.Int("Amount"), 2);
    const std::string find = RequestLine(sim, 1038);
    KV_CHECK(Contains(find, "FindPosition wParam=5 lParam=0 text=-1\\t"));
    KV_CHECK(Contains(find, "\\tИбупрофен\\t\\t\\t\\t0\\t\\t2"));

    // Nothing found: the texts are emptied, the result and PriceID are 0.
    vk.SetText("TradeName", "Несуществующее средство");
    KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(1), Session::Int(2), Session::Str("1")}), 0);
    KV_CHECK_EQ(vk.Int("PriceID"), 0);
    KV_CHECK_EQ(vk.Text("TradeName"), std::string());
    KV_CHECK(Contains(RequestLine(sim, 1038), "wParam=1 lParam=2"));

    KV_CHECK_EQ(vk.Call("КоличествоПозицийВТекущейЗаявке"), 1);
    KV_CHECK_EQ(vk.Call("GetPosition"), 4);
    KV_CHECK_EQ(vk.Call("ВыбратьПозицииЗаказа", {Session::Int(1)}), 2);
    KV_CHECK(Contains(RequestLine(sim, 1036), "wParam=1 lParam=0"));
    KV_CHECK_EQ(vk.Call("SelectPositionFromZakaz", {Session::Int(7)}), 0);

    vk.SetText("TradeName", "парацетамол");
    KV_CHECK_EQ(vk.Call("ПодготовитьПрайс"), 3);
    KV_CHECK_EQ(vk.Int("PriceID"), -1);

    // The automatic order: one position handed over, two goods from a file.
    vk.SetText("TradeName", "Лоратадин");
    vk.SetInt("Amount", 3);
    KV_CHECK_EQ(vk.Call("ПодобратьПозиции", {Session::Int(9)}), 1);
    KV_CHECK(sim.WaitLog("TAKEN"));
    KV_CHECK(Contains(RequestLine(sim, 1025), "wParam=9"));
    const std::string dir = TempDirectory("autozakaz");
    // Latin only: Wine here cannot map Cyrillic file names to the Unix side.
    const std::string file = dir + "\\Autozakaz.txt";
    {
        // 1C writes the file in the ANSI code page.
        const std::wstring lines = L"Цетиризин\t\t2\r\nНет такого\t\t1\r\nНатрия хлорид\t\t1\r\n";
        char text[256] = {};
        const int n =
            WideCharToMultiByte(CP_ACP, 0, lines.c_str(), -1, text, sizeof text, nullptr, nullptr);
        HANDLE out = CreateFileW(Utf16(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        KV_CHECK(out != INVALID_HANDLE_VALUE);
        DWORD written = 0;
        if (out != INVALID_HANDLE_VALUE) {
            WriteFile(out, text, static_cast<DWORD>(n - 1), &written, nullptr);
            CloseHandle(out);
        }
        KV_CHECK_EQ(written, static_cast<DWORD>(n - 1));
    }
    KV_CHECK_EQ(vk.Call("ПодобратьАвтозаказИзФайла", {Session::Str(file)}), 1);
    KV_CHECK_EQ(vk.Text("FileWithZakaz"), file);
    KV_CHECK_EQ(vk.Call("ОчиститьАвтозаявку"), 3);
    KV_CHECK_EQ(vk.Call("ClearAutoZakaz"), 0);

    // A packet of three goods, two of them in the price list.
    for (const char* good : {"Цетиризин", "Нет такого", "Аскорбиновая"}) {
        std::vector<Session::Arg> position = {Session::Str(good), Session::Str(""),
                                              Session::Str("1")};
        for (int i = 3; i < 10; ++i) position.push_back(Session::Str(""));
        vk.Call("ДобавитьПозициюВПакет", position);
    }
    KV_CHECK_EQ(vk.Call("ПодобратьПакет"), 2);
    KV_CHECK(Contains(RequestLine(sim, 1039), "wParam=3 lParam=0"));
    // The packet answer covers field 2: the window comes back a moment later.
    KV_CHECK(sim.WaitLog("RESTORED"));

    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 3);
    KV_CHECK_EQ(vk.Call("ЗаявкуВАрхив"), 3);
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 0);
    vk.SetText("TradeName", "Ибупрофен");
    KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")}), 4);
    KV_CHECK_EQ(vk.Call("ОчиститьТекущийЗаказ"), 1);
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 0);
    KV_CHECK_EQ(vk.Call("ПрерватьПоиск"), 0);

    // Each of the eleven messages reached the simulator.
    for (int message : {1025, 1031, 1032, 1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040}) {
        if (RequestLine(sim, message).empty()) {
            Fail(__FILE__, __LINE__, "no request " + std::to_string(message));
        }
    }
    KV_CHECK(vk.TakeErrors().empty());
    DeleteFileW(Utf16(file).c_str());
    RemoveDirectoryA(dir.c_str());
}

// A late answer: read when it comes within Timeout, -3 when it comes after.
void Late() {
    Simulator sim(SimulatorExe(), {"--prices", Prices(), "--delay-ms", "400"});
    if (!sim.WaitReady()) return;
    Session vk;
    if (!vk.ok()) return;
    vk.SetText("TradeName", "Лоратадин");
    vk.SetInt("Timeout", 3000);
    double start = NowMs();
    KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")}), 7);
    const double answered = NowMs() - start;
    KV_CHECK(answered >= 350 && answered < 2500);
    KV_CHECK_EQ(vk.Text("TradeName"), std::string("Лоратадин табл. 10 мг №10"));

    vk.SetInt("Timeout", 100);
    start = NowMs();
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), -3);
    const double gave_up = NowMs() - start;
    KV_CHECK(gave_up >= 100 && gave_up < 1000);
    KV_CHECK_EQ(vk.Int("PriceID"), -3);
    // The late answer still arrives; the next request finds the window again.
    KV_CHECK(sim.WaitLog("ANSWER 1\\t"));
    vk.SetInt("Timeout", 3000);
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 1);
}

// A simulator that never answers: every request ends with -3 after Timeout. Only the first is
// sent: each later one waits for the first one's answer, which never comes.
void Silent() {
    Simulator sim(SimulatorExe(), {"--silent"});
    if (!sim.WaitReady()) return;
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", 500);
    struct Case {
        const char* method;
        LONG price_id;
    };
    for (const Case& c : {Case{"FindPosition", -3}, Case{"ClearCurrentZakaz", -3},
                          Case{"GetPosition", -1}, Case{"ZakazInArhive", -1}}) {
        std::vector<Session::Arg> args;
        if (std::string(c.method) == "FindPosition") {
            args = {Session::Int(0), Session::Int(0), Session::Str("1")};
        }
        const double start = NowMs();
        KV_CHECK_EQ(vk.Call(c.method, args), -3);
        const double waited = NowMs() - start;
        if (waited < 500 || waited > 2000) {
            Fail(__FILE__, __LINE__, std::string(c.method) + " waited " + Show(waited) + " ms");
        }
        KV_CHECK_EQ(vk.Int("PriceID"), c.price_id);
    }
    // UseAutozakaz waits for no answer of its own, but writes into the block too.
    KV_CHECK_EQ(vk.Call("UseAutozakaz", {Session::Int(0)}), -3);
    KV_CHECK_EQ(vk.Int("PriceID"), -3);
    KV_CHECK_EQ(sim.Requests().size(), 1u);
    KV_CHECK(vk.TakeErrors().empty());
}

// Answers that are not what the layout says never crash the component: a status that is no
// number times out, and a block filled to its end without a zero byte is read up to its end.
void Garbage() {
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", 400);
    vk.SetText("TradeName", "Ибупрофен");
    {
        Simulator sim(SimulatorExe(), {"--prices", Prices(), "--garbage", "status"});
        if (!sim.WaitReady()) return;
        KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")}),
                    -3);
        KV_CHECK_EQ(vk.Text("TradeName"), std::string("Ибупрофен"));
    }
    {
        Simulator sim(SimulatorExe(),
                      {"--prices", Prices(), "--garbage", "fill", "--block-size", "8192"});
        if (!sim.WaitReady()) return;
        KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")}),
                    1);
        KV_CHECK_EQ(vk.Int("PriceID"), 1);
        // Fields of the filling: letters between tabs; price, date and quantity take their
        // defaults.
        KV_CHECK(!vk.Text("TradeName").empty());
        KV_CHECK_EQ(vk.Real("Pprice", VT_R8), 0.0);
        KV_CHECK_EQ(vk.Int("Amount"), 1);
    }
    KV_CHECK(vk.TakeErrors().empty());
}

// The simulator has gone but its block lives on (this test holds it): the window named in
// field 2 is dead, SendMessageA fails, and the request ends with -3. Without the block the
// component finds no window at all: 0 and PriceID -1.
void Stale() {
    Session vk;
    if (!vk.ok()) return;
    HANDLE block = nullptr;
    {
        Simulator sim(SimulatorExe(), {"--prices", Prices(), "--exit-after", "1"});
        if (!sim.WaitReady()) return;
        block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4,
                                   "KelvarinMapFile");
        KV_CHECK(block != nullptr && GetLastError() == ERROR_ALREADY_EXISTS);
        vk.SetInt("Timeout", 2000);
        KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 0);
        KV_CHECK(sim.Ended(5000));
    }
    vk.SetInt("Timeout", 300);
    const double start = NowMs();
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), -3);
    KV_CHECK(NowMs() - start >= 300);
    KV_CHECK_EQ(vk.Int("PriceID"), -3);
    CloseHandle(block);
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 0);
    KV_CHECK_EQ(vk.Int("PriceID"), -1);
    KV_CHECK_EQ(vk.Call("ПроверитьКелварин"), 0);
    KV_CHECK(vk.TakeErrors().empty());
}

// A request longer than the block is refused with an error in the host's log; nothing is
// written past the block and nothing is sent, and the next request that fits goes through.
void SmallBlock() {
    Simulator sim(SimulatorExe(), {"--prices", Prices(), "--block-size", "4096"});
    if (!sim.WaitReady()) return;
    KV_CHECK(Contains(sim.Log(), "block=4096"));
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", 2000);
    vk.SetText("TradeName", std::string(5000, 'A'));
    KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")}), 0);
    const std::vector<std::string> errors = vk.TakeErrors();
    KV_CHECK_EQ(errors.size(), 1u);
    KV_CHECK(sim.Requests().empty());
    // A packet whose request fits but whose answer would not: the simulator sends whole
    // records only, and the component counts what came.
    for (int i = 0; i < 100; ++i) {
        std::vector<Session::Arg> position = {Session::Str("Натрия хлорид"), Session::Str(""),
                                              Session::Str("1")};
        for (int k = 3; k < 10; ++k) position.push_back(Session::Str(""));
        vk.Call("AddPositionInPacket", position);
    }
    const LONG found = vk.Call("FindPacket");
    KV_CHECK(found > 0 && found < 100);
    KV_CHECK(sim.WaitLog("RESTORED"));
    vk.SetText("TradeName", "Ибупрофен");
    KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")}), 4);
    KV_CHECK(vk.TakeErrors().empty());
}

// A packet answer covers the window in field 2. FindPacket returns with its answer; a request
// that follows at once waits until the simulator has put its window back, and finds it. A
// request that a program without turns wrote meanwhile, with the record's number as its
// window, stays pending when the window is put back into it.
void PacketThenRequest() {
    Simulator sim(SimulatorExe(), {"--prices", Prices()});
    if (!sim.WaitReady()) return;
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", 3000);
    constexpr int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        vk.Call("ClearPacket");
        for (const char* good : {"Цетиризин", "Лоратадин"}) {
            std::vector<Session::Arg> position = {Session::Str(good), Session::Str(""),
                                                  Session::Str("1")};
            for (int k = 3; k < 10; ++k) position.push_back(Session::Str(""));
            vk.Call("AddPositionInPacket", position);
        }
        KV_CHECK_EQ(vk.Call("FindPacket"), 2);
        vk.SetText("TradeName", "Ибупрофен");
        KV_CHECK_EQ(vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")}),
                    4);
    }
    KV_CHECK_EQ(sim.Requests().size(), static_cast<size_t>(2 * kRounds));

    HANDLE block =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, "KelvarinMapFile");
    char* view = static_cast<char*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, 0));
    KV_CHECK(view != nullptr);
    if (view == nullptr) return;
    const auto write = [view](const std::string& text) {
        std::memcpy(view, text.c_str(), text.size() + 1);
    };
    const std::string window = std::to_string(reinterpret_cast<uintptr_t>(sim.window()));
    // Лоратадин is offer 7: its record's number lands in field 2.
    write("-1\tP\t\xCB\xEE\xF0\xE0\xF2\xE0\xE4\xE8\xED\t\t1" + std::string(8, '\t'));
    SendMessageA(sim.window(), WM_USER + 15, 1, 0);
    KV_CHECK_EQ(std::string(view).substr(0, 4), std::string("1\t7\t"));
    write("-1\t7\tP1");  // what a request that read field 2 now would write
    const auto restored = [&sim] {
        const std::string log = sim.Log();
        size_t count = 0;
        for (size_t at = log.find("RESTORED"); at != std::string::npos;
             at = log.find("RESTORED", at + 1)) {
            ++count;
        }
        return count;
    };
    for (int wait = 0; wait < 500 && restored() <= kRounds; ++wait) Sleep(10);
    KV_CHECK_EQ(restored(), static_cast<size_t>(kRounds + 1));
    KV_CHECK_EQ(std::string(view), "-1\t" + window + "\tP1");
    UnmapViewOfFile(view);
    CloseHandle(block);
    KV_CHECK_EQ(vk.Call("GetPosition"), 7);
    KV_CHECK(vk.TakeErrors().empty());
}

// StopFind from a second thread ends a wait at its next pass: result 0, PriceID -1.
void Stop() {
    Simulator sim(SimulatorExe(), {"--silent"});
    if (!sim.WaitReady()) return;
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", 20000);
    double stopped_at = 0;
    LONG stop_result = -1;
    std::thread stopper([&] {
        Sleep(400);
        stopped_at = NowMs();
        stop_result = vk.Call("StopFind");
    });
    const double start = NowMs();
    const LONG result =
        vk.Call("FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")});
    const double ended = NowMs();
    stopper.join();
    KV_CHECK_EQ(stop_result, 0);
    KV_CHECK_EQ(result, 0);
    KV_CHECK_EQ(vk.Int("PriceID"), -1);
    KV_CHECK(ended - start >= 350);
    // The wait notices the stop at its next look, 50 ms apart.
    if (ended - stopped_at > 500) {
        Fail(__FILE__, __LINE__,
             "the wait ended " + Show(ended - stopped_at) + " ms after StopFind");
    }
}

// CheckKelvarin counts running copies: none, one, two, none again.
void Presence() {
    Session vk;
    if (!vk.ok()) return;
    KV_CHECK_EQ(vk.Call("CheckKelvarin"), 0);
    {
        Simulator first(SimulatorExe(), {});
        if (!first.WaitReady()) return;
        KV_CHECK_EQ(vk.Call("CheckKelvarin"), 1);
        Simulator second(SimulatorExe(), {});
        if (!second.WaitReady()) return;
        KV_CHECK(Contains(second.Log(), "existed=1"));
        KV_CHECK_EQ(vk.Call("ПроверитьКелварин"), 2);
        first.Stop();
        KV_CHECK_EQ(vk.Call("CheckKelvarin"), 1);
    }
    KV_CHECK_EQ(vk.Call("CheckKelvarin"), 0);
    KV_CHECK(vk.TakeErrors().empty());
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {{"requests", Requests},
                           {"late", Late},
                           {"silent", Silent},
                           {"garbage", Garbage},
                           {"stale", Stale},
                           {"small_block", SmallBlock},
                           {"packet_then_request", PacketThenRequest},
                           {"stop", Stop},
                           {"presence", Presence}});
}
