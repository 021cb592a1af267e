// The request trace's file on this system: named by the environment variable KELVARINVK_TRACE,
// with the limit in KELVARINVK_TRACE_LIMIT_KB. Lines are appended with O_APPEND and one write;
// the rotation is done under an exclusive lock of the file, with its size looked at again.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/backend.h"

namespace kv::backend {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int OpenForAppending(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

void Rotate(int file, const std::string& path, uint64_t limit, size_t adding) {
    if (flock(file, LOCK_EX) != 0) return;
    struct stat named {};
    if (stat(path.c_str(), &named) == 0 && static_cast<uint64_t>(named.st_size) + adding > limit) {
        rename(path.c_str(), (path + ".1").c_str());
    }
    flock(file, LOCK_UN);
}

bool AppendLine(const TraceSetting& setting, std::string_view line) {
    std::string bytes(line);
    bytes += '\n';
    int file = OpenForAppending(setting.file);
    if (file < 0) return false;
    struct stat opened {};
    if (fstat(file, &opened) == 0 &&
        static_cast<uint64_t>(opened.st_size) + bytes.size() > setting.limit_bytes) {
        Rotate(file, setting.file, setting.limit_bytes, bytes.size());
        close(file);
        file = OpenForAppending(setting.file);
        if (file < 0) return false;
    }
    const ssize_t written = write(file, bytes.data(), bytes.size());
    close(file);
    return written == static_cast<ssize_t>(bytes.size());
}

class PosixTraceFiles final : public TraceFiles {
  public:
    TraceSetting Setting() override {
        return MakeTraceSetting(Environment("KELVARINVK_TRACE"),
                                Environment("KELVARINVK_TRACE_LIMIT_KB"));
    }
    bool Append(const TraceSetting& setting, std::string_view utf8_line) noexcept override {
        const int saved = errno;
        bool written = false;
        try {
            written = AppendLine(setting, utf8_line);
        } catch (...) {
            written = false;
        }
        errno = saved;
        return written;
    }
    uint32_t ProcessId() override { return static_cast<uint32_t>(getpid()); }
};

}  // namespace

TraceFiles& Traces() {
    static PosixTraceFiles traces;
    return traces;
}

}  // namespace kv::backend
