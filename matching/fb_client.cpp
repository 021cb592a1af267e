#include "matching/fb_client.h"

#include <type_traits>

namespace kv {
namespace {

// Stores a resolved entry point in its member, in the member's own type.
template <auto Member>
void Bind(FbClient& client, void* entry) {
    using Fn = std::remove_reference_t<decltype(client.*Member)>;
    client.*Member = reinterpret_cast<Fn>(entry);
}

struct EntryPoint {
    const char* name;
    void (*bind)(FbClient&, void*);
};

// Every entry point the connection calls, in the order they are resolved.
constexpr EntryPoint kEntryPoints[] = {
    {"isc_attach_database", Bind<&FbClient::attach_database>},
    {"isc_detach_database", Bind<&FbClient::detach_database>},
    {"isc_start_multiple", Bind<&FbClient::start_multiple>},
    {"isc_rollback_transaction", Bind<&FbClient::rollback_transaction>},
    {"isc_dsql_alloc_statement2", Bind<&FbClient::alloc_statement2>},
    {"isc_dsql_prepare", Bind<&FbClient::prepare>},
    {"isc_dsql_describe", Bind<&FbClient::describe>},
    {"isc_dsql_describe_bind", Bind<&FbClient::describe_bind>},
    {"isc_dsql_execute", Bind<&FbClient::execute>},
    {"isc_dsql_fetch", Bind<&FbClient::fetch>},
    {"isc_dsql_free_statement", Bind<&FbClient::free_statement>},
    {"fb_interpret", Bind<&FbClient::interpret>},
};

}  // namespace

FbClient::FbClient(LibraryLoader& loader, const std::string& file_name)
    : loader_(loader), file_name_(file_name) {
    uint32_t os_error = 0;
    library_ = loader_.Open(file_name_, os_error);
    bool complete = library_ != nullptr;
    for (const EntryPoint& entry : kEntryPoints) {
        if (!complete) break;
        void* found = loader_.Symbol(library_, entry.name);
        entry.bind(*this, found);
        complete = found != nullptr;
    }
    if (!complete) {
        // A library without the entry points is as unusable as one that is not there.
        if (library_ != nullptr) loader_.Close(library_);
        throw Error("Can't load library " + file_name_ + " ");
    }
    // The client keeps threads of its own after the last detach, and about two minutes later
    // one of them unloads its plugins. Were the client unloaded by then, that thread would
    // drop the last reference to the code it runs in. So it stays until the process ends.
    loader_.Pin(library_);
}

FbClient::~FbClient() { loader_.Close(library_); }

ClientLibraryProbe FbClient::Probe(LibraryLoader& loader, const std::string& file_name) {
    ClientLibraryProbe probe;
    void* library = loader.Open(file_name, probe.os_error);
    if (library == nullptr) return probe;
    probe.loaded = true;
    probe.file = loader.FileOf(library);
    for (const EntryPoint& entry : kEntryPoints) {
        if (loader.Symbol(library, entry.name) == nullptr) probe.missing.push_back(entry.name);
    }
    loader.Close(library);
    return probe;
}

std::string FbClient::Message(const fb::Status* status) const {
    std::string text;
    char line[1024];
    const fb::Status* cursor = status;
    while (interpret(line, sizeof line, &cursor) > 0) {
        if (!text.empty()) text += "\r\n";
        text += line;
    }
    // An error the library has no words for still has to fail the operation visibly.
    if (text.empty()) text = "Database error " + std::to_string(status[1]) + ".";
    return text;
}

void FbClient::Check(const fb::Status* status) const {
    if (Failed(status)) throw DatabaseError(Message(status), status[1]);
}

}  // namespace kv
