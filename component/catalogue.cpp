#include "component/catalogue.h"

#include <array>

#include "common/text.h"

namespace kv {
namespace {

using V = T_vk_object;

PropertyEntry Text(const char* ru, const char* en, std::string V::*field) {
    return {ru, en, FieldKind::Text, field};
}
PropertyEntry Real(const char* ru, const char* en, FieldKind kind, double V::*field) {
    return {ru, en, kind, nullptr, field};
}
PropertyEntry Integer(const char* ru, const char* en, int32_t V::*field) {
    return {ru, en, FieldKind::Integer, nullptr, nullptr, field};
}

const std::array<PropertyEntry, kPropertyCount> kProperties = {
    Text("ТорговоеНаименование", "TradeName", &V::TradeName),
    Text("НаименованиеПроизводителя", "Producer", &V::Producer),
    Text("Поставщик", "DistribName", &V::DistribName),
    Text("МННТовара", "IntlName", &V::IntlName),
    Real("НайденнаяЦена", "Pprice", FieldKind::Double, &V::Pprice),
    Real("СрокГодности", "UseByDate", FieldKind::Date, &V::UseByDate),
    Integer("ПозицияВПрайсе", "PriceID", &V::PriceID),
    Integer("ЗаказываемоеКоличество", "Amount", &V::Amount),
    Integer("Таймаут", "Timeout", &V::Timeout),
    PropertyEntry{"ИмяОкна1С", "NameWindow1C", FieldKind::None},
    Text("ТорговаяТочка", "PointName", &V::PointName),
    Text("ПутьКБазе", "BaseName", &V::BaseName),
    Text("ИмяПользователя", "UserName", &V::UserName),
    Text("ПарольПользователя", "UserPass", &V::UserPass),
    Text("РольПользователя", "UserRole", &V::UserRole),
    Text("ИмяБиблиотеки", "DLLName", &V::DLLName),
    Text("ФайлСЗаказом", "ZakazFileName", &V::ZakazFileName),
    Text("КодПункта", "PointCode", &V::PointCode),
    Text("КаталогДляЗаказов", "DirToZakaz", &V::DirToZakaz),
    Text("КодПоставщика", "DistribCode", &V::DistribCode),
    Text("ИмяФайлаСЗаявкой", "FileWithZakaz", &V::FileWithZakaz),
};

template <typename Entry, size_t N>
std::array<std::string, N> RussianNames(const std::array<Entry, N>& table) {
    std::array<std::string, N> names;
    for (size_t i = 0; i < N; ++i) names[i] = Cp1251FromUtf8(table[i].russian);
    return names;
}

}  // namespace

const PropertyEntry& PropertyAt(int number) { return kProperties.at(static_cast<size_t>(number)); }
const MethodEntry& MethodAt(int number) { return kMethods.at(static_cast<size_t>(number)); }

const std::string& PropertyRussianName(int number) {
    static const auto names = RussianNames(kProperties);
    return names.at(static_cast<size_t>(number));
}

const std::string& MethodRussianName(int number) {
    static const auto names = RussianNames(kMethods);
    return names.at(static_cast<size_t>(number));
}

}  // namespace kv
