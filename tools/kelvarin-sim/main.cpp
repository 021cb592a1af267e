// sim-kelvarin.exe: a stand-in for the desktop ordering application, for trying a 1C
// configuration and for the end-to-end tests. It creates the shared block, announces its
// message-only window in field 2 and answers the component's messages from a price list; its
// options make it late, silent, hung, wrong or short-lived. Every event is one line of UTF-8 on
// standard output (or in the --log file).
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "desk.h"

namespace {

constexpr char kUsage[] =
    "usage: sim-kelvarin.exe [options]\n"
    "  --prices FILE       price list: UTF-8, one offer per line, 8 tab-separated fields\n"
    "  --block-size N      bytes of the shared block when this program creates it (65536)\n"
    "  --delay-ms N        answer N ms after the message has returned\n"
    "  --random-delay-ms N answer after a random delay of 0 to N ms instead (--seed S, 1)\n"
    "  --queue             answer every request when its delay is over, never dropping the\n"
    "                      late answer of an earlier one when a new request comes\n"
    "  --late TEXT N       answer a request whose text contains TEXT only N ms after it\n"
    "  --hang-ms N         hold each message N ms before answering\n"
    "  --silent            never answer\n"
    "  --garbage MODE      status: a status field that is no number; fill: status 1 and then\n"
    "                      bytes without a zero up to the end of the block\n"
    "  --exit-after N      exit after handling N requests\n"
    "  --restore-ms N      write the window back into field 2 N ms after a FindPacket answer "
    "(100)\n"
    "  --ignore TEXT       never answer a request whose text contains TEXT\n"
    "  --log FILE          write the log there instead of standard output\n";

struct Options {
    std::string prices;
    uint32_t block_size = 65536;
    uint32_t delay_ms = 0;
    std::optional<uint32_t> random_delay_ms;
    uint32_t seed = 1;
    bool queue = false;
    std::string late;  // ANSI, as the request texts are
    uint32_t late_ms = 0;
    uint32_t hang_ms = 0;
    bool silent = false;
    std::string garbage;
    uint32_t exit_after = 0;
    uint32_t restore_ms = 100;
    std::string ignore;  // ANSI, as the request texts are
    std::string log;
};

constexpr UINT_PTR kAnswerTimer = 1;
constexpr UINT_PTR kRestoreTimer = 2;

struct State {
    Options options;
    FILE* log = stdout;
    kvsim::Desk* desk = nullptr;
    char* view = nullptr;
    size_t capacity = 0;
    uint32_t requests = 0;
    // Late answers waiting for their time, earliest first; without --queue at most one.
    struct Pending {
        DWORD due;  // GetTickCount
        kvsim::Reply reply;
    };
    std::vector<Pending> pending;
    std::mt19937 random;
};
State g;

void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(g.log, format, args);
    va_end(args);
    std::fputc('\n', g.log);
    std::fflush(g.log);
}

// The block's text: up to its first zero byte, or the whole block without one.
std::string BlockText() {
    const void* zero = std::memchr(g.view, 0, g.capacity);
    return std::string(g.view,
                       zero != nullptr ? static_cast<const char*>(zero) - g.view : g.capacity);
}

// Writes a text and its zero byte, cut to the block when it does not fit.
void WriteBlock(const std::string& text) {
    size_t length = text.size();
    if (length + 1 > g.capacity) {
        Log("CUT answer of %zu bytes to the block's %zu", length + 1, g.capacity);
        length = g.capacity - 1;
    }
    std::memcpy(g.view, text.data(), length);
    g.view[length] = '\0';
}

void FillWithGarbage() {
    const char head[] = "1\t";
    std::memcpy(g.view, head, 2);
    for (size_t i = 2; i < g.capacity; ++i) {
        g.view[i] = static_cast<char>(i % 7 == 0 ? '\t' : 'A' + static_cast<int>(i % 26));
    }
    Log("ANSWER garbage: status 1, then %zu bytes without a zero", g.capacity - 2);
}

// The timer fires when the earliest late answer is due.
void ArmAnswerTimer(HWND window) {
    if (g.pending.empty()) {
        KillTimer(window, kAnswerTimer);
        return;
    }
    const LONG left = static_cast<LONG>(g.pending.front().due - GetTickCount());
    SetTimer(window, kAnswerTimer, left > 0 ? static_cast<UINT>(left) : USER_TIMER_MINIMUM,
             nullptr);
}

