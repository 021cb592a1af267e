// The process entry points over /proc, so that the native build lists the processes of the
// machine it runs on with the same algorithm as Windows: a process "handle" is its identifier,
// its first module is its executable, and its command line stands in for the image path where
// the executable link cannot be read (another user's process, a kernel thread).
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/backend.h"

namespace kv::backend {
namespace {

constexpr uint32_t kPlatformNt = 2;  // what a Windows NT system reports

std::string ProcPath(uintptr_t process, const char* what) {
    return "/proc/" + std::to_string(process) + "/" + what;
}

bool EnumProcesses(uint32_t* ids, uint32_t bytes, uint32_t& bytes_returned) {
    bytes_returned = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return false;
    const uint32_t room = bytes / sizeof(uint32_t);
    uint32_t count = 0;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const unsigned long id = std::strtoul(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        if (count == room) break;
        ids[count++] = static_cast<uint32_t>(id);
    }
    closedir(proc);
    bytes_returned = count * static_cast<uint32_t>(sizeof(uint32_t));
    return true;
}

uintptr_t OpenProcess(uint32_t, bool, uint32_t process_id) {
    return access(ProcPath(process_id, "").c_str(), F_OK) == 0 ? process_id : 0;
}

bool FirstModule(uintptr_t, uintptr_t& module) {
    module = 1;
    return true;
}

uint32_t ModuleFileName(uintptr_t process, uintptr_t, char* buffer, uint32_t size) {
    if (size == 0) return 0;
    const ssize_t n = readlink(ProcPath(process, "exe").c_str(), buffer, size - 1);
    if (n <= 0) return 0;
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

// argv[0] as the process gave it.
bool QueryImageName(uintptr_t process, char* buffer, uint32_t& size) {
    std::ifstream cmdline(ProcPath(process, "cmdline"), std::ios::binary);
    std::string first;
    if (size == 0 || !std::getline(cmdline, first, '\0') || first.empty()) return false;
    const size_t length = first.size() < size - 1 ? first.size() : size - 1;
    std::memcpy(buffer, first.data(), length);
    buffer[length] = '\0';
    size = static_cast<uint32_t>(length);
    return true;
}

void CloseHandle(uintptr_t) {}

class ProcProcessSystem final : public ProcessSystem {
  public:
    ProcProcessSystem() {
        entry_points_.platform_id = kPlatformNt;
        entry_points_.enum_processes = EnumProcesses;
        entry_points_.open_process = OpenProcess;
        entry_points_.first_module = FirstModule;
        entry_points_.module_file_name = ModuleFileName;
        entry_points_.query_image_name = QueryImageName;
        entry_points_.close_handle = CloseHandle;
    }
    const ProcessEntryPoints& EntryPoints() override { return entry_points_; }

  private:
    ProcessEntryPoints entry_points_;
};

}  // namespace

ProcessSystem& Processes() {
    static ProcProcessSystem processes;
    return processes;
}

}  // namespace kv::backend
