#include "tools/kvhost/check.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/catalogue.h"
#include "component/vk_object.h"
#include "link/UKillProcess.h"
#include "link/messages.h"
#include "link/outstanding.h"
#include "link/presence.h"
#include "link/request_cycle.h"
#include "matching/fb_client.h"
#include "matching/registry.h"
#include "platform/platform.h"
#include "tools/kvhost/addin_host.h"
#include "tools/kvhost/com_addin.h"
#include "tools/kvhost/console.h"
#include "tools/kvhost/native_addin.h"

namespace kvhost {
namespace {

// A text in both languages, UTF-8; {1}, {2}, ... stand for the arguments.
struct Text {
    const char* ru;
    const char* en;
};

class Report {
  public:
    explicit Report(bool english) : english_(english) {}

    std::wstring Say(const Text& text, std::initializer_list<std::wstring> args = {}) const {
        const std::wstring pattern = Wide(english_ ? text.en : text.ru);
        std::wstring said;
        for (size_t i = 0; i < pattern.size(); ++i) {
            if (pattern[i] == L'{' && i + 2 < pattern.size() && pattern[i + 2] == L'}' &&
                pattern[i + 1] >= L'1' && pattern[i + 1] <= L'9') {
                const size_t n = static_cast<size_t>(pattern[i + 1] - L'1');
                if (n < args.size()) said += args.begin()[n];
                i += 2;
            } else {
                said += pattern[i];
            }
        }
        return said;
    }

    void Group(int number, const Text& title) {
        group_ = number;
        Print(L"== " + std::to_wstring(number) + L". " + Say(title));
    }
    void Ok(const std::wstring& line) { Print(L"OK    " + line); }
    void Fail(const std::wstring& line) {
        Print(L"FAIL  " + line);
        if (first_failed_ == 0) first_failed_ = group_;
    }
    void Skip(const std::wstring& line) { Print(L"SKIP  " + line); }
    int ExitCode() const { return first_failed_; }

