#pragma once
// The backend of the system the code is built for: platform/posix/ or platform/win32/ define
// each of these in the file of the same name (codec.cpp, regional.cpp, ...). Each returns one
// instance that lives as long as the process.
#include "platform/platform.h"

namespace kv::backend {

TextCodec& Codec();
RegionalSource& Regional();
Clock& SystemClock();
NoticeBox& Notices();
FileSystem& Files();
DesktopChannel& Channel();
ProcessSystem& Processes();
LibraryLoader& Libraries();
DialogToolkit& Dialogs();
TraceFiles& Traces();

}  // namespace kv::backend
