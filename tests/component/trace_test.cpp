// The request trace: the form of its lines, its setting, the errors it records, and that it
// never changes what the component does. The file appending of this system's backend is
// checked with several processes writing at once.
#include "component/trace.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "common/text.h"
#include "component/protocol.h"
#include "platform/backend.h"
#include "support/fake_platform.h"

namespace kv {
namespace {

// A platform whose trace is on (or fails to write), set before any component reads it.
struct TracedPlatform : test::FakePlatform {
    explicit TracedPlatform(bool fails = false) {
        traces.setting = MakeTraceSetting("trace.log", "");
        traces.fails = fails;
    }
};

TEST(Trace, LineHoldsTimeProcessEventAndEscapedUtf8Fields) {
    TracedPlatform fake;
    fake.clock.now = {2025, 3, 4, 5, 6, 7, 89};
    Trace trace(fake.platform);
    ASSERT_TRUE(trace.On());
    trace.Write("request", {{"text", Cp1251FromUtf8("-1\tАспирин\\x\r\n")}, {"result", "4"}});
    ASSERT_EQ(fake.traces.lines.size(), 1u);
    EXPECT_EQ(fake.traces.lines[0],
              "2025-03-04 05:06:07.089\tpid=4242\trequest\ttext=-1\\tАспирин\\\\x\\x0D\\x0A"
              "\tresult=4");
}

TEST(Trace, OffWritesNothingAndALongLineIsCutAtACharacter) {
    test::FakePlatform off;
    Trace quiet(off.platform);
    EXPECT_FALSE(quiet.On());
    quiet.Write("request", {{"text", "x"}});
    EXPECT_TRUE(off.traces.lines.empty());

    TracedPlatform fake;
    fake.traces.setting = MakeTraceSetting("trace.log", "16");  // a quarter: 4096 bytes
    Trace trace(fake.platform);
    // 3000 times "Ж" in Windows-1251: 6000 bytes of UTF-8.
    trace.Write("request", {{"text", std::string(3000, '\xC6')}});
    ASSERT_EQ(fake.traces.lines.size(), 1u);
    const std::string& line = fake.traces.lines[0];
    EXPECT_LE(line.size(), 4096u + 40);
    // Whole two-byte characters up to the note, and the note gives the line's full length.
    const std::string kept = line.substr(0, line.find("\t[cut: "));
    EXPECT_EQ(Utf8ToUtf16(kept).find(u'\uFFFD'), std::u16string::npos);
    EXPECT_NE(line.find("\t[cut: 6046 bytes]"), std::string::npos) << line.substr(4000);
}

TEST(Trace, SettingLimitIsKibibytesWithinBounds) {
    const std::pair<const char*, uint64_t> cases[] = {
        {"", 4096 * 1024},
        {"64", 64 * 1024},
        {" 64 ", 64 * 1024},
        {"1", 16 * 1024},
        {"abc", 4096 * 1024},
        {"-5", 16 * 1024},
        {"99999999999", 1024ull * 1024 * 1024},
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(MakeTraceSetting("f", text).limit_bytes, bytes) << text;
    }
}

// Every error the host's log receives is in the trace too; a trace that cannot be written
// leaves the results and the host's log as they are without it.
TEST(Trace, ErrorsOfTheHostLogAndNoChangeWhenWritingFails) {
    struct Run {
        std::vector<int32_t> answers;
        std::vector<std::u16string> logged;
    };
    const auto run = [](test::FakePlatform& fake) {
        test::RecordingErrorLog log;
        Protocol protocol(fake.platform, &log, test::ComponentMethods());
        Run r;
        r.answers.push_back(protocol.SetPropVal(7, test::Str("abc")));  // Amount
        Variant result;
        const test::VectorParams params{Variant::Null()};
        r.answers.push_back(protocol.CallAsFunc(18, result, &params));  // AddPositionInPacket
        r.answers.push_back(static_cast<int32_t>(result.int_value()));
        for (const ErrorRecord& record : log.records) r.logged.push_back(record.description);
        return r;
    };
    test::FakePlatform off;
    TracedPlatform on;
    TracedPlatform failing(true);
    const Run expected = run(off);
    ASSERT_EQ(expected.logged.size(), 2u);
    for (test::FakePlatform* fake :
         {static_cast<test::FakePlatform*>(&on), static_cast<test::FakePlatform*>(&failing)}) {
        const Run got = run(*fake);
        EXPECT_EQ(got.answers, expected.answers);
        EXPECT_EQ(got.logged, expected.logged);
    }
    ASSERT_EQ(on.traces.lines.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::string& line = on.traces.lines[i];
        EXPECT_NE(line.find("\terror\ttext=" + Utf16ToUtf8(expected.logged[i])), std::string::npos)
            << line;
    }
}

// Processes appending at once to a file with a small limit: every line arrives whole, and the
// file and its one older file stay within the limit.
TEST(TraceFile, ConcurrentAppendsStayWholeAndWithinTheLimit) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kvtrace-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const TraceSetting setting = MakeTraceSetting((dir / "trace.log").string(), "16");
    constexpr int kWriters = 4, kLines = 1500;
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0; i < kLines; ++i) {
                const std::string line = "writer " + std::to_string(w) + " line " +
                                         std::to_string(i) + " " + std::string(60, 'a' + w) +
                                         " end";
                if (!backend::Traces().Append(setting, line)) _exit(1);
            }
            _exit(0);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::regex whole(R"(writer ([0-3]) line [0-9]+ ([a-d])\2{59} end)");
    size_t lines = 0;
    for (const char* name : {"trace.log", "trace.log.1"}) {
        const std::filesystem::path file = dir / name;
        ASSERT_TRUE(std::filesystem::exists(file)) << name;
        EXPECT_LE(std::filesystem::file_size(file), setting.limit_bytes) << name;
        std::ifstream in(file);
        for (std::string line; std::getline(in, line); ++lines) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, whole)) << name << ": " << line;
            EXPECT_EQ(m[2].str()[0] - 'a', m[1].str()[0] - '0') << line;
        }
    }
    EXPECT_GT(lines, 100u);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kv
