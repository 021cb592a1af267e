#include "native/native_value.h"

#include <cstring>
#include <limits>
#include <string>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"

namespace kv::native {
namespace {

// A TM as a day count, or false when it names no real date and time of the years 1..9999.
bool DayCountOf(const TmValue& tm, double& date) {
    const int64_t year = int64_t{tm.tm_year} + 1900;
    if (year < 1 || year > 9999 || tm.tm_mon < 0 || tm.tm_mon > 11) return false;
    if (tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 ||
        tm.tm_sec > 59) {
        return false;
    }
    LocalDateTime when;
    when.year = static_cast<int>(year);
    when.month = tm.tm_mon + 1;
    when.day = tm.tm_mday;
    when.hour = tm.tm_hour;
    when.minute = tm.tm_min;
    when.second = tm.tm_sec;
    when.millisecond = 0;
    if (!IsValidDate(when.year, when.month, when.day)) return false;
    date = ToOleDate(when);
    return true;
}

// A day count as a TM, to the second (1C dates have no milliseconds), from the year 1 on.
TmValue TmOf(double date) {
    const LocalDateTime when = FromOleDate(date, 1);
    TmValue tm{};
    tm.tm_year = when.year - 1900;
    tm.tm_mon = when.month - 1;
    tm.tm_mday = when.day;
    tm.tm_hour = when.hour;
    tm.tm_min = when.minute;
    tm.tm_sec = when.second;
    tm.tm_wday = DayOfWeek(when);
    tm.tm_yday = static_cast<int32_t>(ToOleDate({when.year, when.month, when.day}) -
                                      ToOleDate({when.year, 1, 1}));
    tm.tm_isdst = -1;  // not known
    return tm;
}

}  // namespace

WideChar* HostMemory::NewText(std::u16string_view text) {
    if (manager_ == nullptr) {
        throw Error(Cp1251FromUtf8(
            "Компонента не может вернуть строку: платформа не передала ей менеджер памяти "
            "(setMemManager)"));
    }
    if (text.size() >= std::numeric_limits<uint32_t>::max() / sizeof(WideChar)) {
        throw Error(Cp1251FromUtf8("Строка слишком длинна для платформы"));
    }
    const uint32_t bytes = static_cast<uint32_t>((text.size() + 1) * sizeof(WideChar));
    void* block = nullptr;
    if (!manager_->AllocMemory(&block, bytes) || block == nullptr) {
        throw Error(Cp1251FromUtf8("Платформа не выделила память для строки (байт: ") +
                    std::to_string(bytes) + ")");
    }
    auto* copy = static_cast<WideChar*>(block);
    if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(WideChar));
    copy[text.size()] = 0;
    return copy;
}

Variant ValueOf(const tVariant& value) {
    if ((value.vt & ~kVariantTypeMask) != 0) return Variant::Opaque(VarType::Variant);
    switch (value.vt) {
        case VTYPE_EMPTY:
            return Variant();
        case VTYPE_NULL:
            return Variant::Null();
        case VTYPE_I1:
            return Variant::Signed(VarType::I1, value.i8Val);
        case VTYPE_I2:
            return Variant::Signed(VarType::I2, value.shortVal);
        case VTYPE_I4:
            return Variant::Signed(VarType::I4, value.lVal);
        case VTYPE_INT:
            return Variant::Signed(VarType::Int, value.intVal);
        case VTYPE_I8:
            return Variant::Signed(VarType::I8, value.llVal);
        case VTYPE_UI1:
            return Variant::Unsigned(VarType::UI1, value.ui8Val);
        case VTYPE_UI2:
            return Variant::Unsigned(VarType::UI2, value.ushortVal);
        case VTYPE_UI4:
            return Variant::Unsigned(VarType::UI4, value.ulVal);
        case VTYPE_UINT:
            return Variant::Unsigned(VarType::UInt, value.uintVal);
        case VTYPE_UI8:
            return Variant::Unsigned(VarType::UI8, value.ullVal);
        case VTYPE_R4:
            return Variant::Real(VarType::R4, value.fltVal);
        case VTYPE_R8:
            return Variant::Double(value.dblVal);
        case VTYPE_DATE:
            return Variant::Date(value.date);
        case VTYPE_TM: {
            double date = 0;
            if (!DayCountOf(value.tmVal, date)) return Variant::Opaque(VarType::Error);
            return Variant::Date(date);
        }
        case VTYPE_BOOL:
            return Variant::Bool(value.bVal);
        case VTYPE_PWSTR:
            if (value.wstr.data == nullptr) return Variant::Text(u"");
            return Variant::Text(std::u16string(value.wstr.data, value.wstr.length));
        case VTYPE_ERROR:
        case VTYPE_HRESULT:
            return Variant::Opaque(VarType::Error);
        case VTYPE_INTERFACE:
            return Variant::Opaque(VarType::Unknown);
        default:
            // Narrow strings, blobs, identifiers: nothing the component takes.
            return Variant::Opaque(VarType::Variant);
    }
}

void StoreValue(const Variant& value, tVariant& out, HostMemory& memory) {
    const Variant& v = value.Deref();
    tVariant result{};
    const VarType type = v.type();
    if (IsSigned(type) || IsUnsigned(type)) {
        const bool fits = IsSigned(type) ? v.int_value() >= std::numeric_limits<int32_t>::min() &&
                                               v.int_value() <= std::numeric_limits<int32_t>::max()
                                         : v.uint_value() <= std::numeric_limits<int32_t>::max();
        const double number = IsSigned(type) ? static_cast<double>(v.int_value())
                                             : static_cast<double>(v.uint_value());
        if (fits) {
            result.vt = VTYPE_I4;
            result.lVal = static_cast<int32_t>(number);
        } else {
            result.vt = VTYPE_R8;
            result.dblVal = number;
        }
    } else if (type == VarType::R4 || type == VarType::R8) {
        result.vt = VTYPE_R8;
        result.dblVal = v.real_value();
    } else if (type == VarType::Date) {
        result.vt = VTYPE_TM;
        result.tmVal = TmOf(v.real_value());
    } else if (type == VarType::Bool) {
        result.vt = VTYPE_BOOL;
        result.bVal = v.int_value() != 0;
    } else if (type == VarType::Bstr) {
        result.vt = VTYPE_PWSTR;
        result.wstr.data = memory.NewText(v.text());
        result.wstr.length = static_cast<uint32_t>(v.text().size());
    } else if (type == VarType::Null) {
        result.vt = VTYPE_NULL;
    }
    // Empty, and the kinds that carry nothing the platform could use, stay EMPTY.
    out = result;
}

bool VariantParams::Get(int32_t n, Variant& out) const {
    if (params_ == nullptr || n < 0 || n >= count_) return false;
    out = ValueOf(params_[n]);
    return true;
}

}  // namespace kv::native
