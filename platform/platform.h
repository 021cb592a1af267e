#pragma once
// Everything the portable core needs from the operating system, one small interface per
// concern. The win32/ and posix/ directories implement each with the same file names; tests
// replace single interfaces with fakes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/datetime.h"
#include "common/text.h"
#include "platform/dialog.h"
#include "platform/regional.h"

namespace kv {

class Clock {
  public:
    virtual ~Clock() = default;
    // Local date and time with milliseconds.
    virtual LocalDateTime Now() = 0;
};

class NoticeBox {
  public:
    virtual ~NoticeBox() = default;
    // A modal message box with an OK button, centred on the screen, titled with the
    // application's name; returns when the user closes it. `error` adds the error icon.
    virtual void Show(std::string_view ansi_text, bool error) = 0;
};

// Outcome of an exclusive file creation.
enum class CreateOutcome { Created, AlreadyExists, Failed };

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual bool DirectoryExists(const std::string& path) = 0;
    // True for a file; a directory of that name is not a file.
    virtual bool FileExists(const std::string& path) = 0;
    // Creates one directory level. 0, or the Windows error code of the failure.
    virtual uint32_t MakeDirectory(const std::string& path) = 0;
    // Creates a new file holding `contents`, failing with AlreadyExists rather than touching a
    // file that exists. On Failed, os_error and os_message describe the failure.
    virtual CreateOutcome CreateNewFile(const std::string& path, std::string_view contents,
                                        uint32_t& os_error, std::string& os_message) = 0;
};

// The named shared-memory block and the window messages of the desktop application link.
class DesktopChannel {
  public:
    virtual ~DesktopChannel() = default;
    struct View {
        char* data = nullptr;
        size_t size = 0;  // bytes that may be read and written from data
    };
    // Opens (or, when none exists, creates with `create_size` bytes) the named block; 0 on failure.
    virtual uintptr_t OpenBlock(const std::string& name, uint32_t create_size) = 0;
    // Maps the whole block for reading and writing; data is null on failure.
    virtual View MapBlock(uintptr_t block) = 0;
    virtual void UnmapBlock(const View& view) = 0;
    virtual void CloseBlock(uintptr_t block) = 0;
    // The objects by which copies of the component take turns at the block, named beside it:
    // the mutex that one copy at a time holds, and a record of `record_size` bytes (zero bytes
    // when it is made) that only the holder of the mutex reads and writes. Each is opened with
    // only the rights a copy needs (to wait for and release the mutex, to read and write the
    // record), or made so that every copy on the workstation, of any user and at any integrity
    // level, can open it so. Once had, they are kept for the life of the process, so that the
    // record outlives every component object; what could not be had is tried again next time.
    struct TurnObjects {
        uintptr_t mutex = 0;    // 0 when it could not be had
        View record;            // data null when it could not be had
        std::string missing;    // the name of an object that could not be had; empty: none
        uint32_t os_error = 0;  // the system's reason for it
    };
    virtual TurnObjects OpenTurn(const std::string& mutex_name, const std::string& record_name,
                                 uint32_t record_size) = 0;
    // The record of OpenTurn while this process holds it, without opening anything; data null
    // when it does not hold one.
    virtual View HeldRecord() = 0;
    enum class TurnWait {
        Taken,
        TakenAbandoned,  // taken from a copy that ended while it held the turn
        Busy,            // another copy still held it when the time was up
        Failed,
    };
    // Waits up to `milliseconds` (0: only looks) for the turn.
    virtual TurnWait WaitForTurn(uintptr_t turn, uint32_t milliseconds) = 0;
    virtual void EndTurn(uintptr_t turn) = 0;
    // Whether `window` still is a window; a message to one that is not goes nowhere.
    virtual bool WindowExists(int32_t window) = 0;
    // Synchronous: returns when the receiving window procedure has handled the message.
    virtual void SendToWindow(int32_t window, uint32_t message, int32_t wparam, int32_t lparam) = 0;
    // Milliseconds since system start, 32 bits, wrapping.
    virtual uint32_t TickCount() = 0;
    virtual void Pause(uint32_t milliseconds) = 0;
};

// The operating system's entry points for the process list, in portable types: ToolHelp on
// the Windows 9x family, PSAPI with OpenProcess on the others. A null entry is one the system
// does not have. The algorithm over them lives in link/UKillProcess; tests swap entries.
struct ProcessSnapshotEntry {
    uint32_t process_id = 0;
    char exe_file[260] = {};  // zero-terminated unless all 260 characters are used
};

