#pragma once
// Which shell of the add-in the Windows tests drive: the Native API add-in whose DLL the
// environment variable KV_NATIVE_ADDIN names (a Windows path), through the MSVC-ABI host
// kvnative.dll beside the test program; without it, the COM add-in registered as
// AddIn.KelvarinVK. Child processes inherit the choice. A test group that is not about COM runs
// against either shell by that one setting.
#include <memory>
#include <string>
#include <vector>

#include "tools/kvhost/addin.h"
#include "tools/kvhost/native_addin.h"

namespace kvtest {

kvhost::Shell TestedShell();
// The Native API add-in's DLL; empty for the COM shell.
const std::string& NativeAddInPath();

// One add-in instance of the tested shell, started as its platform starts one (a failure is
// recorded when it cannot be). `native` changes the Native API platform's side; null: the
// defaults, with every service offered.
std::unique_ptr<kvhost::AddIn> StartAddIn(const kvhost::NativeAddIn::Options* native = nullptr);

// Finishes it as the platform does; records a failure when that shows a fault (memory the
// Native API add-in did not give back).
void FinishAddIn(kvhost::AddIn& addin);

// kvhost's arguments that name the add-in under test: none for COM (its ProgID is kvhost's
// default), "--native DLL" for the Native API.
std::vector<std::string> KvhostAddInArguments();

}  // namespace kvtest
