#pragma once
// The fixed tables of the 21 properties and the 21 methods as the host numbers them. Each
// member's two names are written once, here.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "component/vk_object.h"

namespace kv {

enum class FieldKind { Text, Double, Date, Integer, None };

struct PropertyEntry {
    const char* russian;  // UTF-8 in the source; see RussianName()
    const char* english;
    FieldKind kind;
    std::string T_vk_object::*text = nullptr;
    double T_vk_object::*real = nullptr;  // Double and Date
    int32_t T_vk_object::*integer = nullptr;
};

// One method of the catalogue as the host names and counts it.
struct MethodEntry {
    const char* russian;  // UTF-8 in the source; see MethodRussianName()
    const char* english;
    int32_t param_count;
};

inline constexpr std::array<MethodEntry, kMethodCount> kMethods = {{
    {"ОбновитьПрайсы", "LoadPrices", 0},
    {"ОбновитьОтказы", "LoadOtkazes", 0},
    {"ПодобратьПозиции", "UseAutozakaz", 1},
    {"ПолучитьПоставщиков", "GetDistribList", 0},
    {"ПолучитьПозициюПрайса", "GetPriceItem", 1},
    {"ПрерватьПоиск", "StopFind", 0},
    {"ПроверитьКелварин", "CheckKelvarin", 0},
    {"НайтиПозицию", "FindPosition", 3},
    {"СопоставитьПозиции", "SopostavNames", 2},
    {"ПодготовитьПрайс", "PreparePrice", 0},
    {"ОчиститьТекущийЗаказ", "ClearCurrentZakaz", 0},
    {"ОчиститьАвтозаявку", "ClearAutoZakaz", 0},
    {"КоличествоПозицийВТекущейЗаявке", "CountPositionInZakaz", 0},
    {"ЗаявкуВАрхив", "ZakazInArhive", 0},
    {"ВыбратьПозицииЗаказа", "SelectPositionFromZakaz", 1},
    {"ПолучитьПозицию", "GetPosition", 0},
    {"СоздатьЗаявку", "CreateZakaz", 2},
    {"ОчиститьПакет", "ClearPacket", 0},
    {"ДобавитьПозициюВПакет", "AddPositionInPacket", 10},
    {"ПодобратьПакет", "FindPacket", 0},
    {"ПодобратьАвтозаказИзФайла", "FindAutoZakazFromFile", 1},
}};

// The parts of the component that do the work provide the methods' bodies (MethodBodies, in
// vk_object.h: null for a method that exists by name only); the add-in binds them
// (addin/methods.h), tests bind what they need.
struct MethodBinding {
    std::string_view english;
    MethodBody body;
};

// The bodies of the methods named. Evaluated at compile time, a name that the catalogue lacks
// or a method bound twice does not compile.
template <size_t N>
constexpr MethodBodies BindMethods(const MethodBinding (&bindings)[N]) {
    MethodBodies bodies{};
    for (const MethodBinding& binding : bindings) {
        size_t i = 0;
        while (i < kMethodCount && std::string_view(kMethods[i].english) != binding.english) ++i;
        if (i == kMethodCount) throw "a method that the catalogue lacks";
        if (bodies[i] != nullptr) throw "a method bound twice";
        bodies[i] = binding.body;
    }
    return bodies;
}

const PropertyEntry& PropertyAt(int number);  // 0 <= number < kPropertyCount
const MethodEntry& MethodAt(int number);      // 0 <= number < kMethodCount

// The Russian names as the component holds them: Windows-1251 bytes.
const std::string& PropertyRussianName(int number);
const std::string& MethodRussianName(int number);

}  // namespace kv
