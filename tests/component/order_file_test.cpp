#include "component/order_file.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "common/error.h"
#include "component/method_bodies.h"
#include "component/vk_object.h"
#include "support/error_text.h"
#include "support/fake_platform.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::Str;

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kv-orders-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string path;
};

// Our paths are written as on Windows; the posix backend reads "\" as "/".
std::string Win(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
    return names;
}

const std::string& ExpectedHeader() {
    static const std::string header =
        Cp1251FromUtf8("Заказ\tКод\tНазвание\tПроизводитель\tЦена\tПоставщик\tФилиал") + "\r\n";
    return header;
}

LocalDateTime At(int hour, int minute) { return {2025, 12, 8, hour, minute, 9, 0}; }

// Times in the order they are asked for; the last one stays.
class ScriptedClock final : public Clock {
  public:
    std::vector<LocalDateTime> times{At(14, 5)};
    LocalDateTime Now() override {
        const LocalDateTime t = times.front();
        if (times.size() > 1) times.erase(times.begin());
        return t;
    }
};

// The real files, with the probes recorded and failures and rival writers injected.
class ScriptedFiles final : public FileSystem {
  public:
    std::vector<std::string> probes;
    uint32_t mkdir_error = 0;  // MakeDirectory fails with this code
    bool mkdir_rival = false;  // another process makes the directory first
    std::string rival_path;    // another writer creates this file right after its probe

    bool DirectoryExists(const std::string& path) override { return real_.DirectoryExists(path); }
    bool FileExists(const std::string& path) override {
        probes.push_back(path);
        const bool exists = real_.FileExists(path);
        if (path == rival_path) WriteAll(NativePath(path), "theirs");
        return exists;
    }
    uint32_t MakeDirectory(const std::string& path) override {
        if (mkdir_rival) real_.MakeDirectory(path);
        return mkdir_error != 0 ? mkdir_error : real_.MakeDirectory(path);
    }
    CreateOutcome CreateNewFile(const std::string& path, std::string_view contents,
                                uint32_t& os_error, std::string& os_message) override {
        return real_.CreateNewFile(path, contents, os_error, os_message);
    }
    static std::string NativePath(std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }

  private:
    FileSystem& real_ = backend::Files();
};

class OrderFile : public ::testing::Test {
  protected:
    OrderFile() {
        fake.regional.settings = RegionalSettings::Russian();
        vk.DirToZakaz = Win(orders);
    }
    std::string Create(const std::string& point_code = "", const std::string& pattern = "") {
        return CreateOrderFile(vk, point_code, pattern);
    }
    std::string ErrorOf(const std::string& pattern = "") {
        return test::ErrorText([&] { Create("", pattern); });
    }

    TempDir dir;
    const std::string orders = dir.path + "/orders";
    test::FakePlatform fake;
    ScriptedClock clock;
    ScriptedFiles files;
    Platform platform{
        fake.codec,           fake.regional,       clock, fake.notices, files, backend::Channel(),
        backend::Processes(), backend::Libraries()};
    T_vk_object vk{platform, test::ComponentMethods()};
};

TEST_F(OrderFile, ThreeCallsInOneMinute) {
    EXPECT_EQ(Create(), "08122025_1405.txt");
    EXPECT_EQ(vk.ZakazFileName, "08122025_1405.txt");
    EXPECT_EQ(Create("", "  \t"), "08122025_1405_1.txt");  // blank is the default pattern too
    files.probes.clear();
    EXPECT_EQ(Create(), "08122025_1405_2.txt");
    const std::string base = Win(orders) + "\\08122025_1405";
    EXPECT_EQ(files.probes,
              (std::vector<std::string>{base + ".txt", base + "_1.txt", base + "_2.txt"}));
    EXPECT_EQ(Listing(orders), (std::set<std::string>{"08122025_1405.txt", "08122025_1405_1.txt",
                                                      "08122025_1405_2.txt"}));
    ASSERT_EQ(ExpectedHeader().size(), 56u);
    for (const std::string& name : Listing(orders))
        EXPECT_EQ(ReadAll(orders + "/" + name), ExpectedHeader());
}

