#pragma once
// The fixed tables of the 21 properties and the 21 methods as the host numbers them. Each
// member's two names are written once, here.
#include <cstdint>
#include <string>

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

using MethodBody = void (*)(T_vk_object&);

struct MethodEntry {
    const char* russian;  // UTF-8 in the source; see RussianName()
    const char* english;
    int32_t param_count;
    MethodBody execute;  // null for the methods that exist by name only
};

const PropertyEntry& PropertyAt(int number);  // 0 <= number < kPropertyCount
const MethodEntry& MethodAt(int number);      // 0 <= number < kMethodCount

// The Russian names as the component holds them: Windows-1251 bytes.
const std::string& PropertyRussianName(int number);
const std::string& MethodRussianName(int number);

}  // namespace kv
