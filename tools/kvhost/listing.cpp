#include "tools/kvhost/listing.h"

#include <cwchar>

#include "common/datetime.h"
#include "tools/kvhost/console.h"

namespace kvhost {
namespace {

std::wstring Number(double value) {
    wchar_t text[40];
    std::swprintf(text, 40, L"%.15g", value);
    return text;
}

}  // namespace

std::wstring Describe(const kv::Variant& value) {
    using kv::VarType;
    switch (value.type()) {
        case VarType::Empty:
            return L"VT_EMPTY";
        case VarType::Null:
            return L"VT_NULL";
        case VarType::I4:
            return L"VT_I4 " + std::to_wstring(value.int_value());
        case VarType::R8:
            return L"VT_R8 " + Number(value.real_value());
        case VarType::Bool:
            return std::wstring(L"VT_BOOL ") + (value.int_value() != 0 ? L"true" : L"false");
        case VarType::Bstr:
            return L"VT_BSTR " + Quoted(std::wstring(value.text().begin(), value.text().end()));
        case VarType::Date: {
            const kv::LocalDateTime t = kv::FromOleDate(value.real_value());
            wchar_t text[64];
            std::swprintf(text, 64, L" (%04d-%02d-%02d %02d:%02d:%02d)", t.year, t.month, t.day,
                          t.hour, t.minute, t.second);
            return L"VT_DATE " + Number(value.real_value()) + text;
        }
        default: {
            std::wstring shown = L"VT " + std::to_wstring(static_cast<int>(value.type()));
            if (kv::IsSigned(value.type())) shown += L" " + std::to_wstring(value.int_value());
            if (kv::IsUnsigned(value.type())) shown += L" " + std::to_wstring(value.uint_value());
            if (value.type() == VarType::R4) shown += L" " + Number(value.real_value());
            return shown;
        }
    }
}

kv::Variant ToVariant(const Value& value) {
    using Kind = Value::Kind;
    switch (value.kind) {
        case Kind::Empty:
            break;
        case Kind::Null:
            return kv::Variant::Null();
        case Kind::Integer:
            return kv::Variant::Int32(value.integer);
        case Kind::Real:
            return kv::Variant::Double(value.real);
        case Kind::Bool:
            return kv::Variant::Bool(value.boolean);
        case Kind::Text: {
            const std::wstring text = Wide(value.text);
            return kv::Variant::Text(std::u16string(text.begin(), text.end()));
        }
        case Kind::Date: {
            kv::LocalDateTime when;
            when.year = value.year;
            when.month = value.month;
            when.day = value.day;
            when.hour = value.hour;
            when.minute = value.minute;
            when.second = value.second;
            return kv::Variant::Date(kv::ToOleDate(when));
        }
    }
    return kv::Variant();
}

}  // namespace kvhost
