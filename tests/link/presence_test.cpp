// CheckKelvarin: the name rule, the lower-casing, and the count over fake and real processes.
#include "link/presence.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "addin/methods.h"
#include "common/text.h"
#include "component/protocol.h"
#include "link/fake_processes.h"
#include "support/fake_platform.h"

namespace kv {
namespace {

using test::FakeProcesses;

TEST(Presence, FileNamePartIsTheTextAfterTheLastBackslashOrColon) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:\\Apps\\KELVARIN.EXE", "KELVARIN.EXE"},
        {"C:\\kelvarin.exe\\run.exe", "run.exe"},
        {"C:kelvarin.exe", "kelvarin.exe"},
        {"kelvarin.exe", "kelvarin.exe"},
        {"\\\\server\\share\\", ""},
        {"/opt/kelvarin.exe", "/opt/kelvarin.exe"},
        {"", ""},
    };
    for (const auto& [path, part] : cases) EXPECT_EQ(FileNamePart(path), part) << path;
}

TEST(Presence, MatchesKelvarinExeAnywhereInTheLowerCasedFileName) {
    const ProcessEntryPoints no_system_lowering;
    const std::vector<std::pair<std::string, bool>> cases = {
        {"C:\\Apps\\KELVARIN.EXE", true},
        {"C:\\Kelvarin\\Kelvarin.EXE", true},
        {"D:\\old\\kelvarin.exe.bak", true},
        {"oldkelvarin.exe", true},
        {"sim-kelvarin.exe", true},
        {"C:\\kelvarin.exe\\run.exe", false},
        {"C:\\Kelvarin\\kelvarin-sim.exe", false},
        {"kelvarin.ex", false},
        {"kelvarin_exe", false},
        {Cp1251FromUtf8("Бездействие системы"), false},
        {Cp1251FromUtf8("неизвестно"), false},
        {"", false},
    };
    for (const auto& [name, counts] : cases) {
        EXPECT_EQ(NamesKelvarin(no_system_lowering, name), counts) << name;
    }
}

TEST(Presence, UsesTheSystemsLowerCasingWhereItHasOne) {
    // A system whose lower-casing leaves text as it is: only lower-case names count.
    ProcessEntryPoints os;
    os.lower_ansi = [](char*, uint32_t) {};
    EXPECT_FALSE(NamesKelvarin(os, "C:\\KELVARIN.EXE"));
    EXPECT_TRUE(NamesKelvarin(os, "C:\\kelvarin.exe"));
    // And one that lower-cases: it receives the file-name part only.
    os.lower_ansi = [](char* text, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i) {
            if (text[i] == '\\' || text[i] == ':') text[i] = '#';
            if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 32);
        }
    };
    EXPECT_TRUE(NamesKelvarin(os, "X:\\DIR\\KELVARIN.EXE"));
}

TEST(Presence, CountsOnlyTheMatchingProcesses) {
    struct Case {
        const char* what;
        std::vector<test::FakeProcess> processes;
        int32_t count;
    };
    const std::vector<Case> cases = {
        {"none", {{0, ""}, {4, ""}, {300, "C:\\Windows\\explorer.exe"}}, 0},
        {"one", {{300, "C:\\Windows\\explorer.exe"}, {310, "C:\\Kelvarin\\Kelvarin.exe"}}, 1},
        {"two copies",
         {{310, "C:\\Kelvarin\\kelvarin.exe"}, {320, "D:\\Copy\\KELVARIN.EXE"}, {330, "a.exe"}},
         2},
        // The idle and system entries never count, whatever runs under those identifiers.
        {"system identifiers", {{0, "kelvarin.exe"}, {4, "kelvarin.exe"}, {8, "kelvarin.exe"}}, 0},
        {"unopenable", {{310, "C:\\kelvarin.exe", false}}, 0},
        {"directory of that name", {{310, "C:\\kelvarin.exe\\run.exe"}}, 0},
    };
    for (const Case& c : cases) {
        FakeProcesses os;
        os.processes = c.processes;
        EXPECT_EQ(CountKelvarinProcesses(os), c.count) << c.what;
        EXPECT_EQ(os.open_handles, 0) << c.what;
    }
}

// Through the host protocol: the result is VT_I4, 0 included.
class CheckKelvarinMethod : public ::testing::Test {
  protected:
    test::FakePlatform base;
    FakeProcesses os;
    Platform platform{base.codec,   base.regional,          base.clock,
                      base.notices, base.platform.files,    base.platform.channel,
                      os,           base.platform.libraries};
    test::RecordingErrorLog errors;
    Protocol protocol{platform, &errors, AddinMethods()};

    Variant Call(std::string_view name) {
        int32_t number = -1;
        EXPECT_EQ(protocol.FindMethod(test::U(name), number), kS_OK);
        int32_t params = -1;
        protocol.GetNParams(number, params);
        EXPECT_EQ(params, 0);
        Variant result;
        EXPECT_EQ(protocol.CallAsFunc(number, result, nullptr), kS_OK);
        return result;
    }
};

TEST_F(CheckKelvarinMethod, ReturnsTheCountAsAFourByteInteger) {
    EXPECT_EQ(Call("ПроверитьКелварин"), Variant::Int32(0));
    os.processes = {{310, "C:\\Kelvarin\\kelvarin.exe"}, {320, "C:\\Kelvarin\\kelvarin.exe"}};
    EXPECT_EQ(Call("CheckKelvarin"), Variant::Int32(2));
    os.enum_fails = true;
    EXPECT_EQ(Call("CheckKelvarin"), Variant::Int32(0));
    EXPECT_TRUE(errors.records.empty());
}

// The native backend over real processes: copies of a program named kelvarin.exe.
TEST(PresenceProc, CountsRunningCopiesOfAProgramNamedKelvarinExe) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kv-presence-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path exe = dir / "kelvarin.exe";
    std::filesystem::copy_file("/bin/sleep", exe,
                               std::filesystem::copy_options::overwrite_existing);
    const int32_t before = CountKelvarinProcesses(backend::Processes());

    std::vector<pid_t> children;
    std::vector<int32_t> counts;
    for (int copy = 0; copy < 2; ++copy) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl(exe.c_str(), "kelvarin.exe", "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(child);
        // The child is counted once it has replaced itself with the program.
        int32_t count = 0;
        for (int tries = 0; tries < 200; ++tries) {
            count = CountKelvarinProcesses(backend::Processes());
            if (count == before + copy + 1) break;
            usleep(10000);
        }
        counts.push_back(count);
    }
    for (pid_t child : children) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    std::filesystem::remove_all(dir);
    EXPECT_EQ(counts, (std::vector<int32_t>{before + 1, before + 2}));
    EXPECT_EQ(CountKelvarinProcesses(backend::Processes()), before);
}

}  // namespace
}  // namespace kv
