#pragma once
// "Outbound TAP Ports": the records of Ports.dat, added, edited and removed
// through "TAP/TNPP Port Data".
#include <QDialog>
#include <memory>

#include "foundation/Records.h"
#include "manager/KORTapi.h"
#include "manager/ManagerContext.h"

class QTreeWidget;

namespace nv {

class TPortSettings : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 30;

    TPortSettings(ManagerContext& ctx, QWidget* parent = nullptr);
    ~TPortSettings() override;
    // A record was added, edited or removed: the main window offers a restart.
    bool Changed = false;

    // Reads the list again (done at creation and after each change).
    void LoadPortList();

private:
    void AddButClick();
    void EditButClick();
    void RemoveButClick();
    bool save(PortRec& rec);

    ManagerContext& m_ctx;
    std::unique_ptr<TKORPage> KORPage1;
    QTreeWidget* m_list;
};

}  // namespace nv
