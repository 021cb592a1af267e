#pragma once
// NativeAddIn: the object through which 1C:Enterprise 8 drives one add-in instance over the
// Native API. It owns the component (through kv::Protocol), keeps the platform's connection and
// memory manager, and turns every call into a call of the portable protocol. Every entry point
// catches everything: an error goes to the platform through AddError and the call answers
// false, so that the 1C script can catch it.
#include <cstdint>

#include "component/protocol.h"
#include "native/native_api.h"
#include "native/native_value.h"
#include "platform/platform.h"

namespace kv::native {

// The one class GetClassNames lists, and the extension name its objects register: the same
// string, so that the script type is AddIn.<name given at attachment>.KelvarinVK.
inline constexpr WideChar kExtensionName[] = u"KelvarinVK";

// SetPlatformCapabilities, for the whole library: remembers what the platform offers and
// answers what the add-in uses. From eAppCapabilities1 on, the connection that Init receives is
// an IAddInDefBaseEx, whose message box the notices use.
int32_t AcceptCapabilities(int32_t offered);

class NativeAddIn final : public IComponentBase {
  public:
    // `system` and `methods` are borrowed and outlive the object.
    NativeAddIn(Platform& system, const MethodBodies& methods);
    ~NativeAddIn() = default;
    NativeAddIn(const NativeAddIn&) = delete;
    NativeAddIn& operator=(const NativeAddIn&) = delete;

    // Slot 0 of every base: 1C destroys objects through DestroyObject, so a call here does
    // nothing but keep the caller's stack as the destructor's convention leaves it.
    void* KV_DESTRUCTOR_CALL DestructorSlot(unsigned flags) override;

    // IInitDoneBase
    bool KV_NATIVE_CALL Init(void* connection) override;
    bool KV_NATIVE_CALL setMemManager(void* manager) override;
    int32_t KV_NATIVE_CALL GetInfo() override;
    void KV_NATIVE_CALL Done() override;

    // ILanguageExtenderBase
#ifdef KV_NATIVE_SHIFTED
    bool KV_NATIVE_CALL ShiftedSlot(WideChar** name) override;
#endif
    bool KV_NATIVE_CALL RegisterExtensionAs(WideChar** name) override;
    int32_t KV_NATIVE_CALL GetNProps() override;
    int32_t KV_NATIVE_CALL FindProp(const WideChar* name) override;
    const WideChar* KV_NATIVE_CALL GetPropName(int32_t number, int32_t alias) override;
    bool KV_NATIVE_CALL GetPropVal(int32_t number, tVariant* value) override;
    bool KV_NATIVE_CALL SetPropVal(int32_t number, tVariant* value) override;
    bool KV_NATIVE_CALL IsPropReadable(int32_t number) override;
    bool KV_NATIVE_CALL IsPropWritable(int32_t number) override;
    int32_t KV_NATIVE_CALL GetNMethods() override;
    int32_t KV_NATIVE_CALL FindMethod(const WideChar* name) override;
    const WideChar* KV_NATIVE_CALL GetMethodName(int32_t number, int32_t alias) override;
    int32_t KV_NATIVE_CALL GetNParams(int32_t number) override;
    bool KV_NATIVE_CALL GetParamDefValue(int32_t method, int32_t param, tVariant* value) override;
    bool KV_NATIVE_CALL HasRetVal(int32_t number) override;
    bool KV_NATIVE_CALL CallAsProc(int32_t number, tVariant* params, int32_t count) override;
    bool KV_NATIVE_CALL CallAsFunc(int32_t number, tVariant* result, tVariant* params,
                                   int32_t count) override;

    // LocaleBase, UserLanguageBase: the component follows the system's regional settings.
    void KV_NATIVE_CALL SetLocale(const WideChar* locale) override;
    void KV_NATIVE_CALL SetUserInterfaceLanguageCode(const WideChar* code) override;

  private:
    // The platform's connection as Init handed it over: where errors go, and what may offer
    // the platform's message box.
    class Connection final : public ErrorSink {
      public:
        void Attach(IAddInDefBase* connection) { connection_ = connection; }
        void Write(const ErrorRecord& record) override;
        // Null when the platform offers none.
        IMsgBox* MessageBox() const;

      private:
        IAddInDefBase* connection_ = nullptr;
    };

    // The notices of LoadPrices and LoadOtkazes: the platform's message box when it offers
    // one, else the system's.
    class Notices final : public NoticeBox {
      public:
        Notices(const Connection& connection, Platform& system)
            : connection_(connection), system_(system) {}
        void Show(std::string_view ansi_text, bool error) override;

      private:
        const Connection& connection_;
        Platform& system_;
    };

    // Runs `body` (which answers whether the call succeeded) so that nothing escapes: an error
    // it raises, or one the protocol reported while it ran, makes the call answer false.
    template <typename Body>
    bool Guarded(ErrorOrigin origin, Body&& body) noexcept;
    // A member's name in the platform's memory: alias 0 English, 1 Russian; null for anything
    // else.
    const WideChar* NameOf(bool method, int32_t number, int32_t alias) noexcept;
    int32_t Find(bool method, const WideChar* name) noexcept;

    HostMemory memory_;
    Connection connection_;
    Notices notices_;
    Platform platform_;
    Protocol protocol_;
};

}  // namespace kv::native
