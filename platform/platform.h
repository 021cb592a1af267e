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
    // Synchronous: returns when the receiving window procedure has handled the message.
    virtual void SendToWindow(int32_t window, uint32_t message, int32_t wparam, int32_t lparam) = 0;
    // Milliseconds since system start, 32 bits, wrapping.
    virtual uint32_t TickCount() = 0;
    virtual void Pause(uint32_t milliseconds) = 0;
};

struct ProcessEntry {
    uint32_t process_id = 0;
    std::string exe_name;  // file name or full path, ANSI
};

class ProcessLister {
  public:
    virtual ~ProcessLister() = default;
    // Every running process, in the order the system reports them; empty when unreadable.
    virtual std::vector<ProcessEntry> ListRunningProcesses() = 0;
};

// Run-time loading of a shared library by file name.
class LibraryLoader {
  public:
    virtual ~LibraryLoader() = default;
    virtual void* Open(const std::string& file_name) = 0;  // null when it cannot be loaded
    virtual void* Symbol(void* library, const char* name) = 0;
    virtual void Close(void* library) = 0;
};

// The operating system as the component sees it. Every member is borrowed and outlives the
// component object.
struct Platform {
    TextCodec& codec;
    RegionalSource& regional;
    Clock& clock;
    NoticeBox& notices;
    FileSystem& files;
    DesktopChannel& channel;
    ProcessLister& processes;
    LibraryLoader& libraries;
};

// The production backend of the system the code is built for.
Platform& DefaultPlatform();

}  // namespace kv
