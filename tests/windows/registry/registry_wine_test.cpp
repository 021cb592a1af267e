// The registry connection as the Windows build has it: the client library loaded with
// LoadLibraryA by its Windows name, entry points called with the Windows convention, reaching
// a real database through the test bridge. `registry_wine_test GROUP DATABASE` runs one group
// of checks and ends with "KV-TEST-PASSED GROUP" when all of them held.
#include <cstdio>
#include <string>

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

void Query() {
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: registry_wine_test query|failures DATABASE\n");
        return 2;
    }
    g_database = argv[2];
    const std::string group = argv[1];
    try {
        if (group == "query") {
            Query();
        } else if (group == "failures") {
            Failures();
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
