// The one place that knows every part of the component: each method of the catalogue with the
// body that the part doing its work provides. GetDistribList and GetPriceItem exist by name
// only.
#include "addin/methods.h"

#include "component/catalogue.h"
#include "component/method_bodies.h"
#include "link/presence.h"
#include "link/requests.h"
#include "matching/sopostav.h"

namespace kv {
namespace {

constexpr MethodBodies kAddinMethods = BindMethods({
    {"LoadPrices", ExecLoadPrices},
    {"LoadOtkazes", ExecLoadOtkazes},
    {"UseAutozakaz", ExecUseAutozakaz},
    {"StopFind", ExecStopFind},
    {"CheckKelvarin", ExecCheckKelvarin},
    {"FindPosition", ExecFindPosition},
    {"SopostavNames", ExecSopostavNames},
    {"PreparePrice", ExecPreparePrice},
    {"ClearCurrentZakaz", ExecClearCurrentZakaz},
    {"ClearAutoZakaz", ExecClearAutoZakaz},
    {"CountPositionInZakaz", ExecCountPositionInZakaz},
    {"ZakazInArhive", ExecZakazInArhive},
    {"SelectPositionFromZakaz", ExecSelectPositionFromZakaz},
    {"GetPosition", ExecGetPosition},
    {"CreateZakaz", ExecCreateZakaz},
    {"ClearPacket", ExecClearPacket},
    {"AddPositionInPacket", ExecAddPositionInPacket},
    {"FindPacket", ExecFindPacket},
    {"FindAutoZakazFromFile", ExecFindAutoZakazFromFile},
});

}  // namespace

const MethodBodies& AddinMethods() { return kAddinMethods; }

}  // namespace kv
