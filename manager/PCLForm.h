#pragma once
// "Service Providers": the list of Provider.dat's records.
#include <QDialog>

#include "manager/ManagerContext.h"

namespace nv {

class TPCLForm : public QDialog {
    Q_OBJECT
public:
    TPCLForm(ManagerContext& ctx, QWidget* parent = nullptr);

private:
    ManagerContext& m_ctx;
};

}  // namespace nv
