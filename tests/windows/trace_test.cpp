// The request trace of the real DLL: the demo session's trace against the simulator's own log,
// the user's two switches (the registry value and the environment variable) and what happens
// without them, and several processes appending to one file with a small limit. Arguments after
// the group: the DLL, the simulator, the price list, kvhost, the demo's two kvhost scripts.
#include <windows.h>
// After windows.h, whose types it uses.
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "desktop_sim.h"

using namespace kvtest;

namespace {

const std::string& SimulatorExe() { return Argument(1); }
const std::string& Prices() { return Argument(2); }
const std::string& Kvhost() { return Argument(3); }

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator)) {
        if (!part.empty() && part.back() == '\r') part.pop_back();
        parts.push_back(part);
    }
    return parts;
}

// A trace line's fields by name; "event" is the third column.
std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> fields;
    const std::vector<std::string> columns = Split(line, '\t');
    if (columns.size() > 2) fields["event"] = columns[2];
    for (size_t i = 1; i < columns.size(); ++i) {
        const size_t equals = columns[i].find('=');
        if (equals != std::string::npos) {
            fields[columns[i].substr(0, equals)] = columns[i].substr(equals + 1);
        }
    }
    return fields;
}

// The trace's request lines as "message method wParam lParam text -> answer", the simulator
// log's requests and answers the same way.
std::vector<std::string> TracedRequests(const std::string& trace) {
    std::vector<std::string> requests;
    for (const std::string& line : Split(trace, '\n')) {
        std::map<std::string, std::string> f = Fields(line);
        if (f["event"] != "request") continue;
        requests.push_back(f["message"] + " " + f["method"] + " wParam=" + f["wParam"] +
                           " lParam=" + f["lParam"] + " text=" + f["text"] + " -> " + f["answer"]);
    }
    return requests;
}

std::vector<std::string> SimulatedRequests(const std::string& log) {
    std::vector<std::string> requests;
    for (const std::string& line : Split(log, '\n')) {
        if (line.rfind("REQUEST ", 0) == 0) {
            requests.push_back(line.substr(8) + " -> ");
        } else if (line.rfind("ANSWER ", 0) == 0 && !requests.empty()) {
            requests.back() += line.substr(7);
        }
    }
    return requests;
}

class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableA(name_, nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
};

// The demo session (the two kvhost scripts of the demo, as scripts/demo-desktop.sh runs them)
// with the trace switched on by the environment: its requests and answers are the ones the
// simulator logged, in the same order, byte for byte as both write them.
void Demo() {
    const std::string dir = TempDirectory("trace-demo");
    const std::string trace = dir + "\\trace.log";
    Simulator sim(SimulatorExe(), {"--prices", Prices(), "--restore-ms", "20"});
    if (!sim.WaitReady()) return;
    {
        ScopedVariable on("KELVARINVK_TRACE", trace);
        for (int script : {4, 5}) {
            std::vector<std::string> args = KvhostAddInArguments();
            args.push_back(Argument(script));
            Child kvhost(Child::Program{Kvhost()}, args);
            const long code = kvhost.Wait(60000);
            if (code != 0)
                Fail(__FILE__, __LINE__,
                     "kvhost ended with " + Show(code) + ":\n" + kvhost.Output());
        }
    }
    const std::vector<std::string> traced = TracedRequests(ReadFile(trace));
    const std::vector<std::string> simulated = SimulatedRequests(sim.Log());
    // FindPosition and FindPacket; the count, the line, the archive, the count again.
    KV_CHECK_EQ(traced.size(), size_t{6});
    KV_CHECK_EQ(traced.size(), simulated.size());
    for (size_t i = 0; i < traced.size() && i < simulated.size(); ++i) {
        KV_CHECK_EQ(traced[i], simulated[i]);
    }
    DeleteFileA(trace.c_str());
    RemoveDirectoryA(dir.c_str());
}

// How a session of the component goes when nobody answers: the results of a few requests and
// what the host's log received.
struct Outcome {
    std::vector<LONG> results;
    std::vector<std::string> errors;
    bool operator==(const Outcome&) const = default;
};

Outcome UnansweredSession() {
    Session vk;
    Outcome outcome;
    if (!vk.ok()) return outcome;
    outcome.results.push_back(vk.Call("CountPositionInZakaz"));
    outcome.results.push_back(
        vk.Call("FindPosition", {Session::Int(1), Session::Int(0), Session::Str("1")}));
    outcome.results.push_back(vk.Int("PriceID"));
    // Amount takes no text that is not a number: an error for the host's log.
    outcome.results.push_back(vk.Write("Amount", kv::Variant::Text(u"abc")).accepted);
    outcome.errors = vk.TakeErrors();
    return outcome;
}

// A value of the user's key of the component, there while the object lives.
class UserSetting {
  public:
    UserSetting(const wchar_t* name, const std::string& value) : name_(name) {
        const std::wstring text = Utf16(value);
        Write(REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    UserSetting(const wchar_t* name, DWORD value) : name_(name) {
        Write(REG_DWORD, &value, sizeof value);
    }
    ~UserSetting() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KelvarinVK", 0, KEY_WRITE, &key) == 0) {
            RegDeleteValueW(key, name_);
            RegCloseKey(key);
        }
    }
    UserSetting(const UserSetting&) = delete;
    UserSetting& operator=(const UserSetting&) = delete;

  private:
    void Write(DWORD type, const void* data, size_t bytes) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KelvarinVK", 0, nullptr, 0, KEY_WRITE,
                        nullptr, &key, nullptr);
        RegSetValueExW(key, name_, 0, type, static_cast<const BYTE*>(data),
                       static_cast<DWORD>(bytes));
        RegCloseKey(key);
    }
    const wchar_t* name_;
};

