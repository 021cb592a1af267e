#pragma once
// The 1C:Enterprise 8 add-in interface (Native API) as this add-in's compiler must declare it
// so that the objects get the layout 1C's own compiler (MSVC) gives its interfaces:
//   - MSVC puts one destructor in slot 0 of every vtable; a virtual destructor here (GCC's ABI)
//     would take two slots and shift every method after it. Slot 0 is therefore an ordinary
//     virtual with the destructor's calling convention, which 1C never calls (it destroys
//     objects through DestroyObject).
//   - Methods are __stdcall on 32-bit Windows; `long` is 32 bits and `bool` one byte on both
//     Windows targets, hence the fixed-width types; texts are UTF-16 code units.
//   - IMsgBox and its kind derive from an empty base that MSVC places after the vtable
//     pointer, so the platform's IInterface pointer to one is its address plus one pointer
//     (see FromInterface).
// Nothing here includes a system header: the shell builds and is unit-tested on Linux too,
// where the macros below are empty.
#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define KV_NATIVE_CALL __attribute__((stdcall))
#define KV_DESTRUCTOR_CALL __attribute__((thiscall))
#else
#define KV_NATIVE_CALL
#define KV_DESTRUCTOR_CALL
#endif

namespace kv::native {

using WideChar = char16_t;

// Type codes of tVariant::vt.
enum VariantType : uint16_t {
    VTYPE_EMPTY = 0,
    VTYPE_NULL = 1,
    VTYPE_I2 = 2,
    VTYPE_I4 = 3,
    VTYPE_R4 = 4,
    VTYPE_R8 = 5,
    VTYPE_DATE = 6,  // an OLE day count, double
    VTYPE_TM = 7,
    VTYPE_PSTR = 8,
    VTYPE_INTERFACE = 9,
    VTYPE_ERROR = 10,
    VTYPE_BOOL = 11,
    VTYPE_VARIANT = 12,
    VTYPE_I1 = 13,
    VTYPE_UI1 = 14,
    VTYPE_UI2 = 15,
    VTYPE_UI4 = 16,
    VTYPE_I8 = 17,
    VTYPE_UI8 = 18,
    VTYPE_INT = 19,
    VTYPE_UINT = 20,
    VTYPE_HRESULT = 21,
    VTYPE_PWSTR = 22,
    VTYPE_BLOB = 23,
    VTYPE_CLSID = 24,
};
constexpr uint16_t kVariantTypeMask = 0x0FFF;  // what lies above are the vector, array and
                                               // by-reference flags

// The C library's broken-down time as the Windows runtime lays it out: nine ints.
struct TmValue {
    int32_t tm_sec;
    int32_t tm_min;
    int32_t tm_hour;
    int32_t tm_mday;
    int32_t tm_mon;   // 0..11
    int32_t tm_year;  // years since 1900
    int32_t tm_wday;  // 0 = Sunday
    int32_t tm_yday;  // 0..365
    int32_t tm_isdst;
};

struct TextValue {
    char* data;
    uint32_t length;  // bytes
};
struct WideTextValue {
    WideChar* data;
    uint32_t length;  // code units, without the terminating zero
};

struct alignas(8) tVariant {
    union {
        int8_t i8Val;
        int16_t shortVal;
        int32_t lVal;
        int32_t intVal;
        uint32_t uintVal;
        int64_t llVal;
        uint8_t ui8Val;
        uint16_t ushortVal;
        uint32_t ulVal;
        uint64_t ullVal;
        int32_t errCode;
        int32_t hRes;
        float fltVal;
        double dblVal;
        bool bVal;
        double date;
        TmValue tmVal;
        tVariant* pvarVal;
        TextValue str;
        WideTextValue wstr;
        unsigned char bytes[40];
    };
    uint32_t cbElements;  // array dimension
    uint16_t vt;
};
static_assert(sizeof(tVariant) == 48 && alignof(tVariant) == 8);
static_assert(offsetof(tVariant, cbElements) == 40 && offsetof(tVariant, vt) == 44);
static_assert(offsetof(WideTextValue, length) == sizeof(void*));

// What the platform may give through IAddInDefBaseEx::GetInterface.
enum PlatformInterface : int32_t { eIMsgBox = 0, eIPlatformInfo = 1, eIAttachedInfo = 2 };
// SetPlatformCapabilities: -1 invalid; from 1 on the platform's connection is IAddInDefBaseEx.
enum AppCapabilities : int32_t { eAppCapabilitiesInvalid = -1, eAppCapabilities1 = 1 };
// GetAttachType.
enum AttachType : int32_t { eCanAttachNotIsolated = 1, eCanAttachIsolated = 2, eCanAttachAny = 3 };

// The add-in's side. Each base holds one vtable pointer, in this order.
class IInitDoneBase {
  public:
    virtual void* KV_DESTRUCTOR_CALL DestructorSlot(unsigned flags) = 0;
    virtual bool KV_NATIVE_CALL Init(void* connection) = 0;
    virtual bool KV_NATIVE_CALL setMemManager(void* manager) = 0;
    virtual int32_t KV_NATIVE_CALL GetInfo() = 0;
    virtual void KV_NATIVE_CALL Done() = 0;

