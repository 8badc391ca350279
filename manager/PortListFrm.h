#pragma once
// "Outbound TAP Ports": the list of Ports.dat's records.
#include <QDialog>

#include "manager/ManagerContext.h"

namespace nv {

class TPortSettings : public QDialog {
    Q_OBJECT
public:
    TPortSettings(ManagerContext& ctx, QWidget* parent = nullptr);
    // A record was added, edited or removed: the main window offers a restart.
    bool Changed = false;

private:
    ManagerContext& m_ctx;
};

}  // namespace nv
