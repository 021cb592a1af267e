// kvhost: loads the add-in by its ProgID the way the 1C host does, runs a script of property
// writes and reads and method calls, and prints every answer with its variant type and every
// error-log entry. See script.h (and the README) for the script language.
//   kvhost [--progid PROGID] [--register DLL] [--unregister DLL] [SCRIPT | -]
//   kvhost --version
// --register registers DLL for the current user first (DllInstall "user"); --unregister
// removes that registration at the end. Without a script, statements come from standard input.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "host/addin_lib.h"
#include "tools/kvhost/script.h"

namespace {

using kv::host::IInitDone;
using kv::host::ILanguageExtender;

// UTF-8 and UTF-16 as the core converts them; wchar_t is UTF-16 on Windows.
std::wstring Wide(std::string_view utf8) {
    const std::u16string text = kv::Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Utf8(std::wstring_view wide) {
    return kv::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

// Standard output: UTF-16 to a console, UTF-8 to a file or a pipe.
void Print(const std::wstring& line) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    const std::wstring text = line + L"\n";
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        const std::string bytes = Utf8(text);
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

std::wstring Hresult(HRESULT result) {
    switch (result) {
        case S_OK:
            return L"S_OK";
        case S_FALSE:
            return L"S_FALSE";
        case E_NOTIMPL:
            return L"E_NOTIMPL";
        case E_FAIL:
            return L"E_FAIL";
        case E_POINTER:
            return L"E_POINTER";
        case E_UNEXPECTED:
            return L"E_UNEXPECTED";
        default: {
            wchar_t text[16];
            std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
            return text;
        }
    }
}

std::wstring Quoted(std::wstring_view text) {
    std::wstring quoted = L"\"";
    for (wchar_t c : text) quoted += c == L'"' ? std::wstring(L"\"\"") : std::wstring(1, c);
    return quoted + L"\"";
}

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

// The host's error log: every entry is printed as it arrives.
class PrintingErrorLog final : public IErrorLog {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IErrorLog)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IErrorLog*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }  // lives as long as main
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(AddError)(LPCOLESTR, EXCEPINFO* info) override {
        ++entries;
        if (info == nullptr) return S_OK;
        auto text = [](BSTR s) { return std::wstring(s ? s : L"", s ? SysStringLen(s) : 0); };
        Print(L"  error log: wCode=" + std::to_wstring(info->wCode) + L" source=" +
              Quoted(text(info->bstrSource)) + L" scode=" + Hresult(info->scode) + L": " +
              text(info->bstrDescription));
        return S_OK;
    }
    virtual ~PrintingErrorLog() = default;
    int entries = 0;
};

// The connection object: it offers the error log and refuses the host's other callbacks,
// which the add-in holds but never calls.
class HostConnection final : public IDispatch {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IErrorLog)) return log.QueryInterface(iid, object);
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }  // lives as long as main
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)
    (DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    virtual ~HostConnection() = default;
    PrintingErrorLog log;
};

// Per-user registration through the DLL's own DllInstall.
bool InstallForUser(const std::wstring& dll, bool install) {
    const HMODULE module = LoadLibraryW(dll.c_str());
    if (module == nullptr) {
        Print(L"cannot load " + dll + L" (error " + std::to_wstring(GetLastError()) + L")");
        return false;
    }
    using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    const auto dll_install = reinterpret_cast<InstallFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllInstall")));
    const HRESULT result = dll_install ? dll_install(install, L"user") : E_NOTIMPL;
    FreeLibrary(module);
    Print(std::wstring(install ? L"register " : L"unregister ") + L"for the current user: " + dll +
          L" -> " + Hresult(result));
    return SUCCEEDED(result);
}

class Session {
  public:
    explicit Session(ILanguageExtender* lang) : lang_(lang) {}

    // Runs one statement; false when it could not be run at all.
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
            return SUCCEEDED(result);
        }
        VariantInit(&value);
        const HRESULT result = lang_->GetPropVal(number, &value);
        Print(L"  " + name + L" = " + Describe(value) + L"   [GetPropVal(" +
              std::to_wstring(number) + L") -> " + Hresult(result) + L"]");
        VariantClear(&value);
        return SUCCEEDED(result);
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
        return SUCCEEDED(answer);
    }

    ILanguageExtender* lang_;
};

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::string text;
    if (path == L"-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        FILE* file = _wfopen(path.c_str(), L"rb");
        if (file == nullptr) throw std::runtime_error("cannot read the script " + Utf8(path));
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
    Print(L"       kvhost --version");
    return 2;
}

