#include "registry_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "common/text.h"
#include "gtest/gtest.h"
#include "platform/backend.h"
#include "support/registry_schema.h"

namespace kvtest {
namespace fs = std::filesystem;

namespace {

const char* const kFirebirdHome = "/usr/lib/x86_64-linux-gnu/firebird/3.0";
const char* const kServerProgram = "/usr/sbin/firebird";

// What a child writes until it closes its end, or until `deadline`; false when the deadline
// came first.
bool ReadUntil(int fd, std::chrono::steady_clock::time_point deadline, std::string& text) {
    char chunk[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd ready{fd, POLLIN, 0};
        const int polled = poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) return false;
        if (polled < 0) return true;  // nothing more can be read
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        text.append(chunk, static_cast<size_t>(n));
    }
}

// Child side of a fork: environment, then exec; never returns.
[[noreturn]] void Exec(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

std::string SqlNumber(const std::optional<long long>& value) {
    return value ? std::to_string(*value) : "null";
}

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        throw std::runtime_error("no free port");
    }
    close(s);
    return ntohs(addr.sin_port);
}

bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(s);
    return ok;
}

kv::fb::AttachDatabaseFn real_attach = nullptr;
kv::fb::FetchFn real_fetch = nullptr;

kv::fb::Status CountAttach(kv::fb::Status* status, short name_length, const char* name,
                           kv::fb::Handle* db, short items_length, const char* items) {
    ++g_attach_calls;
    return real_attach(status, name_length, name, db, items_length, items);
}

kv::fb::Status CountFetch(kv::fb::Status* status, kv::fb::Handle* statement, unsigned short version,
                          const kv::fb::Xsqlda* output) {
    ++g_fetch_calls;
    return real_fetch(status, statement, version, output);
}

// Firebird keeps its locks and the tables it shares between processes in one directory for
// the whole machine (/tmp/firebird): there the embedded engine of a test would wait for any
// other Firebird process of any build that holds one of them. Each test program, with the
// isql runs it starts, has a directory of its own.
class PrivateLockDirectory {
  public:
    PrivateLockDirectory() { setenv("FIREBIRD_LOCK", dir_.path().c_str(), 1); }

  private:
    TempDir dir_;
};

}  // namespace

int g_attach_calls = 0;
int g_fetch_calls = 0;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kvreg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

