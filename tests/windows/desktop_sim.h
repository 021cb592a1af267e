#pragma once
// The pieces of the end-to-end tests of the desktop link: the simulator as a separate
// process, and one add-in instance driven by name, as a 1C script drives it.
#include <windows.h>

#include <string>
#include <vector>

#include "check.h"
#include "host/addin_lib.h"
#include "host_objects.h"

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

// One add-in instance created through its ProgID and initialised with a test connection.
class Session {
  public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool ok() const { return initialised_; }

    // A method call by name (UTF-8), with the host's VT_I4 / VT_BSTR parameters.
    struct Arg {
        bool text;
        LONG number;
        std::wstring string;
    };
    static Arg Int(LONG value) { return {false, value, {}}; }
    static Arg Str(const std::string& utf8) { return {true, 0, Utf16(utf8)}; }
    // The result as VT_I4; records a failure when it is of another type.
    LONG Call(const std::string& method, const std::vector<Arg>& args = {});

    void SetText(const std::string& property, const std::string& utf8);
    void SetInt(const std::string& property, LONG value);
    std::string Text(const std::string& property);  // UTF-8
    LONG Int(const std::string& property);
    double Real(const std::string& property, VARTYPE expected_type);

    kv::host::ILanguageExtender* lang() const { return addin_.lang.get(); }
    // What the add-in handed to the host's error log, in UTF-8, and forgets them.
    std::vector<std::string> TakeErrors();

  private:
    long Member(bool method, const std::string& name);
    Connection connection_{true};
    AddIn addin_{&connection_};
    bool initialised_ = false;
};

// A text in the system's ANSI code page, as the request texts and command lines are.
std::string AnsiOf(const char* utf8);

// Milliseconds of a monotonic clock.
double NowMs();

// A fresh directory under the temp directory for one test.
std::string TempDirectory(const char* tag);

}  // namespace kvtest