  private:
    bool english_;
    int group_ = 0;
    int first_failed_ = 0;
};

constexpr int kOwnBits = sizeof(void*) * 8;

// A 64-bit Windows: this program is 64-bit or runs under WoW64. IsWow64Process is looked up,
// because the first versions of Windows XP lack it.
bool SystemIs64Bit() {
    if (kOwnBits == 64) return true;
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto is_wow64 = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return is_wow64 != nullptr && is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

// The registry view of the given bitness, as a flag for RegOpenKeyEx.
REGSAM ViewFlag(int bits) { return bits == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

// The default value (text) of a key in a registry view; empty when there is none.
std::wstring DefaultValue(HKEY root, const std::wstring& path, REGSAM view) {
    return DefaultText(root, path, KEY_QUERY_VALUE | view, true);
}

// The system's own text for an error code, on one line.
std::wstring SystemText(DWORD error) {
    wchar_t buffer[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, 512, nullptr);
    while (length > 0 && buffer[length - 1] <= L' ') --length;
    std::wstring text(buffer, length);
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n') c = L' ';
    }
    return text;
}

// "error 193 ERROR_BAD_EXE_FORMAT: <the system's text>"
std::wstring ErrorCodeText(const Report& r, DWORD error) {
    const wchar_t* name = nullptr;
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            name = L"ERROR_FILE_NOT_FOUND";
            break;
        case ERROR_PATH_NOT_FOUND:
            name = L"ERROR_PATH_NOT_FOUND";
            break;
        case ERROR_ACCESS_DENIED:
            name = L"ERROR_ACCESS_DENIED";
            break;
        case ERROR_MOD_NOT_FOUND:
            name = L"ERROR_MOD_NOT_FOUND";
            break;
        case ERROR_PROC_NOT_FOUND:
            name = L"ERROR_PROC_NOT_FOUND";
            break;
        case ERROR_BAD_EXE_FORMAT:
            name = L"ERROR_BAD_EXE_FORMAT";
            break;
        case ERROR_DLL_INIT_FAILED:
            name = L"ERROR_DLL_INIT_FAILED";
            break;
        default:
            break;
    }
    std::wstring text = r.Say({"ошибка ", "error "}) + std::to_wstring(error);
    if (name != nullptr) text += std::wstring(L" ") + name;
    const std::wstring system = SystemText(error);
    return system.empty() ? text : text + L": " + system;
}

// The bitness of a Windows executable file from its header: 32, 64, or 0 when it is none.
int ImageBits(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    unsigned char header[4096] = {};
    DWORD read = 0;
    const BOOL ok = ReadFile(file, header, sizeof header, &read, nullptr);
    CloseHandle(file);
    if (!ok || read < 0x40 || header[0] != 'M' || header[1] != 'Z') return 0;
    const uint32_t pe = header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 |
                        static_cast<uint32_t>(header[0x3F]) << 24;
    if (pe > read - 6 || header[pe] != 'P' || header[pe + 1] != 'E' || header[pe + 2] != 0 ||
        header[pe + 3] != 0) {
        return 0;
    }
    switch (header[pe + 4] | header[pe + 5] << 8) {
        case IMAGE_FILE_MACHINE_I386:
            return 32;
        case IMAGE_FILE_MACHINE_AMD64:
            return 64;
        default:
            return 0;
    }
}

// The file version of the version resource, "2.0.0.0"; empty when the file has none.
std::wstring FileVersion(const std::wstring& path) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return {};
    std::string data(size, '\0');
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        fixed == nullptr || length < sizeof *fixed) {
        return {};
    }
    wchar_t text[48];
    std::swprintf(text, 48, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                  LOWORD(fixed->dwFileVersionLS));
    return text;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring FromAnsi(std::string_view ansi) {
    const std::u16string text = kv::DefaultPlatform().codec.ToUtf16(ansi);
    return std::wstring(text.begin(), text.end());
}

std::string ToAnsi(const std::wstring& wide) {
    return kv::DefaultPlatform().codec.ToAnsi(std::u16string(wide.begin(), wide.end()));
}

// The registration of the ProgID where Windows would find it: the current user's classes
// before the machine's, the registry view of this program's bitness before the other one.
struct Registration {
    bool prog_id = false;  // the ProgID names a class somewhere
    bool server = false;   // and the class names its DLL
    bool per_user = false;
    int view_bits = 0;
    std::wstring clsid;
    std::wstring path;
};

Registration FindRegistration(const std::wstring& prog_id) {
    const bool two_views = SystemIs64Bit();
    std::vector<int> views = {kOwnBits};
    if (two_views) views.push_back(kOwnBits == 64 ? 32 : 64);
    Registration found;
    // A ProgID key may be shared by both views while its class is in one of them only.
    std::wstring clsids[2];  // per user, for the machine
    for (const bool per_user : {true, false}) {
        std::wstring& clsid = clsids[per_user ? 0 : 1];
        for (const int bits : views) {
            if (clsid.empty()) {
                clsid = DefaultValue(per_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                                     L"Software\\Classes\\" + prog_id + L"\\Clsid",
                                     two_views ? ViewFlag(bits) : 0);
            }
        }
        if (!found.prog_id && !clsid.empty()) {
            found.prog_id = true;
            found.clsid = clsid;
        }
    }
    for (const int bits : views) {
        for (const bool per_user : {true, false}) {
            const std::wstring& clsid = clsids[per_user ? 0 : 1];
            if (clsid.empty()) continue;
            const std::wstring path =
                DefaultValue(per_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                             L"Software\\Classes\\CLSID\\" + clsid + L"\\InprocServer32",
                             two_views ? ViewFlag(bits) : 0);
            if (!path.empty()) return {true, true, per_user, bits, clsid, path};
        }
    }
    return found;
}

// Group 1; the DLL's path when one is registered.
void CheckRegistration(Report& r, const std::wstring& prog_id) {
    r.Group(1, {"Регистрация", "Registration"});
    const Registration reg = FindRegistration(prog_id);
    const std::wstring own = std::to_wstring(kOwnBits);
    if (!reg.prog_id) {
        r.Fail(r.Say({"{1} не зарегистрирован ни для текущего пользователя, ни для всего "
                      "компьютера. Зарегистрируйте KelvarinVK.dll: regsvr32 KelvarinVK.dll (для "
                      "всех, от имени администратора) или regsvr32 /n /i:user KelvarinVK.dll "
                      "(для себя); на 64-битной Windows — C:\\Windows\\SysWOW64\\regsvr32.exe",
                      "{1} is registered neither for the current user nor for the machine. "
                      "Register KelvarinVK.dll: regsvr32 KelvarinVK.dll (for everyone, as an "
                      "administrator) or regsvr32 /n /i:user KelvarinVK.dll (for yourself); on "
                      "64-bit Windows with C:\\Windows\\SysWOW64\\regsvr32.exe"},
                     {prog_id}));
        return;
    }
    if (!reg.server) {
        r.Fail(r.Say({"регистрация {1} неполна: у класса {2} нет InprocServer32. Зарегистрируйте "
                      "DLL заново",
                      "the registration of {1} is incomplete: the class {2} has no "
                      "InprocServer32. Register the DLL again"},
                     {prog_id, reg.clsid}));
        return;
    }
    const std::wstring where = reg.per_user
                                   ? r.Say({"для текущего пользователя (HKCU\\Software\\Classes)",
                                            "for the current user (HKCU\\Software\\Classes)"})
                                   : r.Say({"для всего компьютера (HKLM\\Software\\Classes)",
                                            "for the machine (HKLM\\Software\\Classes)"});
    const std::wstring bits = std::to_wstring(reg.view_bits);
    if (reg.view_bits == kOwnBits) {
        r.Ok(r.Say({"{1} зарегистрирован {2}, {3}-битное представление реестра, {4} -> {5}",
                    "{1} is registered {2}, {3}-bit registry view, {4} -> {5}"},
                   {prog_id, where, bits, reg.clsid, reg.path}));
    } else {
        const std::wstring only = r.Say(
            {"{1} зарегистрирован {2} только в {3}-битном представлении реестра ({4} -> {5}): "
             "{6}-битные программы, как этот kvhost, его не видят",
             "{1} is registered {2} in the {3}-bit registry view only ({4} -> {5}): {6}-bit "
             "programs such as this kvhost do not see it"},
            {prog_id, where, bits, reg.clsid, reg.path, own});
        r.Fail(only + (reg.view_bits == 32
                           ? r.Say({". 1С 7.7 (32-битная) его видит: проверяйте 32-битным kvhost "
                                    "(сборка mingw32)",
                                    ". 1C 7.7 (32-bit) does see it: check with the 32-bit kvhost "
                                    "(build mingw32)"})
                           : r.Say({". 1С 7.7 (32-битная) его не видит: зарегистрируйте "
                                    "32-битную сборку KelvarinVK.dll 32-битным regsvr32 "
                                    "(C:\\Windows\\SysWOW64\\regsvr32.exe)",
                                    ". 1C 7.7 (32-bit) does not see it either: register the "
                                    "32-bit build of KelvarinVK.dll with the 32-bit regsvr32 "
                                    "(C:\\Windows\\SysWOW64\\regsvr32.exe)"})));
    }

    if (!FileExists(reg.path)) {
        r.Fail(r.Say({"файла DLL {1} нет: его перенесли или удалили после регистрации. "
                      "Зарегистрируйте DLL заново из её нового места",
                      "the DLL file {1} does not exist: it was moved or deleted after it was "
                      "registered. Register the DLL again from its new place"},
                     {reg.path}));
        return;
    }
    const std::wstring version = FileVersion(reg.path);
    r.Ok(r.Say(
        {"файл DLL есть: {1}, версия файла {2}", "the DLL file exists: {1}, file version {2}"},
        {reg.path, version.empty() ? r.Say({"не указана", "not given"}) : version}));

    const int dll_bits = ImageBits(reg.path);
    if (dll_bits == 0) {
        r.Fail(r.Say({"{1} — не DLL Windows. Зарегистрируйте настоящий KelvarinVK.dll",
                      "{1} is not a Windows DLL. Register the real KelvarinVK.dll"},
                     {reg.path}));
    } else if (dll_bits != kOwnBits) {
        r.Fail(r.Say({"DLL {1}-битная, kvhost {2}-битный: {2}-битная программа не может загрузить "
                      "{1}-битную DLL. 1С 7.7 — 32-битная: ей нужна 32-битная сборка "
                      "KelvarinVK.dll; проверяйте её 32-битным kvhost (сборка mingw32)",
                      "the DLL is {1}-bit, kvhost is {2}-bit: a {2}-bit program cannot load a "
                      "{1}-bit DLL. 1C 7.7 is 32-bit: it needs the 32-bit build of "
                      "KelvarinVK.dll; check it with the 32-bit kvhost (build mingw32)"},
                     {std::to_wstring(dll_bits), own}));
    } else {
        r.Ok(r.Say({"DLL {1}-битная, как и kvhost", "the DLL is {1}-bit, as kvhost is"},
                   {std::to_wstring(dll_bits)}));
    }
}

// Group 1 of the Native API add-in, which has no registration: its file, and its bitness
// against kvhost's, which plays the 1C client.
void CheckNativeFile(Report& r, const std::wstring& dll) {
    r.Group(1, {"Файл компоненты для 1С:Предприятия 8", "The add-in file for 1C:Enterprise 8"});
    if (!FileExists(dll)) {
        r.Fail(r.Say({"файла {1} нет. Укажите путь к KelvarinVK8.dll из пакета (для 32-битного "
                      "клиента 1С — из папки i386, для 64-битного — из x86_64)",
                      "the file {1} does not exist. Name the KelvarinVK8.dll of the package "
                      "(from the folder i386 for a 32-bit 1C client, x86_64 for a 64-bit one)"},
                     {dll}));
        return;
    }
    const std::wstring version = FileVersion(dll);
    r.Ok(r.Say(
        {"файл DLL есть: {1}, версия файла {2}", "the DLL file exists: {1}, file version {2}"},
        {dll, version.empty() ? r.Say({"не указана", "not given"}) : version}));
    const int dll_bits = ImageBits(dll);
    const std::wstring own = std::to_wstring(kOwnBits);
    if (dll_bits == 0) {
        r.Fail(r.Say({"{1} — не DLL Windows", "{1} is not a Windows DLL"}, {dll}));
    } else if (dll_bits != kOwnBits) {
        r.Fail(r.Say({"DLL {1}-битная, kvhost {2}-битный: {2}-битный клиент 1С, как и этот kvhost, "
                      "загружает только {2}-битную DLL. Проверяйте её {1}-битным kvhost или "
                      "возьмите {2}-битную DLL пакета; 1С сама выбирает из пакета DLL своей "
                      "разрядности",
                      "the DLL is {1}-bit, kvhost is {2}-bit: a {2}-bit 1C client loads a {2}-bit "
                      "DLL only, as this kvhost does. Check it with the {1}-bit kvhost or take "
                      "the package's {2}-bit DLL; 1C itself picks the DLL of its own bitness from "
                      "the package"},
                     {std::to_wstring(dll_bits), own}));
    } else {
        r.Ok(r.Say({"DLL {1}-битная, как и kvhost: её загрузит {1}-битный клиент 1С",
                    "the DLL is {1}-bit, as kvhost is: a {1}-bit 1C client loads it"},
                   {own}));
    }
}

// The add-in object as the checks use it: created and started as its platform does it,
// driven by member names.
class CheckedAddIn {
  public:
    explicit CheckedAddIn(const CheckOptions& options) {
        std::vector<std::wstring> steps;
        if (options.native_dll.empty()) {
            auto com = std::make_unique<ComAddIn>(options.prog_id);
            com_ = com.get();
            addin_ = std::move(com);
            if (SUCCEEDED(com_->created().result)) {
                ready_ = addin_->Start(steps) && com_->init_result() == S_OK;
            }
        } else {
            auto native =
                std::make_unique<NativeAddIn>(options.native_dll, NativeAddIn::DefaultOptions());
            native_ = native.get();
            addin_ = std::move(native);
            if (native_->created()) ready_ = addin_->Start(steps);
        }
    }
    CheckedAddIn(const CheckedAddIn&) = delete;
    CheckedAddIn& operator=(const CheckedAddIn&) = delete;

