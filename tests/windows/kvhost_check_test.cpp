// kvhost --check against real causes: each case sets up one fault (or none), runs kvhost and
// requires its exit code and that the lines marked FAIL name the cause. kvhost_check_test.sh
// creates the registry database and, for the login, a Firebird server of its own.
// Arguments after the group: kvhost, the other architecture's kvhost, the DLL, the simulator,
// the price list, the bridge's gds32.dll, a library that needs a DLL that is nowhere, a
// library of the other processor, the database (a Windows path) and its address through the
// server ("-" when none runs).
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

const std::string& Kvhost() { return Argument(0); }
const std::string& OtherKvhost() { return Argument(1); }
const std::string& Dll() { return Argument(2); }
const std::string& SimulatorExe() { return Argument(3); }
const std::string& Prices() { return Argument(4); }
const std::string& Bridge() { return Argument(5); }
const std::string& NeedsAbsent() { return Argument(6); }
const std::string& OtherBitnessLibrary() { return Argument(7); }
const std::string& Database() { return Argument(8); }
const std::string& ServerAddress() { return Argument(9); }

// What runs beside kvhost while it checks. A read-only block is one made from a file that
// cannot be written, which can be opened but not mapped for writing.
enum class Desktop { None, Running, Silent, Stale, ReadOnlyBlock };

// What a 1C session beside it did just before: a request whose answer or window has not come
// back yet when kvhost starts. The session stays while kvhost checks, as 1C would.
enum class Earlier { None, Packet, LateAnswer, NoAnswer };

struct Case {
    const char* name;
    std::vector<std::string> settings;  // NAME=VALUE for --set
    Desktop desktop;
    long exit_code;
    std::vector<std::string> fails;  // each must be in some FAIL line
    bool other_kvhost = false;
    bool russian = false;
    Earlier earlier = Earlier::None;
    std::vector<std::string> oks = {};      // each must be in some OK line
    bool turn_taken_by_an_event = false;    // another kind of object has the turn's name
    std::vector<std::string> options = {};  // more of kvhost's arguments
    std::string program = {};               // another kvhost.exe than the build's
};

// The goods of the earlier request whose answer comes late or never: offer 5 of the price list.
constexpr char kLateGood[] = "Ибупрофен табл. 400";

// Child role: the 1C session of Earlier. Arguments: its method (FindPacket or FindPosition),
// Timeout. Prints "DONE" after the request, then stays until it is ended.
void EarlierRequest() {
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", std::atol(Argument(1).c_str()));
    if (Argument(0) == "FindPacket") {
        std::vector<Session::Arg> position = {Session::Str("Лоратадин"), Session::Str(""),
                                              Session::Str("1")};
        for (int k = 3; k < 10; ++k) position.push_back(Session::Str(""));
        vk.Call("AddPositionInPacket", position);
        std::printf("result %ld\n", static_cast<long>(vk.Call("FindPacket")));
    } else {
        vk.SetText("TradeName", kLateGood);
        std::printf("result %ld\n",
                    static_cast<long>(vk.Call(
                        "FindPosition", {Session::Int(0), Session::Int(0), Session::Str("1")})));
    }
    std::printf("DONE\n");
    std::fflush(stdout);
    Sleep(INFINITE);
}

