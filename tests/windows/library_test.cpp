// The library seen from outside: its exports, its class object and counters, the registry
// entries that registration writes and removal deletes, and its version resource. The DLL's
// path comes as the first argument after the group name.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "host/addin_lib.h"
#include "host_objects.h"

using namespace kvtest;

namespace {

const std::wstring kClsid = L"{17921090-116A-402E-8973-8FD73C41CFD8}";

// The library's exports, loaded from a path.
struct Library {
    explicit Library(const std::wstring& path) {
        module = LoadLibraryW(path.c_str());
        KV_CHECK(module != nullptr);
        if (module == nullptr) return;
        get_class_object = Export<GetClassObjectFn>("DllGetClassObject");
        can_unload_now = Export<NoArgumentFn>("DllCanUnloadNow");
        register_server = Export<NoArgumentFn>("DllRegisterServer");
        unregister_server = Export<NoArgumentFn>("DllUnregisterServer");
        install = Export<InstallFn>("DllInstall");
        KV_CHECK(get_class_object && can_unload_now && register_server && unregister_server &&
                 install);
    }
    ~Library() {
        if (module != nullptr) FreeLibrary(module);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool ok() const { return install != nullptr; }

    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using NoArgumentFn = HRESULT(STDAPICALLTYPE*)();
    using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    template <typename Fn>
    Fn Export(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }

    HMODULE module = nullptr;
    GetClassObjectFn get_class_object = nullptr;
    NoArgumentFn can_unload_now = nullptr;
    NoArgumentFn register_server = nullptr;
    NoArgumentFn unregister_server = nullptr;
    InstallFn install = nullptr;
};

std::wstring DllPath() { return Utf16(Argument(0)); }

// The full long form of a path, with the system's separators.
std::wstring LongPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4];
    const DWORD full_length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    if (full_length == 0 || full_length >= MAX_PATH * 4) return path;
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetLongPathNameW(full, buffer, MAX_PATH * 4);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(buffer, length) : full;
}

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The default value of a key: exists, its type, its stored byte count and text.
struct KeyValue {
    bool exists = false;
    DWORD type = 0;
    DWORD bytes = 0;
    std::wstring text;
};

KeyValue ReadDefault(HKEY root, const std::wstring& key) {
    KeyValue result;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return result;
    result.exists = true;
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof buffer - sizeof(wchar_t);
    if (RegQueryValueExW(opened, nullptr, nullptr, &result.type, reinterpret_cast<BYTE*>(buffer),
                         &bytes) == ERROR_SUCCESS) {
        result.bytes = bytes;
        result.text = buffer;
    }
    RegCloseKey(opened);
    return result;
}

