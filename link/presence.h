#pragma once
// Whether the desktop ordering application runs: the running processes whose executable file
// name contains "kelvarin.exe", whatever its case.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kv {

// The file-name part of a path: the text after the last '\' or ':', or the whole text.
std::string_view FileNamePart(std::string_view path);

// True when the lower-cased file-name part of `exe_name` contains "kelvarin.exe".
bool NamesKelvarin(const ProcessEntryPoints& os, std::string_view exe_name);

// The number of running processes whose executable name matches.
int32_t CountKelvarinProcesses(ProcessSystem& system);

class T_vk_object;
// CheckKelvarin, for the add-in's catalogue.
void ExecCheckKelvarin(T_vk_object& vk);

}  // namespace kv
