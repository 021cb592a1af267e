// The desktop ordering application's shared block and window messages, and the objects by
// which copies of the component take turns at the block.
#include <windows.h>
// After windows.h, whose types it uses.
#include <sddl.h>

#include "platform/backend.h"

namespace kv::backend {
namespace {

HANDLE AsHandle(uintptr_t block) { return reinterpret_cast<HANDLE>(block); }

// The rights a copy needs, and all it asks for: to wait for the mutex and release it, to read
// and write the record.
constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kRecordRights = FILE_MAP_READ | FILE_MAP_WRITE;

// Descriptors of the objects a copy makes. Everyone (every user of the workstation's session)
// is allowed those rights and no others, so an administrator's copy that comes first does not
// lock out the copies of ordinary users; the low mandatory label with no-write-up lets a copy
// of any integrity level from low up use them. Windows before Vista knows no labels and
// refuses the whole text, hence the second text without one.
struct Descriptors {
    const char* labelled;
    const char* plain;
};
constexpr Descriptors kMutexDescriptor{"D:(A;;0x00100001;;;WD)S:(ML;;NW;;;LW)",
                                       "D:(A;;0x00100001;;;WD)"};
constexpr Descriptors kRecordDescriptor{"D:(A;;0x00000006;;;WD)S:(ML;;NW;;;LW)",
                                        "D:(A;;0x00000006;;;WD)"};
static_assert(kMutexRights == 0x00100001 && kRecordRights == 0x00000006,
              "the descriptors allow exactly the rights asked for");

// A security descriptor made from its text, freed when it goes.
class SecurityAttributes {
  public:
    explicit SecurityAttributes(const Descriptors& texts) {
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(texts.labelled, SDDL_REVISION_1,
                                                                  &descriptor_, nullptr)) {
            ConvertStringSecurityDescriptorToSecurityDescriptorA(texts.plain, SDDL_REVISION_1,
                                                                 &descriptor_, nullptr);
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    ~SecurityAttributes() {
        if (descriptor_ != nullptr) LocalFree(descriptor_);
    }
    SecurityAttributes(const SecurityAttributes&) = delete;
    SecurityAttributes& operator=(const SecurityAttributes&) = delete;
    // Null when neither text could be made into a descriptor: the object then gets the
    // process's default one, which is still better than no object.
    SECURITY_ATTRIBUTES* get() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// Opens a named object with `rights`, or makes it when there is none. The handle of an object
// made here is narrowed to `rights` too. Create* functions would ask for every right on an
// object that exists, which another user's object does not give; so they are only used to make
// one. Null on failure, with the system's error in `os_error`.
template <typename Open, typename Make>
HANDLE OpenOrMake(DWORD rights, Open open, Make make, uint32_t& os_error) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (HANDLE opened = open()) return opened;
        if (GetLastError() != ERROR_FILE_NOT_FOUND) break;
        HANDLE made = make();
        if (made != nullptr) {
            HANDLE narrowed = nullptr;
            if (DuplicateHandle(GetCurrentProcess(), made, GetCurrentProcess(), &narrowed, rights,
                                FALSE, DUPLICATE_CLOSE_SOURCE)) {
                return narrowed;
            }
            os_error = GetLastError();
            return nullptr;
        }
        // Another copy made it between the open and the make: open that one.
        if (GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    os_error = GetLastError();
    return nullptr;
}

class Win32DesktopChannel final : public DesktopChannel {
  public:
    uintptr_t OpenBlock(const std::string& name, uint32_t create_size) override {
        // Backed by the paging file; the size only counts when no block of that name exists.
        HANDLE block = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          create_size, name.c_str());
        return reinterpret_cast<uintptr_t>(block);
    }

    View MapBlock(uintptr_t block) override {
        void* data = MapViewOfFile(AsHandle(block), FILE_MAP_WRITE, 0, 0, 0);
        if (data == nullptr) return {};
        // The creator decides the size; the mapped region is the only place that tells it.
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(data, &region, sizeof region) == 0 || region.RegionSize == 0) {
            // A view whose size is unknown cannot be used safely: treat it as not mapped.
            UnmapViewOfFile(data);
            return {};
        }
        return View{static_cast<char*>(data), static_cast<size_t>(region.RegionSize)};
    }

