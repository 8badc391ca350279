#include "manager/PortListFrm.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "foundation/RecordAccess.h"
#include "foundation/SpeedIndex.h"
#include "manager/FormWidgets.h"
#include "manager/Help.h"
#include "manager/PortDFrm.h"
#include "manager/QtText.h"

namespace nv {

namespace {

// "COM<n>" for a direct connection, else the device number.
QString portId(const PortRec& p) {
    if (p.Modem() == kDirectConnection) return QString::fromStdString(comPortName(p.ComPort() + 1));
    return QString::number(p.TapiDevice());
}

}  // namespace

TPortSettings::TPortSettings(ManagerContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("Outbound TAP Ports");
    m_list = recordList({"Port Name", "Modem", "Port ID", "Type"}, QHeaderView::ResizeToContents);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { EditButClick(); });

    auto* add = namedButton("AddBut", "&Add");
    auto* edit = namedButton("EditBut", "&Edit");
    auto* remove = namedButton("RemoveBut", "&Remove");
    auto* done = namedButton("DoneBut", "&Done");
    auto* help = namedButton("HelpBut", "&Help");
    connect(add, &QPushButton::clicked, this, &TPortSettings::AddButClick);
    connect(edit, &QPushButton::clicked, this, &TPortSettings::EditButClick);
    connect(remove, &QPushButton::clicked, this, &TPortSettings::RemoveButClick);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    connect(help, &QPushButton::clicked, this, [this] { showHelp(m_ctx.ui, m_ctx.appDir, kHelpContext); });

    listWithSideButtons(this, m_list, {add, edit, remove, done, help});
    resize(600, 320);

    KORPage1 = std::make_unique<TKORPage>(ctx);
    LoadPortList();
}

TPortSettings::~TPortSettings() = default;

void TPortSettings::LoadPortList() {
    m_list->clear();
    const QIcon on = style()->standardIcon(QStyle::SP_DialogApplyButton);
    const QIcon off = style()->standardIcon(QStyle::SP_DialogCancelButton);
    for (const auto& name : LoadPortNames(m_ctx.workDir, m_ctx.ui)) {
        auto p = FindPort(name, m_ctx.workDir, m_ctx.ui);
        if (!p) continue;
        auto* item = new QTreeWidgetItem(
            m_list, {fromCp1252(p->Name()), fromCp1252(p->Modem()), portId(*p), p->Direction() == 1 ? "Out" : "In"});
        item->setIcon(0, p->PortEnabled() ? on : off);
        item->setData(0, Qt::UserRole, p->PortEnabled() ? 1 : 0);  // the image index
    }
}

bool TPortSettings::save(PortRec& rec) {
    if (SavePort(rec, m_ctx.workDir, m_ctx.ui)) {
        Changed = true;
        return true;
    }
    m_ctx.ui.beep(BeepKind::Error);
    m_ctx.ui.errorBox("Unable To Save Port \"" + fromCp1252(rec.Name()) + "\"!");
    return false;
}

void TPortSettings::AddButClick() {
    QPointer<TPortDataForm> dlg = new TPortDataForm(m_ctx, KORPage1->LineDevices(), this);
    dlg->prepareAdd();
    const bool ok = dlg->exec() == QDialog::Accepted;
    if (!dlg) return;
    PortRec rec;
    if (ok) dlg->storeInto(rec);
    delete dlg;
    if (ok && save(rec)) LoadPortList();
}

void TPortSettings::EditButClick() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (!item) return;
    auto rec = FindPort(toCp1252(item->text(0)), m_ctx.workDir, m_ctx.ui);
    if (!rec) return;
    QPointer<TPortDataForm> dlg = new TPortDataForm(m_ctx, KORPage1->LineDevices(), this);
    dlg->loadPort(*rec);
    const bool ok = dlg->exec() == QDialog::Accepted;
    if (!dlg) return;
    if (ok) dlg->storeInto(*rec);
    delete dlg;
    if (ok && save(*rec)) LoadPortList();
}

void TPortSettings::RemoveButClick() {
    QTreeWidgetItem* item = m_list->currentItem();
    if (!item) return;
    const QString name = item->text(0);
    m_ctx.ui.beep(BeepKind::Question);
    if (!m_ctx.ui.confirm("Delete " + name + "?")) return;
    auto rec = FindPort(toCp1252(name), m_ctx.workDir, m_ctx.ui);
    if (!rec) return;
    rec->setDeleted(true);
    if (save(*rec)) LoadPortList();
}

}  // namespace nv
