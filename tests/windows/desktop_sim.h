#pragma once
// The pieces of the end-to-end tests of the desktop link: the simulator as a separate
// process, and one add-in instance driven by name, as a 1C script drives it.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "check.h"
#include "shell.h"

namespace kvtest {

// A running sim-kelvarin.exe with its own log file. Stopped (and its log kept for the failure
// message) when the object goes.
class Simulator {
  public:
    // `exe` and `args` are Windows paths and options; the log goes into a fresh temp file.
    Simulator(const std::string& exe, const std::vector<std::string>& args);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Waits for the READY line; false when it does not come within the time.
    bool WaitReady(DWORD milliseconds = 15000);
    // Waits until the log holds `text` (one more line after the last one looked at).
    bool WaitLog(const std::string& text, DWORD milliseconds = 5000);
    // Closes the window and waits for the process; kills it when it does not end.
    void Stop();
    // True once the process has ended, waiting at most `milliseconds`.
    bool Ended(DWORD milliseconds);

    std::string Log() const;  // UTF-8
    // The REQUEST lines of the log, e.g. "REQUEST 1038 FindPosition wParam=5 lParam=0 ...".
    std::vector<std::string> Requests() const;
    HWND window() const { return window_; }
    DWORD process_id() const { return process_.dwProcessId; }

  private:
    std::string log_path_;
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

// Another process of this test program, in a role of its own: `role` and `args` follow the
// program's name on its command line. Its output goes to a file, shown by Output(). Killed
// when the object goes and it still runs.
class Child {
  public:
    Child(const std::string& role, const std::vector<std::string>& args);
    // Another program, with its arguments.
    struct Program {
        std::string exe;
    };
    Child(const Program& program, const std::vector<std::string>& args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit code once it has ended within `milliseconds`; -1 when it still runs.
    long Wait(DWORD milliseconds);
    void Kill();
    std::string Output() const;  // UTF-8 as the child printed it

  private:
    void Start(std::string command);
    std::string output_path_;
    PROCESS_INFORMATION process_{};
};

// One add-in instance of the tested shell (shell.h), driven by name as a 1C script drives it.
// Every call must answer as its shell does: a COM call S_OK, a Native API call true unless the
// add-in reported an error during it. Finished at the end, which checks the Native API's memory.
class Session {
  public:
    explicit Session(const kvhost::NativeAddIn::Options* native = nullptr);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool ok() const { return addin_ != nullptr; }

    // A method call by name (UTF-8), with the host's integer / text parameters.
    struct Arg {
        bool text;
        LONG number;
        std::wstring string;
    };
    static Arg Int(LONG value) { return {false, value, {}}; }
    static Arg Str(const std::string& utf8) { return {true, 0, Utf16(utf8)}; }
    // The result as VT_I4; records a failure when it is of another type. Safe to call from a
    // second thread while the first waits in a call (StopFind).
    LONG Call(const std::string& method, const std::vector<Arg>& args = {});

    void SetText(const std::string& property, const std::string& utf8);
    void SetInt(const std::string& property, LONG value);
    // A property write as it was answered, for values the add-in may refuse.
    kvhost::Answer Write(const std::string& property, const kv::Variant& value);
    std::string Text(const std::string& property);  // UTF-8
    LONG Int(const std::string& property);
    // `expected_type` is the type code as OLE has it (VT_R8, VT_DATE), the same in both shells.
    double Real(const std::string& property, uint16_t expected_type);

    kvhost::AddIn& addin() const { return *addin_; }
    // What the add-in handed to the host's error log, in UTF-8, and forgets them.
    std::vector<std::string> TakeErrors();

  private:
    long Member(bool method, const std::string& name);
    // Checks an answer against the errors that came with it, and keeps those.
    void Answered(const std::string& what, const kvhost::Answer& answer, bool refusal_expected);
    std::unique_ptr<kvhost::AddIn> addin_;
    std::mutex errors_lock_;
    std::vector<kvhost::HostError> errors_;
};

// Milliseconds of a monotonic clock.
double NowMs();

// A fresh directory under the temp directory for one test.
std::string TempDirectory(const char* tag);

}  // namespace kvtest