// The settings under which every group but the one a case breaks passes.
std::vector<std::string> Healthy(std::vector<std::string> changes = {}) {
    std::vector<std::string> settings = {"DLLName=" + Bridge(), "BaseName=" + Database(),
                                         "Timeout=3000"};
    settings.insert(settings.end(), changes.begin(), changes.end());
    return settings;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void RunCase(const Case& c) {
    std::vector<std::string> args = {"--check"};
    for (const std::string& arg : KvhostAddInArguments()) args.push_back(arg);
    if (!c.russian) args.insert(args.end(), {"--lang", "en"});
    for (const std::string& setting : c.settings) args.insert(args.end(), {"--set", setting});
    args.insert(args.end(), c.options.begin(), c.options.end());

    HANDLE held_block = nullptr;
    std::vector<std::string> sim_args = {"--prices", Prices()};
    if (c.desktop == Desktop::Silent) sim_args.push_back("--silent");
    // The packet's answer covers field 2 for 2 s; the late answer comes after 2 s.
    if (c.earlier == Earlier::Packet) sim_args.insert(sim_args.end(), {"--restore-ms", "2000"});
    if (c.earlier == Earlier::LateAnswer) {
        sim_args.insert(sim_args.end(), {"--queue", "--late", AnsiOf(kLateGood), "2000"});
    }
    if (c.earlier == Earlier::NoAnswer) {
        sim_args.insert(sim_args.end(), {"--ignore", AnsiOf(kLateGood)});
    }
    std::unique_ptr<Simulator> sim;
    if (c.desktop != Desktop::None && c.desktop != Desktop::ReadOnlyBlock) {
        sim = std::make_unique<Simulator>(SimulatorExe(), sim_args);
        if (!sim->WaitReady()) return;
    }
    if (c.desktop == Desktop::Stale) {
        // The simulator goes, its block stays: this program holds it, field 2 names its window.
        held_block = OpenFileMappingA(FILE_MAP_READ, FALSE, "KelvarinMapFile");
        KV_CHECK(held_block != nullptr);
        sim.reset();
    }
    std::string read_only_file;
    if (c.desktop == Desktop::ReadOnlyBlock) {
        read_only_file = TempDirectory("read-only-block") + "\\block.bin";
        HANDLE file = CreateFileA(read_only_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        const char zeros[4096] = {};
        DWORD written = 0;
        WriteFile(file, zeros, sizeof zeros, &written, nullptr);
        CloseHandle(file);
        file = CreateFileA(read_only_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        held_block = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, "KelvarinMapFile");
        CloseHandle(file);
        KV_CHECK(held_block != nullptr);
    }
    HANDLE squatter = c.turn_taken_by_an_event
                          ? CreateEventA(nullptr, FALSE, FALSE, "KelvarinMapFile.Turn")
                          : nullptr;
    std::unique_ptr<Child> session;
    if (c.earlier != Earlier::None) {
        session = std::make_unique<Child>(
            "earlier",
            std::vector<std::string>{c.earlier == Earlier::Packet ? "FindPacket" : "FindPosition",
                                     c.earlier == Earlier::Packet ? "3000" : "100"});
        for (int wait = 0; wait < 1500 && session->Output().find("DONE") == std::string::npos;
             ++wait) {
            Sleep(10);
        }
        KV_CHECK(session->Output().find("DONE") != std::string::npos);
    }

    const std::string& program = !c.program.empty() ? c.program
                                 : c.other_kvhost   ? OtherKvhost()
                                                    : Kvhost();
    Child kvhost(Child::Program{program}, args);
    const long code = kvhost.Wait(60000);
    const std::string output = kvhost.Output();
    std::printf("--- %s: kvhost said (exit code %ld):\n%s", c.name, code, output.c_str());
    session.reset();
    if (squatter != nullptr) CloseHandle(squatter);
    if (held_block != nullptr) CloseHandle(held_block);
    if (!read_only_file.empty()) {
        DeleteFileA(read_only_file.c_str());
        RemoveDirectoryA(read_only_file.substr(0, read_only_file.rfind('\\')).c_str());
    }
    sim.reset();

    bool well_formed = code == c.exit_code;
    std::vector<std::string> fails, oks;
    for (const std::string& line : Lines(output)) {
        if (line.rfind("FAIL  ", 0) == 0) fails.push_back(line);
        if (line.rfind("OK    ", 0) == 0) oks.push_back(line);
    }
    for (const std::string& expected : c.oks) {
        bool found = false;
        for (const std::string& line : oks)
            found = found || line.find(expected) != std::string::npos;
        if (!found) {
            Fail(__FILE__, __LINE__, std::string(c.name) + ": no OK line says " + Show(expected));
            well_formed = false;
        }
    }
    if (c.exit_code == 0 && !fails.empty()) well_formed = false;
    if (c.exit_code == 0 && output.find("SKIP  ") != std::string::npos) well_formed = false;
    if (c.russian && output.find("все проверки пройдены") == std::string::npos) well_formed = false;
    // kvhost writes the password, and never shows it.
    for (const std::string& setting : c.settings) {
        if (setting.rfind("UserPass=", 0) == 0 &&
            output.find(setting.substr(9)) != std::string::npos) {
            Fail(__FILE__, __LINE__, std::string(c.name) + ": the password is in the output");
        }
    }
    for (const std::string& expected : c.fails) {
        bool found = false;
        for (const std::string& line : fails) {
            found = found || line.find(expected) != std::string::npos;
        }
        if (!found) {
            Fail(__FILE__, __LINE__, std::string(c.name) + ": no FAIL line says " + Show(expected));
            well_formed = false;
        }
    }
    if (!well_formed) {
        Fail(__FILE__, __LINE__,
             std::string(c.name) + ": exit code " + Show(code) + ", expected " + Show(c.exit_code) +
                 "; kvhost said:\n" + output);
    }
}

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) RunCase(c);
}