    ComAddIn* com() const { return com_; }
    NativeAddIn* native() const { return native_; }
    AddIn& addin() const { return *addin_; }
    bool ready() const { return ready_; }

    // The error-log entries since the last call, one text.
    std::wstring TakeErrors() {
        std::wstring text;
        for (const HostError& entry : addin_->TakeErrors()) {
            if (!text.empty()) text += L"; ";
            text += entry.description;
        }
        return text;
    }

    long Find(bool method, const std::wstring& name) { return addin_->Find(method, name); }

    // Writes a property as text, as 1C writes a string.
    Answer Set(long number, const std::wstring& value) {
        return addin_->WriteProperty(number,
                                     kv::Variant::Text(std::u16string(value.begin(), value.end())));
    }

    // A property read as text (a number as its digits); empty when it cannot be read.
    std::wstring Text(const wchar_t* english_name) {
        const long number = Find(false, english_name);
        if (number < 0) return {};
        kv::Variant value;
        if (addin_->ReadProperty(number, value).failed) return {};
        if (value.type() == kv::VarType::Bstr) return {value.text().begin(), value.text().end()};
        if (kv::IsSigned(value.type())) return std::to_wstring(value.int_value());
        return {};
    }

    // A method without parameters; its VT_I4 result, nullopt when it gave none.
    std::optional<LONG> Call(const wchar_t* english_name) {
        const long number = Find(true, english_name);
        if (number < 0) return std::nullopt;
        kv::Variant result;
        const Answer answer = addin_->Call(number, {}, result);
        if (answer.failed || result.type() != kv::VarType::I4) return std::nullopt;
        return static_cast<LONG>(result.int_value());
    }

  private:
    std::unique_ptr<AddIn> addin_;
    ComAddIn* com_ = nullptr;
    NativeAddIn* native_ = nullptr;
    bool ready_ = false;
};

// Group 2's first lines for the COM add-in: created through its ProgID and initialised.
bool CheckComObject(Report& r, const ComAddIn& addin, const CheckOptions& options, bool ready) {
    const CreatedAddIn& created = addin.created();
    if (FAILED(created.result)) {
        std::wstring cause;
        if (created.result == HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)) {
            cause = r.Say({"DLL другой разрядности (см. группу 1)",
                           "the DLL is of the other bitness (see group 1)"});
        } else if (created.result == REGDB_E_CLASSNOTREG || created.result == CO_E_CLASSSTRING ||
                   created.result == REGDB_E_READREGDB) {
            cause = r.Say({"класс не зарегистрирован (см. группу 1)",
                           "the class is not registered (see group 1)"});
        } else if (HRESULT_FACILITY(created.result) == FACILITY_WIN32) {
            cause = ErrorCodeText(r, HRESULT_CODE(created.result));
        } else {
            cause = SystemText(static_cast<DWORD>(created.result));
        }
        r.Fail(
            r.Say({"объект {1} не создан ({2}): {3}", "the object {1} was not created ({2}): {3}"},
                  {options.prog_id, Hresult(created.result), cause}));
        return false;
    }
    const std::wstring how =
        created.from_user_classes
            ? r.Say({"из классов текущего пользователя", "from the current user's classes"})
            : r.Say({"через COM", "through COM"});
    if (!ready) {
        r.Fail(r.Say({"объект создан {1}, но не инициализирован (Init {2}, ILanguageExtender {3}): "
                      "зарегистрирована не та DLL",
                      "the object was created {1} but not initialised (Init {2}, "
                      "ILanguageExtender {3}): another DLL is registered under this ProgID"},
                     {how, Hresult(addin.init_result()),
                      addin.lang() ? r.Say({"есть", "offered"}) : r.Say({"нет", "missing"})}));
        return false;
    }
    r.Ok(r.Say({"объект создан {1} и инициализирован (Init S_OK)",
                "the object was created {1} and initialised (Init S_OK)"},
               {how}));
    return true;
}