bool EmptyDirectory(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    bool empty = true;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") empty = false;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return empty;
}

// The two switches: the per-user registry value and the environment variable, which wins. Off,
// the component makes no file, not in the working directory nor in the temporary one; and a
// trace that cannot be written leaves every result and error as it is without one.
void Switches() {
    const std::string dir = TempDirectory("trace-switch");
    const std::string quiet = TempDirectory("trace-quiet");
    const std::string by_registry = dir + "\\by-registry.log";
    const std::string by_variable = dir + "\\by-variable.log";
    char temp[MAX_PATH] = {};
    GetEnvironmentVariableA("TEMP", temp, sizeof temp);
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof cwd, cwd);

    Outcome off;
    {
        ScopedVariable temp_dir("TEMP", quiet);
        ScopedVariable tmp_dir("TMP", quiet);
        SetCurrentDirectoryA(quiet.c_str());
        off = UnansweredSession();
        SetCurrentDirectoryA(cwd);
    }
    KV_CHECK(EmptyDirectory(quiet));
    KV_CHECK_EQ(off.results.size(), size_t{4});
    KV_CHECK_EQ(off.errors.size(), size_t{1});

    {
        UserSetting on(L"Trace", by_registry);
        KV_CHECK(UnansweredSession() == off);
        const std::string trace = ReadFile(by_registry);
        KV_CHECK_EQ(TracedRequests(trace).size(), size_t{2});
        KV_CHECK(trace.find("\terror\ttext=") != std::string::npos);
        {
            ScopedVariable wins("KELVARINVK_TRACE", by_variable);
            KV_CHECK(UnansweredSession() == off);
        }
        KV_CHECK_EQ(ReadFile(by_registry), trace);
        KV_CHECK_EQ(TracedRequests(ReadFile(by_variable)).size(), size_t{2});
        // A directory cannot be appended to.
        ScopedVariable unwritable("KELVARINVK_TRACE", dir);
        KV_CHECK(UnansweredSession() == off);
    }
    // Switched off again: the next object writes nothing.
    const std::string before = ReadFile(by_registry);
    KV_CHECK(UnansweredSession() == off);
    KV_CHECK_EQ(ReadFile(by_registry), before);
    for (const std::string& file : {by_registry, by_variable}) DeleteFileA(file.c_str());
    RemoveDirectoryA(dir.c_str());
    RemoveDirectoryA(quiet.c_str());
}

constexpr int kWriters = 3;
constexpr int kRequestsEach = 400;

// Each writer says it is ready, and all start together once all are.
constexpr char kReady[] = "KvTraceTestReady";
constexpr char kStart[] = "KvTraceTestStart";

// A child: its requests, each one line of the trace that the environment names.
void Writer() {
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Timeout", 10000);  // the copies take turns at the block
    HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, kReady);
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, kStart);
    KV_CHECK(ready != nullptr && ReleaseSemaphore(ready, 1, nullptr));
    KV_CHECK(start != nullptr && WaitForSingleObject(start, 60000) == WAIT_OBJECT_0);
    for (HANDLE handle : {ready, start}) {
        if (handle != nullptr) CloseHandle(handle);
    }
    for (int i = 0; i < kRequestsEach; ++i) vk.Call("CountPositionInZakaz");
}

// Processes appending to one trace at once, with a limit of 16 KiB from the user's key: every
// line arrives whole, and the file and its one older file stay within the limit.
void Concurrent() {
    const std::string dir = TempDirectory("trace-concurrent");
    const std::string trace = dir + "\\trace.log";
    constexpr size_t kLimit = 16 * 1024;
    {
        ScopedVariable on("KELVARINVK_TRACE", trace);
        UserSetting limit(L"TraceLimitKB", DWORD{16});  // a number, as regedit writes one
        HANDLE ready = CreateSemaphoreA(nullptr, 0, kWriters, kReady);
        HANDLE start = CreateEventA(nullptr, TRUE, FALSE, kStart);
        std::vector<std::unique_ptr<Child>> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.push_back(std::make_unique<Child>("writer", std::vector<std::string>{}));
        }
        for (int w = 0; w < kWriters; ++w) KV_CHECK(WaitForSingleObject(ready, 60000) == 0);
        SetEvent(start);
        for (auto& writer : writers) {
            const long code = writer->Wait(120000);
            if (code != 0) Fail(__FILE__, __LINE__, "a writer: " + writer->Output());
        }
        CloseHandle(start);
        CloseHandle(ready);
    }
    size_t lines = 0;
    for (const std::string& file : {trace, trace + ".1"}) {
        KV_CHECK(Exists(file));
        const std::string text = ReadFile(file);
        KV_CHECK(text.size() <= kLimit);
        for (const std::string& line : Split(text, '\n')) {
            std::map<std::string, std::string> f = Fields(line);
            const bool whole = line.size() > 24 && line[4] == '-' && line[23] == '\t' &&
                               f["event"] == "request" && f["method"] == "CountPositionInZakaz" &&
                               f["result"] == "0" && f["outcome"] == "no window";
            if (!whole) {
                Fail(__FILE__, __LINE__, "a line that is not whole: " + Show(line));
                return;
            }
            ++lines;
        }
    }
    // The older file was renamed only once it had no room for one more line of about 110 bytes.
    KV_CHECK(lines > kLimit / 150);
    for (const std::string& file : {trace, trace + ".1"}) DeleteFileA(file.c_str());
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "writer") == 0) {
        return RunInApartment(argc, argv, {{"writer", Writer}});
    }
    return RunInApartment(argc, argv,
                          {{"demo", Demo}, {"switches", Switches}, {"concurrent", Concurrent}});
}
