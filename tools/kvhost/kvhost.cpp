// kvhost: loads the add-in by its ProgID the way the 1C:Enterprise 7.7 host does, or the
// Native API add-in from its DLL the way 1C:Enterprise 8 does (--native), runs a script of
// property writes and reads and method calls, and prints every answer with its value's type
// and every error-log entry. See script.h (and the README) for the script language.
//   kvhost [--progid PROGID] [--register DLL] [--unregister DLL] [SCRIPT | -]
//   kvhost --native DLL [SCRIPT | -]
//   kvhost --check [--lang ru|en] [--set NAME=VALUE ...] [--1c-folder DIR]
//                  [--progid PROGID | --native DLL]
//   kvhost --version
// --register registers DLL for the current user first (DllInstall "user"); --unregister
// removes that registration at the end. Without a script, statements come from standard input.
// --check diagnoses an installation instead (check.h).
// A script's exit code is 0 when every statement ran and the add-in took each (S_OK, or true)
// without an error-log entry; 1 when one did not (a script error, an unknown name, a refused
// write, a call that logged an error) or --unregister failed; 2 when the add-in was not created.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/kvhost/check.h"
#include "tools/kvhost/com_addin.h"
#include "tools/kvhost/console.h"
#include "tools/kvhost/listing.h"
#include "tools/kvhost/native_addin.h"
#include "tools/kvhost/script.h"

namespace {

using kvhost::Print;
using kvhost::Quoted;
using kvhost::Wide;

class Session {
  public:
    explicit Session(kvhost::AddIn& addin) : addin_(addin) {}

    // Runs one statement; false when it could not be run or the add-in did not take it (a
    // refused write answers S_FALSE). An error-log entry fails it too, in RunStatements.
    bool Run(const kvhost::Statement& statement) {
        using Kind = kvhost::Statement::Kind;
        const std::wstring name = Wide(statement.name);
        if (statement.kind == Kind::Call) return Call(name, statement.values);
        kvhost::Answer found;
        const long number = addin_.Find(false, name, &found);
        if (number < 0) {
            Print(L"  no property named " + name + L" (FindProp: " + found.said + L")");
            return false;
        }
        if (statement.kind == Kind::Write) {
            const kvhost::Answer answer =
                addin_.WriteProperty(number, kvhost::ToVariant(statement.values.front()));
            Print(L"  SetPropVal(" + std::to_wstring(number) + L") -> " + answer.said);
            return answer.accepted;
        }
        kv::Variant value;
        const kvhost::Answer answer = addin_.ReadProperty(number, value);
        Print(L"  " + name + L" = " + kvhost::Describe(value) + L"   [GetPropVal(" +
              std::to_wstring(number) + L") -> " + answer.said + L"]");
        return answer.accepted;
    }

  private:
    bool Call(const std::wstring& name, const std::vector<kvhost::Value>& values) {
        kvhost::Answer found;
        const long number = addin_.Find(true, name, &found);
        if (number < 0) {
            Print(L"  no method named " + name + L" (FindMethod: " + found.said + L")");
            return false;
        }
        const long expected = addin_.ParamCount(number);
        if (expected != static_cast<long>(values.size())) {
            Print(L"  note: " + name + L" takes " + std::to_wstring(expected) + L" parameters, " +
                  std::to_wstring(values.size()) + L" given");
        }
        std::vector<kv::Variant> params;
        for (const kvhost::Value& value : values) params.push_back(kvhost::ToVariant(value));
        kv::Variant result;
        const kvhost::Answer answer = addin_.Call(number, params, result);
        Print(L"  " + name + L"() = " + kvhost::Describe(result) + L"   [CallAsFunc(" +
              std::to_wstring(number) + L") -> " + answer.said + L"]");
        return answer.accepted;
    }

