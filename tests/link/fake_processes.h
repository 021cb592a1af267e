#pragma once
// A process table for the presence check's tests: the entry points of ProcessEntryPoints over
// processes the test describes, with failures the test switches on and a count of the handles
// left open. Entry points are plain function pointers, so the one live fake is reached through
// a static pointer.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace kv::test {

struct FakeProcess {
    FakeProcess(uint32_t id_, std::string module_path_, bool openable_ = true,
                std::optional<std::string> image_path_ = std::nullopt)
        : id(id_),
          module_path(std::move(module_path_)),
          openable(openable_),
          image_path(std::move(image_path_)) {}
    uint32_t id;
    std::string module_path;  // what GetModuleFileNameExA reads; empty: the module is unreadable
    bool openable;
    std::optional<std::string> image_path;  // what QueryFullProcessImageNameA reads
};

class FakeProcesses final : public ProcessSystem {
  public:
    std::vector<FakeProcess> processes;
    // Processes that start between ToolHelp's counting pass and its filling pass.
    std::vector<FakeProcess> started_between_passes;
    bool snapshot_fails = false;
    int process_first_fails_from_call = 0;  // 0: never; n: the n-th call and later fail
    bool enum_fails = false;
    std::vector<uint32_t> enum_buffer_bytes;  // the buffer size of each EnumProcesses call
    std::vector<uint32_t> opened;             // identifiers passed to OpenProcess
    std::vector<uint32_t> open_access;        // access masks passed to OpenProcess
    int open_handles = 0;
    ProcessEntryPoints table;

    explicit FakeProcesses(uint32_t platform_id = 2) {
        live = this;
        table.platform_id = platform_id;
        table.create_snapshot = CreateSnapshot;
        table.process_first = ProcessFirst;
        table.process_next = ProcessNext;
        table.enum_processes = EnumProcesses;
        table.open_process = OpenProcess;
        table.first_module = FirstModule;
        table.module_file_name = ModuleFileName;
        table.query_image_name = QueryImageName;
        table.close_handle = CloseHandle;
    }
    ~FakeProcesses() override { live = nullptr; }
    const ProcessEntryPoints& EntryPoints() override { return table; }

    // Handles are 1000 + the process's position, the snapshot is 1.
    static constexpr uintptr_t kSnapshot = 1;

  private:
    static inline FakeProcesses* live = nullptr;
    size_t cursor_ = 0;
    int first_calls_ = 0;

    static const FakeProcess& At(uintptr_t handle) {
        return live->processes.at(static_cast<size_t>(handle - 1000));
    }
    static void Fill(const FakeProcess& p, ProcessSnapshotEntry& entry) {
        entry.process_id = p.id;
        std::memset(entry.exe_file, 0, sizeof entry.exe_file);
        std::memcpy(entry.exe_file, p.module_path.data(),
                    std::min(p.module_path.size(), sizeof entry.exe_file));
    }
    static uintptr_t CreateSnapshot() {
        if (live->snapshot_fails) return 0;
        ++live->open_handles;
        return kSnapshot;
    }
    static bool ProcessFirst(uintptr_t snapshot, ProcessSnapshotEntry& entry) {
        if (snapshot != kSnapshot) return false;
        ++live->first_calls_;
        if (live->first_calls_ == 2) {
            for (const auto& p : live->started_between_passes) live->processes.push_back(p);
        }
        if (live->process_first_fails_from_call != 0 &&
            live->first_calls_ >= live->process_first_fails_from_call) {
            return false;
        }
        live->cursor_ = 0;
        if (live->processes.empty()) return false;
        Fill(live->processes[0], entry);
        return true;
    }
    static bool ProcessNext(uintptr_t snapshot, ProcessSnapshotEntry& entry) {
        if (snapshot != kSnapshot || live->cursor_ + 1 >= live->processes.size()) return false;
        Fill(live->processes[++live->cursor_], entry);
        return true;
    }
    static bool EnumProcesses(uint32_t* ids, uint32_t bytes, uint32_t& bytes_returned) {
        live->enum_buffer_bytes.push_back(bytes);
        if (live->enum_fails) return false;
        const size_t room = bytes / sizeof(uint32_t);
        const size_t n = std::min(room, live->processes.size());
        for (size_t i = 0; i < n; ++i) ids[i] = live->processes[i].id;
        bytes_returned = static_cast<uint32_t>(n * sizeof(uint32_t));
        return true;
    }
    static uintptr_t OpenProcess(uint32_t access, bool, uint32_t id) {
        live->opened.push_back(id);
        live->open_access.push_back(access);
        for (size_t i = 0; i < live->processes.size(); ++i) {
            if (live->processes[i].id == id && live->processes[i].openable) {
                ++live->open_handles;
                return 1000 + i;
            }
        }
        return 0;
    }
    static bool FirstModule(uintptr_t process, uintptr_t& module) {
        if (At(process).module_path.empty()) return false;
        module = 77;
        return true;
    }
    static uint32_t ModuleFileName(uintptr_t process, uintptr_t module, char* buffer,
                                   uint32_t size) {
        const std::string& path = At(process).module_path;
        if (module != 77 || size == 0) return 0;
        // As the system does: cut to the buffer, with no zero when the path fills it.
        const size_t n = std::min<size_t>(path.size(), size);
        std::memcpy(buffer, path.data(), n);
        if (n < size) buffer[n] = '\0';
        return static_cast<uint32_t>(n);
    }
    static bool QueryImageName(uintptr_t process, char* buffer, uint32_t& size) {
        const auto& image = At(process).image_path;
        if (!image || image->size() + 1 > size) return false;
        std::memcpy(buffer, image->c_str(), image->size() + 1);
        size = static_cast<uint32_t>(image->size());
        return true;
    }
    static void CloseHandle(uintptr_t) { --live->open_handles; }
};

}  // namespace kv::test
