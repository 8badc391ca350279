// Placeholder until the routing table lands.
#include "manager/RoutingTableForm.h"

namespace nv {

TRoutingTableFrm::TRoutingTableFrm(ManagerContext& ctx, bool emailEnabled, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_emailEnabled(emailEnabled) {
    setWindowTitle("Routing Table");
}

}  // namespace nv
