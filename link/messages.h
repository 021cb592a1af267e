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

// Every message with the component's method that sends it, and whether that method waits for
// an answer.
struct MessageInfo {
    uint32_t number;
    const char* method;
    bool answered;
};
inline constexpr MessageInfo kAll[] = {
    {UseAutozakaz, "UseAutozakaz", false},
    {PreparePrice, "PreparePrice", true},
    {ClearCurrentZakaz, "ClearCurrentZakaz", true},
    {ClearAutoZakaz, "ClearAutoZakaz", true},
    {CountPositionInZakaz, "CountPositionInZakaz", true},
    {ZakazInArhive, "ZakazInArhive", true},
    {SelectPositionFromZakaz, "SelectPositionFromZakaz", true},
    {GetPosition, "GetPosition", true},
    {FindPosition, "FindPosition", true},
    {FindPacket, "FindPacket", true},
    {FindAutoZakazFromFile, "FindAutoZakazFromFile", true},
};

// The entry of `number`; null for any other number.
constexpr const MessageInfo* Find(uint32_t number) {
    for (const MessageInfo& info : kAll) {
        if (info.number == number) return &info;
    }
    return nullptr;
}

// The component's method that sends `message`; "" for any other number.
constexpr const char* MethodOf(uint32_t message) {
    const MessageInfo* info = Find(message);
    return info != nullptr ? info->method : "";
}

}  // namespace kv::messages
