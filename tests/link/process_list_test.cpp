// ListRunningProcesses over a fake table of the system's entry points, and once over the real
// process list of this machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "common/text.h"
#include "link/UKillProcess.h"
#include "link/fake_processes.h"
#include "platform/backend.h"

namespace kv {
namespace {

using test::FakeProcess;
using test::FakeProcesses;

std::vector<uint32_t> Ids(const TLpModuleInfoArray& list) {
    std::vector<uint32_t> ids;
    for (const auto& info : list) ids.push_back(info.ProcessID);
    return ids;
}

TEST(ProcessListNt, NamesEachProcessByItsModuleOrItsFixedName) {
    FakeProcesses os;
    os.table.query_image_name = nullptr;  // a system before Vista
    os.processes = {
        {0, "C:\\idle.exe"},
        {4, "C:\\kelvarin.exe"},
        {8, "C:\\kelvarin.exe"},
        {120, "C:\\Apps\\KELVARIN.EXE"},
        {200, "C:\\secret.exe", false},
        {300, ""},  // the module cannot be read
        {310, "C:\\Windows\\explorer.exe"},
    };
    TLpModuleInfoArray list{{99, "left from before"}};
    ListRunningProcesses(os, list);

    const std::vector<std::string> expected = {
        Cp1251FromUtf8("Бездействие системы"),
        "System",
        "System",
        "C:\\Apps\\KELVARIN.EXE",
        Cp1251FromUtf8("неизвестно"),
        "",
        "C:\\Windows\\explorer.exe",
    };
    ASSERT_EQ(list.size(), expected.size());
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{0, 4, 8, 120, 200, 300, 310}));
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(list[i].ExeName, expected[i]) << i;
    // The idle and system processes are never opened; every other one with 0x410, and closed.
    EXPECT_EQ(os.opened, (std::vector<uint32_t>{120, 200, 300, 310}));
    for (uint32_t access : os.open_access) EXPECT_EQ(access, 0x410u);
    EXPECT_EQ(os.open_handles, 0);
}

TEST(ProcessListNt, FallsBackToTheImageNameWhereTheModuleCannotBeRead) {
    FakeProcesses os;
    os.processes = {
        {500, "", true, "C:\\Program Files\\Kelvarin\\kelvarin.exe"},
        {510, "C:\\x86\\app.exe", true, "C:\\not\\used.exe"},
        {520, "", true, std::nullopt},  // neither can be read
    };
    TLpModuleInfoArray list;
    ListRunningProcesses(os, list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].ExeName, "C:\\Program Files\\Kelvarin\\kelvarin.exe");
    EXPECT_EQ(list[1].ExeName, "C:\\x86\\app.exe");
    EXPECT_EQ(list[2].ExeName, "");
    EXPECT_EQ(os.open_handles, 0);
}

TEST(ProcessListNt, CutsAModulePathAt261Characters) {
    FakeProcesses os;
    const std::string long_path = "C:\\" + std::string(400, 'a') + "\\kelvarin.exe";
    os.processes = {{600, long_path}, {601, "C:\\short.exe"}};
    TLpModuleInfoArray list;
    ListRunningProcesses(os, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ExeName, long_path.substr(0, 261));
    EXPECT_EQ(list[1].ExeName, "C:\\short.exe");
}

// EnumProcesses gets 16384 bytes first and twice as many each time it fills the buffer.
TEST(ProcessListNt, GrowsTheBufferUntilEveryIdentifierFits) {
    struct Case {
        size_t processes;
        std::vector<uint32_t> buffers;
    };
    const std::vector<Case> cases = {
        {0, {16384}},
        {4095, {16384}},
        {4096, {16384, 32768}},
        {10000, {16384, 32768, 65536}},
    };
    for (const Case& c : cases) {
        FakeProcesses os;
        for (size_t i = 0; i < c.processes; ++i) {
            os.processes.push_back({static_cast<uint32_t>(100 + 4 * i), "C:\\p.exe"});
        }
        TLpModuleInfoArray list;
        ListRunningProcesses(os, list);
        EXPECT_EQ(os.enum_buffer_bytes, c.buffers) << c.processes;
        ASSERT_EQ(list.size(), c.processes);
        if (c.processes > 0) {
            EXPECT_EQ(list.back().ProcessID, 100 + 4 * (c.processes - 1));
        }
        EXPECT_EQ(os.open_handles, 0);
    }
}

TEST(ProcessListNt, GivesAnEmptyListWhenTheEnumerationCannotRun) {
    using Breakage = void (*)(FakeProcesses&);
    const std::vector<std::pair<const char*, Breakage>> cases = {
        {"enumeration fails", [](FakeProcesses& os) { os.enum_fails = true; }},
        {"no EnumProcesses", [](FakeProcesses& os) { os.table.enum_processes = nullptr; }},
        {"no EnumProcessModules", [](FakeProcesses& os) { os.table.first_module = nullptr; }},
        {"no GetModuleFileNameExA", [](FakeProcesses& os) { os.table.module_file_name = nullptr; }},
    };
    for (const auto& [name, breakage] : cases) {
        FakeProcesses os;
        os.processes = {{0, ""}, {120, "C:\\kelvarin.exe"}};
        breakage(os);
        TLpModuleInfoArray list{{1, "stale"}};
        ListRunningProcesses(os, list);
        EXPECT_TRUE(list.empty()) << name;
        EXPECT_TRUE(os.opened.empty()) << name;
    }
}

