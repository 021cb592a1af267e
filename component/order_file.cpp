#include "component/order_file.h"

#include "common/error.h"
#include "common/text.h"
#include "component/method_bodies.h"
#include "component/vk_object.h"

namespace kv {
namespace {

// The input/output error texts by operating-system error code.
std::string IoErrorText(uint32_t code) {
    switch (code) {
        case 2:
            return "File not found";
        case 3:
            return "Invalid filename";
        case 4:
            return "Too many open files";
        case 5:
            return "File access denied";
        case 100:
            return "Read beyond end of file";
        case 101:
            return "Disk full";
        case 106:
            return "Invalid numeric input";
        default:
            return "I/O error " + std::to_string(code);
    }
}

// The one header line of every order file, Windows-1251, CR LF: 56 bytes.
const std::string& HeaderLine() {
    static const std::string header =
        Cp1251FromUtf8("Заказ\tКод\tНазвание\tПроизводитель\tЦена\tПоставщик\tФилиал\r\n");
    return header;
}

}  // namespace

std::string CreateOrderFile(T_vk_object& vk, const std::string& point_code,
                            const std::string& pattern) {
    Platform& os = vk.platform();
    if (!os.files.DirectoryExists(vk.DirToZakaz)) {
        const uint32_t code = os.files.MakeDirectory(vk.DirToZakaz);
        // Another process may have made it meanwhile; only a directory still missing fails.
        if (code != 0 && !os.files.DirectoryExists(vk.DirToZakaz)) throw Error(IoErrorText(code));
    }
    if (!TrimControl(point_code).empty()) vk.PointCode = point_code;
    const std::string used_pattern =
        TrimControl(pattern).empty() ? std::string("ddmmyyyy_hhmm") : pattern;

    const std::string folder = !vk.DirToZakaz.empty() && vk.DirToZakaz.back() == '\\'
                                   ? vk.DirToZakaz
                                   : vk.DirToZakaz + '\\';
    vk.ZakazFileName = vk.FormatDate(used_pattern, os.clock.Now());
    for (int counter = 1;; ++counter) {
        const std::string path = folder + vk.ZakazFileName + ".txt";
        if (!os.files.FileExists(path)) {
            uint32_t os_error = 0;
            std::string os_message;
            const CreateOutcome outcome =
                os.files.CreateNewFile(path, HeaderLine(), os_error, os_message);
            if (outcome == CreateOutcome::Created) break;
            if (outcome == CreateOutcome::Failed) {
                throw Error("Cannot create file \"" + path + "\". " + os_message);
            }
            // Another writer took the name after the probe: go on to the next one.
        }
        // The time is rendered afresh: the minute may have passed while probing.
        vk.ZakazFileName =
            vk.FormatDate(used_pattern, os.clock.Now()) + "_" + std::to_string(counter);
    }
    vk.ZakazFileName += ".txt";
    return vk.ZakazFileName;
}

void ExecCreateZakaz(T_vk_object& vk) {
    // The pattern is read first, so a bad pattern is reported even when both are bad.
    const std::string pattern = vk.GetStringParam(1);
    const std::string point_code = vk.GetStringParam(0);
    vk.SetResultText(CreateOrderFile(vk, point_code, pattern));
}

}  // namespace kv