bool ValueExists(HKEY root, const std::wstring& key, const wchar_t* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    const bool exists =
        RegQueryValueExW(opened, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return exists;
}

const std::vector<std::wstring>& ClassKeys() {
    static const std::vector<std::wstring> keys = {
        L"CLSID\\" + kClsid,        L"CLSID\\" + kClsid + L"\\InprocServer32", L"AddIn.KelvarinVK",
        L"AddIn.KelvarinVK\\Clsid", L"CLSID\\" + kClsid + L"\\ProgID",
    };
    return keys;
}

// The five entries with their values, under a root and prefix, for a given server path.
void CheckEntries(HKEY root, const std::wstring& prefix, const std::wstring& server_path) {
    const std::wstring expected[] = {L"V7 AddIn 2.0", server_path, L"V7 AddIn 2.0", kClsid,
                                     L"AddIn.KelvarinVK"};
    for (size_t i = 0; i < ClassKeys().size(); ++i) {
        const KeyValue value = ReadDefault(root, prefix + ClassKeys()[i]);
        KV_CHECK(value.exists);
        KV_CHECK_EQ(value.type, static_cast<DWORD>(REG_SZ));
        if (i == 1) {
            // Windows compares file names without case.
            KV_CHECK_EQ(Lower(value.text), Lower(expected[i]));
        } else {
            KV_CHECK_EQ(value.text, expected[i]);
        }
        // The stored length counts the terminating zero.
        KV_CHECK_EQ(value.bytes, static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
    }
    const std::wstring server_key = prefix + ClassKeys()[1];
    KV_CHECK(!ValueExists(root, server_key, L"ThreadingModel"));
}

void CheckNoEntries(HKEY root, const std::wstring& prefix) {
    for (const std::wstring& key : ClassKeys()) {
        if (ReadDefault(root, prefix + key).exists) Note("still there: " + Utf8(key));
        KV_CHECK(!ReadDefault(root, prefix + key).exists);
    }
}

// The registration of the build's DLL, which the other tests rely on, made again.
void RestoreRegistration() {
    Library original(DllPath());
    if (original.ok()) KV_CHECK_HR(original.register_server(), S_OK);
}

// DllGetClassObject and the class object: interfaces, CreateInstance rules.
void ClassObject() {
    Library dll(DllPath());
    if (!dll.ok()) return;
    const CLSID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* object = reinterpret_cast<void*>(0x1);
    KV_CHECK_HR(dll.get_class_object(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    KV_CHECK(object == nullptr);
    object = reinterpret_cast<void*>(0x1);
    KV_CHECK_HR(dll.get_class_object(kv::host::CLSID_KelvarinVK, IID_IDispatch, &object),
                E_NOINTERFACE);
    KV_CHECK(object == nullptr);

    Ref<IClassFactory> factory;
    KV_CHECK_HR(
        dll.get_class_object(kv::host::CLSID_KelvarinVK, IID_IClassFactory, factory.out_void()),
        S_OK);
    if (!factory) return;
    Ref<IUnknown> unknown;
    KV_CHECK_HR(factory->QueryInterface(IID_IUnknown, unknown.out_void()), S_OK);
    KV_CHECK(unknown.get() == static_cast<IUnknown*>(factory.get()));

    KV_CHECK_HR(factory->CreateInstance(nullptr, kv::host::IID_IInitDone, nullptr), E_POINTER);
    Outer outer_stand_in;
    object = reinterpret_cast<void*>(0x1);
    KV_CHECK_HR(factory->CreateInstance(&outer_stand_in, kv::host::IID_ILanguageExtender, &object),
                CLASS_E_NOAGGREGATION);
    KV_CHECK(object == nullptr);
    // An interface the object lacks: no object is left behind.
    object = reinterpret_cast<void*>(0x1);
    KV_CHECK_HR(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    KV_CHECK(object == nullptr);
    factory.reset();
    unknown.reset();
    KV_CHECK_HR(dll.can_unload_now(), S_OK);
}

// DllCanUnloadNow across the lifetimes of objects, class object references and locks.
void UnloadCounts() {
    Library dll(DllPath());
    if (!dll.ok()) return;
    KV_CHECK_HR(dll.can_unload_now(), S_OK);
    Ref<IClassFactory> factory;
    KV_CHECK_HR(
        dll.get_class_object(kv::host::CLSID_KelvarinVK, IID_IClassFactory, factory.out_void()),
        S_OK);
    if (!factory) return;
    KV_CHECK_HR(dll.can_unload_now(), S_FALSE);

    Ref<kv::host::IInitDone> first;
    Ref<kv::host::ILanguageExtender> second;
    KV_CHECK_HR(factory->CreateInstance(nullptr, kv::host::IID_IInitDone, first.out_void()), S_OK);
    KV_CHECK_HR(
        factory->CreateInstance(nullptr, kv::host::IID_ILanguageExtender, second.out_void()), S_OK);
    KV_CHECK(static_cast<void*>(first.get()) != static_cast<void*>(second.get()));
    factory.reset();
    KV_CHECK_HR(dll.can_unload_now(), S_FALSE);  // two objects alive
    first.reset();
    KV_CHECK_HR(dll.can_unload_now(), S_FALSE);  // one object alive
    second.reset();
    KV_CHECK_HR(dll.can_unload_now(), S_OK);

    // A lock keeps the library after every reference is gone; unlocking releases it.
    KV_CHECK_HR(
        dll.get_class_object(kv::host::CLSID_KelvarinVK, IID_IClassFactory, factory.out_void()),
        S_OK);
    if (!factory) return;
    KV_CHECK_HR(factory->LockServer(TRUE), S_OK);
    IClassFactory* locked = factory.get();
    locked->AddRef();
    factory.reset();
    locked->Release();
    KV_CHECK_HR(dll.can_unload_now(), S_FALSE);
    KV_CHECK_HR(
        dll.get_class_object(kv::host::CLSID_KelvarinVK, IID_IClassFactory, factory.out_void()),
        S_OK);
    KV_CHECK_HR(factory->LockServer(FALSE), S_OK);
    KV_CHECK_HR(dll.can_unload_now(), S_FALSE);  // our reference remains
    factory.reset();
    KV_CHECK_HR(dll.can_unload_now(), S_OK);
}

// The five keys of the registration that CTest made with regsvr32.
void Keys() {
    CheckEntries(HKEY_CLASSES_ROOT, L"", LongPath(DllPath()));
    // The ProgID's Clsid names the very key the class lives under.
    const KeyValue clsid = ReadDefault(HKEY_CLASSES_ROOT, L"AddIn.KelvarinVK\\Clsid");
    KV_CHECK(ReadDefault(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid.text).exists);
    CLSID parsed{};
    KV_CHECK_HR(CLSIDFromString(clsid.text.c_str(), &parsed), S_OK);
    KV_CHECK(IsEqualCLSID(parsed, kv::host::CLSID_KelvarinVK));
    wchar_t system_text[64] = {};
    StringFromGUID2(kv::host::CLSID_KelvarinVK, system_text, 64);
    KV_CHECK_EQ(clsid.text, std::wstring(system_text));
}

// Removal deletes the five keys, twice without complaint; a key with a stranger's subkey stays.
void UnregisterTwice() {
    {
        Library dll(DllPath());
        if (!dll.ok()) return;
        KV_CHECK_HR(dll.unregister_server(), S_OK);
        CheckNoEntries(HKEY_CLASSES_ROOT, L"");
        KV_CHECK_HR(dll.unregister_server(), S_OK);
        CheckNoEntries(HKEY_CLASSES_ROOT, L"");

        KV_CHECK_HR(dll.register_server(), S_OK);
        HKEY extra = nullptr;
        KV_CHECK_EQ(RegCreateKeyW(HKEY_CLASSES_ROOT, L"AddIn.KelvarinVK\\Extra", &extra),
                    ERROR_SUCCESS);
        if (extra != nullptr) RegCloseKey(extra);
        KV_CHECK_HR(dll.unregister_server(), S_OK);
        KV_CHECK(ReadDefault(HKEY_CLASSES_ROOT, L"AddIn.KelvarinVK").exists);
        KV_CHECK(!ReadDefault(HKEY_CLASSES_ROOT, L"AddIn.KelvarinVK\\Clsid").exists);
        KV_CHECK(!ReadDefault(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid).exists);
        RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AddIn.KelvarinVK\\Extra");
        RegDeleteKeyW(HKEY_CLASSES_ROOT, L"AddIn.KelvarinVK");
    }
    RestoreRegistration();
    CheckEntries(HKEY_CLASSES_ROOT, L"", LongPath(DllPath()));
}

// A library in a directory whose name holds a space registers its short path.
void SpaceInPath() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring directory = std::wstring(temp) + L"kv dir with space";
    const std::wstring copy = directory + L"\\KelvarinVK.dll";
    CreateDirectoryW(directory.c_str(), nullptr);
    KV_CHECK(CopyFileW(DllPath().c_str(), copy.c_str(), FALSE));
    {
        Library dll(copy);
        if (dll.ok()) {
            KV_CHECK_HR(dll.register_server(), S_OK);
            wchar_t short_path[MAX_PATH];
            const DWORD length = GetShortPathNameW(LongPath(copy).c_str(), short_path, MAX_PATH);
            KV_CHECK(length > 0 && length < MAX_PATH);
            const std::wstring expected(short_path, length);
            KV_CHECK(expected.find(L' ') == std::wstring::npos);
            const KeyValue server =
                ReadDefault(HKEY_CLASSES_ROOT, L"CLSID\\" + kClsid + L"\\InprocServer32");
            KV_CHECK_EQ(Lower(server.text), Lower(expected));
            KV_CHECK(server.text.find(L' ') == std::wstring::npos);
            // The short form names the same file.
            KV_CHECK_EQ(Lower(LongPath(server.text)), Lower(LongPath(copy)));
            KV_CHECK_HR(dll.unregister_server(), S_OK);
        }
    }
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(directory.c_str());
    RestoreRegistration();
}

// DllInstall "user": the same entries under HKEY_CURRENT_USER\Software\Classes, and nothing
// machine-wide changes.
void PerUser() {
    const std::wstring prefix = L"Software\\Classes\\";
    Library dll(DllPath());
    if (!dll.ok()) return;
    KV_CHECK_HR(dll.install(TRUE, L"user"), S_OK);
    CheckEntries(HKEY_CURRENT_USER, prefix, LongPath(DllPath()));
    KV_CHECK_HR(dll.install(FALSE, L"USER"), S_OK);
    CheckNoEntries(HKEY_CURRENT_USER, prefix);
    KV_CHECK_HR(dll.install(FALSE, L"user"), S_OK);
    KV_CHECK_HR(dll.install(TRUE, L"everyone"), E_INVALIDARG);
    CheckNoEntries(HKEY_CURRENT_USER, prefix);
    CheckEntries(HKEY_CLASSES_ROOT, L"", LongPath(DllPath()));
    // Without a command line (regsvr32 /i) it is the machine-wide registration.
    KV_CHECK_HR(dll.install(FALSE, nullptr), S_OK);
    CheckNoEntries(HKEY_CLASSES_ROOT, L"");
    KV_CHECK_HR(dll.install(TRUE, L""), S_OK);
    CheckEntries(HKEY_CLASSES_ROOT, L"", LongPath(DllPath()));
    CheckNoEntries(HKEY_CURRENT_USER, prefix);
}

// After regsvr32 /n /i:user, and after its removal with /u.
void UserKeysPresent() {
    CheckEntries(HKEY_CURRENT_USER, L"Software\\Classes\\", LongPath(DllPath()));
}

void UserKeysAbsent() { CheckNoEntries(HKEY_CURRENT_USER, L"Software\\Classes\\"); }

// The version resources of the DLL and of every other binary named after it: the project's
// version in the numbers and the file version, the commit in the product version.
void Version() {
    for (int i = 0; !Argument(i).empty(); ++i) {
        const std::wstring path = Utf16(Argument(i));
        const std::wstring file = path.substr(path.find_last_of(L"\\/") + 1);
        Note("version resource of " + Utf8(file));
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
        KV_CHECK(size > 0);
        if (size == 0) continue;
        std::vector<BYTE> data(size);
        KV_CHECK(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        KV_CHECK(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
        if (fixed == nullptr) continue;
        KV_CHECK_EQ(fixed->dwFileVersionMS,
                    static_cast<DWORD>(MAKELONG(KV_VERSION_MINOR, KV_VERSION_MAJOR)));
        KV_CHECK_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, KV_VERSION_PATCH)));
        KV_CHECK_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
        KV_CHECK_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
        const bool dll = file.size() > 4 && file.substr(file.size() - 4) == L".dll";
        KV_CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(dll ? VFT_DLL : VFT_APP));

        struct Translation {
            WORD language;
            WORD code_page;
        }* translation = nullptr;
        KV_CHECK(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                                reinterpret_cast<void**>(&translation), &length));
        if (translation == nullptr) continue;
        wchar_t block[64];
        std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation->language,
                      translation->code_page);
        auto text = [&](const wchar_t* name) {
            wchar_t* value = nullptr;
            UINT chars = 0;
            const std::wstring query = std::wstring(block) + name;
            if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value),
                                &chars) ||
                value == nullptr) {
                return std::wstring(L"(missing)");
            }
            return std::wstring(value);
        };
        if (dll) KV_CHECK_EQ(text(L"FileDescription"), std::wstring(L"V7 AddIn 2.0"));
        KV_CHECK_EQ(text(L"OriginalFilename"), file);
        KV_CHECK_EQ(text(L"ProductName"), std::wstring(L"KelvarinVK"));
        wchar_t dotted[32];
        std::swprintf(dotted, 32, L"%d.%d.%d.0", KV_VERSION_MAJOR, KV_VERSION_MINOR,
                      KV_VERSION_PATCH);
        KV_CHECK_EQ(text(L"FileVersion"), std::wstring(dotted));
        KV_CHECK_EQ(text(L"ProductVersion"), Utf16(KV_VERSION_FULL));
    }
}

}  // namespace

int main(int argc, char** argv) {
    return RunInApartment(argc, argv,
                          {
                              {"class_object", ClassObject},
                              {"unload_counts", UnloadCounts},
                              {"keys", Keys},
                              {"unregister_twice", UnregisterTwice},
                              {"space_in_path", SpaceInPath},
                              {"per_user", PerUser},
                              {"user_keys_present", UserKeysPresent},
                              {"user_keys_absent", UserKeysAbsent},
                              {"version", Version},
                          });
}