// Group 2's first lines for the Native API add-in: loaded through the MSVC-ABI proxy, its
// object created and started as the platform does it.
bool CheckNativeObject(Report& r, const NativeAddIn& addin, const std::wstring& dll, bool ready) {
    if (!addin.loaded()) {
        const std::wstring cause = addin.load_error() == ERROR_BAD_EXE_FORMAT
                                       ? r.Say({"DLL другой разрядности (см. группу 1)",
                                                "the DLL is of the other bitness (see group 1)"})
                                   : addin.load_error() != 0 ? ErrorCodeText(r, addin.load_error())
                                                             : addin.problem();
        r.Fail(r.Say({"{1} не загружается: {2}", "{1} cannot be loaded: {2}"}, {dll, cause}));
        return false;
    }
    if (!addin.created()) {
        r.Fail(r.Say({"{1} загружена, но объект не создан ({2}): это не внешняя компонента "
                      "KelvarinVK для 1С:Предприятия 8",
                      "{1} was loaded but no object was created ({2}): it is not the KelvarinVK "
                      "add-in for 1C:Enterprise 8"},
                     {dll, addin.problem()}));
        return false;
    }
    const std::wstring classes = Quoted(addin.class_names());
    if (!ready) {
        r.Fail(r.Say({"объект класса {1} создан, но Init ответил false",
                      "the object of the class {1} was created, but Init answered false"},
                     {classes}));
        return false;
    }
    r.Ok(r.Say({"объект класса {1} создан и инициализирован (setMemManager, Init true); тип "
                "подключения {2}",
                "the object of the class {1} was created and initialised (setMemManager, Init "
                "true); attach type {2}"},
               {classes, std::to_wstring(addin.attach_type())}));
    return true;
}

void CheckObject(Report& r, CheckedAddIn& addin, const CheckOptions& options) {
    r.Group(2, {"Объект компоненты", "The add-in object"});
    const bool created =
        addin.com() != nullptr
            ? CheckComObject(r, *addin.com(), options, addin.ready())
            : CheckNativeObject(r, *addin.native(), options.native_dll, addin.ready());
    if (!created) return;

    const long properties = addin.addin().PropertyCount();
    const long methods = addin.addin().MethodCount();
    const std::wstring counts = r.Say({"свойств: {1}, методов: {2}", "{1} properties, {2} methods"},
                                      {std::to_wstring(properties), std::to_wstring(methods)});
    if (properties == kv::kPropertyCount && methods == kv::kMethodCount) {
        r.Ok(r.Say({"каталог отвечает: {1}", "the catalogue answers: {1}"}, {counts}));
    } else {
        r.Fail(r.Say(
            {"каталог: {1}, а должно быть {2} и {3}: под этим ProgID зарегистрирована "
             "другая компонента",
             "the catalogue: {1}, where {2} and {3} are expected: another add-in is "
             "registered under this ProgID"},
            {counts, std::to_wstring(kv::kPropertyCount), std::to_wstring(kv::kMethodCount)}));
    }

    // The password is written, never shown.
    const long password = addin.Find(false, L"UserPass");
    for (const auto& [name, value] : options.settings) {
        const long number = addin.Find(false, name);
        const std::wstring shown = number == password ? L"***" : Quoted(value);
        if (number < 0) {
            r.Fail(r.Say({"--set {1}: нет такого свойства (имена пишутся как в 1С, с учётом "
                          "регистра)",
                          "--set {1}: no such property (names are written as in 1C, case "
                          "matters)"},
                         {name}));
            continue;
        }
        const Answer answer = addin.Set(number, value);
        const std::wstring errors = addin.TakeErrors();
        if (answer.accepted && errors.empty()) {
            r.Ok(L"--set " + name + L" = " + shown);
        } else {
            r.Fail(r.Say({"--set {1} = {2}: значение не принято ({3}): {4}",
                          "--set {1} = {2}: the value was refused ({3}): {4}"},
                         {name, shown, answer.said, errors}));
        }
    }
}

// Loads a library found by its full path, its own dependencies searched from its folder first:
// as they are for a library beside 1C's executable, and never from kvhost's folder.
class FoundLibraryLoader final : public kv::LibraryLoader {
  public:
    void* Open(const std::string& file_name, uint32_t& os_error) override {
        HMODULE module = LoadLibraryExA(file_name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        os_error = module == nullptr ? GetLastError() : 0;
        return module;
    }
    void* Symbol(void* library, const char* name) override {
        return kv::DefaultPlatform().libraries.Symbol(library, name);
    }
    void Close(void* library) override { kv::DefaultPlatform().libraries.Close(library); }
    std::string FileOf(void* library) override {
        return kv::DefaultPlatform().libraries.FileOf(library);
    }
    void Pin(void* library) override { kv::DefaultPlatform().libraries.Pin(library); }
};

// The name that 1C's executables begin with: 1cv7 for 1C:Enterprise 7.7 (1cv7.exe, 1cv7s.exe,
// 1cv7l.exe), whose add-in is the COM one; 1cv8 for 1C:Enterprise 8, which loads the Native API
// add-in (1cv8.exe, 1cv8c.exe).
const char* OneCExecutable(const CheckOptions& options) {
    return options.native_dll.empty() ? "1cv7" : "1cv8";
}

// The folder of 1C's executable: the one given, or that of a running one; empty when neither
// is known. `how` says where it came from.
std::wstring OneCFolder(const Report& r, const CheckOptions& options, std::wstring& how) {
    if (!options.one_c_folder.empty()) {
        std::wstring folder = options.one_c_folder;
        // The executable itself may be named instead of its folder.
        if (FileExists(folder)) folder = folder.substr(0, folder.find_last_of(L"\\/"));
        // "C:\1Cv77\BIN\" on a command line arrives with its closing quote: the backslash
        // before it escapes it.
        while (folder.size() > 3 &&
               (folder.back() == L'\\' || folder.back() == L'/' || folder.back() == L'"')) {
            folder.pop_back();
        }
        how = r.Say({"указана --1c-folder", "given by --1c-folder"});
        return folder;
    }
    kv::TLpModuleInfoArray processes;
    kv::ListRunningProcesses(kv::DefaultPlatform().processes, processes);
    for (const kv::TLpModuleInfo& process : processes) {
        std::string name(kv::FileNamePart(process.ExeName));
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t part = process.ExeName.size() - name.size();
        if (name.rfind(OneCExecutable(options), 0) == 0 && name.size() >= 8 &&
            name.compare(name.size() - 4, 4, ".exe") == 0 && part > 0) {
            how = r.Say({"запущена {1}, процесс {2}", "{1} runs, process {2}"},
                        {FromAnsi(name), std::to_wstring(process.ProcessID)});
            return FromAnsi(process.ExeName.substr(0, part - 1));
        }
    }
    return {};
}

// The folders in which LoadLibrary looks for a library named without a folder, in its order,
// when 1C loads it: 1C's folder, the system folder, the Windows folder, the folders of PATH.
// (1C's current folder, which comes before PATH, is known to 1C only.)
std::vector<std::wstring> OneCSearchFolders(const std::wstring& one_c_folder) {
    std::vector<std::wstring> folders;
    if (!one_c_folder.empty()) folders.push_back(one_c_folder);
    wchar_t path[MAX_PATH];
    const UINT system = GetSystemDirectoryW(path, MAX_PATH);
    if (system > 0 && system < MAX_PATH) folders.emplace_back(path, system);
    const UINT windows = GetWindowsDirectoryW(path, MAX_PATH);
    if (windows > 0 && windows < MAX_PATH) folders.emplace_back(path, windows);
    const DWORD length = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring list(length, L'\0');
    list.resize(length > 0 ? GetEnvironmentVariableW(L"PATH", list.data(), length) : 0);
    for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(L';', start);
        if (end == std::wstring::npos) end = list.size();
        const std::wstring folder = list.substr(start, end - start);
        start = end + 1;
        // PATH names the system's folders again; each is looked in once.
        bool known = folder.empty();
        for (const std::wstring& seen : folders) {
            known = known || CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, seen.c_str(), -1,
                                            folder.c_str(), -1) == CSTR_EQUAL;
        }
        if (!known) folders.push_back(folder);
    }
    return folders;
}

