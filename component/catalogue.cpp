#include "component/catalogue.h"

#include <array>

#include "common/text.h"
#include "component/method_bodies.h"

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

const std::array<MethodEntry, kMethodCount> kMethods = {{
    {"ОбновитьПрайсы", "LoadPrices", 0, ExecLoadPrices},
    {"ОбновитьОтказы", "LoadOtkazes", 0, ExecLoadOtkazes},
    {"ПодобратьПозиции", "UseAutozakaz", 1, ExecUseAutozakaz},
    {"ПолучитьПоставщиков", "GetDistribList", 0, nullptr},
    {"ПолучитьПозициюПрайса", "GetPriceItem", 1, nullptr},
    {"ПрерватьПоиск", "StopFind", 0, ExecStopFind},
    {"ПроверитьКелварин", "CheckKelvarin", 0, ExecCheckKelvarin},
    {"НайтиПозицию", "FindPosition", 3, ExecFindPosition},
    {"СопоставитьПозиции", "SopostavNames", 2, ExecSopostavNames},
    {"ПодготовитьПрайс", "PreparePrice", 0, ExecPreparePrice},
    {"ОчиститьТекущийЗаказ", "ClearCurrentZakaz", 0, ExecClearCurrentZakaz},
    {"ОчиститьАвтозаявку", "ClearAutoZakaz", 0, ExecClearAutoZakaz},
    {"КоличествоПозицийВТекущейЗаявке", "CountPositionInZakaz", 0, ExecCountPositionInZakaz},
    {"ЗаявкуВАрхив", "ZakazInArhive", 0, ExecZakazInArhive},
    {"ВыбратьПозицииЗаказа", "SelectPositionFromZakaz", 1, ExecSelectPositionFromZakaz},
    {"ПолучитьПозицию", "GetPosition", 0, ExecGetPosition},
    {"СоздатьЗаявку", "CreateZakaz", 2, ExecCreateZakaz},
    {"ОчиститьПакет", "ClearPacket", 0, ExecClearPacket},
    {"ДобавитьПозициюВПакет", "AddPositionInPacket", 10, ExecAddPositionInPacket},
    {"ПодобратьПакет", "FindPacket", 0, ExecFindPacket},
    {"ПодобратьАвтозаказИзФайла", "FindAutoZakazFromFile", 1, ExecFindAutoZakazFromFile},
}};

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
