// Methods whose work is still being built. Each raises an error naming itself, so that a call
// reaches the host's error log instead of pretending to succeed.
#include "common/error.h"
#include "component/method_bodies.h"
#include "component/vk_object.h"

namespace kv {
namespace {
[[noreturn, maybe_unused]] void NotBuilt(const char* method) {
    throw Error(std::string(method) + ": not built yet");
}
}  // namespace

void ExecUseAutozakaz(T_vk_object&) { NotBuilt("UseAutozakaz"); }
void ExecStopFind(T_vk_object&) { NotBuilt("StopFind"); }
void ExecFindPosition(T_vk_object&) { NotBuilt("FindPosition"); }
void ExecGetPosition(T_vk_object&) { NotBuilt("GetPosition"); }
void ExecFindPacket(T_vk_object&) { NotBuilt("FindPacket"); }
void ExecFindAutoZakazFromFile(T_vk_object&) { NotBuilt("FindAutoZakazFromFile"); }
void ExecPreparePrice(T_vk_object&) { NotBuilt("PreparePrice"); }
void ExecClearCurrentZakaz(T_vk_object&) { NotBuilt("ClearCurrentZakaz"); }
void ExecClearAutoZakaz(T_vk_object&) { NotBuilt("ClearAutoZakaz"); }
void ExecCountPositionInZakaz(T_vk_object&) { NotBuilt("CountPositionInZakaz"); }
void ExecZakazInArhive(T_vk_object&) { NotBuilt("ZakazInArhive"); }
void ExecSelectPositionFromZakaz(T_vk_object&) { NotBuilt("SelectPositionFromZakaz"); }

}  // namespace kv
