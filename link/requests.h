#pragma once
// The eleven requests to the desktop ordering application, and the value texts and answer
// readers they share.
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

class T_vk_object;

// Pprice as the requests send it: 15 significant digits, the regional decimal separator.
std::string PriceText(const T_vk_object& vk);
// UseByDate rendered by the regional short date format.
std::string DateText(const T_vk_object& vk);

// The methods that talk to the desktop application, for the add-in's catalogue.
void ExecUseAutozakaz(T_vk_object& vk);
void ExecStopFind(T_vk_object& vk);
void ExecFindPosition(T_vk_object& vk);
void ExecGetPosition(T_vk_object& vk);
void ExecFindPacket(T_vk_object& vk);
void ExecFindAutoZakazFromFile(T_vk_object& vk);
void ExecPreparePrice(T_vk_object& vk);
void ExecClearCurrentZakaz(T_vk_object& vk);
void ExecClearAutoZakaz(T_vk_object& vk);
void ExecCountPositionInZakaz(T_vk_object& vk);
void ExecZakazInArhive(T_vk_object& vk);
void ExecSelectPositionFromZakaz(T_vk_object& vk);

// The number of answer records of a FindPacket answer whose first field is a positive number.
// Records are nine fields each from field 2 on and end at the first one whose first field is
// empty. One pass over the text.
int32_t CountFoundRecords(std::string_view answer);

}  // namespace kv
