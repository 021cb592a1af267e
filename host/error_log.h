#pragma once
// The host's error log as the core's error sink: each record becomes one IErrorLog::AddError
// call, with strings that stay ours.
#include <oaidl.h>
#include <windows.h>

#include "component/protocol.h"
#include "host/addin_lib.h"

namespace kv::host {

class HostErrorLog final : public ErrorSink {
  public:
    // `log` is the host's interface as its holder keeps it; null when the host refused one.
    explicit HostErrorLog(IErrorLog* const& log) : log_(log) {}

    void Write(const ErrorRecord& record) override;

  private:
    IErrorLog* const& log_;
};

}  // namespace kv::host
