// The objects by which copies take turns at the block, as Windows objects: the descriptor they
// are made with, read back from them; the rights a copy asks for and holds; a copy of a user
// who does not own them (an administrator's copy came first); and what a copy says when it
// cannot have them. The handles are the platform layer's, the same code the DLL runs; the
// requests go through the registered DLL. Arguments after the group: the DLL, the simulator,
// the price list.
#include <windows.h>
// After windows.h, whose types they use.
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "check.h"
#include "desktop_sim.h"
#include "link/outstanding.h"
#include "link/request_cycle.h"
#include "platform/platform.h"

using namespace kvtest;

namespace {

constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kRecordRights = FILE_MAP_READ | FILE_MAP_WRITE;

bool UnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// The rights a handle was granted, as the system keeps them.
DWORD GrantedRights(uintptr_t handle) {
    struct BasicInformation {
        ULONG attributes;
        ACCESS_MASK granted;
        ULONG counts[12];
    } information{};
    using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    ULONG length = 0;
    if (query == nullptr || query(reinterpret_cast<HANDLE>(handle), 0 /* basic */, &information,
                                  sizeof information, &length) != 0) {
        return 0;
    }
    return information.granted;
}

// The record's handle is not the platform's to give; its view is. The handle of the section
// behind a view cannot be had, so the rights are read from a second open as the platform makes
// it: with only kRecordRights.
struct Objects {
    kv::DesktopChannel::TurnObjects turn;
    bool ok() const { return turn.mutex != 0 && turn.record.data != nullptr; }
};

Objects Open() {
    return {kv::DefaultPlatform().channel.OpenTurn(kv::kTurnName, kv::kRecordName,
                                                   kv::kOutstandingRecordSize)};
}

// The descriptor of a named object as the system hands it back, checked: one ACE that allows
// Everyone `rights` and nothing else, and the low mandatory label with no-write-up where the
// system reports labels.
void ExpectDescriptor(HANDLE object, DWORD rights, const char* name) {
    PACL dacl = nullptr, sacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(object, SE_KERNEL_OBJECT,
                                        DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                        nullptr, nullptr, &dacl, &sacl, &descriptor);
    KV_CHECK_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    if (error != ERROR_SUCCESS) return;
    char* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, &text,
        nullptr);
    std::printf("%s: %s\n", name, text != nullptr ? text : "(no text)");
    if (text != nullptr) LocalFree(text);

    KV_CHECK(dacl != nullptr && dacl->AceCount == 1);
    ACCESS_ALLOWED_ACE* allowed = nullptr;
    if (dacl != nullptr && GetAce(dacl, 0, reinterpret_cast<void**>(&allowed))) {
        KV_CHECK_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        KV_CHECK_EQ(allowed->Mask, rights);
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        KV_CHECK(EqualSid(&allowed->SidStart, everyone));
        FreeSid(everyone);
    }
    const bool labelled = sacl != nullptr && sacl->AceCount > 0;
    if (!labelled && UnderWine()) {
        // Wine takes the label when the object is made but does not report it.
        Note(std::string(name) + ": this system reports no mandatory label");
    } else {
        ACE_HEADER* label = nullptr;
        KV_CHECK(labelled && GetAce(sacl, 0, reinterpret_cast<void**>(&label)));
        if (label != nullptr) {
            KV_CHECK_EQ(label->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
            auto* mandatory = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(label);
            KV_CHECK_EQ(mandatory->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
            const DWORD level = *GetSidSubAuthority(&mandatory->SidStart, 0);
            KV_CHECK_EQ(level, static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID));
        }
    }
    LocalFree(descriptor);
}

// Nobody has the objects: this copy makes them, and holds them with only the rights it needs.
// Their descriptors, read back, let everyone have those rights and no more.
void Made() {
    const Objects objects = Open();
    KV_CHECK(objects.ok());
    if (!objects.ok()) return;
    KV_CHECK_EQ(GrantedRights(objects.turn.mutex), kMutexRights);
    HANDLE mutex = OpenMutexA(READ_CONTROL, FALSE, kv::kTurnName);
    HANDLE record = OpenFileMappingA(READ_CONTROL, FALSE, kv::kRecordName);
    KV_CHECK(mutex != nullptr && record != nullptr);
    if (mutex != nullptr) ExpectDescriptor(mutex, kMutexRights, kv::kTurnName);
    if (record != nullptr) ExpectDescriptor(record, kRecordRights, kv::kRecordName);
    HANDLE second = OpenFileMappingA(kRecordRights, FALSE, kv::kRecordName);
    KV_CHECK(second != nullptr);
    if (second != nullptr)
        KV_CHECK_EQ(GrantedRights(reinterpret_cast<uintptr_t>(second)), kRecordRights);
    for (HANDLE h : {mutex, record, second}) {
        if (h != nullptr) CloseHandle(h);
    }
    // A new record is empty.
    KV_CHECK(kv::ReadOutstanding(objects.turn.record).wait == kv::Outstanding::Wait::None);
}

// The objects of another user's copy: made with the same descriptor but owned by another
// account, as an administrator's copy would be. Asking for every right, as copies did before,
// is refused; this copy opens them with the rights it needs, and the DLL takes its turns with
// them (while another thread holds the turn, a request gets none and sends nothing).
void Opened() {
    const char* const descriptors[] = {"O:SYD:(A;;0x00100001;;;WD)", "O:SYD:(A;;0x00000006;;;WD)"};
    PSECURITY_DESCRIPTOR made[2] = {};
    for (int i = 0; i < 2; ++i) {
        KV_CHECK(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            descriptors[i], SDDL_REVISION_1, &made[i], nullptr));
    }
    SECURITY_ATTRIBUTES mutex_security{sizeof mutex_security, made[0], FALSE};
    SECURITY_ATTRIBUTES record_security{sizeof record_security, made[1], FALSE};
    HANDLE theirs_mutex = CreateMutexA(&mutex_security, FALSE, kv::kTurnName);
    HANDLE theirs_record = CreateFileMappingA(INVALID_HANDLE_VALUE, &record_security,
                                              PAGE_READWRITE, 0, 4096, kv::kRecordName);
    KV_CHECK(theirs_mutex != nullptr && theirs_record != nullptr);

