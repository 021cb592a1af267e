#pragma once
// The 1C:Enterprise 7.7 add-in interfaces: identifiers and slot order are the host's binary
// contract, so nothing here may be reordered. IErrorLog comes with the system headers.
#include <oaidl.h>
#include <ocidl.h>
#include <windows.h>

namespace kv::host {

// {AB634001-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_IInitDone = {
    0xAB634001, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634003-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_ILanguageExtender = {
    0xAB634003, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634004-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_IAsyncEvent = {
    0xAB634004, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {AB634005-F13D-11D0-A459-004095E1DAEA}
inline constexpr IID IID_IStatusLine = {
    0xAB634005, 0xF13D, 0x11D0, {0xA4, 0x59, 0x00, 0x40, 0x95, 0xE1, 0xDA, 0xEA}};
// {EFE19EA0-09E4-11D2-A601-008048DA00DE}
inline constexpr IID IID_IExtWndsSupport = {
    0xEFE19EA0, 0x09E4, 0x11D2, {0xA6, 0x01, 0x00, 0x80, 0x48, 0xDA, 0x00, 0xDE}};

// The class that the library serves: {17921090-116A-402E-8973-8FD73C41CFD8}.
inline constexpr CLSID CLSID_KelvarinVK = {
    0x17921090, 0x116A, 0x402E, {0x89, 0x73, 0x8F, 0xD7, 0x3C, 0x41, 0xCF, 0xD8}};

// Implemented by the add-in: initialise, finish, version.
struct IInitDone : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Init(IDispatch* connection) = 0;
    virtual HRESULT STDMETHODCALLTYPE Done() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** info) = 0;

  protected:
    ~IInitDone() = default;
};

// Implemented by the add-in: its name, properties and methods. `long` is 32 bits on Windows
// in both builds, as the host expects.
struct ILanguageExtender : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* extension_name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNProps(long* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindProp(BSTR name, long* number) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropName(long number, long alias, BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropVal(long number, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPropVal(long number, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPropReadable(long number, BOOL* readable) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPropWritable(long number, BOOL* writable) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNMethods(long* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindMethod(BSTR name, long* number) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMethodName(long number, long alias, BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNParams(long number, long* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParamDefValue(long method, long param, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE HasRetVal(long number, BOOL* has_value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CallAsProc(long number, SAFEARRAY** params) = 0;
    virtual HRESULT STDMETHODCALLTYPE CallAsFunc(long number, VARIANT* result,
                                                 SAFEARRAY** params) = 0;

  protected:
    ~ILanguageExtender() = default;
};

// Offered by the host; the add-in holds it and never calls it.
struct IStatusLine : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetStatusLine(BSTR text) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetStatusLine() = 0;

  protected:
    ~IStatusLine() = default;
};

// Offered by the host; the add-in holds it and never calls it.
struct IAsyncEvent : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetEventBufferDepth(long depth) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEventBufferDepth(long* depth) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR source, BSTR message, BSTR data) = 0;
    virtual HRESULT STDMETHODCALLTYPE CleanBuffer() = 0;

  protected:
    ~IAsyncEvent() = default;
};

// Offered by the host; the add-in holds it and never calls it, so only the slots that
// identify the host's frame windows are declared.
struct IExtWndsSupport : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAppMainFrame(HWND* window) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAppMDIFrame(HWND* window) = 0;

  protected:
    ~IExtWndsSupport() = default;
};

}  // namespace kv::host