// Calls the DLL's own registration entry, as regsvr32 does.
bool CallRegistration(const char* entry) {
    HMODULE dll = LoadLibraryA(Dll().c_str());
    if (dll == nullptr) return false;
    using Fn = HRESULT(STDAPICALLTYPE*)();
    const auto call =
        reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, entry)));
    const bool done = call != nullptr && SUCCEEDED(call());
    FreeLibrary(dll);
    return done;
}

void Registration() {
    // The tier registered the DLL for the machine: it is taken away for this case, and back.
    KV_CHECK(CallRegistration("DllUnregisterServer"));
    RunCases({{"unregistered",
               Healthy(),
               Desktop::Running,
               1,
               {"AddIn.KelvarinVK is registered neither for the current user nor for the machine",
                "the class is not registered"}}});
    KV_CHECK(CallRegistration("DllRegisterServer"));
}

// A kvhost of the other architecture finds the registration in the other registry view only,
// and a DLL it cannot load.
void OtherBitness() {
    if (GetFileAttributesA(OtherKvhost().c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("%s is not built: build the other architecture's preset first\n",
                    OtherKvhost().c_str());
        std::fflush(stdout);
        std::exit(77);
    }
    const int own = sizeof(void*) * 8;
    const std::string other = std::to_string(own == 64 ? 32 : 64);
    // The COM add-in is looked for in the registry; the Native API one is loaded from its file.
    const std::vector<std::string> fails =
        TestedShell() == kvhost::Shell::Com
            ? std::vector<std::string>{"in the " + std::to_string(own) + "-bit registry view only",
                                       "the DLL is " + std::to_string(own) + "-bit, kvhost is " +
                                           other + "-bit"}
            : std::vector<std::string>{"the DLL is " + std::to_string(own) + "-bit, kvhost is " +
                                           other + "-bit: a " + other + "-bit 1C client loads",
                                       "the DLL is of the other bitness"};
    RunCases({{"other kvhost", Healthy(), Desktop::Running, 1, fails, true}});
}

// A process named as the executable of the 1C that loads the tested add-in (1cv7.exe for the
// COM one, 1cv8.exe for the Native API one), from `folder`: a copy of this program that waits
// to be killed.
class OneC {
  public:
    explicit OneC(const std::string& folder) {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, sizeof self);
        const std::string exe =
            folder + (TestedShell() == kvhost::Shell::Com ? "\\1cv7.exe" : "\\1cv8.exe");
        KV_CHECK(CopyFileA(self, exe.c_str(), FALSE));
        process_ = std::make_unique<Child>(Child::Program{exe}, std::vector<std::string>{"idle"});
        // Up once it has said so: the process list names its file from then on.
        for (int i = 0; i < 200 && process_->Output().find("IDLE") == std::string::npos; ++i) {
            Sleep(50);
        }
        KV_CHECK(process_->Output().find("IDLE") != std::string::npos);
    }

  private:
    std::unique_ptr<Child> process_;
};

void Idle() {
    std::printf("IDLE\n");
    std::fflush(stdout);
    Sleep(120000);
}

void Library() {
    // The client library where 1C looks for it, and only there: 1C's folder, given or that of
    // a running 1cv7.exe, not kvhost's folder.
    const std::string dir = TempDirectory("check-1c");
    const std::string lone_kvhost = dir + "\\kvhost", empty_one_c = dir + "\\empty",
                      one_c = dir + "\\1c";
    // Wine hands out process numbers again, and so the names of an earlier run's folders.
    for (const std::string& folder : {lone_kvhost, empty_one_c, one_c}) {
        KV_CHECK(CreateDirectoryA(folder.c_str(), nullptr) ||
                 GetLastError() == ERROR_ALREADY_EXISTS);
    }
    KV_CHECK(CopyFileA(Kvhost().c_str(), (lone_kvhost + "\\kvhost.exe").c_str(), FALSE));
    // With it the proxy through which it loads a Native API add-in.
    const std::string proxy = Kvhost().substr(0, Kvhost().find_last_of("\\/") + 1) + "kvnative.dll";
    KV_CHECK(CopyFileA(proxy.c_str(), (lone_kvhost + "\\kvnative.dll").c_str(), FALSE));
    KV_CHECK(CopyFileA(Bridge().c_str(), (lone_kvhost + "\\gds32.dll").c_str(), FALSE));
    KV_CHECK(CopyFileA(Bridge().c_str(), (one_c + "\\gds32.dll").c_str(), FALSE));
    RunCases({
        {"beside kvhost only",
         Healthy({"DLLName=gds32.dll"}),
         Desktop::Running,
         3,
         {"gds32.dll was not found where 1C looks for it (" + empty_one_c + ";"},
         false,
         false,
         Earlier::None,
         {},
         false,
         {"--1c-folder", empty_one_c},
         lone_kvhost + "\\kvhost.exe"},
        {"beside 1C, given",
         Healthy({"DLLName=gds32.dll"}),
         Desktop::Running,
         0,
         {},
         false,
         false,
         Earlier::None,
         {},
         false,
         {"--1c-folder", one_c + "\\"}},
    });
    {
        OneC running(one_c);
        RunCases({{"beside 1C, running", Healthy({"DLLName=gds32.dll"}), Desktop::Running, 0, {}}});
    }
    RunCases({
        {"missing",
         Healthy({"DLLName=kv_nosuch_client.dll"}),
         Desktop::Running,
         3,
         {"kv_nosuch_client.dll was not found where 1C looks for it",
          "give 1C's folder with --1c-folder"}},
        {"wrong bitness",
         Healthy({"DLLName=" + OtherBitnessLibrary()}),
         Desktop::Running,
         3,
         {"error 193 ERROR_BAD_EXE_FORMAT", "-bit library and the process is"}},
        {"missing dependency",
         Healthy({"DLLName=" + NeedsAbsent()}),
         Desktop::Running,
         3,
         {"error 126 ERROR_MOD_NOT_FOUND", "a library it depends on is missing"}},
        {"no entry points",
         Healthy({"DLLName=kernel32.dll"}),
         Desktop::Running,
         3,
         {"lacks the entry points isc_attach_database, isc_detach_database"}},
    });
}

