// The running processes of this machine from /proc: each process's executable path, or its
// command name when the link cannot be read (another user's process, a kernel thread).
#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/backend.h"

namespace kv::backend {
namespace {

class ProcProcessLister final : public ProcessLister {
  public:
    std::vector<ProcessEntry> ListRunningProcesses() override {
        std::vector<ProcessEntry> list;
        DIR* proc = opendir("/proc");
        if (proc == nullptr) return list;
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
            if (end == entry->d_name || *end != '\0') continue;
            list.push_back({static_cast<uint32_t>(pid), ExeName(entry->d_name)});
        }
        closedir(proc);
        return list;
    }

  private:
    static std::string ExeName(const std::string& pid) {
        char path[4096];
        const ssize_t n = readlink(("/proc/" + pid + "/exe").c_str(), path, sizeof path - 1);
        if (n > 0) return std::string(path, static_cast<size_t>(n));
        std::ifstream comm("/proc/" + pid + "/comm");
        std::string name;
        std::getline(comm, name);
        return name;
    }
};

}  // namespace

ProcessLister& Processes() {
    static ProcProcessLister processes;
    return processes;
}

}  // namespace kv::backend
