#pragma once
// What the fuzz targets share: a check that stops the run with a message, a reader that takes
// an input apart, the reference readings of numbers the checks compare against, and a platform
// of fakes, so that no input can touch a real file, process, window or library.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "addin/methods.h"
#include "common/text.h"
#include "component/protocol.h"
#include "platform/platform.h"

namespace kv::fuzz {

// A broken property is a finding like a crash: the message says which, the abort makes the
// fuzzer keep the input.
[[noreturn]] inline void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n%s\n", what, detail.c_str());
    std::abort();
}

inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what, {});
}

// The detail is made only when the check fails: the passing runs stay fast.
template <typename Detail>
inline void Check(bool ok, const char* what, Detail&& detail) {
    if (!ok) Fail(what, detail());
}

// A text shown byte for byte: printable ASCII as it is, everything else as \xNN.
inline std::string Shown(std::string_view text) {
    std::string shown = "\"";
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 32 && b < 127 && c != '\\' && c != '"') {
            shown += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            shown += hex;
        }
    }
    return shown + "\"";
}

// Takes an input apart from the front: single bytes, little-endian numbers, lines and the rest.
// Past the end every read gives zeros or the empty text, so any input is a valid one.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

    uint8_t Byte() {
        if (rest_.empty()) return 0;
        const auto b = static_cast<uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }
    template <typename T>
    T Number() {
        uint64_t bits = 0;
        for (size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<uint64_t>(Byte()) << (8 * i);
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // Up to the next line feed, which is consumed; the rest when there is none.
    std::string_view Line() {
        const size_t end = rest_.find('\n');
        const std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return line;
    }
    std::string_view Take(size_t n) {
        const std::string_view part = rest_.substr(0, n);
        rest_.remove_prefix(part.size());
        return part;
    }
    std::string_view Rest() {
        const std::string_view all = rest_;
        rest_ = {};
        return all;
    }
    bool empty() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

// The number grammar of the answers and of text values, read independently of the component:
// optional blanks (space, tab) around it, an optional sign, digits with at most one decimal
// separator, an optional exponent. The value is the C library's reading of the same digits.
inline bool ReferenceDecimal(std::string_view text, char separator, double& out) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::string plain;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
    bool digit = false, point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            plain += text[i];
            digit = true;
        } else if (text[i] == separator && !point) {
            plain += '.';
            point = true;
        } else {
            break;
        }
    }
    if (!digit) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        const size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') plain += text[i++];
        if (i == start) return false;
    }
    if (i != text.size()) return false;
    out = std::strtod(plain.c_str(), nullptr);
    return true;
}

// A decimal integer as the block's fields hold it: optional leading spaces, an optional sign,
// digits and nothing else, inside the 32-bit range.
inline bool ReferenceInt32(std::string_view text, int32_t& out) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
    if (text.empty() || text.size() > 10) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const long long magnitude = std::stoll(std::string(text));
    const long long value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    out = static_cast<int32_t>(value);
    return true;
}

// The shared block and the turn mutex of a desktop application that the target scripts. Every
// rule of the cycle that a peer could notice is checked as it happens.
class FuzzDesktop final : public DesktopChannel {
  public:
    static constexpr uintptr_t kBlock = 0x4d4d;
    static constexpr uintptr_t kTurn = 0x7475;

    struct Message {
        int32_t window;
        uint32_t message;
        std::vector<char> block;  // the whole block as the message found it
    };

    std::vector<char> block;
    bool open_fails = false;
    bool map_fails = false;
    bool turn_open_fails = false;
    // The answer, written over the block from its start on a message (with a zero byte only
    // when it is shorter than the block), inside the message or after that many pauses.
    bool answers = true;
    std::string answer;
    int answer_after_pauses = 0;
    // After an answer: the announcement "0" TAB window TAB is put back after that many pauses
    // (negative: never).
    int window_back_after_pauses = -1;
    int32_t window_back = 123456;
    int busy_turn_waits = 0;  // waits in which another copy still holds the turn
    bool turn_abandoned = false;
    // StopFind from another thread, once that many pauses have passed (negative: never).
    int stop_after_pauses = -1;
    // Ticks that a pause lasts, when not the milliseconds asked for and one more: long pauses
    // let a Timeout of weeks run out within a few thousand pauses.
    uint32_t pause_ticks = 0;
    std::atomic<int32_t>* searching = nullptr;

