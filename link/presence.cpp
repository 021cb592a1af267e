#include "link/presence.h"

#include "common/text.h"
#include "common/variant.h"
#include "component/vk_object.h"
#include "link/UKillProcess.h"

namespace kv {

std::string_view FileNamePart(std::string_view path) {
    const size_t separator = path.find_last_of("\\:");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

bool NamesKelvarin(const ProcessEntryPoints& os, std::string_view exe_name) {
    std::string name(FileNamePart(exe_name));
    if (os.lower_ansi != nullptr) {
        os.lower_ansi(name.data(), static_cast<uint32_t>(name.size()));
    } else {
        LowerCp1251(name);
    }
    return name.find("kelvarin.exe") != std::string::npos;
}

int32_t CountKelvarinProcesses(ProcessSystem& system) {
    TLpModuleInfoArray list;
    ListRunningProcesses(system, list);
    const ProcessEntryPoints& os = system.EntryPoints();
    int32_t count = 0;
    for (const TLpModuleInfo& info : list) {
        if (NamesKelvarin(os, info.ExeName)) ++count;
    }
    return count;
}

void ExecCheckKelvarin(T_vk_object& vk) {
    vk.ResultValue = Variant::Int32(CountKelvarinProcesses(vk.platform().processes));
}

}  // namespace kv
