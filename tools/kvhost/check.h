#pragma once
// kvhost --check: the diagnosis of an installation, one line per check ("OK", "FAIL" with the
// cause and the remedy, or "SKIP" for a check that an earlier failure leaves nothing to check
// with), in five groups in this order:
//   1 the registration of the ProgID: per user or for the machine, the registry view, the
//     DLL's path, that the file exists, its version and its bitness against kvhost's;
//   2 the object, created and initialised as 1C does it, and its catalogue; the --set values;
//   3 the client library named by DLLName: found where 1C looks for it (1C's folder, the
//     system's folders, PATH; never kvhost's own folder), loaded, its entry points;
//   4 the database named by BaseName: attached with the login of UserName and UserPass, the
//     registry table present and its rows;
//   5 the desktop application: running copies, the shared block, the window in field 2, and
//     one request that changes nothing there (CountPositionInZakaz) through the DLL.
// The exit code is the number of the first group with a failure, 0 when every check passed.
#include <string>
#include <utility>
#include <vector>

namespace kvhost {

// For a command line that kvhost cannot read, apart from every code of a run.
constexpr int kUsageExitCode = 64;
// For a Native API add-in that crashed kvhost (the fault is the add-in's, not the script's).
constexpr int kCrashExitCode = 3;

struct CheckOptions {
    std::wstring prog_id = L"AddIn.KelvarinVK";
    // The Native API add-in's DLL; when given, the check is of that instead of the ProgID.
    std::wstring native_dll;
    bool english = false;  // Russian otherwise
    // Properties written (as text) before the checks: name and value.
    std::vector<std::pair<std::wstring, std::wstring>> settings;
    // The folder of 1C's executable, where 1C looks for the client library first; empty: that
    // of a running 1cv7*.exe, if any.
    std::wstring one_c_folder;
};

int RunCheck(const CheckOptions& options);

}  // namespace kvhost
