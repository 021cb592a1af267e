#include "shell.h"

#include <windows.h>

#include <cstdlib>

#include "check.h"
#include "tools/kvhost/com_addin.h"

namespace kvtest {

const std::string& NativeAddInPath() {
    static const std::string path = [] {
        const char* value = std::getenv("KV_NATIVE_ADDIN");
        return std::string(value != nullptr ? value : "");
    }();
    return path;
}

kvhost::Shell TestedShell() {
    return NativeAddInPath().empty() ? kvhost::Shell::Com : kvhost::Shell::Native;
}

std::unique_ptr<kvhost::AddIn> StartAddIn(const kvhost::NativeAddIn::Options* native) {
    std::unique_ptr<kvhost::AddIn> addin;
    if (TestedShell() == kvhost::Shell::Com) {
        auto com = std::make_unique<kvhost::ComAddIn>(L"AddIn.KelvarinVK");
        if (FAILED(com->created().result)) {
            Fail(__FILE__, __LINE__,
                 "AddIn.KelvarinVK was not created: " + ShowHresult(com->created().result));
            return nullptr;
        }
        addin = std::move(com);
    } else {
        auto created = std::make_unique<kvhost::NativeAddIn>(
            Utf16(NativeAddInPath()), native ? *native : kvhost::NativeAddIn::DefaultOptions());
        if (!created->created()) {
            Fail(__FILE__, __LINE__, "the Native API add-in: " + Utf8(created->problem()));
            return nullptr;
        }
        addin = std::move(created);
    }
    std::vector<std::wstring> steps;
    if (!addin->Start(steps)) {
        std::string said;
        for (const std::wstring& step : steps) said += " " + Utf8(step) + ";";
        Fail(__FILE__, __LINE__, "the add-in did not start:" + said);
        return nullptr;
    }
    return addin;
}

void FinishAddIn(kvhost::AddIn& addin) {
    std::wstring said;
    if (!addin.Finish(said)) Fail(__FILE__, __LINE__, "finishing the add-in: " + Utf8(said));
}

std::vector<std::string> KvhostAddInArguments() {
    if (TestedShell() == kvhost::Shell::Com) return {};
    return {"--native", NativeAddInPath()};
}

}  // namespace kvtest
