#include "component/vk_object.h"

#include "common/error.h"
#include "common/text.h"
#include "component/catalogue.h"
#include "component/date_pattern.h"
#include "component/method_bodies.h"

namespace kv {

T_vk_object::T_vk_object(Platform& platform, const MethodBodies& methods)
    : ResultValue(Variant::Text(u"")),
      BaseName("C:\\Kelvarin\\kelvarin.fdb"),
      UserName("SYSDBA"),
      UserPass("plovimark"),
      DLLName("gds32.dll"),
      FileWithZakaz("c:\\Kelvarin\\Autozakaz.txt"),
      DirToZakaz("C:\\Kelvarin\\Zakaz"),
      platform_(platform),
      methods_(methods) {}

void T_vk_object::PropertyHandler(int number, HandlerAction action, std::string& name) {
    const PropertyEntry& p = PropertyAt(number);
    switch (action) {
        case ActRussianName:
            name = PropertyRussianName(number);
            break;
        case ActEnglishName:
            name = p.english;
            break;
        case ActGetValue:
            switch (p.kind) {
                case FieldKind::Text:
                    SetResultText(this->*p.text);
                    break;
                case FieldKind::Double:
                    ResultValue = Variant::Double(this->*p.real);
                    break;
                case FieldKind::Date:
                    ResultValue = Variant::Date(this->*p.real);
                    break;
                case FieldKind::Integer:
                    ResultValue = Variant::Int32(this->*p.integer);
                    break;
                case FieldKind::None:
                    ResultValue = Variant::Text(u"");
                    break;
            }
            break;
        case ActSetValue:
            // Convert first: a failed conversion leaves the field as it was.
            switch (p.kind) {
                case FieldKind::Text:
                    this->*p.text = VariantToText(ResultValue, formats());
                    break;
                case FieldKind::Double:
                case FieldKind::Date:
                    this->*p.real = VariantToDouble(ResultValue, formats());
                    break;
                case FieldKind::Integer:
                    this->*p.integer = VariantToInt32(ResultValue, formats());
                    break;
                case FieldKind::None:
                    break;
            }
            break;
        default:
            break;
    }
}

void T_vk_object::MethodHandler(int number, HandlerAction action, std::string& name) {
    const MethodEntry& m = MethodAt(number);
    switch (action) {
        case ActRussianName:
            name = MethodRussianName(number);
            break;
        case ActEnglishName:
            name = m.english;
            break;
        case ActParamCount:
            ParamCount = m.param_count;
            break;
        case ActExecute:
            if (MethodBody body = methods_.at(static_cast<size_t>(number)); body != nullptr) {
                body(*this);
            }
            break;
        default:
            break;
    }
}

namespace {
// "Parameter number N cannot be converted to a string / an integer."
[[noreturn]] void ParameterError(int n, const char* tail_utf8) {
    throw Error(Cp1251FromUtf8("Параметр номер ") + std::to_string(n + 1) +
                Cp1251FromUtf8(tail_utf8));
}
}  // namespace

std::string T_vk_object::GetStringParam(int n) {
    Variant value;
    if (Params != nullptr) Params->Get(n, value);
    try {
        return VariantToText(value, formats());
    } catch (const Error&) {
        ParameterError(n, " не может быть преобразован в строку.");
    }
}

int32_t T_vk_object::GetIntegerParam(int n) {
    Variant value;
    if (Params != nullptr) Params->Get(n, value);
    try {
        return VariantToInt32(value, formats());
    } catch (const Error&) {
        ParameterError(n, " не может быть преобразован в целое число.");
    }
}

std::string T_vk_object::FormatDate(std::string_view pattern, const LocalDateTime& when) const {
    return FormatDatePattern(pattern, when, regional());
}

void T_vk_object::SetResultText(std::string_view ansi) {
    ResultValue = Variant::Text(platform_.codec.ToUtf16(ansi));
}

std::string T_vk_object::Formats::DateText(double date) const {
    return vk_.FormatDate("c", FromOleDate(date));
}

// The price-list and refusal updates are not offered by this version: a notice says so.
void ExecLoadPrices(T_vk_object& vk) {
    vk.platform().notices.Show(Cp1251FromUtf8("Функция временно недоступна"), false);
}

void ExecLoadOtkazes(T_vk_object& vk) { ExecLoadPrices(vk); }

}  // namespace kv