// Group 3: the client library as 1C would load it. The file found when it has every entry
// point, so that the database can be tried with it; empty otherwise.
std::wstring CheckClientLibrary(Report& r, CheckedAddIn& addin, const CheckOptions& options,
                                kv::LibraryLoader& loader) {
    r.Group(3, {"Клиентская библиотека Firebird (ИмяБиблиотеки / DLLName)",
                "The Firebird client library (ИмяБиблиотеки / DLLName)"});
    if (!addin.ready()) {
        r.Skip(r.Say({"не проверена: нет объекта компоненты, у которого взять ИмяБиблиотеки",
                      "not checked: there is no add-in object to take DLLName from"}));
        return {};
    }
    const std::wstring name = addin.Text(L"DLLName");
    if (name.empty()) {
        r.Fail(r.Say({"ИмяБиблиотеки пусто. Запишите в него gds32.dll или полный путь",
                      "DLLName is empty. Write gds32.dll or a full path into it"}));
        return {};
    }
    std::wstring file;
    if (name.find_first_of(L"\\/:") != std::wstring::npos) {
        // A path: loaded as it is written.
        if (!FileExists(name)) {
            r.Fail(r.Say({"файла {1} нет: проверьте путь в ИмяБиблиотеки",
                          "the file {1} does not exist: check the path in DLLName"},
                         {name}));
            return {};
        }
        file = name;
    } else {
        std::wstring how;
        const std::wstring one_c = OneCFolder(r, options, how);
        if (one_c.empty()) {
            r.Skip(r.Say({"папка 1С не проверена: 1С не запущена, и --1c-folder не указан",
                          "1C's folder was not searched: 1C does not run, and --1c-folder was "
                          "not given"}));
        } else {
            r.Ok(r.Say({"папка 1С: {1} ({2})", "1C's folder: {1} ({2})"}, {one_c, how}));
        }
        const std::vector<std::wstring> folders = OneCSearchFolders(one_c);
        std::wstring searched;
        for (const std::wstring& folder : folders) {
            const std::wstring candidate =
                folder + (folder.back() == L'\\' || folder.back() == L'/' ? L"" : L"\\") + name;
            if (file.empty() && FileExists(candidate)) file = candidate;
            searched += (searched.empty() ? L"" : L"; ") + folder;
        }
        if (file.empty()) {
            r.Fail(r.Say({"{1} не найдена там, где её ищет 1С ({2}). Положите клиентскую "
                          "библиотеку рядом с {4}.exe или в папку из PATH, либо запишите в "
                          "ИмяБиблиотеки полный путь{3}",
                          "{1} was not found where 1C looks for it ({2}). Put the client "
                          "library beside {4}.exe or into a folder on PATH, or write its full "
                          "path into DLLName{3}"},
                         {name, searched,
                          one_c.empty() ? r.Say({"; папку 1С укажите через --1c-folder",
                                                 "; give 1C's folder with --1c-folder"})
                                        : L"",
                          Wide(OneCExecutable(options))}));
            return {};
        }
    }
    const kv::ClientLibraryProbe probe = kv::FbClient::Probe(loader, ToAnsi(file));
    if (!probe.loaded) {
        const int bits = ImageBits(file);
        std::wstring cause;
        if (probe.os_error == ERROR_BAD_EXE_FORMAT && bits != 0 && bits != kOwnBits) {
            cause = r.Say({"{1} — {2}-битная библиотека, а процесс {3}-битный. Нужна {3}-битная "
                           "клиентская библиотека Firebird; 1С 7.7 нужна 32-битная",
                           "{1} is a {2}-bit library and the process is {3}-bit. A {3}-bit "
                           "Firebird client library is needed; 1C 7.7 needs the 32-bit one"},
                          {file, std::to_wstring(bits), std::to_wstring(kOwnBits)});
        } else if (probe.os_error == ERROR_BAD_EXE_FORMAT) {
            cause = r.Say({"{1} — не библиотека Windows этой разрядности",
                           "{1} is not a Windows library of this bitness"},
                          {file});
        } else if (probe.os_error == ERROR_MOD_NOT_FOUND) {
            cause = r.Say({"файл есть ({1}), но нет библиотеки, от которой он зависит. Установите "
                           "клиент Firebird целиком (библиотеки из его папки — рядом с ним)",
                           "the file exists ({1}), but a library it depends on is missing. "
                           "Install the Firebird client completely (the libraries of its folder "
                           "beside it)"},
                          {file});
        } else {
            cause = r.Say({"система отказала в загрузке", "the system refused to load it"});
        }
        r.Fail(r.Say({"{1} не загружается ({2}): {3}", "{1} cannot be loaded ({2}): {3}"},
                     {name, ErrorCodeText(r, probe.os_error), cause}));
        return {};
    }
    r.Ok(r.Say({"библиотека {1} загружена: {2}", "{1} was loaded: {2}"},
               {name, FromAnsi(probe.file)}));
    if (probe.missing.empty()) {
        r.Ok(r.Say({"все нужные точки входа на месте (isc_attach_database, ..., fb_interpret)",
                    "every entry point needed is there (isc_attach_database, ..., fb_interpret)"}));
        return file;
    }
    std::wstring missing;
    for (const std::string& entry : probe.missing) {
        if (!missing.empty()) missing += L", ";
        missing += Wide(entry);
    }
    r.Fail(r.Say({"в {1} нет точек входа: {2}. Это не клиентская библиотека Firebird: запишите в "
                  "ИмяБиблиотеки gds32.dll или fbclient.dll",
                  "{1} lacks the entry points {2}. It is not a Firebird client library: write "
                  "gds32.dll or fbclient.dll into DLLName"},
                 {name, missing}));
    return {};
}