    kvhost::AddIn& addin_;
};

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::string text;
    if (path == L"-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        FILE* file = _wfopen(path.c_str(), L"rb");
        if (file == nullptr) {
            throw std::runtime_error("cannot read the script " + kvhost::Utf8(path));
        }
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, n);
        std::fclose(file);
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A fault inside the add-in (a slot that its vtable does not have, a convention it gets wrong)
// ends kvhost with a line that says so, rather than with the system's crash dialog.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    wchar_t text[96];
    std::swprintf(text, 96, L"the add-in crashed: exception 0x%08lX at %p",
                  static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                  exception->ExceptionRecord->ExceptionAddress);
    Print(text);
    ExitProcess(kvhost::kCrashExitCode);
}

void InstallCrashReport() { SetUnhandledExceptionFilter(ReportCrash); }

int Usage() {
    Print(L"usage: kvhost [--progid PROGID] [--register DLL] [--unregister DLL] [SCRIPT | -]");
    Print(L"       kvhost --native DLL [SCRIPT | -]");
    Print(
        L"       kvhost --check [--lang ru|en] [--set NAME=VALUE ...] [--1c-folder DIR] "
        L"[--progid PROGID | --native DLL]");
    Print(L"       kvhost --version");
    // Apart from every code a run gives, --check's included.
    return kvhost::kUsageExitCode;
}

// Every error the add-in reports, as it arrives.
void PrintError(const kvhost::HostError& error) {
    Print(L"  error log: wCode=" + std::to_wstring(error.code) + L" source=" +
          Quoted(error.source) + L" scode=" + kvhost::Hresult(error.scode) + L": " +
          error.description);
}

// The statements against a created add-in; the exit code of the run.
int RunStatements(kvhost::AddIn& addin, const std::vector<std::string>& lines) {
    std::vector<std::wstring> steps;
    const bool started = addin.Start(steps);
    for (const std::wstring& step : steps) Print(step);
    int failures = 0;
    if (!started) {
        ++failures;
    } else {
        Print(L"extension " + Quoted(addin.Extension()) + L", " +
              std::to_wstring(addin.PropertyCount()) + L" properties, " +
              std::to_wstring(addin.MethodCount()) + L" methods");
        Session session(addin);
        addin.TakeErrors();  // only the statements' own count
        for (size_t i = 0; i < lines.size(); ++i) {
            kvhost::Statement statement;
            try {
                statement = kvhost::ParseLine(lines[i]);
            } catch (const kvhost::ScriptError& e) {
                Print(L"> " + Wide(lines[i]));
                Print(L"  script error on line " + std::to_wstring(i + 1) + L", " + Wide(e.what()));
                ++failures;
                continue;
            }
            if (statement.kind == kvhost::Statement::Kind::Nothing) continue;
            Print(L"> " + Wide(lines[i]));
            if (!session.Run(statement) || !addin.TakeErrors().empty()) ++failures;
        }
    }
    std::wstring finished;
    if (!addin.Finish(finished)) ++failures;
    Print(finished);
    return failures == 0 ? 0 : 1;
}

int RunScript(const std::wstring& prog_id, const std::vector<std::string>& lines) {
    kvhost::ComAddIn addin(prog_id, PrintError);
    const kvhost::CreatedAddIn& created = addin.created();
    if (created.from_user_classes) {
        Print(L"created " + prog_id + L" from the current user's classes: " + created.user_path);
    }
    if (created.through_com) {
        if (FAILED(created.prog_id_lookup)) {
            Print(L"the ProgID " + prog_id + L" is not registered (" +
                  kvhost::Hresult(created.prog_id_lookup) + L")");
            return 2;
        }
        Print(L"created " + prog_id + L" through COM");
    }
    if (FAILED(created.result)) {
        Print(L"cannot create " + prog_id + L" (" + kvhost::Hresult(created.result) + L")");
        return 2;
    }
    return RunStatements(addin, lines);
}

