#pragma once
// "Routing Table": the list of NpaNxxRoute.dat's records.
#include <QDialog>

#include "manager/ManagerContext.h"

namespace nv {

class TRoutingTableFrm : public QDialog {
    Q_OBJECT
public:
    // `emailEnabled`: the saved [SMTP] Enabled; e-mail routes ("E-Page") are offered only then.
    TRoutingTableFrm(ManagerContext& ctx, bool emailEnabled, QWidget* parent = nullptr);

private:
    ManagerContext& m_ctx;
    bool m_emailEnabled;
};

}  // namespace nv