    // The window that `window_exists` answers for; others are never windows.
    bool window_exists = true;
    std::vector<char> record = std::vector<char>(24, '\0');

    uint32_t tick = 1000;
    std::vector<Message> messages;
    int opened = 0, closed = 0, mapped = 0, unmapped = 0;
    int pauses = 0;
    bool holds_turn = false;

    std::string Text() const {
        const auto zero = std::find(block.begin(), block.end(), '\0');
        return std::string(block.begin(), zero);
    }
    // The view, the block and the turn are all given back once a request has ended.
    void CheckReleased() const {
        Check(opened == closed, "every block opened is closed");
        Check(mapped == unmapped, "every view mapped is unmapped");
        Check(!holds_turn, "the turn does not outlive the request");
    }

    uintptr_t OpenBlock(const std::string& name, uint32_t) override {
        Check(name == "KelvarinMapFile", "the block's name");
        if (open_fails) return 0;
        ++opened;
        return kBlock;
    }
    View MapBlock(uintptr_t handle) override {
        Check(handle == kBlock, "the view is of the block opened");
        if (map_fails || block.empty()) return {};
        ++mapped;
        return {block.data(), block.size()};
    }
    void UnmapBlock(const View& view) override {
        Check(view.data == block.data(), "the view unmapped is the one mapped");
        ++unmapped;
    }
    void CloseBlock(uintptr_t handle) override {
        Check(handle == kBlock, "the block closed is the one opened");
        ++closed;
    }
    TurnObjects OpenTurn(const std::string& mutex_name, const std::string&,
                         uint32_t record_size) override {
        Check(record_size == record.size(), "the record's size");
        TurnObjects turn;
        if (turn_open_fails) {
            turn.missing = mutex_name;
            return turn;
        }
        turn.mutex = kTurn;
        turn.record = {record.data(), record.size()};
        return turn;
    }
    TurnWait WaitForTurn(uintptr_t turn, uint32_t milliseconds) override {
        Check(turn == kTurn, "the turn waited for is the one opened");
        Check(!holds_turn, "a request takes its turn once");
        if (busy_turn_waits > 0) {
            --busy_turn_waits;
            tick += milliseconds;
            Stopping();
            return TurnWait::Busy;
        }
        holds_turn = true;
        return turn_abandoned ? TurnWait::TakenAbandoned : TurnWait::Taken;
    }
    void EndTurn(uintptr_t turn) override {
        Check(turn == kTurn && holds_turn, "only a turn taken is ended");
        holds_turn = false;
    }
    View HeldRecord() override { return {record.data(), record.size()}; }
    bool WindowExists(int32_t) override { return window_exists; }
    void SendToWindow(int32_t window, uint32_t message, int32_t, int32_t) override {
        Check(holds_turn || turn_open_fails, "a message is sent only in the request's turn");
        messages.push_back({window, message, block});
        if (!answers) return;
        pending_ = true;
        pending_pauses_ = answer_after_pauses;
        if (pending_pauses_ == 0) Reply();
    }
    uint32_t TickCount() override { return tick; }
    void Pause(uint32_t milliseconds) override {
        // The fakes end every wait long before this; a cycle that does not is a hang.
        Check(++pauses < 100000, "a wait ends");
        tick += pause_ticks != 0 ? pause_ticks : milliseconds + 1;
        // The window comes back at the earliest in the pause after the one in which the
        // answer came: the component reads an answer before it pauses again.
        if (replied_ && window_back_after_pauses >= 0 &&
            ++pauses_since_reply_ > window_back_after_pauses) {
            Write("0\t" + std::to_string(window_back) + "\t");
            window_back_after_pauses = -1;
        }
        if (pending_ && --pending_pauses_ <= 0) Reply();
        Stopping();
    }

  private:
    void Stopping() {
        if (stop_after_pauses >= 0 && pauses >= stop_after_pauses && searching != nullptr) {
            searching->store(0);
        }
    }
    void Write(std::string_view text) {
        const size_t n = std::min(text.size(), block.size());
        std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), block.begin());
        if (n < block.size()) block[n] = '\0';
    }
    void Reply() {
        pending_ = false;
        replied_ = true;
        Write(answer);
    }
    bool pending_ = false;
    int pending_pauses_ = 0;
    bool replied_ = false;
    int pauses_since_reply_ = 0;
};

