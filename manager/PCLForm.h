#pragma once
// "Service Providers": the list of Provider.dat's records, with Add, Edit,
// Delete (and their cascades into the routes and the modem settings files)
// and the carrier list download.
#include <QDialog>
#include <functional>

#include "manager/ManagerContext.h"

class QListWidget;

namespace nv {

class TPCDForm;
class TListServerFrm;

class TPCLForm : public QDialog {
    Q_OBJECT
public:
    TPCLForm(ManagerContext& ctx, QWidget* parent = nullptr);

    // Runs the editor and returns its result; exec() unless a test drives it.
    std::function<int(TPCDForm&)> runEditor;
    // Runs the carrier list window; exec() unless a test drives it.
    std::function<void(TListServerFrm&)> runCarrierList;

    void FormShow();
    void AddUserButClick();
    void EditUserButClick();
    void DeleteButClick();
    void BitBtn1Click();  // carrier list

    QListWidget* list() const { return ListBox1; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void providerVanished();

    ManagerContext& m_ctx;
    QListWidget* ListBox1;
};

}  // namespace nv
