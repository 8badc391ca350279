// Placeholder until the provider list lands.
#include "manager/PCLForm.h"

namespace nv {

TPCLForm::TPCLForm(ManagerContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("Service Providers");
}

}  // namespace nv
