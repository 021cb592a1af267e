// The packet of positions that a script assembles for a packet search.
#include <array>

#include "component/method_bodies.h"
#include "component/vk_object.h"

namespace kv {

void ExecAddPositionInPacket(T_vk_object& vk) {
    // Every parameter is read before anything changes, so a bad one leaves the packet intact.
    std::array<std::string, 10> fields;
    for (size_t i = 0; i < fields.size(); ++i) fields[i] = vk.GetStringParam(static_cast<int>(i));
    for (const std::string& field : fields) {
        vk.PacketText += field;
        vk.PacketText += '\t';
    }
    // The counter wraps rather than overflow; it is never reset.
    vk.PacketCount = static_cast<int32_t>(static_cast<uint32_t>(vk.PacketCount) + 1u);
    vk.ResultValue = Variant::Int32(vk.PacketCount);
}

void ExecClearPacket(T_vk_object& vk) {
    vk.PacketText.clear();
    vk.ResultValue = Variant::Int32(1);
}

}  // namespace kv
