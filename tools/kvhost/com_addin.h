#pragma once
// The COM add-in as kvhost drives it: created by its ProgID the way 1C:Enterprise 7.7 creates
// it (addin_host.h), initialised with kvhost's connection object, its calls made through
// ILanguageExtender with VARIANTs and SAFEARRAYs.
#include <objbase.h>

#include <string>
#include <vector>

#include "host/addin_lib.h"
#include "tools/kvhost/addin.h"
#include "tools/kvhost/addin_host.h"

namespace kvhost {

class ComAddIn final : public AddIn {
  public:
    explicit ComAddIn(const std::wstring& prog_id, ErrorListener listener = {});
    ~ComAddIn() override;
    ComAddIn(const ComAddIn&) = delete;
    ComAddIn& operator=(const ComAddIn&) = delete;

    // How the object was created; its Init's answer once started.
    const CreatedAddIn& created() const { return created_; }
    HRESULT init_result() const { return init_result_; }
    kv::host::ILanguageExtender* lang() const { return lang_; }

    bool Start(std::vector<std::wstring>& steps) override;
    bool Finish(std::wstring& said) override;
    std::wstring Extension() override;
    long PropertyCount() override;
    long MethodCount() override;
    long Find(bool method, const std::wstring& name, Answer* answer) override;
    long ParamCount(long method) override;
    Answer ReadProperty(long number, kv::Variant& value) override;
    Answer WriteProperty(long number, const kv::Variant& value) override;
    Answer Call(long method, const std::vector<kv::Variant>& params, kv::Variant& result) override;
    std::vector<HostError> TakeErrors() override;

  private:
    CreatedAddIn created_;
    HostConnection connection_;
    HRESULT init_result_ = E_FAIL;
    kv::host::ILanguageExtender* lang_ = nullptr;
    bool started_ = false;
    bool done_ = false;
};

}  // namespace kvhost