void CountRequest(HWND window) {
    if (g.options.exit_after != 0 && g.requests >= g.options.exit_after) {
        Log("EXIT after %u requests", g.requests);
        DestroyWindow(window);
    }
}

void Deliver(HWND window, const kvsim::Reply& reply) {
    if (g.options.garbage == "fill") {
        FillWithGarbage();
    } else if (g.options.garbage == "status") {
        const size_t tab = reply.text.find('\t');
        const std::string text = "?" + (tab == std::string::npos ? "" : reply.text.substr(tab));
        WriteBlock(text);
        Log("ANSWER garbage: %s", kvsim::Printable(text).c_str());
    } else {
        WriteBlock(reply.text);
        Log("ANSWER %s", kvsim::Printable(reply.text).c_str());
        if (reply.restore_handle) SetTimer(window, kRestoreTimer, g.options.restore_ms, nullptr);
    }
    CountRequest(window);
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    std::fclose(file);
    return bytes;
}

void OnRequest(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const kv::messages::MessageInfo* info = kv::messages::Find(message);
    ++g.requests;
    const std::string request = BlockText();
    // Message parameters are 32-bit integers on both sides.
    const auto w = static_cast<int32_t>(wparam);
    const auto l = static_cast<int32_t>(lparam);
    Log("REQUEST %u %s wParam=%d lParam=%d text=%s", message, info->method, w, l,
        kvsim::Printable(request).c_str());
    if (!g.options.queue && !g.pending.empty()) {
        g.pending.clear();
        Log("DROPPED the late answer of the previous request");
    }
    KillTimer(window, kRestoreTimer);
    if (g.options.silent) {
        Log("SILENT");
        CountRequest(window);
        return;
    }
    if (!g.options.ignore.empty() && request.find(g.options.ignore) != std::string::npos) {
        Log("IGNORED");
        CountRequest(window);
        return;
    }
    if (g.options.hang_ms > 0) Sleep(g.options.hang_ms);
    kvsim::Reply reply = g.desk->Handle(message, w, l, request, ReadFileBytes);
    uint32_t delay = g.options.delay_ms;
    if (g.options.random_delay_ms) {
        delay = std::uniform_int_distribution<uint32_t>(0, *g.options.random_delay_ms)(g.random);
    }
    if (!g.options.late.empty() && request.find(g.options.late) != std::string::npos) {
        delay = g.options.late_ms;
    }
    if (!reply.answers) {
        Log("TAKEN (the component does not wait for an answer)");
        CountRequest(window);
    } else if (delay > 0) {
        Log("LATER in %u ms", delay);
        const DWORD due = GetTickCount() + delay;
        const auto later = std::find_if(g.pending.begin(), g.pending.end(), [due](const auto& p) {
            return static_cast<LONG>(p.due - due) > 0;
        });
        g.pending.insert(later, {due, std::move(reply)});
        ArmAnswerTimer(window);
    } else {
        Deliver(window, reply);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (kv::messages::Find(message) != nullptr) {
        // Nothing may unwind through the system's call of this procedure.
        try {
            OnRequest(window, message, wparam, lparam);
        } catch (const std::exception& e) {
            Log("ERROR %s", e.what());
        }
        return 0;
    }
    switch (message) {
        case WM_TIMER:
            KillTimer(window, wparam);
            if (wparam == kAnswerTimer) {
                // Every answer whose time has come, in the order of their times.
                while (!g.pending.empty() &&
                       static_cast<LONG>(GetTickCount() - g.pending.front().due) >= 0) {
                    const kvsim::Reply reply = std::move(g.pending.front().reply);
                    g.pending.erase(g.pending.begin());
                    Deliver(window, reply);
                }
                ArmAnswerTimer(window);
            } else if (wparam == kRestoreTimer) {
                // Whatever came since: a request sent meanwhile to the record's number as its
                // window stays pending, and the next one finds the window.
                WriteBlock(g.desk->WithWindow(BlockText()));
                Log("RESTORED the window in field 2");
            }
            return 0;
        case WM_CLOSE:
            Log("CLOSE");
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}

uint32_t Number(const char* text, const char* option) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0') {
        throw std::runtime_error(std::string(option) + " needs a number, not \"" + text + "\"");
    }
    return static_cast<uint32_t>(value);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw std::runtime_error(name + " needs a value");
            return argv[++i];
        };
        if (name == "--prices") {
            o.prices = value();
        } else if (name == "--block-size") {
            o.block_size = Number(value(), "--block-size");
        } else if (name == "--delay-ms") {
            o.delay_ms = Number(value(), "--delay-ms");
        } else if (name == "--random-delay-ms") {
            o.random_delay_ms = Number(value(), "--random-delay-ms");
        } else if (name == "--seed") {
            o.seed = Number(value(), "--seed");
        } else if (name == "--queue") {
            o.queue = true;
        } else if (name == "--late") {
            o.late = value();
            o.late_ms = Number(value(), "--late");
        } else if (name == "--hang-ms") {
            o.hang_ms = Number(value(), "--hang-ms");
        } else if (name == "--silent") {
            o.silent = true;
        } else if (name == "--garbage") {
            o.garbage = value();
            if (o.garbage != "status" && o.garbage != "fill") {
                throw std::runtime_error("--garbage is status or fill");
            }
        } else if (name == "--exit-after") {
            o.exit_after = Number(value(), "--exit-after");
        } else if (name == "--restore-ms") {
            o.restore_ms = Number(value(), "--restore-ms");
        } else if (name == "--ignore") {
            o.ignore = value();
        } else if (name == "--log") {
            o.log = value();
        } else {
            throw std::runtime_error("unknown option " + name);
        }
    }
    if (o.block_size < 16) throw std::runtime_error("--block-size is at least 16");
    return o;
}

