#pragma once
// One add-in instance as a host drives it, through either of its shells: the COM add-in of
// 1C:Enterprise 7.7, created by its ProgID (com_addin.h), or the Native API add-in of
// 1C:Enterprise 8, loaded from its DLL through the MSVC-ABI proxy kvnative.dll
// (native_addin.h). kvhost's script runner and --check, and the Windows tests, use this, so
// one script or one test group runs against both shells. Values are the core's portable ones;
// each shell converts them to what its platform passes (VARIANT, or tVariant with dates as
// struct tm) and back.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/variant.h"

namespace kvhost {

enum class Shell { Com, Native };

// How the add-in answered one call: whether it took the call, whether the call could not be
// made at all (a COM error code; parameters the Native API host had no memory for), and the
// answer as the shell gives it ("S_OK" or "S_FALSE" for COM, "true" or "false" for the Native
// API). A refusal the add-in explains in the error log is an answer, not a failure.
struct Answer {
    bool accepted = false;
    bool failed = false;
    std::wstring said;
};

// One error the add-in reported to the host: the COM error log's EXCEPINFO, or AddError.
struct HostError {
    uint16_t code = 0;
    std::wstring source;
    std::wstring description;
    int32_t scode = 0;
};

// Called as each error arrives, on the thread of the call that reported it.
using ErrorListener = std::function<void(const HostError&)>;

class AddIn {
  public:
    virtual ~AddIn() = default;

    Shell shell() const { return shell_; }

    // Initialises the object as its platform does; what each step answered goes to `steps`,
    // one line each as kvhost prints them. False when the object cannot take calls.
    virtual bool Start(std::vector<std::wstring>& steps) = 0;
    // Finishes it as the platform does (Done, and the object's release); the line says how.
    // False when finishing showed a fault (the Native API's memory not given back).
    virtual bool Finish(std::wstring& said) = 0;

    virtual std::wstring Extension() = 0;
    virtual long PropertyCount() = 0;
    virtual long MethodCount() = 0;

    // A member's number by name, -1 when there is none; `answer` receives the lookup's answer.
    virtual long Find(bool method, const std::wstring& name, Answer* answer = nullptr) = 0;
    virtual long ParamCount(long method) = 0;
    virtual Answer ReadProperty(long number, kv::Variant& value) = 0;
    virtual Answer WriteProperty(long number, const kv::Variant& value) = 0;
    virtual Answer Call(long method, const std::vector<kv::Variant>& params,
                        kv::Variant& result) = 0;

    // The errors reported since the last time they were taken.
    virtual std::vector<HostError> TakeErrors() = 0;

  protected:
    explicit AddIn(Shell shell) : shell_(shell) {}

  private:
    Shell shell_;
};

}  // namespace kvhost
