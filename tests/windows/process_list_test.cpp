// The Windows process entry points under the process-list algorithm: PSAPI and ToolHelp find
// a running sim-kelvarin.exe, the image-name fallback names it when modules cannot be read,
// and the system's ANSI lower-casing agrees with the component's Windows-1251 rules.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "check.h"
#include "common/text.h"
#include "desktop_sim.h"
#include "link/UKillProcess.h"
#include "link/presence.h"
#include "platform/backend.h"

using namespace kvtest;

namespace {

// The real entry points with some of them changed.
class Altered final : public kv::ProcessSystem {
  public:
    explicit Altered(void (*change)(kv::ProcessEntryPoints&)) : change_(change) {}
    const kv::ProcessEntryPoints& EntryPoints() override {
        table_ = kv::backend::Processes().EntryPoints();
        change_(table_);
        return table_;
    }

  private:
    void (*change_)(kv::ProcessEntryPoints&);
    kv::ProcessEntryPoints table_;
};

// The entry of `id` in the list, or null.
const kv::TLpModuleInfo* Entry(const kv::TLpModuleInfoArray& list, DWORD id) {
    for (const auto& info : list) {
        if (info.ProcessID == id) return &info;
    }
    return nullptr;
}

void CheckFinds(kv::ProcessSystem& system, DWORD sim, bool full_path) {
    kv::TLpModuleInfoArray list;
    kv::ListRunningProcesses(system, list);
    KV_CHECK(list.size() >= 2);
    const kv::TLpModuleInfo* entry = Entry(list, sim);
    KV_CHECK(entry != nullptr);
    if (entry == nullptr) return;
    KV_CHECK_EQ(std::string(kv::FileNamePart(entry->ExeName)), std::string("sim-kelvarin.exe"));
    if (full_path) KV_CHECK(entry->ExeName.find('\\') != std::string::npos);
    KV_CHECK(kv::NamesKelvarin(system.EntryPoints(), entry->ExeName));
}

void Psapi() {
    Simulator sim(Argument(1), {});
    if (!sim.WaitReady()) return;
    KV_CHECK(kv::backend::Processes().EntryPoints().platform_id != kv::kPlatformWin9x);
    CheckFinds(kv::backend::Processes(), sim.process_id(), true);
    // This process, under its own module path.
    kv::TLpModuleInfoArray list;
    kv::ListRunningProcesses(kv::backend::Processes(), list);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const kv::TLpModuleInfo* me = Entry(list, GetCurrentProcessId());
    KV_CHECK(me != nullptr);
    if (me != nullptr) KV_CHECK_EQ(me->ExeName, std::string(self));
    KV_CHECK_EQ(kv::CountKelvarinProcesses(kv::backend::Processes()), 1);
}

void Toolhelp() {
    Simulator sim(Argument(1), {});
    if (!sim.WaitReady()) return;
    Altered win9x([](kv::ProcessEntryPoints& t) { t.platform_id = kv::kPlatformWin9x; });
    CheckFinds(win9x, sim.process_id(), false);
    KV_CHECK_EQ(kv::CountKelvarinProcesses(win9x), 1);
}

void ImageNameFallback() {
    Simulator sim(Argument(1), {});
    if (!sim.WaitReady()) return;
    KV_CHECK(kv::backend::Processes().EntryPoints().query_image_name != nullptr);
    // As for a 64-bit process seen from the 32-bit DLL: no module can be read.
    Altered no_modules([](kv::ProcessEntryPoints& t) {
        t.first_module = [](uintptr_t, uintptr_t&) { return false; };
    });
    CheckFinds(no_modules, sim.process_id(), true);
    Altered neither([](kv::ProcessEntryPoints& t) {
        t.first_module = [](uintptr_t, uintptr_t&) { return false; };
        t.query_image_name = nullptr;
    });
    KV_CHECK_EQ(kv::CountKelvarinProcesses(neither), 0);
}

// Desktop applications of both bitnesses at once, through the real entry points and through
// the DLL: from the 32-bit DLL under WoW64 a 64-bit process's modules cannot be read, and its
// image name tells what it is. Arguments: the DLL, this build's sim-kelvarin.exe, the other
// build's one (Windows paths); skipped when the other build is not there.
void OtherBitness() {
    if (GetFileAttributesA(Argument(2).c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("skipped: %s is not built\n", Argument(2).c_str());
        std::fflush(stdout);
        std::exit(77);
    }
    Simulator other(Argument(2), {});
    if (!other.WaitReady()) return;
    CheckFinds(kv::backend::Processes(), other.process_id(), true);
    Session vk;
    if (!vk.ok()) return;
    KV_CHECK_EQ(vk.Call("CheckKelvarin"), 1);
    Simulator own(Argument(1), {});
    if (!own.WaitReady()) return;
    CheckFinds(kv::backend::Processes(), own.process_id(), true);
    KV_CHECK_EQ(vk.Call("ПроверитьКелварин"), 2);
    KV_CHECK(vk.TakeErrors().empty());
}

// Under the Russian locale the system's ANSI code page is 1251: CharLowerBuffA and the
// component's own table agree on every byte.
void Lowering() {
    KV_CHECK_EQ(GetACP(), 1251u);
    const auto& os = kv::backend::Processes().EntryPoints();
    KV_CHECK(os.lower_ansi != nullptr);
    if (os.lower_ansi == nullptr) return;
    for (int b = 1; b < 256; ++b) {
        std::string system(1, static_cast<char>(b));
        std::string own = system;
        os.lower_ansi(system.data(), 1);
        kv::LowerCp1251(own);
        if (system != own) {
            Fail(__FILE__, __LINE__,
                 "byte " + Show(b) + ": system " + Show(static_cast<unsigned char>(system[0])) +
                     ", own " + Show(static_cast<unsigned char>(own[0])));
        }
    }
    KV_CHECK(kv::NamesKelvarin(os, "C:\\APPS\\KELVARIN.EXE"));
    KV_CHECK(!kv::NamesKelvarin(os, "C:\\KELVARIN.EXE\\RUN.EXE"));
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {{"psapi", Psapi},
                           {"toolhelp", Toolhelp},
                           {"image_name_fallback", ImageNameFallback},
                           {"other_bitness", OtherBitness},
                           {"lowering", Lowering}});
}