kvsim::Formats RegionalFormats() {
    kvsim::Formats formats;
    char decimal[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, sizeof decimal) > 1) {
        formats.decimal_separator = decimal[0];
    }
    formats.short_date = [](const kvsim::Date& date) {
        SYSTEMTIME day{};
        day.wYear = static_cast<WORD>(date.year);
        day.wMonth = static_cast<WORD>(date.month);
        day.wDay = static_cast<WORD>(date.day);
        char text[64] = {};
        if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &day, nullptr, text, sizeof text) ==
            0) {
            return std::string();
        }
        return std::string(text);
    };
    return formats;
}

int Run(int argc, char** argv) {
    g.options = ParseOptions(argc, argv);
    g.random.seed(g.options.seed);
    if (!g.options.log.empty()) {
        g.log = std::fopen(g.options.log.c_str(), "a");
        if (g.log == nullptr) throw std::runtime_error("cannot write the log " + g.options.log);
    }
    std::vector<kvsim::Offer> offers;
    if (!g.options.prices.empty()) {
        const std::optional<std::string> text = ReadFileBytes(g.options.prices);
        if (!text) throw std::runtime_error("cannot read the price list " + g.options.prices);
        offers = kvsim::ParsePriceList(*text);
    }
    kvsim::Desk desk(std::move(offers), RegionalFormats());
    g.desk = &desk;

    HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      g.options.block_size, kvsim::kBlockName);
    if (block == nullptr) {
        throw std::runtime_error("cannot create the shared block, error " +
                                 std::to_string(GetLastError()));
    }
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    g.view = static_cast<char*>(MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, 0));
    MEMORY_BASIC_INFORMATION region{};
    if (g.view == nullptr || VirtualQuery(g.view, &region, sizeof region) == 0) {
        CloseHandle(block);
        throw std::runtime_error("cannot map the shared block");
    }
    // The block is whole pages; what this program asked for is the most it uses, unless the
    // block was there before and is bigger.
    g.capacity =
        existed ? region.RegionSize : std::min<size_t>(region.RegionSize, g.options.block_size);
    desk.SetCapacity(g.capacity);

    WNDCLASSA window_class{};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "KelvarinSimulator";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, window_class.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, window_class.hInstance, nullptr);
    if (window == nullptr) {
        UnmapViewOfFile(g.view);
        CloseHandle(block);
        throw std::runtime_error("cannot create the window");
    }
    desk.SetWindow(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
    WriteBlock(desk.IdleText());
    Log("READY window=%u block=%zu offers=%zu existed=%d pid=%lu",
        static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)), g.capacity,
        desk.offers().size(), existed ? 1 : 0, GetCurrentProcessId());

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);

    Log("STOPPED requests=%u current=%zu auto=%zu archive=%zu", g.requests,
        desk.current_order().size(), desk.auto_order().size(), desk.archive().size());
    UnmapViewOfFile(g.view);
    CloseHandle(block);
    if (g.log != stdout) std::fclose(g.log);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sim-kelvarin: %s\n%s", e.what(), kUsage);
        return 2;
    }
}