TEST_F(OrderFile, MinuteRollsOverWhileProbing) {
    Create();
    Create();
    clock.times = {At(14, 5), At(14, 5), At(14, 6)};
    EXPECT_EQ(Create(), "08122025_1406_2.txt");  // the counter goes on with the new time
    EXPECT_EQ(Create(), "08122025_1406.txt");    // every call starts again without suffix
}

TEST_F(OrderFile, OneSeparatorBetweenDirectoryAndName) {
    for (const std::string& dir_text : {Win(orders), Win(orders) + "\\"}) {
        vk.DirToZakaz = dir_text;
        files.probes.clear();
        Create("", "'n'ss");
        ASSERT_FALSE(files.probes.empty());
        EXPECT_EQ(files.probes[0], Win(orders) + "\\n09.txt") << dir_text;
    }
}

TEST_F(OrderFile, PatternsAndRegionalSeparators) {
    EXPECT_EQ(Create("", "yyyy-mm-dd hh.nn.ss"), "2025-12-08 14.05.09.txt");
    EXPECT_EQ(Create("", "dd.mm.yyyy"), "08.12.2025.txt");
    fake.regional.settings.date_separator = "-";
    fake.regional.settings.time_separator = "_";
    EXPECT_EQ(Create("", "dd/mm/yyyy hh:nn"), "08-12-2025 14_05.txt");
    EXPECT_TRUE(fs::is_regular_file(orders + "/08-12-2025 14_05.txt"));
}

TEST_F(OrderFile, PointCodeTakenOnlyWhenNotBlank) {
    vk.PointCode = "old";
    Create("  ");
    EXPECT_EQ(vk.PointCode, "old");
    Create("\t\r\n");
    EXPECT_EQ(vk.PointCode, "old");
    Create(" 12 ");
    EXPECT_EQ(vk.PointCode, " 12 ");
}

TEST_F(OrderFile, DirectoryThatCannotBeMade) {
    const std::string a_file = dir.path + "/plain.txt";
    WriteAll(a_file, "x");
    struct Case {
        std::string dir_to_zakaz;
        uint32_t injected;
        std::string error;
    };
    const Case cases[] = {
        {Win(dir.path) + "\\missing\\orders", 0, "Invalid filename"},
        {"", 0, "Invalid filename"},
        {Win(a_file), 0, "I/O error 183"},
        {Win(a_file) + "\\below", 0, "Invalid filename"},
        {Win(orders), 2, "File not found"},
        {Win(orders), 4, "Too many open files"},
        {Win(orders), 5, "File access denied"},
        {Win(orders), 100, "Read beyond end of file"},
        {Win(orders), 101, "Disk full"},
        {Win(orders), 106, "Invalid numeric input"},
        {Win(orders), 112, "I/O error 112"},
    };
    for (const Case& c : cases) {
        vk.DirToZakaz = c.dir_to_zakaz;
        vk.PointCode = "kept";
        vk.ZakazFileName = "kept.txt";
        files.mkdir_error = c.injected;
        EXPECT_EQ(test::ErrorText([&] { Create("new code"); }), c.error) << c.dir_to_zakaz;
        EXPECT_EQ(vk.PointCode, "kept");
        EXPECT_EQ(vk.ZakazFileName, "kept.txt");
        EXPECT_EQ(Listing(dir.path), std::set<std::string>{"plain.txt"}) << c.dir_to_zakaz;
        EXPECT_EQ(ReadAll(a_file), "x");
    }
}

TEST_F(OrderFile, DirectoryMadeByAnotherProcessMeanwhile) {
    files.mkdir_rival = true;
    EXPECT_EQ(Create(), "08122025_1405.txt");
    EXPECT_EQ(ReadAll(orders + "/08122025_1405.txt"), ExpectedHeader());
}

TEST_F(OrderFile, AFileThatAppearsAfterTheProbeIsLeftAlone) {
    files.rival_path = Win(orders) + "\\08122025_1405.txt";
    EXPECT_EQ(Create(), "08122025_1405_1.txt");
    EXPECT_EQ(ReadAll(orders + "/08122025_1405.txt"), "theirs");
    EXPECT_EQ(ReadAll(orders + "/08122025_1405_1.txt"), ExpectedHeader());
}