// Before main, so before any engine starts in this process or in a child.
const PrivateLockDirectory g_lock_directory;

ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        Exec(argv, env);
    }
    close(pipe_fds[1]);
    ProcessResult result;
    // isql takes well under a second; one that runs on is stuck, and the test says so rather
    // than wait for ever.
    constexpr auto kLimit = std::chrono::seconds(60);
    const bool finished =
        ReadUntil(pipe_fds[0], std::chrono::steady_clock::now() + kLimit, result.output);
    close(pipe_fds[0]);
    if (!finished) {
        kill(pid, SIGKILL);
        ADD_FAILURE() << argv[0] << " did not finish within " << kLimit.count()
                      << " s; its output so far: " << result.output;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = finished && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ProcessResult RunIsql(const std::string& script_cp1251,
                      const std::map<std::string, std::string>& env,
                      const std::vector<std::string>& extra_args) {
    TempDir dir;
    const std::string script = dir.path() + "/script.sql";
    std::ofstream(script, std::ios::binary) << script_cp1251;
    std::vector<std::string> argv = {"isql-fb", "-q", "-b"};
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    argv.insert(argv.end(), {"-i", script});
    return RunProgram(argv, env);
}

std::string SqlText(const std::optional<std::string>& utf8) {
    return utf8 ? Quote(kv::Cp1251FromUtf8(*utf8)) : "null";
}

void CreateRegistry(const std::string& path, const std::vector<RegistryRow>& rows,
                    const std::string& code_type, const std::string& extra_sql) {
    std::string sql = "set names win1251;\n";
    sql += "create database " + Quote(path) + " user 'SYSDBA' default character set win1251;\n";
    sql += kv::test::RegistrySchema(code_type);
    for (const RegistryRow& r : rows) {
        sql += "insert into tbl_reestr_names values (" + SqlNumber(r.code) + ", " +
               SqlNumber(r.trade_name_id) + ", " + SqlNumber(r.fabr_name_id) + ", " +
               SqlText(r.trade_name) + ", " + SqlText(r.full_form_name) + ", " +
               SqlText(r.fabr_name) + ");\n";
    }
    sql += "commit;\n" + extra_sql + "\ncommit;\nexit;\n";
    const ProcessResult result = RunIsql(sql);
    ASSERT_EQ(result.exit_code, 0) << result.output;
}

int OpenAttachments(const std::string& database, const std::string& user,
                    const std::string& password) {
    const std::string sql =
        "set heading off;\n"
        "select count(*) from mon$attachments where mon$attachment_id <> current_connection"
        " and mon$system_flag = 0;\nexit;\n";
    std::vector<std::string> args = {"-user", user};
    if (!password.empty()) args.insert(args.end(), {"-password", password});
    args.push_back(database);
    const ProcessResult result = RunIsql(sql, {}, args);
    if (result.exit_code != 0) return -1;
    return std::atoi(result.output.c_str() + result.output.find_first_not_of(" \r\n\t"));
}

FirebirdServer::FirebirdServer(const std::map<std::string, std::string>& users) {
    const fs::path root = fs::path(dir_.path()) / "root";
    const fs::path home = kFirebirdHome;
    fs::create_directories(root / "intl");
    fs::create_directories(fs::path(dir_.path()) / "lock");
    // The character sets must be real copies: through symlinks WIN1251 is "not defined".
    fs::copy_file(home / "firebird.msg", root / "firebird.msg");
    fs::copy_file(home / "intl" / "libfbintl.so", root / "intl" / "libfbintl.so");
    fs::copy_file(home / "intl" / "fbintl.conf", root / "intl" / "fbintl.conf");
    fs::copy_file(home / "plugins.conf", root / "plugins.conf");
    fs::create_directory_symlink(home / "plugins", root / "plugins");
    std::ofstream(root / "databases.conf");
    port_ = FreePort();
    const std::string security = (root / "security3.fdb").string();
    std::ofstream(root / "firebird.conf")
        << "RemoteServicePort = " << port_ << "\nRemoteBindAddress = 127.0.0.1\n"
        << "SecurityDatabase = " << security << "\n"
        << "AuthServer = Srp\nUserManager = Srp\n"
        << "ServerMode = Super\n";
    const std::map<std::string, std::string> env = {{"FIREBIRD", root.string()},
                                                    {"FIREBIRD_LOCK", dir_.path() + "/lock"}};

    std::string sql = "create database " + Quote(security) + " user 'SYSDBA';\n";
    for (const auto& [name, password] : users) {
        sql += "create user " + name + " password " + Quote(password) + ";\n";
    }
    sql += "commit;\nexit;\n";
    const ProcessResult created = RunIsql(sql, env);
    if (created.exit_code != 0) throw std::runtime_error("security database: " + created.output);

    const std::string log = dir_.path() + "/server.log";
    pid_ = fork();
    if (pid_ == 0) {
        // The server must not outlive a test that crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        Exec({kServerProgram}, env);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Accepts(port_)) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_ ||
            std::chrono::steady_clock::now() > deadline) {
            pid_ = -1;
            std::ifstream in(log);
            log_.assign(std::istreambuf_iterator<char>(in), {});
            throw std::runtime_error("Firebird server did not start: " + log_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

FirebirdServer::~FirebirdServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string FirebirdServer::Address(const std::string& database_path) const {
    return "127.0.0.1/" + std::to_string(port_) + ":" + database_path;
}

void* ScriptedLoader::Open(const std::string& file_name, uint32_t& os_error) {
    ++opens;
    return kv::backend::Libraries().Open(file_name, os_error);
}

void* ScriptedLoader::Symbol(void* library, const char* name) {
    const auto replaced = replacements.find(name);
    if (replaced != replacements.end()) return replaced->second;
    void* real = kv::backend::Libraries().Symbol(library, name);
    if (count_calls && real != nullptr) {
        const std::string entry = name;
        if (entry == "isc_attach_database") {
            real_attach = reinterpret_cast<kv::fb::AttachDatabaseFn>(real);
            return reinterpret_cast<void*>(&CountAttach);
        }
        if (entry == "isc_dsql_fetch") {
            real_fetch = reinterpret_cast<kv::fb::FetchFn>(real);
            return reinterpret_cast<void*>(&CountFetch);
        }
    }
    return real;
}

std::string ScriptedLoader::FileOf(void* library) {
    return kv::backend::Libraries().FileOf(library);
}

void ScriptedLoader::Close(void* library) {
    ++closes;
    kv::backend::Libraries().Close(library);
}

void ScriptedLoader::Pin(void* library) {
    ++pins;
    kv::backend::Libraries().Pin(library);
}

}  // namespace kvtest