    HANDLE every_right = CreateMutexA(nullptr, FALSE, kv::kTurnName);
    KV_CHECK(every_right == nullptr);
    KV_CHECK_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    if (every_right != nullptr) CloseHandle(every_right);

    const Objects objects = Open();
    KV_CHECK(objects.ok());
    KV_CHECK_EQ(GrantedRights(objects.turn.mutex), kMutexRights);

    Simulator sim(Argument(1), {"--prices", Argument(2)});
    if (!sim.WaitReady()) return;
    Session vk;
    if (!vk.ok()) return;
    vk.SetInt("Таймаут", 300);
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 0);
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        WaitForSingleObject(reinterpret_cast<HANDLE>(objects.turn.mutex), INFINITE);
        SetEvent(taken);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(reinterpret_cast<HANDLE>(objects.turn.mutex));
    });
    WaitForSingleObject(taken, 10000);
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), -3);
    SetEvent(release);
    holder.join();
    KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 0);
    KV_CHECK_EQ(sim.Requests().size(), size_t{2});
    KV_CHECK(vk.TakeErrors().empty());
    for (HANDLE h : {taken, release, theirs_mutex, theirs_record}) {
        if (h != nullptr) CloseHandle(h);
    }
    for (PSECURITY_DESCRIPTOR d : made) LocalFree(d);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Names that this copy cannot have as its turn's objects: another kind of object, or a mutex
// that only the system may open. The request is still made, alone, and its trace line says
// which object could not be had and why. The record's case comes last: its copy keeps the
// mutex it did get.
void Unavailable() {
    struct Case {
        const char* what;
        const char* name;
        bool is_mutex;  // else an event holds the name
        const char* says;
    };
    const Case cases[] = {
        {"an event under the mutex's name", kv::kTurnName, false,
         "turn=KelvarinMapFile.Turn cannot be had (error 6): no turn, alone"},
        {"a mutex only the system may open", kv::kTurnName, true,
         "turn=KelvarinMapFile.Turn cannot be had (error 5): no turn, alone"},
        {"an event under the record's name", kv::kRecordName, false,
         "turn=KelvarinMapFile.Outstanding cannot be had (error 6): no record of earlier "
         "requests"},
    };
    Simulator sim(Argument(1), {"--prices", Argument(2)});
    if (!sim.WaitReady()) return;
    const std::string dir = TempDirectory("turn-trace");
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR system_only = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorA("O:SYD:(A;;GA;;;SY)", SDDL_REVISION_1,
                                                             &system_only, nullptr);
        SECURITY_ATTRIBUTES security{sizeof security, system_only, FALSE};
        HANDLE squatter = c.is_mutex ? CreateMutexA(&security, FALSE, c.name)
                                     : CreateEventA(nullptr, FALSE, FALSE, c.name);
        KV_CHECK(squatter != nullptr);
        const std::string trace = dir + "\\trace.log";
        SetEnvironmentVariableA("KELVARINVK_TRACE", trace.c_str());
        {
            Session vk;
            SetEnvironmentVariableA("KELVARINVK_TRACE", nullptr);
            if (!vk.ok()) return;
            vk.SetInt("Таймаут", 3000);
            KV_CHECK_EQ(vk.Call("CountPositionInZakaz"), 0);
            KV_CHECK(vk.TakeErrors().empty());
        }
        const std::string lines = ReadFile(trace);
        if (lines.find(c.says) == std::string::npos) {
            Fail(__FILE__, __LINE__,
                 std::string(c.what) + ": the trace does not say \"" + c.says + "\": " + lines);
        }
        DeleteFileA(trace.c_str());
        if (squatter != nullptr) CloseHandle(squatter);
        LocalFree(system_only);
    }
    RemoveDirectoryA(dir.c_str());
    KV_CHECK_EQ(sim.Requests().size(), std::size(cases));
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {{"made", Made}, {"opened", Opened}, {"unavailable", Unavailable}});
}
