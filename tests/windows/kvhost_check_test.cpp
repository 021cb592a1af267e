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

// What runs beside kvhost while it checks.
enum class Desktop { None, Running, Silent, Stale };

struct Case {
    const char* name;
    std::vector<std::string> settings;  // NAME=VALUE for --set
    Desktop desktop;
    long exit_code;
    std::vector<std::string> fails;  // each must be in some FAIL line
    bool other_kvhost = false;
    bool russian = false;
    std::vector<std::string> options = {};  // more of kvhost's arguments
    std::string program = {};               // another kvhost.exe than the build's
};

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
    std::unique_ptr<Simulator> sim;
    if (c.desktop != Desktop::None) {
        sim = std::make_unique<Simulator>(SimulatorExe(), sim_args);
        if (!sim->WaitReady()) return;
    }
    if (c.desktop == Desktop::Stale) {
        // The simulator goes, its block stays: this program holds it, field 2 names its window.
        held_block = OpenFileMappingA(FILE_MAP_READ, FALSE, "KelvarinMapFile");
        KV_CHECK(held_block != nullptr);
        sim.reset();
    }

    const std::string& program = !c.program.empty() ? c.program
                                 : c.other_kvhost   ? OtherKvhost()
                                                    : Kvhost();
    Child kvhost(Child::Program{program}, args);
    const long code = kvhost.Wait(60000);
    const std::string output = kvhost.Output();
    if (held_block != nullptr) CloseHandle(held_block);
    sim.reset();

    bool well_formed = code == c.exit_code;
    std::vector<std::string> fails;
    for (const std::string& line : Lines(output)) {
        if (line.rfind("FAIL  ", 0) == 0) fails.push_back(line);
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
         {"--1c-folder", empty_one_c},
         lone_kvhost + "\\kvhost.exe"},
        {"beside 1C, given",
         Healthy({"DLLName=gds32.dll"}),
         Desktop::Running,
         0,
         {},
         false,
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
    return RunInApartment(argc, argv,
                          {{"registration", Registration},
                           {"other_bitness", OtherBitness},
                           {"library", Library},
                           {"database", DatabaseGroup},
                           {"desktop", DesktopGroup},
                           {"healthy", HealthyGroup},
                           {"idle", Idle}});
}
