// kvhost: loads the add-in by its ProgID the way the 1C host does, runs a script of property
// writes and reads and method calls, and prints every answer with its variant type and every
// error-log entry. See script.h (and the README) for the script language.
//   kvhost [--progid PROGID] [--register DLL] [--unregister DLL] [SCRIPT | -]
//   kvhost --check [--lang ru|en] [--set NAME=VALUE ...] [--1c-folder DIR] [--progid PROGID]
//   kvhost --version
// --register registers DLL for the current user first (DllInstall "user"); --unregister
// removes that registration at the end. Without a script, statements come from standard input.
// --check diagnoses an installation instead (check.h).
// A script's exit code is 0 when every statement ran and the add-in answered S_OK without an
// error-log entry; 1 when one did not (a script error, an unknown name, a refused write, a
// call that logged an error) or --unregister failed; 2 when the add-in was not created.
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

#include "host/addin_lib.h"
#include "tools/kvhost/addin_host.h"
#include "tools/kvhost/check.h"
#include "tools/kvhost/console.h"
#include "tools/kvhost/script.h"

namespace {

using kv::host::IInitDone;
using kv::host::ILanguageExtender;
using kvhost::Hresult;
using kvhost::Print;
using kvhost::Quoted;
using kvhost::Wide;

std::wstring Number(double value) {
    wchar_t text[40];
    std::swprintf(text, 40, L"%.15g", value);
    return text;
}

// A value with its variant type, as the listing shows it.
std::wstring Describe(const VARIANT& value) {
    const VARTYPE vt = V_VT(&value);
    switch (vt) {
        case VT_EMPTY:
            return L"VT_EMPTY";
        case VT_NULL:
            return L"VT_NULL";
        case VT_I4:
            return L"VT_I4 " + std::to_wstring(V_I4(&value));
        case VT_R8:
            return L"VT_R8 " + Number(V_R8(&value));
        case VT_BOOL:
            return std::wstring(L"VT_BOOL ") + (V_BOOL(&value) ? L"true" : L"false");
        case VT_BSTR:
            return L"VT_BSTR " +
                   Quoted(V_BSTR(&value)
                              ? std::wstring_view(V_BSTR(&value), SysStringLen(V_BSTR(&value)))
                              : std::wstring_view());
        case VT_DATE: {
            SYSTEMTIME time{};
            wchar_t text[64] = L"";
            if (VariantTimeToSystemTime(V_DATE(&value), &time)) {
                std::swprintf(text, 64, L" (%04u-%02u-%02u %02u:%02u:%02u)", time.wYear,
                              time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
            }
            return L"VT_DATE " + Number(V_DATE(&value)) + text;
        }
        default: {
            VARIANT text;
            VariantInit(&text);
            VARIANT source = value;  // the conversion takes a non-const source; it only reads it
            std::wstring shown = L"VT " + std::to_wstring(vt);
            if (SUCCEEDED(VariantChangeType(&text, &source, 0, VT_BSTR))) {
                shown += L" " + Quoted(V_BSTR(&text) ? V_BSTR(&text) : L"");
            }
            VariantClear(&text);
            return shown;
        }
    }
}

// A script value as the VARIANT the host would pass.
void ToVariant(const kvhost::Value& value, VARIANT& out) {
    VariantInit(&out);
    using Kind = kvhost::Value::Kind;
    switch (value.kind) {
        case Kind::Empty:
            break;
        case Kind::Null:
            V_VT(&out) = VT_NULL;
            break;
        case Kind::Integer:
            V_VT(&out) = VT_I4;
            V_I4(&out) = value.integer;
            break;
        case Kind::Real:
            V_VT(&out) = VT_R8;
            V_R8(&out) = value.real;
            break;
        case Kind::Bool:
            V_VT(&out) = VT_BOOL;
            V_BOOL(&out) = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case Kind::Text: {
            const std::wstring text = Wide(value.text);
            V_VT(&out) = VT_BSTR;
            V_BSTR(&out) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            break;
        }
        case Kind::Date: {
            SYSTEMTIME time{};
            time.wYear = static_cast<WORD>(value.year);
            time.wMonth = static_cast<WORD>(value.month);
            time.wDay = static_cast<WORD>(value.day);
            time.wHour = static_cast<WORD>(value.hour);
            time.wMinute = static_cast<WORD>(value.minute);
            time.wSecond = static_cast<WORD>(value.second);
            V_VT(&out) = VT_DATE;
            SystemTimeToVariantTime(&time, &V_DATE(&out));
            break;
        }
    }
}

class Session {
  public:
    explicit Session(ILanguageExtender* lang) : lang_(lang) {}

    // Runs one statement; false when it could not be run or the add-in did not answer S_OK
    // (a refused write answers S_FALSE). An error-log entry fails it too, in RunScript.
    bool Run(const kvhost::Statement& statement) {
        using Kind = kvhost::Statement::Kind;
        const std::wstring name = Wide(statement.name);
        if (statement.kind == Kind::Call) return Call(name, statement.values);
        long number = -1;
        const HRESULT found = Find(false, name, number);
        if (found != S_OK) {
            Print(L"  no property named " + name + L" (FindProp: " + Hresult(found) + L")");
            return false;
        }
        VARIANT value;
        if (statement.kind == Kind::Write) {
            ToVariant(statement.values.front(), value);
            const HRESULT result = lang_->SetPropVal(number, &value);
            VariantClear(&value);
            Print(L"  SetPropVal(" + std::to_wstring(number) + L") -> " + Hresult(result));
            return result == S_OK;
        }
        VariantInit(&value);
        const HRESULT result = lang_->GetPropVal(number, &value);
        Print(L"  " + name + L" = " + Describe(value) + L"   [GetPropVal(" +
              std::to_wstring(number) + L") -> " + Hresult(result) + L"]");
        VariantClear(&value);
        return result == S_OK;
    }

  private:
    // A method's or a property's number by name, as the host looks it up.
    HRESULT Find(bool method, const std::wstring& name, long& number) {
        BSTR bstr = SysAllocString(name.c_str());
        const HRESULT found =
            method ? lang_->FindMethod(bstr, &number) : lang_->FindProp(bstr, &number);
        SysFreeString(bstr);
        return found;
    }

    bool Call(const std::wstring& name, const std::vector<kvhost::Value>& values) {
        long number = -1;
        const HRESULT found = Find(true, name, number);
        if (found != S_OK) {
            Print(L"  no method named " + name + L" (FindMethod: " + Hresult(found) + L")");
            return false;
        }
        long expected = 0;
        lang_->GetNParams(number, &expected);
        if (expected != static_cast<long>(values.size())) {
            Print(L"  note: " + name + L" takes " + std::to_wstring(expected) + L" parameters, " +
                  std::to_wstring(values.size()) + L" given");
        }
        SAFEARRAY* params = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
        for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
            VARIANT value;
            ToVariant(values[static_cast<size_t>(i)], value);
            SafeArrayPutElement(params, &i, &value);
            VariantClear(&value);
        }
        VARIANT result;
        VariantInit(&result);
        const HRESULT answer = lang_->CallAsFunc(number, &result, &params);
        Print(L"  " + name + L"() = " + Describe(result) + L"   [CallAsFunc(" +
              std::to_wstring(number) + L") -> " + Hresult(answer) + L"]");
        VariantClear(&result);
        SafeArrayDestroy(params);
        return answer == S_OK;
    }

    ILanguageExtender* lang_;
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

int Usage() {
    Print(L"usage: kvhost [--progid PROGID] [--register DLL] [--unregister DLL] [SCRIPT | -]");
    Print(
        L"       kvhost --check [--lang ru|en] [--set NAME=VALUE ...] [--1c-folder DIR] "
        L"[--progid PROGID]");
    Print(L"       kvhost --version");
    // Apart from every code a run gives, --check's included.
    return kvhost::kUsageExitCode;
}

int RunScript(const std::wstring& prog_id, const std::vector<std::string>& lines) {
    kvhost::CreatedAddIn created = kvhost::CreateAddIn(prog_id);
    if (created.from_user_classes) {
        Print(L"created " + prog_id + L" from the current user's classes: " + created.user_path);
    }
    if (created.through_com) {
        if (FAILED(created.prog_id_lookup)) {
            Print(L"the ProgID " + prog_id + L" is not registered (" +
                  Hresult(created.prog_id_lookup) + L")");
            kvhost::Release(created);
            return 2;
        }
        Print(L"created " + prog_id + L" through COM");
    }
    if (FAILED(created.result)) {
        Print(L"cannot create " + prog_id + L" (" + Hresult(created.result) + L")");
        kvhost::Release(created);
        return 2;
    }
    IInitDone* init = created.object;
    HRESULT result = S_OK;
    ILanguageExtender* lang = nullptr;
    init->QueryInterface(kv::host::IID_ILanguageExtender, reinterpret_cast<void**>(&lang));
    kvhost::HostConnection connection(true);
    Print(L"Init -> " + Hresult(init->Init(&connection)));

    SAFEARRAY* info = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    result = init->GetInfo(&info);
    VARIANT version;
    VariantInit(&version);
    LONG first = 0;
    SafeArrayGetElement(info, &first, &version);
    Print(L"GetInfo -> " + Hresult(result) + L", version " + Describe(version));
    VariantClear(&version);
    SafeArrayDestroy(info);

    int failures = 0;
    if (lang == nullptr) {
        Print(L"the object offers no ILanguageExtender");
        ++failures;
    } else {
        BSTR extension = nullptr;
        lang->RegisterExtensionAs(&extension);
        long properties = 0;
        long methods = 0;
        lang->GetNProps(&properties);
        lang->GetNMethods(&methods);
        Print(L"extension " + Quoted(extension ? extension : L"") + L", " +
              std::to_wstring(properties) + L" properties, " + std::to_wstring(methods) +
              L" methods");
        SysFreeString(extension);

        Session session(lang);
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
            const int logged = connection.log.entries;
            if (!session.Run(statement) || connection.log.entries != logged) ++failures;
        }
        lang->Release();
    }
    Print(L"Done -> " + Hresult(init->Done()) + L"; " + std::to_wstring(connection.log.entries) +
          L" error log entries");
    kvhost::Release(created);
    CoFreeUnusedLibraries();
    return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring prog_id = L"AddIn.KelvarinVK";
    std::wstring register_dll;
    std::wstring unregister_dll;
    std::wstring script = L"-";
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
        } else if (arg == L"--register" && has_value) {
            register_dll = argv[++i];
        } else if (arg == L"--unregister" && has_value) {
            unregister_dll = argv[++i];
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
    if (check) {
        options.prog_id = prog_id;
        status = kvhost::RunCheck(options);
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