// The attach types of GetAttachType.
std::wstring AttachTypeName(int32_t type) {
    switch (type) {
        case 1:
            return L"1 (not isolated)";
        case 2:
            return L"2 (isolated)";
        case 3:
            return L"3 (either)";
        case -2:
            return L"unknown (no GetAttachType)";
        default:
            return std::to_wstring(type);
    }
}

int RunNativeScript(const std::wstring& dll, const std::vector<std::string>& lines) {
    kvhost::NativeAddIn::Options options = kvhost::NativeAddIn::DefaultOptions();
    options.errors = PrintError;
    options.notices = [](bool confirm, const std::wstring& text) {
        Print(std::wstring(confirm ? L"  question: " : L"  message box: ") + text);
    };
    kvhost::NativeAddIn addin(dll, options);
    if (!addin.created()) {
        Print(addin.problem());
        return 2;
    }
    Print(L"loaded " + dll + L": classes " + Quoted(addin.class_names()) + L", attach type " +
          AttachTypeName(addin.attach_type()));
    return RunStatements(addin, lines);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring prog_id = L"AddIn.KelvarinVK";
    std::wstring register_dll;
    std::wstring unregister_dll;
    std::wstring script = L"-";
    std::wstring native_dll;
    bool prog_id_given = false;
    bool check = false;
    kvhost::CheckOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == L"--version") {
            Print(L"kvhost " + Wide(KV_VERSION_FULL));
            return 0;
        } else if (arg == L"--progid" && has_value) {
            prog_id = argv[++i];
            prog_id_given = true;
        } else if (arg == L"--register" && has_value) {
            register_dll = argv[++i];
        } else if (arg == L"--unregister" && has_value) {
            unregister_dll = argv[++i];
        } else if (arg == L"--native" && has_value) {
            native_dll = argv[++i];
        } else if (arg == L"--check") {
            check = true;
        } else if (arg == L"--lang" && has_value) {
            const std::wstring lang = argv[++i];
            if (lang != L"ru" && lang != L"en") return Usage();
            options.english = lang == L"en";
        } else if (arg == L"--1c-folder" && has_value) {
            options.one_c_folder = argv[++i];
        } else if (arg == L"--set" && has_value) {
            const std::wstring assignment = argv[++i];
            const size_t equals = assignment.find(L'=');
            if (equals == std::wstring::npos || equals == 0) return Usage();
            options.settings.push_back(
                {assignment.substr(0, equals), assignment.substr(equals + 1)});
        } else if (arg.rfind(L"--", 0) == 0) {
            return Usage();
        } else {
            script = arg;
        }
    }
    // The check has options of its own and runs no script.
    const bool check_options =
        options.english || !options.settings.empty() || !options.one_c_folder.empty();
    if (check && (!register_dll.empty() || !unregister_dll.empty() || script != L"-")) {
        return Usage();
    }
    if (!check && check_options) return Usage();
    // The Native API add-in needs no registration, and it has no ProgID.
    const bool native = !native_dll.empty();
    if (native && (!register_dll.empty() || !unregister_dll.empty() || prog_id_given)) {
        return Usage();
    }
    std::vector<std::string> lines;
    if (!check) {
        try {
            lines = ReadLines(script);
        } catch (const std::exception& e) {
            Print(Wide(e.what()));
            return 2;
        }
    }
    if (FAILED(CoInitialize(nullptr))) {
        Print(L"CoInitialize failed");
        return 2;
    }
    int status = 0;
    if (native) InstallCrashReport();
    if (check) {
        options.prog_id = prog_id;
        options.native_dll = native_dll;
        status = kvhost::RunCheck(options);
    } else if (native) {
        status = RunNativeScript(native_dll, lines);
    } else if (!register_dll.empty() && !kvhost::InstallForUser(register_dll, true)) {
        status = 2;
    } else {
        status = RunScript(prog_id, lines);
    }
    if (!unregister_dll.empty() && !kvhost::InstallForUser(unregister_dll, false) && status == 0) {
        status = 1;
    }
    CoUninitialize();
    return status;
}
