#include "link/UKillProcess.h"

#include <cstring>

#include "common/text.h"

namespace kv {
namespace {

// Text up to its terminating zero, or all `room` characters when none comes first.
std::string Bounded(const char* text, size_t room) {
    const void* zero = std::memchr(text, 0, room);
    return std::string(text, zero != nullptr ? static_cast<const char*>(zero) - text : room);
}

// Windows 9x: one pass counts the processes, a second one fills the counted entries. A process
// that appears between the passes finds no entry and is left out.
void ListFromSnapshot(const ProcessEntryPoints& os, TLpModuleInfoArray& list) {
    if (os.create_snapshot == nullptr || os.process_first == nullptr ||
        os.process_next == nullptr) {
        return;
    }
    const uintptr_t snapshot = os.create_snapshot();
    if (snapshot == 0) return;
    ProcessSnapshotEntry entry;
    if (os.process_first(snapshot, entry)) {
        size_t count = 1;
        while (os.process_next(snapshot, entry)) ++count;
        list.resize(count);
        entry = ProcessSnapshotEntry{};
        bool more = os.process_first(snapshot, entry);
        for (size_t i = 0; more && i < count; ++i) {
            list[i].ProcessID = entry.process_id;
            list[i].ExeName = Bounded(entry.exe_file, sizeof entry.exe_file);
            more = os.process_next(snapshot, entry);
        }
    }
    if (os.close_handle != nullptr) os.close_handle(snapshot);
}

// EnumProcesses does not tell how many identifiers there are: a full buffer may have cut the
// list short, so the buffer grows until the answer leaves room in it.
std::vector<uint32_t> ProcessIds(const ProcessEntryPoints& os) {
    std::vector<uint32_t> ids(kFirstIdRoom);
    for (;;) {
        const uint32_t bytes = static_cast<uint32_t>(ids.size() * sizeof(uint32_t));
        uint32_t returned = 0;
        if (!os.enum_processes(ids.data(), bytes, returned)) return {};
        if (returned > bytes) returned = bytes;
        if (returned < bytes || ids.size() >= kMaxIdRoom) {
            ids.resize(returned / sizeof(uint32_t));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

// The path of an opened process's first module, or its image path where the module cannot be
// read (a 64-bit process seen from a 32-bit one); empty when neither can be read.
std::string ImagePath(const ProcessEntryPoints& os, uintptr_t process) {
    char path[kModulePathRoom] = {};
    uintptr_t module = 0;
    if (os.first_module(process, module)) {
        const uint32_t length = os.module_file_name(process, module, path, sizeof path);
        if (length > 0) return Bounded(path, length < sizeof path ? length : sizeof path);
    }
    if (os.query_image_name == nullptr) return {};
    std::vector<char> image(1024);
    uint32_t size = static_cast<uint32_t>(image.size());
    if (!os.query_image_name(process, image.data(), size)) return {};
    return Bounded(image.data(), size < image.size() ? size : image.size());
}

void ListFromProcessIds(const ProcessEntryPoints& os, TLpModuleInfoArray& list) {
    if (os.enum_processes == nullptr || os.open_process == nullptr || os.first_module == nullptr ||
        os.module_file_name == nullptr || os.close_handle == nullptr) {
        return;
    }
    const std::vector<uint32_t> ids = ProcessIds(os);
    list.reserve(ids.size());
    for (const uint32_t id : ids) {
        TLpModuleInfo info;
        info.ProcessID = id;
        if (id == 0) {
            info.ExeName = Cp1251FromUtf8("Бездействие системы");
        } else if (id == 4 || id == 8) {
            info.ExeName = "System";
        } else if (const uintptr_t process = os.open_process(kProcessQueryAndRead, false, id);
                   process == 0) {
            info.ExeName = Cp1251FromUtf8("неизвестно");
        } else {
            info.ExeName = ImagePath(os, process);
            os.close_handle(process);
        }
        list.push_back(std::move(info));
    }
}

}  // namespace

void ListRunningProcesses(ProcessSystem& system, TLpModuleInfoArray& list) {
    list.clear();
    const ProcessEntryPoints& os = system.EntryPoints();
    if (os.platform_id == kPlatformWin9x) {
        ListFromSnapshot(os, list);
    } else {
        ListFromProcessIds(os, list);
    }
}

}  // namespace kv
