// Placeholder until the modem settings dialog lands.
#include "manager/ModemSettingsDlg.h"

namespace nv {

bool editModemSettings(QWidget*, ManagerContext& ctx, const std::filesystem::path&) {
    ctx.ui.errorBox("Modem settings are not available yet.");
    return false;
}

}  // namespace nv
