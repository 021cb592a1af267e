#include "host/com_value.h"

#include <new>

namespace kv::host {
namespace {

// The value itself, or what the reference points at.
template <typename T>
T Pick(bool by_ref, T direct, const T* referenced) {
    return by_ref ? *referenced : direct;
}

Variant ValueOf(const VARIANT& value, int depth) {
    const VARTYPE vt = V_VT(&value);
    const bool by_ref = (vt & VT_BYREF) != 0;
    const VARTYPE base = vt & VT_TYPEMASK;
    // An array holds no single value: it reads as a kind that no conversion accepts.
    if ((vt & VT_ARRAY) != 0) return Variant::Opaque(VarType::Variant);
    if (by_ref && V_BYREF(&value) == nullptr) return Variant::Null();
    switch (base) {
        case VT_EMPTY:
            return Variant();
        case VT_NULL:
            return Variant::Null();
        case VT_I1:
            return Variant::Signed(VarType::I1, Pick(by_ref, V_I1(&value), V_I1REF(&value)));
        case VT_I2:
            return Variant::Signed(VarType::I2, Pick(by_ref, V_I2(&value), V_I2REF(&value)));
        case VT_I4:
            return Variant::Signed(VarType::I4, Pick(by_ref, V_I4(&value), V_I4REF(&value)));
        case VT_I8:
            return Variant::Signed(VarType::I8, Pick(by_ref, V_I8(&value), V_I8REF(&value)));
        case VT_INT:
            return Variant::Signed(VarType::Int, Pick(by_ref, V_INT(&value), V_INTREF(&value)));
        case VT_UI1:
            return Variant::Unsigned(VarType::UI1, Pick(by_ref, V_UI1(&value), V_UI1REF(&value)));
        case VT_UI2:
            return Variant::Unsigned(VarType::UI2, Pick(by_ref, V_UI2(&value), V_UI2REF(&value)));
        case VT_UI4:
            return Variant::Unsigned(VarType::UI4, Pick(by_ref, V_UI4(&value), V_UI4REF(&value)));
        case VT_UI8:
            return Variant::Unsigned(VarType::UI8, Pick(by_ref, V_UI8(&value), V_UI8REF(&value)));
        case VT_UINT:
            return Variant::Unsigned(VarType::UInt,
                                     Pick(by_ref, V_UINT(&value), V_UINTREF(&value)));
        case VT_R4:
            return Variant::Real(VarType::R4, Pick(by_ref, V_R4(&value), V_R4REF(&value)));
        case VT_R8:
            return Variant::Real(VarType::R8, Pick(by_ref, V_R8(&value), V_R8REF(&value)));
        case VT_DATE:
            return Variant::Date(Pick(by_ref, V_DATE(&value), V_DATEREF(&value)));
        case VT_CY:
            return Variant::Currency(Pick(by_ref, V_CY(&value), V_CYREF(&value)).int64);
        case VT_BOOL:
            return Variant::Bool(Pick(by_ref, V_BOOL(&value), V_BOOLREF(&value)) != VARIANT_FALSE);
        case VT_BSTR:
            return Variant::Text(FromBstr(Pick(by_ref, V_BSTR(&value), V_BSTRREF(&value))));
        case VT_VARIANT:
            // Only a reference can hold a VARIANT, and it may not lead to a further one.
            if (!by_ref || depth > 0) return Variant::Null();
            return ValueOf(*V_VARIANTREF(&value), depth + 1);
        default:
            return Variant::Opaque(static_cast<VarType>(base));
    }
}

}  // namespace

std::u16string FromBstr(BSTR text) {
    if (text == nullptr) return {};
    return std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

BSTR NewBstr(std::u16string_view text) {
    BSTR result = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                    static_cast<UINT>(text.size()));
    if (result == nullptr) throw std::bad_alloc();
    return result;
}

Variant ValueOf(const VARIANT& value) { return ValueOf(value, 0); }

HostValue::HostValue(const VARIANT& value) {
    if ((V_VT(&value) & VT_BYREF) != 0 && (V_VT(&value) & VT_ARRAY) == 0) {
        target_ = ValueOf(value);
        value_ = Variant::Reference(target_);
    } else {
        value_ = ValueOf(value);
    }
}

void StoreValue(const Variant& value, VARIANT& out) {
    const Variant& v = value.Deref();
    VARIANT result;
    VariantInit(&result);
    switch (v.type()) {
        case VarType::Null:
            V_VT(&result) = VT_NULL;
            break;
        case VarType::I1:
            V_VT(&result) = VT_I1;
            V_I1(&result) = static_cast<CHAR>(v.int_value());
            break;
        case VarType::I2:
            V_VT(&result) = VT_I2;
            V_I2(&result) = static_cast<SHORT>(v.int_value());
            break;
        case VarType::I4:
            V_VT(&result) = VT_I4;
            V_I4(&result) = static_cast<LONG>(v.int_value());
            break;
        case VarType::I8:
            V_VT(&result) = VT_I8;
            V_I8(&result) = v.int_value();
            break;
        case VarType::Int:
            V_VT(&result) = VT_INT;
            V_INT(&result) = static_cast<INT>(v.int_value());
            break;
        case VarType::UI1:
            V_VT(&result) = VT_UI1;
            V_UI1(&result) = static_cast<BYTE>(v.uint_value());
            break;
        case VarType::UI2:
            V_VT(&result) = VT_UI2;
            V_UI2(&result) = static_cast<USHORT>(v.uint_value());
            break;
        case VarType::UI4:
            V_VT(&result) = VT_UI4;
            V_UI4(&result) = static_cast<ULONG>(v.uint_value());
            break;
        case VarType::UI8:
            V_VT(&result) = VT_UI8;
            V_UI8(&result) = v.uint_value();
            break;
        case VarType::UInt:
            V_VT(&result) = VT_UINT;
            V_UINT(&result) = static_cast<UINT>(v.uint_value());
            break;
        case VarType::R4:
            V_VT(&result) = VT_R4;
            V_R4(&result) = static_cast<FLOAT>(v.real_value());
            break;
        case VarType::R8:
            V_VT(&result) = VT_R8;
            V_R8(&result) = v.real_value();
            break;
        case VarType::Date:
            V_VT(&result) = VT_DATE;
            V_DATE(&result) = v.real_value();
            break;
        case VarType::Cy:
            V_VT(&result) = VT_CY;
            V_CY(&result).int64 = v.int_value();
            break;
        case VarType::Bool:
            V_VT(&result) = VT_BOOL;
            V_BOOL(&result) = v.int_value() != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VarType::Bstr:
            V_VT(&result) = VT_BSTR;
            V_BSTR(&result) = NewBstr(v.text());
            break;
        default:
            // Empty, and the kinds that carry nothing the host could use.
            break;
    }
    VariantClear(&out);
    out = result;
}

bool IsVariantVector(const SAFEARRAY* array) {
    return array != nullptr && array->cDims == 1 && (array->fFeatures & FADF_VARIANT) != 0 &&
           array->cbElements == sizeof(VARIANT);
}

SafeArrayParams::SafeArrayParams(SAFEARRAY** params) {
    if (params != nullptr && IsVariantVector(*params)) array_ = *params;
}

bool SafeArrayParams::Get(int32_t n, Variant& out) const {
    if (array_ == nullptr) return false;
    ScopedVariant element;
    LONG index = n;
    if (FAILED(SafeArrayGetElement(array_, &index, &element.get()))) return false;
    out = ValueOf(element.get());
    return true;
}

}  // namespace kv::host
