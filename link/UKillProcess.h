#pragma once
// The list of running processes, read through the system's process enumeration entry points:
// ToolHelp on the Windows 9x family, PSAPI everywhere else.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kv {

struct TLpModuleInfo {
    uint32_t ProcessID = 0;
    std::string ExeName;  // file name or full path (ANSI), a fixed name, or empty when unreadable
};

using TLpModuleInfoArray = std::vector<TLpModuleInfo>;

constexpr uint32_t kPlatformWin9x = 1;            // VER_PLATFORM_WIN32_WINDOWS
constexpr uint32_t kProcessQueryAndRead = 0x410;  // PROCESS_QUERY_INFORMATION | PROCESS_VM_READ
constexpr uint32_t kFirstIdRoom = 4096;           // identifiers in the first EnumProcesses buffer
constexpr uint32_t kMaxIdRoom = 1u << 20;         // growth stops here rather than run away
constexpr uint32_t kModulePathRoom = 261;

// Empties `list` and fills it with one entry per running process, in the order the system
// reports them. Reports no error: what cannot be read leaves the list empty or a name empty.
void ListRunningProcesses(ProcessSystem& system, TLpModuleInfoArray& list);

}  // namespace kv
