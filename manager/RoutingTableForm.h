#pragma once
// "Routing Table": the routes of NpaNxxRoute.dat, added, edited and deleted
// through "Route Details". The first route of an empty table is "Default",
// which is never deleted.
#include <QDialog>

#include "manager/ManagerContext.h"

class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;

namespace nv {

class TRoutingTableFrm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 110;

    // `emailEnabled`: the saved [SMTP] Enabled; e-mail routes ("E-Page") are offered only then.
    TRoutingTableFrm(ManagerContext& ctx, bool emailEnabled, QWidget* parent = nullptr);

    // Reads the table again (done when the window is shown and after each change).
    void FormShow();

private:
    void AddUserButClick();
    void EditUserButClick();
    void DeleteButClick();
    void selectRoute(const QString& name);

    ManagerContext& m_ctx;
    bool m_emailEnabled;
    QTreeWidget* m_list;
};

}  // namespace nv
