#pragma once
// The methods that the component core itself executes: the notices, the position packet and
// order files. The add-in binds them into its catalogue (addin/methods.cpp).
namespace kv {

class T_vk_object;

void ExecLoadPrices(T_vk_object& vk);
void ExecLoadOtkazes(T_vk_object& vk);
void ExecAddPositionInPacket(T_vk_object& vk);
void ExecClearPacket(T_vk_object& vk);
void ExecCreateZakaz(T_vk_object& vk);

}  // namespace kv
