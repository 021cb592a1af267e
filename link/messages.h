#pragma once
// The window messages of the desktop application link (WM_USER + 1 and WM_USER + 7 to + 16),
// named once for the component and for the desktop-application simulator.
#include <cstdint>

namespace kv::messages {

constexpr uint32_t kUser = 1024;  // WM_USER
constexpr uint32_t UseAutozakaz = kUser + 1;
constexpr uint32_t PreparePrice = kUser + 7;
constexpr uint32_t ClearCurrentZakaz = kUser + 8;
constexpr uint32_t ClearAutoZakaz = kUser + 9;
constexpr uint32_t CountPositionInZakaz = kUser + 10;
constexpr uint32_t ZakazInArhive = kUser + 11;
constexpr uint32_t SelectPositionFromZakaz = kUser + 12;
constexpr uint32_t GetPosition = kUser + 13;
constexpr uint32_t FindPosition = kUser + 14;
constexpr uint32_t FindPacket = kUser + 15;
constexpr uint32_t FindAutoZakazFromFile = kUser + 16;

}  // namespace kv::messages
