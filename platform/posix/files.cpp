// Files and directories through POSIX calls. Our paths are written with "\" as on Windows, and
// failures are reported with the Windows error codes the core expects.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/backend.h"

namespace kv::backend {
namespace {

std::string NativePath(const std::string& path) {
    std::string native = path;
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

uint32_t WindowsErrorCode(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return 3;  // ERROR_PATH_NOT_FOUND
        case EACCES:
        case EPERM:
        case EISDIR:
            return 5;  // ERROR_ACCESS_DENIED
        case EEXIST:
            return 183;  // ERROR_ALREADY_EXISTS
        case EMFILE:
        case ENFILE:
            return 4;  // ERROR_TOO_MANY_OPEN_FILES
        case ENOSPC:
        case EDQUOT:
            return 112;  // ERROR_DISK_FULL
        case EROFS:
            return 19;  // ERROR_WRITE_PROTECT
        case ENAMETOOLONG:
            return 206;  // ERROR_FILENAME_EXCED_RANGE
        case EINVAL:
            return 123;  // ERROR_INVALID_NAME
        case EBUSY:
            return 32;  // ERROR_SHARING_VIOLATION
        case ELOOP:
            return 1921;  // ERROR_CANT_RESOLVE_FILENAME
        case EIO:
            return 1117;  // ERROR_IO_DEVICE
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

std::string ErrorMessage(int error) {
    char buffer[256];
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

bool IsDirectory(const std::string& native) {
    struct stat info {};
    return stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class PosixFileSystem final : public FileSystem {
  public:
    bool DirectoryExists(const std::string& path) override { return IsDirectory(NativePath(path)); }

    bool FileExists(const std::string& path) override {
        struct stat info {};
        return stat(NativePath(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
    }

    uint32_t MakeDirectory(const std::string& path) override {
        if (mkdir(NativePath(path).c_str(), 0777) == 0) return 0;
        return WindowsErrorCode(errno);
    }

    CreateOutcome CreateNewFile(const std::string& path, std::string_view contents,
                                uint32_t& os_error, std::string& os_message) override {
        const std::string native = NativePath(path);
        // O_EXCL: a file that appeared since the caller's probe is never opened, let alone
        // truncated.
        const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            // A directory of that name is not a file that exists: creation fails, as on Windows.
            if (error == EEXIST && !IsDirectory(native)) return CreateOutcome::AlreadyExists;
            return Fail(error == EEXIST ? EISDIR : error, os_error, os_message);
        }
        size_t written = 0;
        int error = 0;
        while (written < contents.size()) {
            const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
            if (n < 0) {
                if (errno == EINTR) continue;
                error = errno;
                break;
            }
            written += static_cast<size_t>(n);
        }
        if (close(fd) != 0 && error == 0) error = errno;
        if (error != 0) {
            // The file is ours and incomplete: leave nothing half-written behind.
            unlink(native.c_str());
            return Fail(error, os_error, os_message);
        }
        return CreateOutcome::Created;
    }

  private:
    static CreateOutcome Fail(int error, uint32_t& os_error, std::string& os_message) {
        os_error = WindowsErrorCode(error);
        os_message = ErrorMessage(error);
        return CreateOutcome::Failed;
    }
};

}  // namespace

FileSystem& Files() {
    static PosixFileSystem files;
    return files;
}

}  // namespace kv::backend
