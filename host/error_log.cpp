#include "host/error_log.h"

#include "host/com_value.h"

namespace kv::host {

void HostErrorLog::Write(const ErrorRecord& record) {
    if (log_ == nullptr) return;
    ScopedBstr source(record.source);
    ScopedBstr description(record.description);
    EXCEPINFO info{};
    info.wCode = record.wCode;
    info.bstrSource = source.get();
    info.bstrDescription = description.get();
    info.scode = record.scode;
    // The record is the host's to read, not to keep: the strings stay ours.
    log_->AddError(nullptr, &info);
}

}  // namespace kv::host
