#include "matching/fb_client.h"

#include "common/error.h"

namespace kv {
namespace {

template <typename Fn>
bool Resolve(LibraryLoader& loader, void* library, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(loader.Symbol(library, name));
    return entry != nullptr;
}

}  // namespace

FbClient::FbClient(LibraryLoader& loader, const std::string& file_name)
    : loader_(loader), file_name_(file_name) {
    library_ = loader_.Open(file_name_);
    const bool complete =
        library_ != nullptr && Resolve(loader_, library_, "isc_attach_database", attach_database) &&
        Resolve(loader_, library_, "isc_detach_database", detach_database) &&
        Resolve(loader_, library_, "isc_start_multiple", start_multiple) &&
        Resolve(loader_, library_, "isc_rollback_transaction", rollback_transaction) &&
        Resolve(loader_, library_, "isc_dsql_alloc_statement2", alloc_statement2) &&
        Resolve(loader_, library_, "isc_dsql_prepare", prepare) &&
        Resolve(loader_, library_, "isc_dsql_describe", describe) &&
        Resolve(loader_, library_, "isc_dsql_describe_bind", describe_bind) &&
        Resolve(loader_, library_, "isc_dsql_execute", execute) &&
        Resolve(loader_, library_, "isc_dsql_fetch", fetch) &&
        Resolve(loader_, library_, "isc_dsql_free_statement", free_statement) &&
        Resolve(loader_, library_, "fb_interpret", interpret);
    if (!complete) {
        // A library without the entry points is as unusable as one that is not there.
        if (library_ != nullptr) loader_.Close(library_);
        throw Error("Can't load library " + file_name_ + " ");
    }
}

FbClient::~FbClient() { loader_.Close(library_); }

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
    if (Failed(status)) throw Error(Message(status));
}

}  // namespace kv
