#pragma once
// The server state of the library: its one class record, the class object that creates
// AddInObject instances, and the counters that tell the platform when it may unload us.
#include <unknwn.h>
#include <windows.h>

#include <string>

namespace kv::host {

// The one class the library serves.
struct ClassRecord {
    const CLSID& clsid;
    const wchar_t* server_name;
    const wchar_t* class_name;
    const wchar_t* prog_id;  // server name, a full stop, class name
    const wchar_t* description;
};
const ClassRecord& KelvarinClass();

// Server-wide counters, changed only by interlocked operations.
struct ServerCounters {
    volatile LONG ObjectCount = 0;   // live AddInObjects plus LockServer(TRUE) calls
    volatile LONG FactoryCount = 0;  // references to the class object
};
ServerCounters& Counters();

// The class object: lives as long as the library, so AddRef and Release only count.
class ClassFactory final : public IClassFactory {
  public:
    STDMETHOD(QueryInterface)(REFIID iid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHOD(LockServer)(BOOL lock) override;
    virtual ~ClassFactory() = default;
};
ClassFactory& Factory();

// The text of the "DAX Error" box: the message with a full stop appended when its last
// character comes after the full stop in character order.
std::string DaxErrorText(std::string ansi_message);

}  // namespace kv::host