// Firebird's error codes that name a cause an administrator can act on.
constexpr kv::fb::Status kIoError = 335544344;       // isc_io_error
constexpr kv::fb::Status kLogin = 335544472;         // isc_login
constexpr kv::fb::Status kNetworkError = 335544721;  // isc_network_error
constexpr kv::fb::Status kUnavailable = 335544375;   // isc_unavailable

// The client library's message on one line.
std::wstring OneLine(const std::string& ansi) {
    std::wstring text = FromAnsi(ansi);
    for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L" / ");
    return text;
}

// Group 4, through the client library that group 3 found.
void CheckDatabase(Report& r, CheckedAddIn& addin, const std::wstring& library,
                   kv::LibraryLoader& loader) {
    r.Group(4, {"База реестра (ПутьКБазе / BaseName)", "The registry database (BaseName)"});
    if (library.empty()) {
        r.Skip(r.Say({"не проверена: клиентская библиотека не годится (см. группу 3)",
                      "not checked: the client library cannot be used (see group 3)"}));
        return;
    }
    const std::wstring database = addin.Text(L"BaseName");
    const std::wstring user = addin.Text(L"UserName");
    const std::wstring role = addin.Text(L"UserRole");
    kv::RegistryConnection connection(loader);
    connection.Configure(ToAnsi(database), ToAnsi(user), ToAnsi(addin.Text(L"UserPass")),
                         ToAnsi(role), ToAnsi(library));
    try {
        connection.Attach();
    } catch (const kv::DatabaseError& e) {
        std::wstring remedy;
        switch (e.code()) {
            case kIoError:
                remedy =
                    r.Say({"файл базы не открывается: проверьте ПутьКБазе (для сервера — в "
                           "виде сервер:путь)",
                           "the database file cannot be opened: check BaseName (server:path "
                           "for a server)"});
                break;
            case kLogin:
                remedy =
                    r.Say({"сервер отклонил вход: проверьте ИмяПользователя и "
                           "ПарольПользователя",
                           "the server refused the login: check UserName and UserPass"});
                break;
            case kNetworkError:
            case kUnavailable:
                remedy =
                    r.Say({"сервер недоступен: запустите сервер Firebird, проверьте имя "
                           "сервера и порт",
                           "the server cannot be reached: start the Firebird server, check "
                           "the server's name and port"});
                break;
            default:
                remedy = r.Say(
                    {"см. сообщение клиентской библиотеки", "see the client library's message"});
                break;
        }
        r.Fail(r.Say({"база {1} не открыта пользователем {2}: {3} ({4})",
                      "the database {1} was not attached as {2}: {3} ({4})"},
                     {database, user, remedy, OneLine(e.what())}));
        return;
    } catch (const kv::Error& e) {
        r.Fail(r.Say({"база {1} не открыта: {2}", "the database {1} was not attached: {2}"},
                     {database, OneLine(e.what())}));
        return;
    }
    r.Ok(r.Say({"база {1} открыта пользователем {2}{3}", "the database {1} was attached as {2}{3}"},
               {database, user, role.empty() ? L"" : L", " + r.Say({"роль ", "role "}) + role}));
    try {
        connection.StartTransaction();
        const std::optional<int64_t> rows = connection.RegistryRowCount();
        if (!rows) {
            r.Fail(r.Say({"в базе нет таблицы tbl_reestr_names: ПутьКБазе указывает на другую базу",
                          "the database has no table tbl_reestr_names: BaseName names another "
                          "database"}));
        } else if (*rows == 0) {
            r.Fail(r.Say({"таблица tbl_reestr_names пуста: загрузите реестр наименований",
                          "the table tbl_reestr_names is empty: load the drug-name registry"}));
        } else {
            r.Ok(r.Say({"таблица tbl_reestr_names есть, строк: {1}",
                        "the table tbl_reestr_names is there, rows: {1}"},
                       {std::to_wstring(*rows)}));
        }
        connection.CloseConnection();
    } catch (const kv::Error& e) {
        r.Fail(r.Say({"таблица tbl_reestr_names не читается: {1}",
                      "the table tbl_reestr_names cannot be read: {1}"},
                     {OneLine(e.what())}));
    }
}

std::wstring Hex(int32_t value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(value)));
    return text;
}

// How long the check waits for its turn, and for what an earlier request left outstanding.
constexpr uint32_t kCheckWaitMilliseconds = 5000;

