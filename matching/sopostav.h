#pragma once
// SopostavNames, the name-matching dialog's method, for the add-in's catalogue.
namespace kv {

class T_vk_object;

void ExecSopostavNames(T_vk_object& vk);

}  // namespace kv