    void UnmapBlock(const View& view) override {
        if (view.data != nullptr) UnmapViewOfFile(view.data);
    }

    void CloseBlock(uintptr_t block) override {
        if (block != 0) CloseHandle(AsHandle(block));
    }

    ~Win32DesktopChannel() override {
        if (record_view_ != nullptr) UnmapViewOfFile(record_view_);
        if (record_ != nullptr) CloseHandle(record_);
        if (mutex_ != nullptr) CloseHandle(mutex_);
    }

    TurnObjects OpenTurn(const std::string& mutex_name, const std::string& record_name,
                         uint32_t record_size) override {
        TurnObjects turn;
        if (mutex_ == nullptr) {
            mutex_ = OpenOrMake(
                kMutexRights, [&] { return OpenMutexA(kMutexRights, FALSE, mutex_name.c_str()); },
                [&] {
                    // Not owned when made: the turn is taken only by waiting for it.
                    SecurityAttributes security(kMutexDescriptor);
                    return CreateMutexA(security.get(), FALSE, mutex_name.c_str());
                },
                turn.os_error);
            if (mutex_ == nullptr) {
                turn.missing = mutex_name;
                return turn;
            }
        }
        turn.mutex = reinterpret_cast<uintptr_t>(mutex_);
        if (record_view_ == nullptr && !OpenRecord(record_name, record_size, turn.os_error)) {
            turn.missing = record_name;
            return turn;
        }
        turn.record = HeldRecord();
        return turn;
    }

    TurnWait WaitForTurn(uintptr_t turn, uint32_t milliseconds) override {
        switch (WaitForSingleObject(AsHandle(turn), milliseconds)) {
            case WAIT_OBJECT_0:
                return TurnWait::Taken;
            case WAIT_ABANDONED:
                return TurnWait::TakenAbandoned;
            case WAIT_TIMEOUT:
                return TurnWait::Busy;
            default:
                return TurnWait::Failed;
        }
    }

    void EndTurn(uintptr_t turn) override { ReleaseMutex(AsHandle(turn)); }

    View HeldRecord() override {
        return record_view_ != nullptr ? View{static_cast<char*>(record_view_), record_size_}
                                       : View{};
    }

    bool WindowExists(int32_t window) override {
        return IsWindow(reinterpret_cast<HWND>(static_cast<intptr_t>(window))) != FALSE;
    }

    void SendToWindow(int32_t window, uint32_t message, int32_t wparam, int32_t lparam) override {
        // Window handles are 32-bit values in every process, sign-extended in 64-bit ones.
        HWND target = reinterpret_cast<HWND>(static_cast<intptr_t>(window));
        SendMessageA(target, message, static_cast<WPARAM>(static_cast<intptr_t>(wparam)),
                     static_cast<LPARAM>(lparam));
    }

    uint32_t TickCount() override { return GetTickCount(); }

    void Pause(uint32_t milliseconds) override { Sleep(milliseconds); }

  private:
    bool OpenRecord(const std::string& name, uint32_t size, uint32_t& os_error) {
        if (record_ == nullptr) {
            record_ = OpenOrMake(
                kRecordRights, [&] { return OpenFileMappingA(kRecordRights, FALSE, name.c_str()); },
                [&] {
                    // Backed by the paging file and made of zero bytes: an empty record.
                    SecurityAttributes security(kRecordDescriptor);
                    return CreateFileMappingA(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE,
                                              0, size, name.c_str());
                },
                os_error);
            if (record_ == nullptr) return false;
        }
        // A mapping of that name smaller than the record is not one.
        record_view_ = MapViewOfFile(record_, kRecordRights, 0, 0, size);
        if (record_view_ == nullptr) {
            os_error = GetLastError();
            CloseHandle(record_);
            record_ = nullptr;
            return false;
        }
        record_size_ = size;
        return true;
    }

    // Opened on the host's thread by the first request and kept until the library goes.
    HANDLE mutex_ = nullptr;
    HANDLE record_ = nullptr;
    void* record_view_ = nullptr;
    size_t record_size_ = 0;
};

}  // namespace

DesktopChannel& Channel() {
    static Win32DesktopChannel channel;
    return channel;
}

}  // namespace kv::backend