TEST_F(OrderFile, FileThatCannotBeCreated) {
    // A pattern whose text names a missing subdirectory.
    EXPECT_EQ(ErrorOf("'sub\\'ddmmyyyy"),
              "Cannot create file \"" + Win(orders) + "\\sub\\08122025.txt\". " + strerror(ENOENT));
    EXPECT_EQ(vk.ZakazFileName, "sub\\08122025");
    // A directory of the candidate's name is not a file: it is not passed over but fails.
    fs::create_directory(orders + "/08122025_1405.txt");
    EXPECT_EQ(ErrorOf(),
              "Cannot create file \"" + Win(orders) + "\\08122025_1405.txt\". " + strerror(EISDIR));
    EXPECT_TRUE(fs::is_directory(orders + "/08122025_1405.txt"));
}

TEST_F(OrderFile, MethodReadsThePatternFirst) {
    test::VectorParams params{Str("5"), Str("dd")};
    vk.Params = &params;
    ExecCreateZakaz(vk);
    EXPECT_EQ(vk.ResultValue, Str("08.txt"));
    EXPECT_EQ(vk.PointCode, "5");

    params.values = {Variant::Null(), Variant::Null()};
    vk.ResultValue = Variant::Int32(0);
    EXPECT_EQ(test::ErrorText([&] { ExecCreateZakaz(vk); }),
              Cp1251FromUtf8("Параметр номер 2 не может быть преобразован в строку."));
    EXPECT_EQ(vk.ResultValue, Variant::Int32(0));
    EXPECT_EQ(Listing(orders), std::set<std::string>{"08.txt"});
    vk.Params = nullptr;
}

TEST(OrderFileProcesses, WritersInTheSameMinuteNeverShareOrTruncateAFile) {
    TempDir dir;
    constexpr int kProcesses = 4;
    constexpr int kCallsEach = 25;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Wait until every writer exists, then all start at once with the same clock.
            close(gate[1]);
            char byte;
            while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {
            }
            int status = 0;
            try {
                test::FakePlatform fake;
                T_vk_object vk{fake.platform, test::ComponentMethods()};
                vk.DirToZakaz = Win(dir.path) + "\\orders";
                for (int k = 0; k < kCallsEach; ++k) CreateOrderFile(vk, "", "");
            } catch (...) {
                status = 1;
            }
            _exit(status);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // Each writer takes the first free name, so together they fill the sequence without gaps.
    std::set<std::string> expected{"08122025_1405.txt"};
    for (int i = 1; i < kProcesses * kCallsEach; ++i) {
        expected.insert("08122025_1405_" + std::to_string(i) + ".txt");
    }
    const std::string orders = dir.path + "/orders";
    EXPECT_EQ(Listing(orders), expected);
    for (const std::string& name : Listing(orders)) {
        EXPECT_EQ(ReadAll(orders + "/" + name), ExpectedHeader()) << name;
    }
}

TEST(PosixClock, GivesTheLocalTimeWithMilliseconds) {
    // In UTC the local time can be worked out independently of the C library's calendar.
    const char* saved = std::getenv("TZ");
    const std::string old_tz = saved != nullptr ? saved : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    using namespace std::chrono;
    const auto system_now = floor<milliseconds>(system_clock::now());
    const LocalDateTime now = backend::SystemClock().Now();
    const auto day = floor<days>(system_now);
    const year_month_day date{day};
    const hh_mm_ss time{system_now - day};
    const LocalDateTime expected{static_cast<int>(date.year()),
                                 static_cast<int>(static_cast<unsigned>(date.month())),
                                 static_cast<int>(static_cast<unsigned>(date.day())),
                                 static_cast<int>(time.hours().count()),
                                 static_cast<int>(time.minutes().count()),
                                 static_cast<int>(time.seconds().count()),
                                 static_cast<int>(time.subseconds().count())};
    EXPECT_NEAR(ToOleDate(now), ToOleDate(expected), 2.0 / 86400);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LE(now.millisecond, 999);
    if (saved != nullptr) {
        setenv("TZ", old_tz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace
}  // namespace kv