void DatabaseGroup() {
    RunCases({
        {"missing file",
         Healthy({"BaseName=" + Database() + ".missing"}),
         Desktop::Running,
         4,
         {"the database file cannot be opened", "I/O error"}},
        {"refused login",
         Healthy({"BaseName=" + ServerAddress(), "UserName=SYSDBA", "UserPass=wrong"}),
         Desktop::Running,
         4,
         {"the server refused the login", "Your user name and password are not defined"}},
    });
}

void DesktopGroup() {
    RunCases({
        {"no desktop application",
         Healthy(),
         Desktop::None,
         5,
         {"kelvarin.exe is not running", "there is no shared block KelvarinMapFile"}},
        {"stale window", Healthy(), Desktop::Stale, 5, {"of field 2 is gone"}},
        {"silent",
         Healthy({"Timeout=400"}),
         Desktop::Silent,
         5,
         {"the request CountPositionInZakaz got no answer within Timeout (400 ms"}},
        {"block that cannot be mapped",
         Healthy(),
         Desktop::ReadOnlyBlock,
         5,
         {"the shared block KelvarinMapFile is there but cannot be mapped (error 5"}},
        {"turn's name taken",
         Healthy(),
         Desktop::Running,
         5,
         {"the turn's object KelvarinMapFile.Turn cannot be opened (error 6"},
         false,
         false,
         Earlier::None,
         {"lines in the current order: 0"},
         true},
        // An earlier request whose answer never comes keeps every copy from the block.
        {"earlier request unanswered",
         Healthy(),
         Desktop::Running,
         5,
         {"an earlier request, FindPosition of process", "still waits for its answer"},
         false,
         false,
         Earlier::NoAnswer},
    });
}

// A 1C session's request in flight is no fault: kvhost waits in its turn for what it left, as
// a copy does, and then checks the desktop application truthfully. A packet's answer covers
// field 2 until the window is put back; a late answer must not pass for kvhost's own (the
// late one is a position's number, 5; the current order has 1 line).
void InFlightGroup() {
    RunCases({
        {"packet answered, window not back yet",
         Healthy(),
         Desktop::Running,
         0,
         {},
         false,
         false,
         Earlier::Packet,
         {"was still outstanding: the window was back in field 2 after",
          "lines in the current order: 1"}},
        {"late answer still to come",
         Healthy(),
         Desktop::Running,
         0,
         {},
         false,
         false,
         Earlier::LateAnswer,
         {"its answer came after", "lines in the current order: 1"}},
    });
}

// A workstation where everything works, checked in Russian, the default language: the login
// goes through the server with its password.
void HealthyGroup() {
    RunCases({{"healthy",
               Healthy({"BaseName=" + ServerAddress(), "UserName=SYSDBA", "UserPass=masterkey"}),
               Desktop::Running,
               0,
               {},
               false,
               true}});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "earlier") == 0) {
        return RunInApartment(argc, argv, {{"earlier", EarlierRequest}});
    }
    return RunInApartment(argc, argv,
                          {{"registration", Registration},
                           {"other_bitness", OtherBitness},
                           {"library", Library},
                           {"database", DatabaseGroup},
                           {"desktop", DesktopGroup},
                           {"in_flight", InFlightGroup},
                           {"healthy", HealthyGroup},
                           {"idle", Idle}});
}