// The default value of a key under the current user's classes; empty when there is none.
std::wstring UserClassesValue(const std::wstring& key) {
    HKEY opened = nullptr;
    const std::wstring path = L"Software\\Classes\\" + key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return {};
    }
    wchar_t value[MAX_PATH * 2] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read =
        RegQueryValueExW(opened, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    RegCloseKey(opened);
    return read == ERROR_SUCCESS && type == REG_SZ ? std::wstring(value) : std::wstring();
}

// The object of a class registered for the current user. Windows merges those classes into
// HKEY_CLASSES_ROOT, so COM finds them by itself there; Wine does not, so kvhost looks them up
// the same way Windows would (the user's classes first) and asks the DLL's class object.
HRESULT CreateFromUserClasses(const std::wstring& prog_id, IInitDone** object, HMODULE& module) {
    const std::wstring clsid_text = UserClassesValue(prog_id + L"\\Clsid");
    CLSID clsid{};
    if (clsid_text.empty() || FAILED(CLSIDFromString(clsid_text.c_str(), &clsid))) {
        return REGDB_E_CLASSNOTREG;
    }
    const std::wstring path = UserClassesValue(L"CLSID\\" + clsid_text + L"\\InprocServer32");
    if (path.empty()) return REGDB_E_CLASSNOTREG;
    module = LoadLibraryW(path.c_str());
    if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get_class_object = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    HRESULT result = get_class_object ? get_class_object(clsid, IID_IClassFactory,
                                                         reinterpret_cast<void**>(&factory))
                                      : E_NOINTERFACE;
    if (SUCCEEDED(result)) {
        result = factory->CreateInstance(nullptr, kv::host::IID_IInitDone,
                                         reinterpret_cast<void**>(object));
        factory->Release();
    }
    Print(L"created " + prog_id + L" from the current user's classes: " + path);
    return result;
}

int RunScript(const std::wstring& prog_id, const std::vector<std::string>& lines) {
    IInitDone* init = nullptr;
    HMODULE user_module = nullptr;
    HRESULT result = CreateFromUserClasses(prog_id, &init, user_module);
    if (result == REGDB_E_CLASSNOTREG) {
        CLSID clsid{};
        result = CLSIDFromProgID(prog_id.c_str(), &clsid);
        if (FAILED(result)) {
            Print(L"the ProgID " + prog_id + L" is not registered (" + Hresult(result) + L")");
            return 2;
        }
        result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kv::host::IID_IInitDone,
                                  reinterpret_cast<void**>(&init));
        Print(L"created " + prog_id + L" through COM");
    }
    if (FAILED(result) || init == nullptr) {
        Print(L"cannot create " + prog_id + L" (" + Hresult(result) + L")");
        if (user_module != nullptr) FreeLibrary(user_module);
        return 2;
    }
    ILanguageExtender* lang = nullptr;
    init->QueryInterface(kv::host::IID_ILanguageExtender, reinterpret_cast<void**>(&lang));
    HostConnection connection;
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
            if (!session.Run(statement)) ++failures;
        }
        lang->Release();
    }
    Print(L"Done -> " + Hresult(init->Done()) + L"; " + std::to_wstring(connection.log.entries) +
          L" error log entries");
    init->Release();
    if (user_module != nullptr) FreeLibrary(user_module);
    CoFreeUnusedLibraries();
    return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring prog_id = L"AddIn.KelvarinVK";
    std::wstring register_dll;
    std::wstring unregister_dll;
    std::wstring script = L"-";
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
        } else if (arg.rfind(L"--", 0) == 0) {
            return Usage();
        } else {
            script = arg;
        }
    }
    std::vector<std::string> lines;
    try {
        lines = ReadLines(script);
    } catch (const std::exception& e) {
        Print(Wide(e.what()));
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) {
        Print(L"CoInitialize failed");
        return 2;
    }
    int status = 0;
    if (!register_dll.empty() && !InstallForUser(register_dll, true)) {
        status = 2;
    } else {
        status = RunScript(prog_id, lines);
    }
    if (!unregister_dll.empty() && !InstallForUser(unregister_dll, false) && status == 0) {
        status = 1;
    }
    CoUninitialize();
    return status;
}