  protected:
    ~IInitDoneBase() = default;
};

class ILanguageExtenderBase {
  public:
    virtual void* KV_DESTRUCTOR_CALL DestructorSlot(unsigned flags) = 0;
#ifdef KV_NATIVE_SHIFTED
    // The deliberately broken build: one slot too many, so that every method below answers
    // the call meant for the one above it.
    virtual bool KV_NATIVE_CALL ShiftedSlot(WideChar** name) = 0;
#endif
    virtual bool KV_NATIVE_CALL RegisterExtensionAs(WideChar** name) = 0;
    virtual int32_t KV_NATIVE_CALL GetNProps() = 0;
    virtual int32_t KV_NATIVE_CALL FindProp(const WideChar* name) = 0;
    virtual const WideChar* KV_NATIVE_CALL GetPropName(int32_t number, int32_t alias) = 0;
    virtual bool KV_NATIVE_CALL GetPropVal(int32_t number, tVariant* value) = 0;
    virtual bool KV_NATIVE_CALL SetPropVal(int32_t number, tVariant* value) = 0;
    virtual bool KV_NATIVE_CALL IsPropReadable(int32_t number) = 0;
    virtual bool KV_NATIVE_CALL IsPropWritable(int32_t number) = 0;
    virtual int32_t KV_NATIVE_CALL GetNMethods() = 0;
    virtual int32_t KV_NATIVE_CALL FindMethod(const WideChar* name) = 0;
    virtual const WideChar* KV_NATIVE_CALL GetMethodName(int32_t number, int32_t alias) = 0;
    virtual int32_t KV_NATIVE_CALL GetNParams(int32_t number) = 0;
    virtual bool KV_NATIVE_CALL GetParamDefValue(int32_t method, int32_t param,
                                                 tVariant* value) = 0;
    virtual bool KV_NATIVE_CALL HasRetVal(int32_t number) = 0;
    virtual bool KV_NATIVE_CALL CallAsProc(int32_t number, tVariant* params, int32_t count) = 0;
    virtual bool KV_NATIVE_CALL CallAsFunc(int32_t number, tVariant* result, tVariant* params,
                                           int32_t count) = 0;

  protected:
    ~ILanguageExtenderBase() = default;
};

class LocaleBase {
  public:
    virtual void* KV_DESTRUCTOR_CALL DestructorSlot(unsigned flags) = 0;
    virtual void KV_NATIVE_CALL SetLocale(const WideChar* locale) = 0;

  protected:
    ~LocaleBase() = default;
};

class UserLanguageBase {
  public:
    virtual void* KV_DESTRUCTOR_CALL DestructorSlot(unsigned flags) = 0;
    virtual void KV_NATIVE_CALL SetUserInterfaceLanguageCode(const WideChar* code) = 0;

  protected:
    ~UserLanguageBase() = default;
};

class IComponentBase : public IInitDoneBase,
                       public ILanguageExtenderBase,
                       public LocaleBase,
                       public UserLanguageBase {
  protected:
    ~IComponentBase() = default;
};

// The platform's side: what Init and setMemManager hand over.
class IAddInDefBase {
  public:
    virtual void* KV_DESTRUCTOR_CALL DestructorSlot(unsigned flags) = 0;
    virtual bool KV_NATIVE_CALL AddError(uint16_t code, const WideChar* source,
                                         const WideChar* description, int32_t scode) = 0;
    virtual bool KV_NATIVE_CALL Read(WideChar* name, tVariant* value, int32_t* error,
                                     WideChar** error_text) = 0;
    virtual bool KV_NATIVE_CALL Write(WideChar* name, tVariant* value) = 0;
    virtual bool KV_NATIVE_CALL RegisterProfileAs(WideChar* name) = 0;
    virtual bool KV_NATIVE_CALL SetEventBufferDepth(int32_t depth) = 0;
    virtual int32_t KV_NATIVE_CALL GetEventBufferDepth() = 0;
    virtual bool KV_NATIVE_CALL ExternalEvent(WideChar* source, WideChar* message,
                                              WideChar* data) = 0;
    virtual void KV_NATIVE_CALL CleanEventBuffer() = 0;
    virtual bool KV_NATIVE_CALL SetStatusLine(WideChar* text) = 0;
    virtual void KV_NATIVE_CALL ResetStatusLine() = 0;

  protected:
    ~IAddInDefBase() = default;
};

class IAddInDefBaseEx : public IAddInDefBase {
  public:
    // The platform's IInterface pointer to what it offers, or null.
    virtual void* KV_NATIVE_CALL GetInterface(int32_t which) = 0;

  protected:
    ~IAddInDefBaseEx() = default;
};

class IMemoryManager {
  public:
    virtual void* KV_DESTRUCTOR_CALL DestructorSlot(unsigned flags) = 0;
    virtual bool KV_NATIVE_CALL AllocMemory(void** block, uint32_t bytes) = 0;
    virtual void KV_NATIVE_CALL FreeMemory(void** block) = 0;

  protected:
    ~IMemoryManager() = default;
};

// No destructor slot: the vtable starts with the first method.
class IMsgBox {
  public:
    virtual bool KV_NATIVE_CALL Confirm(const WideChar* text, tVariant* answer) = 0;
    virtual bool KV_NATIVE_CALL Alert(const WideChar* text) = 0;

  protected:
    ~IMsgBox() = default;
};

// The object behind one of the platform's IInterface pointers (the address of its empty base,
// which follows the vtable pointer).
template <typename T>
T* FromInterface(void* platform_interface) {
    if (platform_interface == nullptr) return nullptr;
    return reinterpret_cast<T*>(static_cast<char*>(platform_interface) - sizeof(void*));
}

}  // namespace kv::native
