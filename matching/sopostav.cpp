// SopostavNames: the user matches a drug name against the registry in a modal dialog; the
// chosen row's code becomes the method's value and the text of TradeName and Producer.
#include "matching/sopostav.h"

#include <cstdint>
#include <string>
#include <utility>

#include "component/vk_object.h"
#include "matching/UFormSelect.h"

namespace kv {

void ExecSopostavNames(T_vk_object& vk) {
    // The dialog and its connection objects are released on every path, also when a step
    // fails: the destructors close the query, roll back and detach.
    TfrmSelect frmSelect(vk.platform().dialogs, vk.platform().libraries, vk.trace());
    RegistryConnection& registry = frmSelect.Connection();
    registry.Configure(vk.BaseName, vk.UserName, vk.UserPass, vk.UserRole, vk.DLLName);
    frmSelect.SetTradeName(vk.GetStringParam(0));
    frmSelect.SetProducerName(vk.GetStringParam(1));
    registry.Attach();
    registry.StartTransaction();
    registry.SetParameter(vk.GetStringParam(0));
    registry.Open();
    frmSelect.SetFilterText(frmSelect.TradeName().substr(0, TfrmSelect::kInitialFilterLength));
    if (frmSelect.ShowModal() == mrOk) {
        // All three are read before any is stored: a row that cannot be read stores nothing.
        const int32_t code = registry.FieldAsInteger("TRADE_NAME_ID");
        std::string trade_name = registry.FieldAsText("TRADE_NAME_ID");
        std::string producer = registry.FieldAsText("FABR_NAME_ID");
        vk.ResultValue = Variant::Int32(code);
        vk.TradeName = std::move(trade_name);
        vk.Producer = std::move(producer);
    }
    registry.CloseConnection();
}

}  // namespace kv
