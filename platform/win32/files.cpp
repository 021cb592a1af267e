// Files and directories through the Win32 "A" functions: paths are ANSI text.
#include <windows.h>

#include <algorithm>

#include "platform/backend.h"

namespace kv::backend {
namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool IsDirectory(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The system's text for an error code, without the line end it carries.
std::string ErrorMessage(DWORD error) {
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && static_cast<unsigned char>(buffer[length - 1]) <= ' ') --length;
    if (length == 0) return "System error " + std::to_string(error);
    return std::string(buffer, length);
}

class Win32FileSystem final : public FileSystem {
  public:
    bool DirectoryExists(const std::string& path) override { return IsDirectory(path); }

    bool FileExists(const std::string& path) override {
        const DWORD attributes = Attributes(path);
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    uint32_t MakeDirectory(const std::string& path) override {
        if (CreateDirectoryA(path.c_str(), nullptr)) return 0;
        return GetLastError();
    }

    CreateOutcome CreateNewFile(const std::string& path, std::string_view contents,
                                uint32_t& os_error, std::string& os_message) override {
        // CREATE_NEW: a file that appeared since the caller's probe is never opened, let alone
        // truncated.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
                // A directory of that name is not a file that exists: creation fails.
                if (!IsDirectory(path)) return CreateOutcome::AlreadyExists;
                error = ERROR_ACCESS_DENIED;
            }
            return Fail(error, os_error, os_message);
        }
        DWORD error = ERROR_SUCCESS;
        size_t written = 0;
        while (written < contents.size()) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<size_t>(contents.size() - written, 1u << 20));
            DWORD done = 0;
            if (!WriteFile(file, contents.data() + written, chunk, &done, nullptr) || done == 0) {
                error = GetLastError();
                if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
                break;
            }
            written += done;
        }
        if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
        if (error != ERROR_SUCCESS) {
            // The file is ours and incomplete: leave nothing half-written behind.
            DeleteFileA(path.c_str());
            return Fail(error, os_error, os_message);
        }
        return CreateOutcome::Created;
    }

  private:
    static CreateOutcome Fail(DWORD error, uint32_t& os_error, std::string& os_message) {
        os_error = error;
        os_message = ErrorMessage(error);
        return CreateOutcome::Failed;
    }
};

}  // namespace

FileSystem& Files() {
    static Win32FileSystem files;
    return files;
}

}  // namespace kv::backend
