#pragma once
// The 1C:Enterprise 8 add-in interfaces as the platform's own compiler lays them out: ordinary
// C++ classes, a virtual destructor in the first slot of every vtable that has one, __stdcall
// methods on 32-bit Windows, the five library exports plain C functions. Compiled only in the
// MSVC C++ ABI (clang --target=*-windows-msvc), so that the vtables, the base offsets and the
// IInterface offset are the platform's and not a belief shared with an add-in built by mingw.
#include <stddef.h>
#include <stdint.h>

#if defined(_M_IX86)
#define KVN_METHOD __stdcall
#else
#define KVN_METHOD
#endif

namespace kvn {

using WideChar = wchar_t;  // two bytes: UTF-16

// The C library's struct tm, as it travels inside a value.
struct Tm {
    int tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};

// tVariant: a value union of 40 bytes, the array dimension, the type code.
struct Variant {
    union {
        int8_t i8;
        int16_t i16;
        int32_t i32;
        int64_t i64;
        uint8_t u8;
        uint16_t u16;
        uint32_t u32;
        uint64_t u64;
        float r4;
        double r8;  // also DATE
        bool boolean;
        Tm tm;
        struct {
            char* bytes;
            uint32_t length;
        } str;  // PSTR and BLOB
        struct {
            WideChar* units;
            uint32_t length;  // without a terminator
        } wstr;
        uint8_t whole[40];
    };
    uint32_t cbElements;
    uint16_t vt;
};
static_assert(sizeof(Variant) == 48, "tVariant is 48 bytes");
static_assert(alignof(Variant) == 8, "tVariant is aligned to 8");
static_assert(offsetof(Variant, wstr.length) == (sizeof(void*) == 4 ? 4 : 8),
              "the length follows the pointer");
static_assert(offsetof(Variant, cbElements) == 40 && offsetof(Variant, vt) == 44,
              "the dimension and the type code follow the 40 bytes of the value");

// The platform's side.
class IMemoryManager {
  public:
    virtual ~IMemoryManager() {}
    virtual bool KVN_METHOD AllocMemory(void** memory, unsigned long bytes) = 0;
    virtual void KVN_METHOD FreeMemory(void** memory) = 0;
};

class IAddInDefBase {
  public:
    virtual ~IAddInDefBase() {}
    virtual bool KVN_METHOD AddError(unsigned short code, const WideChar* source,
                                     const WideChar* description, long scode) = 0;
    virtual bool KVN_METHOD Read(WideChar* name, Variant* value, long* error,
                                 WideChar** error_text) = 0;
    virtual bool KVN_METHOD Write(WideChar* name, Variant* value) = 0;
    virtual bool KVN_METHOD RegisterProfileAs(WideChar* name) = 0;
    virtual bool KVN_METHOD SetEventBufferDepth(long depth) = 0;
    virtual long KVN_METHOD GetEventBufferDepth() = 0;
    virtual bool KVN_METHOD ExternalEvent(WideChar* source, WideChar* message, WideChar* data) = 0;
    virtual void KVN_METHOD CleanEventBuffer() = 0;
    virtual bool KVN_METHOD SetStatusLine(WideChar* text) = 0;
    virtual void KVN_METHOD ResetStatusLine() = 0;
};

// What GetInterface hands out derives from this empty base, which MSVC places after the vtable
// pointer: the pointer handed out is one pointer past the object's own address.
struct IInterface {};

enum class InterfaceId : int { MsgBox = 0, PlatformInfo = 1, AttachedInfo = 2 };

class IAddInDefBaseEx : public IAddInDefBase {
  public:
    virtual IInterface* KVN_METHOD GetInterface(InterfaceId id) = 0;
};

// These three have no destructor slot: the platform owns them and never hands over their
// lifetime.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnon-virtual-dtor"
class IMsgBox : public IInterface {
  public:
    virtual bool KVN_METHOD Confirm(const WideChar* text, Variant* answer) = 0;
    virtual bool KVN_METHOD Alert(const WideChar* text) = 0;
};

enum class AppType : int {
    Unknown = -1,
    ThinClient = 0,
    ThickClient,
    WebClient,
    Server,
    ExternalConnection,
    MobileClient,
    MobileServer
};

struct AppInfo {
    const WideChar* version;
    const WideChar* user_agent;
    AppType application;
};

class IPlatformInfo : public IInterface {
  public:
    virtual const AppInfo* KVN_METHOD GetPlatformInfo() = 0;
};

enum class AttachedType : int { Isolated = 0, NotIsolated = 1 };

class IAttachedInfo : public IInterface {
  public:
    virtual AttachedType KVN_METHOD GetAttachedInfo() = 0;
};
#pragma clang diagnostic pop

// The add-in's side: one object with four bases, each with its own vtable pointer.
class IInitDoneBase {
  public:
    virtual ~IInitDoneBase() {}
    virtual bool KVN_METHOD Init(void* connection) = 0;
    virtual bool KVN_METHOD setMemManager(void* manager) = 0;
    virtual long KVN_METHOD GetInfo() = 0;
    virtual void KVN_METHOD Done() = 0;
};

class ILanguageExtenderBase {
  public:
    virtual ~ILanguageExtenderBase() {}
    virtual bool KVN_METHOD RegisterExtensionAs(WideChar** name) = 0;
    virtual long KVN_METHOD GetNProps() = 0;
    virtual long KVN_METHOD FindProp(const WideChar* name) = 0;
    virtual const WideChar* KVN_METHOD GetPropName(long number, long alias) = 0;
    virtual bool KVN_METHOD GetPropVal(const long number, Variant* value) = 0;
    virtual bool KVN_METHOD SetPropVal(const long number, Variant* value) = 0;
    virtual bool KVN_METHOD IsPropReadable(const long number) = 0;
    virtual bool KVN_METHOD IsPropWritable(const long number) = 0;
    virtual long KVN_METHOD GetNMethods() = 0;
    virtual long KVN_METHOD FindMethod(const WideChar* name) = 0;
    virtual const WideChar* KVN_METHOD GetMethodName(const long number, const long alias) = 0;
    virtual long KVN_METHOD GetNParams(const long number) = 0;
    virtual bool KVN_METHOD GetParamDefValue(const long method, const long param,
                                             Variant* value) = 0;
    virtual bool KVN_METHOD HasRetVal(const long method) = 0;
    virtual bool KVN_METHOD CallAsProc(const long method, Variant* params, const long count) = 0;
    virtual bool KVN_METHOD CallAsFunc(const long method, Variant* result, Variant* params,
                                       const long count) = 0;
};

class LocaleBase {
  public:
    virtual ~LocaleBase() {}
    virtual void KVN_METHOD SetLocale(const WideChar* locale) = 0;
};

class UserLanguageBase {
  public:
    virtual ~UserLanguageBase() {}
    virtual void KVN_METHOD SetUserInterfaceLanguageCode(const WideChar* language) = 0;
};

class IComponentBase : public IInitDoneBase,
                       public ILanguageExtenderBase,
                       public LocaleBase,
                       public UserLanguageBase {
  public:
    virtual ~IComponentBase() {}
};

enum class AppCapabilities : int { Invalid = -1, Level1 = 1, Level2, Level3 };
enum class AttachType : int { NotIsolated = 1, Isolated, Any };

// The library's exports: plain C functions, undecorated.
using GetClassNamesFn = const WideChar* (*)();
using GetClassObjectFn = long (*)(const WideChar* name, IComponentBase** object);
using DestroyObjectFn = long (*)(IComponentBase** object);
using SetPlatformCapabilitiesFn = AppCapabilities (*)(const AppCapabilities capabilities);
using GetAttachTypeFn = AttachType (*)();

}  // namespace kvn