class FixedRegional final : public RegionalSource {
  public:
    RegionalSettings settings = RegionalSettings::Russian();
    const RegionalSettings& Settings() override { return settings; }
};

class FixedClock final : public Clock {
  public:
    LocalDateTime now{2025, 12, 8, 14, 5, 9, 0};
    LocalDateTime Now() override { return now; }
};

class CountedNotices final : public NoticeBox {
  public:
    int shown = 0;
    void Show(std::string_view, bool) override { ++shown; }
};

// Directories and files that exist only in memory; a name that the pattern makes of anything
// at all lands here and nowhere else.
class MemoryFiles final : public FileSystem {
  public:
    std::set<std::string> directories;
    std::set<std::string> files;
    bool DirectoryExists(const std::string& path) override { return directories.count(path) > 0; }
    bool FileExists(const std::string& path) override { return files.count(path) > 0; }
    uint32_t MakeDirectory(const std::string& path) override {
        if (path.empty() || files.count(path) > 0) return 3;
        directories.insert(path);
        return 0;
    }
    CreateOutcome CreateNewFile(const std::string& path, std::string_view, uint32_t& os_error,
                                std::string& os_message) override {
        if (directories.count(path) > 0) {
            os_error = 5;
            os_message = "Access is denied.";
            return CreateOutcome::Failed;
        }
        if (!files.insert(path).second) return CreateOutcome::AlreadyExists;
        return CreateOutcome::Created;
    }
};

// A process list of two processes, one of them the desktop application, with no handle that
// could reach a real process.
class TwoProcesses final : public ProcessSystem {
  public:
    TwoProcesses() {
        table_.platform_id = 2;
        table_.enum_processes = [](uint32_t* ids, uint32_t bytes, uint32_t& returned) {
            const uint32_t count = std::min<uint32_t>(2, bytes / sizeof(uint32_t));
            for (uint32_t i = 0; i < count; ++i) ids[i] = 100 + i;
            returned = count * static_cast<uint32_t>(sizeof(uint32_t));
            return true;
        };
        table_.open_process = [](uint32_t, bool, uint32_t id) -> uintptr_t { return id; };
        table_.first_module = [](uintptr_t, uintptr_t& module) {
            module = 1;
            return true;
        };
        table_.module_file_name = [](uintptr_t process, uintptr_t, char* buffer, uint32_t size) {
            const char* name = process == 100 ? "C:\\Kelvarin\\KELVARIN.EXE" : "C:\\explorer.exe";
            const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(std::strlen(name)),
                                                  size > 0 ? size - 1 : 0);
            std::memcpy(buffer, name, n);
            if (size > 0) buffer[n] = '\0';
            return n;
        };
        table_.close_handle = [](uintptr_t) {};
    }
    const ProcessEntryPoints& EntryPoints() override { return table_; }

  private:
    ProcessEntryPoints table_;
};

class NoLibraries final : public LibraryLoader {
  public:
    void* Open(const std::string&, uint32_t& os_error) override {
        os_error = 0;
        return nullptr;
    }
    void* Symbol(void*, const char*) override { return nullptr; }
    void Close(void*) override {}
    std::string FileOf(void*) override { return {}; }
    void Pin(void*) override {}
};

// Every part of the platform a fake; the desktop channel is the target's to script.
struct FuzzPlatform {
    FuzzDesktop desktop;
    Cp1251Codec codec;
    FixedRegional regional;
    FixedClock clock;
    CountedNotices notices;
    MemoryFiles files;
    TwoProcesses processes;
    NoLibraries libraries;
    Platform platform{codec, regional, clock, notices, files, desktop, processes, libraries};
};

class RecordingErrors final : public ErrorSink {
  public:
    std::vector<ErrorRecord> records;
    void Write(const ErrorRecord& record) override { records.push_back(record); }
};

class VectorParams final : public ParamSource {
  public:
    std::vector<Variant> values;
    bool Get(int32_t n, Variant& out) const override {
        if (n < 0 || static_cast<size_t>(n) >= values.size()) return false;
        out = values[static_cast<size_t>(n)];
        return true;
    }
};

}  // namespace kv::fuzz
