#pragma once
// The Firebird client library, loaded at run time by file name, with its entry points resolved
// once per load.
#include <cstdint>
#include <string>
#include <vector>

#include "common/error.h"
#include "matching/fb_api.h"
#include "platform/platform.h"

namespace kv {

// An error that the client library reported: its own text, and the first error code of the
// status vector, by which a check can tell a missing file from a refused login.
class DatabaseError : public Error {
  public:
    DatabaseError(const std::string& message, fb::Status code) : Error(message), code_(code) {}
    fb::Status code() const { return code_; }

  private:
    fb::Status code_;
};

// What loading a client library finds, for an installation check; nothing stays loaded.
struct ClientLibraryProbe {
    bool loaded = false;
    uint32_t os_error = 0;             // the system's reason when it was not loaded
    std::string file;                  // the file the system loaded
    std::vector<std::string> missing;  // the entry points it lacks
};

class FbClient {
  public:
    // Loads the library and resolves every entry point the connection uses; fails with
    // "Can't load library <file name> " when either is impossible. A library that loaded
    // completely stays in the process until the process ends.
    FbClient(LibraryLoader& loader, const std::string& file_name);
    ~FbClient();
    FbClient(const FbClient&) = delete;
    FbClient& operator=(const FbClient&) = delete;

    // Loads `file_name` as the constructor does and says what it found.
    static ClientLibraryProbe Probe(LibraryLoader& loader, const std::string& file_name);

    const std::string& FileName() const { return file_name_; }

    // Throws DatabaseError with the library's own text for a status vector that reports an
    // error.
    void Check(const fb::Status* status) const;
    // The library's text for the error of a status vector, one message per line.
    std::string Message(const fb::Status* status) const;

    fb::AttachDatabaseFn attach_database = nullptr;
    fb::DetachDatabaseFn detach_database = nullptr;
    fb::StartMultipleFn start_multiple = nullptr;
    fb::RollbackTransactionFn rollback_transaction = nullptr;
    fb::AllocStatement2Fn alloc_statement2 = nullptr;
    fb::PrepareFn prepare = nullptr;
    fb::DescribeFn describe = nullptr;
    fb::DescribeFn describe_bind = nullptr;
    fb::ExecuteFn execute = nullptr;
    fb::FetchFn fetch = nullptr;
    fb::FreeStatementFn free_statement = nullptr;
    fb::InterpretFn interpret = nullptr;

  private:
    LibraryLoader& loader_;
    std::string file_name_;
    void* library_ = nullptr;
};

// True when a status vector reports an error.
inline bool Failed(const fb::Status* status) { return status[0] == 1 && status[1] != 0; }

}  // namespace kv
