#include "link/presence.h"

#include "common/variant.h"
#include "component/method_bodies.h"
#include "component/vk_object.h"
#include "link/UKillProcess.h"

namespace kv {

std::string_view FileNamePart(std::string_view path) {
    const size_t separator = path.find_last_of("\\:");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

void LowerCp1251(std::string& text) {
    for (char& c : text) {
        const auto b = static_cast<unsigned char>(c);
        unsigned char lower = b;
        if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDF)) {
            lower = static_cast<unsigned char>(b + 0x20);
        } else {
            switch (b) {
                case 0x80:
                    lower = 0x90;
                    break;  // Ђ
                case 0x81:
                    lower = 0x83;
                    break;  // Ѓ
                case 0x8A:
                    lower = 0x9A;
                    break;  // Љ
                case 0x8C:
                    lower = 0x9C;
                    break;  // Њ
                case 0x8D:
                    lower = 0x9D;
                    break;  // Ќ
                case 0x8E:
                    lower = 0x9E;
                    break;  // Ћ
                case 0x8F:
                    lower = 0x9F;
                    break;  // Џ
                case 0xA1:
                    lower = 0xA2;
                    break;  // Ў
                case 0xA3:
                    lower = 0xBC;
                    break;  // Ј
                case 0xA5:
                    lower = 0xB4;
                    break;  // Ґ
                case 0xA8:
                    lower = 0xB8;
                    break;  // Ё
                case 0xAA:
                    lower = 0xBA;
                    break;  // Є
                case 0xAF:
                    lower = 0xBF;
                    break;  // Ї
                case 0xB2:
                    lower = 0xB3;
                    break;  // І
                case 0xBD:
                    lower = 0xBE;
                    break;  // Ѕ
                default:
                    break;
            }
        }
        c = static_cast<char>(lower);
    }
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