TEST(ProcessListNt, EveryPlatformButWin9xUsesTheIdentifierList) {
    for (uint32_t platform : {0u, 2u, 3u}) {
        FakeProcesses os(platform);
        os.processes = {{0, ""}, {120, "C:\\a.exe"}};
        TLpModuleInfoArray list;
        ListRunningProcesses(os, list);
        ASSERT_EQ(list.size(), 2u) << platform;
        EXPECT_EQ(list[0].ExeName, Cp1251FromUtf8("Бездействие системы")) << platform;
        EXPECT_EQ(os.enum_buffer_bytes.size(), 1u) << platform;
    }
}

TEST(ProcessListWin9x, ReadsTheSnapshotInTwoPasses) {
    FakeProcesses os(1);
    os.processes = {{0, "KERNEL32.DLL"},
                    {0xFFF1A2B3, "C:\\WINDOWS\\EXPLORER.EXE"},
                    {0xFFF1C0DE, "C:\\KELVARIN\\KELVARIN.EXE"}};
    TLpModuleInfoArray list{{5, "stale"}};
    ListRunningProcesses(os, list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(Ids(list), (std::vector<uint32_t>{0, 0xFFF1A2B3, 0xFFF1C0DE}));
    // No fixed names on this family: identifier 0 keeps the name the snapshot gives.
    EXPECT_EQ(list[0].ExeName, "KERNEL32.DLL");
    EXPECT_EQ(list[2].ExeName, "C:\\KELVARIN\\KELVARIN.EXE");
    EXPECT_TRUE(os.enum_buffer_bytes.empty());
    EXPECT_TRUE(os.opened.empty());
    EXPECT_EQ(os.open_handles, 0);  // the snapshot is closed
}

TEST(ProcessListWin9x, KeepsTheCountedNumberOfEntries) {
    // A process started between the passes finds no entry.
    FakeProcesses os(1);
    os.processes = {{10, "A.EXE"}, {11, "B.EXE"}};
    os.started_between_passes = {{12, "KELVARIN.EXE"}};
    TLpModuleInfoArray list;
    ListRunningProcesses(os, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].ExeName, "B.EXE");

    // A second Process32First that fails leaves the counted entries zeroed.
    FakeProcesses failing(1);
    failing.processes = {{10, "A.EXE"}, {11, "B.EXE"}, {12, "C.EXE"}};
    failing.process_first_fails_from_call = 2;
    ListRunningProcesses(failing, list);
    ASSERT_EQ(list.size(), 3u);
    for (const auto& info : list) {
        EXPECT_EQ(info.ProcessID, 0u);
        EXPECT_EQ(info.ExeName, "");
    }
    EXPECT_EQ(failing.open_handles, 0);
}

TEST(ProcessListWin9x, TakesAFullNameOf260CharactersWithoutItsZero) {
    FakeProcesses os(1);
    os.processes = {{10, std::string(300, 'K')}, {11, "B.EXE"}};
    TLpModuleInfoArray list;
    ListRunningProcesses(os, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ExeName, std::string(260, 'K'));
    EXPECT_EQ(list[1].ExeName, "B.EXE");
}

TEST(ProcessListWin9x, GivesAnEmptyListWhenTheSnapshotCannotBeRead) {
    using Breakage = void (*)(FakeProcesses&);
    const std::vector<std::pair<const char*, Breakage>> cases = {
        {"snapshot fails", [](FakeProcesses& os) { os.snapshot_fails = true; }},
        {"first record fails", [](FakeProcesses& os) { os.process_first_fails_from_call = 1; }},
        {"no processes", [](FakeProcesses& os) { os.processes.clear(); }},
        {"no ToolHelp", [](FakeProcesses& os) { os.table.create_snapshot = nullptr; }},
        {"no Process32Next", [](FakeProcesses& os) { os.table.process_next = nullptr; }},
    };
    for (const auto& [name, breakage] : cases) {
        FakeProcesses os(1);
        os.processes = {{10, "A.EXE"}};
        breakage(os);
        TLpModuleInfoArray list{{1, "stale"}};
        ListRunningProcesses(os, list);
        EXPECT_TRUE(list.empty()) << name;
        EXPECT_EQ(os.open_handles, 0) << name;
    }
}

// The native backend reads /proc: this test process is listed under its own executable.
TEST(ProcessListProc, ListsThisProcessWithItsExecutable) {
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    TLpModuleInfoArray list;
    ListRunningProcesses(backend::Processes(), list);
    const uint32_t me = static_cast<uint32_t>(getpid());
    bool found = false;
    for (const auto& info : list) {
        if (info.ProcessID == me) {
            found = true;
            EXPECT_EQ(info.ExeName, self);
        }
    }
    EXPECT_TRUE(found);
    EXPECT_GT(list.size(), 1u);
}

}  // namespace
}  // namespace kv
