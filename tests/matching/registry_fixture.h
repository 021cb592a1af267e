#pragma once
// Real Firebird registry databases for the connection tests: created with isql-fb in a private
// temporary directory per test (so parallel test processes never share a file), checked for
// leftover attachments, and optionally served by a private Firebird server on 127.0.0.1. Each
// test program has a Firebird lock directory of its own, which the isql runs it starts share.
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "matching/fb_api.h"
#include "platform/platform.h"

namespace kvtest {

// A directory under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// One row of tbl_reestr_names; texts in UTF-8, stored as Windows-1251.
struct RegistryRow {
    std::optional<long long> code, trade_name_id, fabr_name_id;
    std::optional<std::string> trade_name, full_form_name, fabr_name;
};

struct ProcessResult {
    int exit_code = -1;
    std::string output;  // stdout and stderr
};

// Runs a program to completion with extra environment variables; one still running after a
// minute is killed and fails the test.
ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {});

// Runs a Windows-1251 SQL script with isql-fb, failing the test when isql reports an error.
ProcessResult RunIsql(const std::string& script_cp1251,
                      const std::map<std::string, std::string>& env = {},
                      const std::vector<std::string>& extra_args = {});

// A SQL string literal of UTF-8 text, as Windows-1251 bytes, or null.
std::string SqlText(const std::optional<std::string>& utf8);

// Creates a WIN1251 database at `path` holding tbl_reestr_names with `rows`. `code_type` is the
// SQL type of the code column; `extra_sql` runs after the inserts (roles, grants).
void CreateRegistry(const std::string& path, const std::vector<RegistryRow>& rows,
                    const std::string& code_type = "integer", const std::string& extra_sql = "");

// Attachments to the database other than the checking one itself (system ones excluded), or
// -1 when the database cannot be opened at all, which is the case while another process, or
// this one, still holds it.
int OpenAttachments(const std::string& database, const std::string& user = "SYSDBA",
                    const std::string& password = "");

// A Firebird server of its own, listening on 127.0.0.1 on a free port, with its own root,
// lock directory and security database; stopped by its process id.
class FirebirdServer {
  public:
    // `users`: name and password of each login the server knows (SYSDBA included).
    explicit FirebirdServer(const std::map<std::string, std::string>& users);
    ~FirebirdServer();
    FirebirdServer(const FirebirdServer&) = delete;
    FirebirdServer& operator=(const FirebirdServer&) = delete;

    // The connection string of a database file through this server.
    std::string Address(const std::string& database_path) const;
    bool Running() const { return pid_ > 0; }
    const std::string& Log() const { return log_; }

  private:
    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    std::string log_;
};

// The library loader of the platform with entry points that tests can count or replace.
class ScriptedLoader final : public kv::LibraryLoader {
  public:
    void* Open(const std::string& file_name, uint32_t& os_error) override;
    void* Symbol(void* library, const char* name) override;
    void Close(void* library) override;
    std::string FileOf(void* library) override;
    void Pin(void* library) override;

    // Entry points handed out in place of the library's own.
    std::map<std::string, void*> replacements;
    // Route isc_attach_database and isc_dsql_fetch through the counters below.
    bool count_calls = false;
    int opens = 0;
    int closes = 0;
    int pins = 0;
};

// Calls made through a ScriptedLoader with count_calls; one test runs per process.
extern int g_attach_calls;
extern int g_fetch_calls;

// The status a Failing entry point reports: "arithmetic exception, numeric overflow, ...".
constexpr kv::fb::Status kInjectedError = 335544321;

template <typename... Args>
kv::fb::Status FailWith(kv::fb::Status* status, Args...) {
    status[0] = 1;
    status[1] = kInjectedError;
    status[2] = 0;
    return kInjectedError;
}

// An entry point of the given type that fails every call; the argument only names the type.
template <typename... Args>
void* Failing(kv::fb::Status (*)(kv::fb::Status*, Args...)) {
    return reinterpret_cast<void*>(&FailWith<Args...>);
}

}  // namespace kvtest