// This program's turn at the block, taken as a copy of the component takes it, and given back
// when it goes; what an earlier request left outstanding is waited for as a copy waits for
// it. Each step prints its line.
class Turn {
  public:
    Turn(Report& r, kv::DesktopChannel& channel, const kv::DesktopChannel::View& block)
        : channel_(channel) {
        const kv::DesktopChannel::TurnObjects objects =
            channel.OpenTurn(kv::kTurnName, kv::kRecordName, kv::kOutstandingRecordSize);
        if (!objects.missing.empty()) {
            r.Fail(r.Say({"объект очереди {1} не открывается ({2}): копии 1С на этом рабочем "
                          "месте не могут пользоваться блоком по очереди и могут прочитать чужой "
                          "ответ. Его создала программа, которая не даёт этому пользователю его "
                          "открыть (прежняя версия KelvarinVK, запущенная от имени администратора "
                          "или другого пользователя), или это имя занял объект другого типа. "
                          "Закройте все сеансы 1С и kvhost на этом рабочем месте и запустите их "
                          "снова",
                          "the turn's object {1} cannot be opened ({2}): the copies of 1C on this "
                          "workstation cannot take turns at the block and may read each other's "
                          "answers. A program made it that does not let this user open it (an "
                          "earlier KelvarinVK run as an administrator or as another user), or an "
                          "object of another kind has its name. Close every 1C session and kvhost "
                          "on this workstation and start them again"},
                         {Wide(objects.missing), ErrorCodeText(r, objects.os_error)}));
        }
        if (objects.mutex == 0) return;  // on without a turn, as a copy would
        const std::wstring name = Wide(kv::kTurnName);
        const uint32_t start = channel.TickCount();
        const kv::DesktopChannel::TurnWait wait =
            channel.WaitForTurn(objects.mutex, kCheckWaitMilliseconds);
        const std::wstring waited = std::to_wstring(channel.TickCount() - start);
        switch (wait) {
            case kv::DesktopChannel::TurnWait::Busy:
                r.Fail(r.Say({"очередь {1} занята дольше {2} мс: сеанс 1С столько ждёт ответа "
                              "настольной программы, которая занята или зависла. Дождитесь "
                              "ответа или перезапустите настольную программу",
                              "the turn {1} stayed taken for more than {2} ms: a 1C session "
                              "waits that long for the desktop application, which is busy or "
                              "hung. Wait for its answer, or restart the desktop application"},
                             {name, waited}));
                blocked_ = true;
                return;
            case kv::DesktopChannel::TurnWait::Failed:
                r.Fail(r.Say({"ожидание очереди {1} не удалось ({2})",
                              "the wait for the turn {1} failed ({2})"},
                             {name, ErrorCodeText(r, GetLastError())}));
                return;
            case kv::DesktopChannel::TurnWait::Taken:
            case kv::DesktopChannel::TurnWait::TakenAbandoned:
                break;
        }
        mutex_ = objects.mutex;
        r.Ok(wait == kv::DesktopChannel::TurnWait::Taken
                 ? r.Say({"очередь {1} получена за {2} мс", "the turn {1} taken in {2} ms"},
                         {name, waited})
                 : r.Say({"очередь {1} получена за {2} мс от копии, завершившейся с ней",
                          "the turn {1} taken in {2} ms from a copy that ended in its turn"},
                         {name, waited}));
        if (objects.record.data != nullptr) Settle(r, objects.record, block);
    }
    ~Turn() {
        if (mutex_ != 0) channel_.EndTurn(mutex_);
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    // Nothing may be read or sent: another copy keeps the turn, or an earlier request is
    // still outstanding.
    bool blocked() const { return blocked_; }

  private:
    void Settle(Report& r, const kv::DesktopChannel::View& record_view,
                const kv::DesktopChannel::View& block) {
        kv::Outstanding record = kv::ReadOutstanding(record_view);
        if (record.wait == kv::Outstanding::Wait::None) return;
        const kv::Outstanding found = record;
        const uint32_t start = channel_.TickCount();
        kv::Settling settling = kv::Settling::Waiting;
        while (true) {
            settling = kv::Advance(record, kv::BlockText(block), channel_.TickCount(), channel_);
            if (record.wait == kv::Outstanding::Wait::None ||
                channel_.TickCount() - start > kCheckWaitMilliseconds) {
                break;
            }
            channel_.Pause(kv::kEarlierPollMilliseconds);
        }
        kv::WriteOutstanding(record_view, record);
        const std::wstring request = Wide(kv::messages::MethodOf(found.message));
        const std::wstring process = std::to_wstring(found.process);
        const std::wstring waited = std::to_wstring(channel_.TickCount() - start);
        if (record.wait != kv::Outstanding::Wait::None) {
            r.Fail(r.Say({"предыдущий запрос {1} процесса {2} всё ещё ждёт {3} (проверка ждала "
                          "{4} мс): настольная программа отвечает позже, чем Таймаут, или не "
                          "отвечает. Пока ответа нет (но не дольше 30 с с того момента, как тот "
                          "запрос перестал ждать), запросы всех копий не отправляются и "
                          "возвращают -3. Увеличьте Таймаут или перезапустите настольную "
                          "программу",
                          "an earlier request, {1} of process {2}, still waits for {3} (the "
                          "check waited {4} ms): the desktop application answers later than "
                          "Timeout, or not at all. Until it answers (at most 30 s after that "
                          "request stopped waiting) the requests of every copy are not sent and "
                          "return -3. Raise Timeout, or restart the desktop application"},
                         {request, process,
                          record.wait == kv::Outstanding::Wait::Answer
                              ? r.Say({"ответа", "its answer"})
                              : r.Say({"возврата окна в поле 2", "the window in field 2"}),
                          waited}));
            blocked_ = true;
            return;
        }
        const Text how = settling == kv::Settling::Expired ? Text{"он устарел", "it has expired"}
                         : settling == kv::Settling::WindowGone
                             ? Text{"окна, которому он отправлен, больше нет", "its window is gone"}
                         : found.wait == kv::Outstanding::Wait::Answer
                             ? Text{"его ответ пришёл через {3} мс и отброшен",
                                    "its answer came after {3} ms and was discarded"}
                             : Text{"окно вернулось в поле 2 через {3} мс",
                                    "the window was back in field 2 after {3} ms"};
        r.Ok(r.Say({"предыдущий запрос {1} процесса {2} ещё не был завершён: ",
                    "an earlier request, {1} of process {2}, was still outstanding: "},
                   {request, process}) +
             r.Say(how, {request, process, waited}));
    }

    kv::DesktopChannel& channel_;
    uintptr_t mutex_ = 0;
    bool blocked_ = false;
};

void CheckDesktop(Report& r, CheckedAddIn& addin) {
    r.Group(5, {"Настольная программа kelvarin.exe", "The desktop application kelvarin.exe"});
    const int32_t copies = kv::CountKelvarinProcesses(kv::DefaultPlatform().processes);
    if (copies > 0) {
        r.Ok(r.Say({"запущенных копий kelvarin.exe: {1}", "running copies of kelvarin.exe: {1}"},
                   {std::to_wstring(copies)}));
    } else {
        r.Fail(
            r.Say({"kelvarin.exe не запущена (или запущена от имени администратора либо "
                   "другого пользователя). Запустите её под тем же пользователем, что и 1С",
                   "kelvarin.exe is not running (or runs as an administrator or another "
                   "user). Start it as the user who runs 1C"}));
    }

    kv::DesktopChannel& channel = kv::DefaultPlatform().channel;
    const std::wstring block_name = Wide(kv::kBlockName);
    // Opened, never created: a check must not make the block it looks for.
    HANDLE block = OpenFileMappingA(FILE_MAP_WRITE | FILE_MAP_READ, FALSE, kv::kBlockName);
    if (block == nullptr) {
        const DWORD error = GetLastError();
        r.Fail(error == ERROR_FILE_NOT_FOUND
                   ? r.Say({"общего блока {1} нет: настольная программа не запущена в этом сеансе "
                            "Windows",
                            "there is no shared block {1}: the desktop application does not run "
                            "in this Windows session"},
                           {block_name})
                   : r.Say({"общий блок {1} не открывается ({2}): настольная программа запущена "
                            "с другими правами",
                            "the shared block {1} cannot be opened ({2}): the desktop application "
                            "runs with other rights"},
                           {block_name, ErrorCodeText(r, error)}));
        r.Skip(r.Say({"окно в поле 2: нет блока", "the window in field 2: there is no block"}));
        r.Skip(r.Say({"запрос: нет блока", "the request: there is no block"}));
        return;
    }
    const kv::DesktopChannel::View view = channel.MapBlock(reinterpret_cast<uintptr_t>(block));
    if (view.data == nullptr) {
        const DWORD error = GetLastError();
        channel.CloseBlock(reinterpret_cast<uintptr_t>(block));
        r.Fail(r.Say({"общий блок {1} есть, но не отображается в память ({2}): его создала "
                      "программа, которая не даёт этому пользователю писать в него. Запустите "
                      "настольную программу под тем же пользователем, что и 1С",
                      "the shared block {1} is there but cannot be mapped ({2}): a program made it "
                      "so that this user cannot write into it. Start the desktop application as "
                      "the user who runs 1C"},
                     {block_name, ErrorCodeText(r, error)}));
        r.Skip(r.Say({"окно в поле 2: блок не отображается",
                      "the window in field 2: the block cannot be mapped"}));
        r.Skip(r.Say({"запрос: блок не отображается", "the request: the block cannot be mapped"}));
        return;
    }
    r.Ok(r.Say({"общий блок {1} есть, {2} байт", "the shared block {1} is there, {2} bytes"},
               {block_name, std::to_wstring(view.size)}));

    // The block is read, and the request made, in this program's turn, as a copy of the
    // component takes it: a request of a 1C session in flight then neither covers field 2 nor
    // is taken for the desktop application's fault. The component in this thread takes the
    // same turn again for its request.
    Turn turn(r, channel, view);
    if (turn.blocked()) {
        channel.UnmapBlock(view);
        channel.CloseBlock(reinterpret_cast<uintptr_t>(block));
        r.Skip(r.Say({"окно в поле 2: нет очереди", "the window in field 2: no turn"}));
        r.Skip(r.Say({"запрос: нет очереди", "the request: no turn"}));
        return;
    }
    const std::string text = kv::BlockText(view);
    channel.UnmapBlock(view);
    channel.CloseBlock(reinterpret_cast<uintptr_t>(block));

    const std::string_view field = kv::HandleFieldOf(text);
    const int32_t window = kv::WindowOf(field);
    bool alive = false;
    if (window == 0) {
        r.Fail(r.Say({"во втором поле блока нет окна ({1}): программа не записала дескриптор "
                      "своего окна, или в блоке остался ответ на ПодобратьПакет / "
                      "ПодобратьАвтозаказИзФайла. Перезапустите настольную программу",
                      "field 2 of the block names no window ({1}): the application has not "
                      "written its window's handle, or a FindPacket / FindAutoZakazFromFile "
                      "answer is still in the block. Restart the desktop application"},
                     {Quoted(FromAnsi(field))}));
    } else {
        const HWND handle = reinterpret_cast<HWND>(static_cast<intptr_t>(window));
        alive = IsWindow(handle) != FALSE;
        DWORD process = 0;
        if (alive) GetWindowThreadProcessId(handle, &process);
        if (alive) {
            r.Ok(r.Say({"окно {1} из поля 2 живо (процесс {2})",
                        "the window {1} of field 2 is alive (process {2})"},
                       {Hex(window), std::to_wstring(process)}));
        } else {
            r.Fail(r.Say({"окна {1} из поля 2 уже нет: настольная программа завершилась, а блок "
                          "держит другой процесс (например, зависшая kelvarin.exe). Завершите "
                          "все kelvarin.exe и запустите программу заново",
                          "the window {1} of field 2 is gone: the desktop application has ended "
                          "while another process holds the block (a hung kelvarin.exe, say). End "
                          "every kelvarin.exe and start the application again"},
                         {Hex(window)}));
        }
    }

    if (!addin.ready()) {
        r.Skip(r.Say({"запрос: нет объекта компоненты", "the request: there is no add-in object"}));
        return;
    }
    if (!alive) {
        r.Skip(r.Say({"запрос не отправлен: нет живого окна",
                      "the request was not sent: no live "
                      "window"}));
        return;
    }
    const std::wstring timeout = addin.Text(L"Timeout");
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const std::optional<LONG> count = addin.Call(L"CountPositionInZakaz");
    QueryPerformanceCounter(&end);
    const double ms = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                      static_cast<double>(frequency.QuadPart);
    wchar_t elapsed[32];
    std::swprintf(elapsed, 32, L"%.1f", ms);
    const std::wstring errors = addin.TakeErrors();
    if (count && *count >= 0 && errors.empty()) {
        r.Ok(r.Say({"запрос КоличествоПозицийВТекущейЗаявке: ответ за {1} мс (Таймаут {2} мс), "
                    "строк в текущем заказе: {3}",
                    "the request CountPositionInZakaz: answered in {1} ms (Timeout {2} ms), lines "
                    "in the current order: {3}"},
                   {elapsed, timeout, std::to_wstring(*count)}));
    } else if (count && *count == -3) {
        r.Fail(r.Say(
            {"запрос КоличествоПозицийВТекущейЗаявке: нет ответа за Таймаут ({1} мс; "
             "прошло {2} мс): программа занята, зависла или не отвечает. Увеличьте Таймаут "
             "(--set Таймаут=3000, как в конфигурации) или перезапустите программу",
             "the request CountPositionInZakaz got no answer within Timeout ({1} ms; "
             "{2} ms passed): the application is busy, hung or does not answer. Raise Timeout "
             "(--set Timeout=3000, as the configuration does) or restart the "
             "application"},
            {timeout, elapsed}));
    } else {
        r.Fail(r.Say({"запрос КоличествоПозицийВТекущейЗаявке вернул {1}: {2}",
                      "the request CountPositionInZakaz returned {1}: {2}"},
                     {count ? std::to_wstring(*count) : L"-", errors}));
    }
}

}  // namespace

int RunCheck(const CheckOptions& options) {
    Report r(options.english);
    const std::wstring checked = options.native_dll.empty() ? options.prog_id : options.native_dll;
    Print(r.Say({"kvhost --check: {1}; kvhost {2}-битный, Windows {3}-битная",
                 "kvhost --check: {1}; kvhost is {2}-bit, Windows is {3}-bit"},
                {checked, std::to_wstring(kOwnBits), SystemIs64Bit() ? L"64" : L"32"}));
    if (options.native_dll.empty()) {
        CheckRegistration(r, options.prog_id);
    } else {
        CheckNativeFile(r, options.native_dll);
    }
    CheckedAddIn addin(options);
    CheckObject(r, addin, options);
    FoundLibraryLoader loader;
    const std::wstring library = CheckClientLibrary(r, addin, options, loader);
    CheckDatabase(r, addin, library, loader);
    CheckDesktop(r, addin);
    const int code = r.ExitCode();
    Print(code == 0 ? r.Say({"все проверки пройдены", "every check passed"})
                    : r.Say({"код выхода {1}: первая группа с ошибкой",
                             "exit code {1}: the first "
                             "group with a failure"},
                            {std::to_wstring(code)}));
    return code;
}

}  // namespace kvhost
