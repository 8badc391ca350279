#include "manager/RoutingTableForm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"
#include "manager/FormWidgets.h"
#include "manager/Help.h"
#include "manager/QtText.h"
#include "manager/RouteFrm.h"

namespace nv {

namespace {

constexpr const char* kDefaultRoute = "Default";

QStringList providerNames(ManagerContext& ctx) {
    QStringList names;
    for (const auto& n : LoadProviderNames(ctx.workDir, ctx.ui)) names << fromCp1252(n);
    return names;
}

}  // namespace

TRoutingTableFrm::TRoutingTableFrm(ManagerContext& ctx, bool emailEnabled, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_emailEnabled(emailEnabled) {
    setWindowTitle("Routing Table");
    m_list = recordList({"Name", "Provider"}, QHeaderView::Stretch);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { EditUserButClick(); });

    auto* add = namedButton("AddUserBut", "&Add");
    auto* edit = namedButton("EditUserBut", "&Edit");
    auto* del = namedButton("DeleteBut", "&Delete");
    auto* close = namedButton("BitBtn1", "&Close");
    auto* help = namedButton("BitBtn2", "&Help");
    connect(add, &QPushButton::clicked, this, &TRoutingTableFrm::AddUserButClick);
    connect(edit, &QPushButton::clicked, this, &TRoutingTableFrm::EditUserButClick);
    connect(del, &QPushButton::clicked, this, &TRoutingTableFrm::DeleteButClick);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, [this] { showHelp(m_ctx.ui, m_ctx.appDir, kHelpContext); });

    listWithSideButtons(this, m_list, {add, edit, del, close, help});
    resize(520, 320);
    FormShow();
}

void TRoutingTableFrm::FormShow() {
    m_list->clear();
    const QIcon on = style()->standardIcon(QStyle::SP_DialogApplyButton);
    const QIcon off = style()->standardIcon(QStyle::SP_DialogCancelButton);
    for (const auto& name : LoadRouteNames(m_ctx.workDir, m_ctx.ui)) {
        auto rec = FindRoute(name, m_ctx.workDir, true, m_ctx.ui);
        if (!rec) continue;
        auto* item = new QTreeWidgetItem(m_list, {fromCp1252(rec->RouteName()), fromCp1252(rec->Provider())});
        item->setIcon(0, rec->Enabled() ? on : off);
        item->setData(0, Qt::UserRole, rec->Enabled() ? 1 : 0);  // the image index
    }
}

void TRoutingTableFrm::selectRoute(const QString& name) {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->text(0) == name) m_list->setCurrentItem(m_list->topLevelItem(i));
}

void TRoutingTableFrm::AddUserButClick() {
    QPointer<TRouteDetailsFrm> dlg = new TRouteDetailsFrm(m_ctx, providerNames(m_ctx), m_emailEnabled, this);
    if (m_list->topLevelItemCount() == 0) dlg->forceDefault();
    const bool ok = dlg->exec() == QDialog::Accepted;
    if (!dlg) return;
    RouteRec rec;
    if (ok) dlg->storeInto(rec);
    delete dlg;
    if (!ok) return;
    rec.setDeleted(false);
    rec.setLastUpdate(recordTimeNow());
    if (!SaveRoute(rec, m_ctx.workDir, m_ctx.ui)) {
        m_ctx.ui.beep(BeepKind::Error);
        m_ctx.ui.errorBox("Unable To Save Route \"" + fromCp1252(rec.RouteName()) + "\"!");
        return;
    }
    FormShow();
    selectRoute(fromCp1252(rec.RouteName()));
}

void TRoutingTableFrm::EditUserButClick() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (!item) return;
    auto rec = FindRoute(toCp1252(item->text(0)), m_ctx.workDir, true, m_ctx.ui);
    if (!rec) return;
    QPointer<TRouteDetailsFrm> dlg = new TRouteDetailsFrm(m_ctx, providerNames(m_ctx), m_emailEnabled, this);
    dlg->loadRoute(*rec);
    const bool ok = dlg->exec() == QDialog::Accepted;
    if (!dlg) return;
    if (ok) dlg->storeInto(*rec);
    delete dlg;
    if (!ok) return;
    rec->setLastUpdate(recordTimeNow());
    if (!SaveRoute(*rec, m_ctx.workDir, m_ctx.ui)) {
        m_ctx.ui.beep(BeepKind::Error);
        m_ctx.ui.errorBox("Unable To Save Route \"" + fromCp1252(rec->RouteName()) + "\"!");
        return;
    }
    FormShow();
    selectRoute(fromCp1252(rec->RouteName()));
}

void TRoutingTableFrm::DeleteButClick() {
    QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return;
    const QString name = selected.first()->text(0);
    // The service falls back to "Default" by name in any letter case.
    if (equalsNoCase(toCp1252(name), kDefaultRoute)) {
        m_ctx.ui.errorBox("Can Not Delete Default Route!");
        return;
    }
    if (!m_ctx.ui.confirm("Delete Route \"" + name + "\"?")) return;
    auto rec = FindRoute(toCp1252(name), m_ctx.workDir, true, m_ctx.ui);
    if (!rec) return;
    rec->setDeleted(true);
    if (!SaveRoute(*rec, m_ctx.workDir, m_ctx.ui)) {
        m_ctx.ui.beep(BeepKind::Error);
        m_ctx.ui.errorBox("Unable To Save Route \"" + name + "\"!");
        return;
    }
    FormShow();
}

}  // namespace nv
