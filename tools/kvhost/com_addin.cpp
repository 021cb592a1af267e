#include "tools/kvhost/com_addin.h"

#include <oleauto.h>

#include "host/com_value.h"
#include "tools/kvhost/console.h"
#include "tools/kvhost/listing.h"

namespace kvhost {
namespace {

Answer AnswerOf(HRESULT result) { return {result == S_OK, FAILED(result), Hresult(result)}; }

}  // namespace

ComAddIn::ComAddIn(const std::wstring& prog_id, ErrorListener listener)
    : AddIn(Shell::Com), created_(CreateAddIn(prog_id)), connection_(std::move(listener)) {
    if (SUCCEEDED(created_.result)) {
        created_.object->QueryInterface(kv::host::IID_ILanguageExtender,
                                        reinterpret_cast<void**>(&lang_));
    }
}

ComAddIn::~ComAddIn() {
    if (lang_ != nullptr) lang_->Release();
    if (started_ && !done_) created_.object->Done();
    Release(created_);
    CoFreeUnusedLibraries();
}

bool ComAddIn::Start(std::vector<std::wstring>& steps) {
    if (FAILED(created_.result)) return false;
    started_ = true;
    init_result_ = created_.object->Init(&connection_);
    steps.push_back(L"Init -> " + Hresult(init_result_));
    SAFEARRAY* info = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    const HRESULT result = created_.object->GetInfo(&info);
    kv::host::ScopedVariant version;
    LONG first = 0;
    SafeArrayGetElement(info, &first, &version.get());
    steps.push_back(L"GetInfo -> " + Hresult(result) + L", version " +
                    Describe(kv::host::ValueOf(version.get())));
    SafeArrayDestroy(info);
    if (lang_ == nullptr) steps.push_back(L"the object offers no ILanguageExtender");
    return lang_ != nullptr;
}

bool ComAddIn::Finish(std::wstring& said) {
    const HRESULT result = started_ ? created_.object->Done() : E_UNEXPECTED;
    done_ = true;
    said = L"Done -> " + Hresult(result) + L"; " + std::to_wstring(connection_.log.entries) +
           L" error log entries";
    return true;
}

std::wstring ComAddIn::Extension() {
    BSTR extension = nullptr;
    lang_->RegisterExtensionAs(&extension);
    std::wstring name(extension ? extension : L"", extension ? SysStringLen(extension) : 0);
    SysFreeString(extension);
    return name;
}

long ComAddIn::PropertyCount() {
    long count = 0;
    lang_->GetNProps(&count);
    return count;
}

long ComAddIn::MethodCount() {
    long count = 0;
    lang_->GetNMethods(&count);
    return count;
}

long ComAddIn::Find(bool method, const std::wstring& name, Answer* answer) {
    kv::host::ScopedBstr bstr(std::u16string(name.begin(), name.end()));
    long number = -1;
    const HRESULT found =
        method ? lang_->FindMethod(bstr.get(), &number) : lang_->FindProp(bstr.get(), &number);
    if (answer != nullptr) *answer = AnswerOf(found);
    return found == S_OK ? number : -1;
}

long ComAddIn::ParamCount(long method) {
    long count = 0;
    lang_->GetNParams(method, &count);
    return count;
}

Answer ComAddIn::ReadProperty(long number, kv::Variant& value) {
    kv::host::ScopedVariant read;
    const HRESULT result = lang_->GetPropVal(number, &read.get());
    value = kv::host::ValueOf(read.get());
    return AnswerOf(result);
}

Answer ComAddIn::WriteProperty(long number, const kv::Variant& value) {
    kv::host::ScopedVariant written;
    kv::host::StoreValue(value, written.get());
    return AnswerOf(lang_->SetPropVal(number, &written.get()));
}

Answer ComAddIn::Call(long method, const std::vector<kv::Variant>& params, kv::Variant& result) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(params.size()));
    for (LONG i = 0; i < static_cast<LONG>(params.size()); ++i) {
        kv::host::ScopedVariant value;
        kv::host::StoreValue(params[static_cast<size_t>(i)], value.get());
        SafeArrayPutElement(array, &i, &value.get());
    }
    kv::host::ScopedVariant returned;
    const HRESULT answer = lang_->CallAsFunc(method, &returned.get(), &array);
    result = kv::host::ValueOf(returned.get());
    SafeArrayDestroy(array);
    return AnswerOf(answer);
}

std::vector<HostError> ComAddIn::TakeErrors() {
    std::vector<HostError> errors;
    errors.swap(connection_.log.errors);
    return errors;
}

}  // namespace kvhost
