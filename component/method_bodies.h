#pragma once
// The execution of each method of the catalogue. Each lives with the part of the component
// that does the work; the catalogue only refers to them.
namespace kv {

class T_vk_object;

// component/
void ExecLoadPrices(T_vk_object& vk);
void ExecLoadOtkazes(T_vk_object& vk);
void ExecAddPositionInPacket(T_vk_object& vk);
void ExecClearPacket(T_vk_object& vk);
void ExecCreateZakaz(T_vk_object& vk);

// link/: search requests
void ExecUseAutozakaz(T_vk_object& vk);
void ExecStopFind(T_vk_object& vk);
void ExecFindPosition(T_vk_object& vk);
void ExecGetPosition(T_vk_object& vk);
void ExecFindPacket(T_vk_object& vk);
void ExecFindAutoZakazFromFile(T_vk_object& vk);

// link/: order requests
void ExecPreparePrice(T_vk_object& vk);
void ExecClearCurrentZakaz(T_vk_object& vk);
void ExecClearAutoZakaz(T_vk_object& vk);
void ExecCountPositionInZakaz(T_vk_object& vk);
void ExecZakazInArhive(T_vk_object& vk);
void ExecSelectPositionFromZakaz(T_vk_object& vk);

// link/: presence check
void ExecCheckKelvarin(T_vk_object& vk);

// matching/
void ExecSopostavNames(T_vk_object& vk);

}  // namespace kv
