// Placeholder until the port list lands.
#include "manager/PortListFrm.h"

namespace nv {

TPortSettings::TPortSettings(ManagerContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("Outbound TAP Ports");
}

}  // namespace nv