struct ProcessEntryPoints {
    uint32_t platform_id = 0;  // as the version query reports it; 1 is the Windows 9x family
    // ToolHelp: a snapshot of the processes (0 on failure) and its walk.
    uintptr_t (*create_snapshot)() = nullptr;
    bool (*process_first)(uintptr_t snapshot, ProcessSnapshotEntry& entry) = nullptr;
    bool (*process_next)(uintptr_t snapshot, ProcessSnapshotEntry& entry) = nullptr;
    // PSAPI: process identifiers into a buffer of `bytes` bytes, reporting the bytes filled.
    bool (*enum_processes)(uint32_t* ids, uint32_t bytes, uint32_t& bytes_returned) = nullptr;
    bool (*first_module)(uintptr_t process, uintptr_t& module) = nullptr;
    // Characters copied, without the zero that ends them; 0 on failure.
    uint32_t (*module_file_name)(uintptr_t process, uintptr_t module, char* buffer,
                                 uint32_t size) = nullptr;
    // kernel32: a process handle, 0 when it cannot be opened.
    uintptr_t (*open_process)(uint32_t access, bool inherit, uint32_t process_id) = nullptr;
    // The image path of an opened process; `size` in: the buffer's room, out: the characters
    // written. Missing before Windows Vista.
    bool (*query_image_name)(uintptr_t process, char* buffer, uint32_t& size) = nullptr;
    void (*close_handle)(uintptr_t handle) = nullptr;
    // The system's ANSI lower-casing, in place; null where the system has none.
    void (*lower_ansi)(char* text, uint32_t length) = nullptr;
};

class ProcessSystem {
  public:
    virtual ~ProcessSystem() = default;
    // Resolved on first use and kept; a library that failed to load is tried again next time.
    virtual const ProcessEntryPoints& EntryPoints() = 0;
};

// Run-time loading of a shared library by file name.
class LibraryLoader {
  public:
    virtual ~LibraryLoader() = default;
    // Null when it cannot be loaded; `os_error` then holds the system's reason (0 when it gave
    // none).
    virtual void* Open(const std::string& file_name, uint32_t& os_error) = 0;
    virtual void* Symbol(void* library, const char* name) = 0;
    virtual void Close(void* library) = 0;
    // The file the system loaded for `library` (ANSI); empty when it cannot say.
    virtual std::string FileOf(void* library) = 0;
    // Keeps `library` in the process until the process ends, whatever Close does later: a
    // library that runs threads of its own must not lose its code under them.
    virtual void Pin(void* library) = 0;
};

// The user's switch for the request trace: the file that a value of the user's registry key
// or an environment variable names, read when a component object is made.
struct TraceSetting {
    std::string file;          // UTF-8; empty: the trace is off
    uint64_t limit_bytes = 0;  // the file is rotated before it would pass this size
};

// The setting of a trace file and the limit the user gave in KiB (a decimal number; empty for
// the default of 4096 KiB, and kept within 16 KiB and 1 GiB).
TraceSetting MakeTraceSetting(std::string file, std::string_view limit_kib);

class TraceFiles {
  public:
    virtual ~TraceFiles() = default;
    virtual TraceSetting Setting() = 0;
    // Appends `utf8_line` and a line end with one write, so that the lines of processes
    // writing at once never mix; a file that would pass the limit first becomes the one older
    // file beside it (its name with ".1"), replacing the previous one. False when nothing could
    // be written. Throws nothing and leaves the system's last-error value as it was.
    virtual bool Append(const TraceSetting& setting, std::string_view utf8_line) noexcept = 0;
    virtual uint32_t ProcessId() = 0;
};

namespace backend {
DialogToolkit& Dialogs();
TraceFiles& Traces();
}  // namespace backend

// The operating system as the component sees it. Every member is borrowed and outlives the
// component object.
struct Platform {
    TextCodec& codec;
    RegionalSource& regional;
    Clock& clock;
    NoticeBox& notices;
    FileSystem& files;
    DesktopChannel& channel;
    ProcessSystem& processes;
    LibraryLoader& libraries;
    // The name-matching dialog's windows; the backend's unless a test gives its own.
    DialogToolkit& dialogs = backend::Dialogs();
    TraceFiles& traces = backend::Traces();
};

// The production backend of the system the code is built for.
Platform& DefaultPlatform();

}  // namespace kv
