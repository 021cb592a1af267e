// The registry connection as the Windows build has it: the client library loaded with
// LoadLibraryA by its Windows name, entry points called with the Windows convention, reaching
// a real database through the test bridge. `registry_wine_test GROUP DATABASE` runs one group
// of checks and ends with "KV-TEST-PASSED GROUP" when all of them held.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/text.h"
#include "matching/registry.h"
#include "platform/platform.h"

namespace {

int g_failures = 0;
std::string g_database;  // Unix path

void Fail(int line, const std::string& what) {
    ++g_failures;
    std::printf("registry_wine_test.cpp:%d: %s\n", line, what.c_str());
}

#define KV_CHECK(condition)                                        \
    do {                                                           \
        if (!(condition)) Fail(__LINE__, "CHECK(" #condition ")"); \
    } while (0)
#define KV_CHECK_EQ(actual, expected)                                                             \
    do {                                                                                          \
        const auto kv_actual_ = (actual);                                                         \
        const auto kv_expected_ = (expected);                                                     \
        if (!(kv_actual_ == kv_expected_)) {                                                      \
            Fail(__LINE__, #actual " == " #expected ": got " + Show(kv_actual_) + ", expected " + \
                               Show(kv_expected_));                                               \
        }                                                                                         \
    } while (0)

std::string Show(const std::string& text) { return "\"" + text + "\""; }
std::string Show(long long value) { return std::to_string(value); }

// The Unix path of the test's database as a Windows drive-letter path.
std::string WindowsPath(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::string AttachError(const std::string& database, const std::string& library) {
    kv::RegistryConnection c(kv::DefaultPlatform().libraries);
    c.Configure(database, "SYSDBA", "masterkey", "", library);
    try {
        c.Attach();
    } catch (const kv::Error& e) {
        KV_CHECK(!c.Attached());
        return e.what();
    }
    return "attached";
}

void QueryOnce() {
    kv::RegistryConnection c(kv::DefaultPlatform().libraries);
    c.Configure(WindowsPath(g_database), "SYSDBA", "", "", "gds32.dll");
    c.Attach();
    c.StartTransaction();
    c.SetParameter(kv::Cp1251FromUtf8("АСПИР"));
    c.Open();
    KV_CHECK_EQ(static_cast<long long>(c.RowCount()), 1LL);
    KV_CHECK_EQ(static_cast<long long>(c.FieldAsInteger("TRADE_NAME_ID")), 101LL);
    KV_CHECK_EQ(c.FieldAsText("FABR_NAME_ID"), std::string("101"));
    KV_CHECK_EQ(kv::Utf8FromCp1251(c.FieldAsText("TRADE_NAME")), std::string("Аспирин табл."));
    c.Close();
    c.ReplaceFilterLine("");
    c.Open();
    KV_CHECK(c.MoveTo(1));
    KV_CHECK(!c.Next());
    KV_CHECK_EQ(static_cast<long long>(c.RowCount()), 2LL);
    KV_CHECK_EQ(kv::Utf8FromCp1251(c.RowText(1, "FABR_NAME")), std::string("Фарм"));
    c.CloseConnection();
    KV_CHECK(!c.Attached());
}

void Query() {
    KV_CHECK(GetModuleHandleA("gds32.dll") == nullptr);
    QueryOnce();
    // The client runs threads of its own after the last detach: its library stays loaded.
    KV_CHECK(GetModuleHandleA("gds32.dll") != nullptr);
}

void Failures() {
    KV_CHECK_EQ(AttachError(WindowsPath(g_database), "nosuch.dll"),
                std::string("Can't load library nosuch.dll "));
    KV_CHECK_EQ(AttachError(WindowsPath(g_database), "kernel32.dll"),
                std::string("Can't load library kernel32.dll "));
    KV_CHECK_EQ(AttachError("", "gds32.dll"), std::string("Database name is missing."));
    const std::string missing = WindowsPath(g_database + ".missing");
    const std::string text = AttachError(missing, "gds32.dll");
    const std::string expected = "I/O error during \"open\" operation for file";
    KV_CHECK_EQ(text.substr(0, expected.size()), expected);
}

#if defined(__i386__)
// Calls `entry` with `count` arguments pushed right to left, as a Windows caller does, and gives
// how many bytes the stack pointer is off afterwards: 0 for a callee that removes its own
// arguments (stdcall), 4 per argument for one that leaves them to its caller (cdecl).
int StackLeftBehind(void* entry, const uint32_t* args, int count) {
    int left;
    __asm__ volatile(
        "movl %[count], %%ecx\n\t"
        "movl %%esp, %%esi\n"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "decl %%ecx\n\t"
        "pushl (%[args],%%ecx,4)\n\t"
        "jmp 1b\n"
        "2:\n\t"
        "call *%[entry]\n\t"
        "movl %%esi, %%eax\n\t"
        "subl %%esp, %%eax\n\t"
        "movl %%esi, %%esp\n\t"
        : "=&a"(left)
        : [entry] "b"(entry), [args] "D"(args), [count] "g"(count)
        : "ecx", "edx", "esi", "memory", "cc");
    return left;
}

// Every entry point of the client library that the component calls keeps the stdcall
// convention, and reports its failure in a status vector of 4-byte integers: each is called
// with handles that do not exist, which the client refuses.
void Convention() {
    HMODULE client = LoadLibraryA("gds32.dll");
    KV_CHECK(client != nullptr);
    if (client == nullptr) return;
    int32_t status[20] = {};
    uint32_t handle = 0;
    const std::string missing = WindowsPath(g_database + ".missing");
    char text[256] = {};
    const int32_t vector[] = {1, 335544382, 2,
                              static_cast<int32_t>(reinterpret_cast<uintptr_t>("x")), 0};
    const int32_t* cursor = vector;
    const auto p = [](const void* pointer) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
    };
    struct Call {
        const char* name;
        std::vector<uint32_t> args;
        bool sets_status;
    };
    const Call calls[] = {
        {"isc_attach_database", {p(status), 0, p(missing.c_str()), p(&handle), 0, 0}, true},
        {"isc_detach_database", {p(status), p(&handle)}, true},
        {"isc_start_multiple", {p(status), p(&handle), 0, 0}, true},
        {"isc_rollback_transaction", {p(status), p(&handle)}, true},
        {"isc_dsql_alloc_statement2", {p(status), p(&handle), p(&handle)}, true},
        {"isc_dsql_prepare", {p(status), p(&handle), p(&handle), 0, p("select 1"), 3, 0}, true},
        {"isc_dsql_describe", {p(status), p(&handle), 1, 0}, true},
        {"isc_dsql_describe_bind", {p(status), p(&handle), 1, 0}, true},
        {"isc_dsql_execute", {p(status), p(&handle), p(&handle), 1, 0}, true},
        {"isc_dsql_fetch", {p(status), p(&handle), 1, 0}, true},
        {"isc_dsql_free_statement", {p(status), p(&handle), 2}, true},
        {"fb_interpret", {p(text), sizeof text, p(&cursor)}, false},
    };
    for (const Call& call : calls) {
        void* entry = reinterpret_cast<void*>(GetProcAddress(client, call.name));
        if (entry == nullptr) {
            Fail(__LINE__, std::string("no entry point ") + call.name);
            continue;
        }
        std::fill(std::begin(status), std::end(status), -7);
        handle = 0;
        const int left =
            StackLeftBehind(entry, call.args.data(), static_cast<int>(call.args.size()));
        if (left != 0) {
            Fail(__LINE__, std::string(call.name) + " leaves the stack pointer " +
                               std::to_string(left) + " bytes off");
        }
        // A refusal: "1" (an error code follows), a Firebird error code, then more arguments.
        if (call.sets_status &&
            (status[0] != 1 || status[1] < 335544320 || status[1] > 336000000)) {
            Fail(__LINE__, std::string(call.name) + " left the status vector " +
                               std::to_string(status[0]) + ", " + std::to_string(status[1]));
        }
    }
    KV_CHECK(text[0] != '\0');
    FreeLibrary(client);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: registry_wine_test query|failures|convention DATABASE\n");
        return 2;
    }
    g_database = argv[2];
    const std::string group = argv[1];
    try {
        if (group == "query") {
            Query();
        } else if (group == "failures") {
            Failures();
#if defined(__i386__)
        } else if (group == "convention") {
            Convention();
#endif
        } else {
            Fail(__LINE__, "no group " + group);
        }
    } catch (const kv::Error& e) {
        Fail(__LINE__, std::string("error: ") + e.what());
    }
    if (g_failures == 0) std::printf("KV-TEST-PASSED %s\n", group.c_str());
    std::fflush(stdout);
    return g_failures;
}
