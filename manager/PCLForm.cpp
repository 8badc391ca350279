#include "manager/PCLForm.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <system_error>

#include "foundation/ConfigFile.h"
#include "foundation/DataFile.h"
#include "foundation/RecordAccess.h"
#include "manager/Help.h"
#include "manager/ListServerFrm.h"
#include "manager/PCDForm.h"
#include "manager/ProviderStore.h"
#include "manager/QtText.h"
#include "platform/DataDirectory.h"

namespace nv {
namespace fs = std::filesystem;
namespace {

constexpr const char* kVanished = "This Provider Is No Longer In The Provider File; The List Has Been Refreshed.";
constexpr const char* kNoListServer =
    "No carrier list server is configured: set CarrierListServer (an http:// or https:// address) in the "
    "[Nerivale] section of the install file.";

}  // namespace

TPCLForm::TPCLForm(ManagerContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("Service Providers");
    ListBox1 = new QListWidget;
    ListBox1->setObjectName("ListBox1");
    ListBox1->setSortingEnabled(true);
    ListBox1->setAccessibleName("Service Providers");

    auto button = [&](const char* name, const char* caption, const char* hint) {
        auto* b = new QPushButton(caption);
        b->setObjectName(name);
        if (hint) b->setToolTip(hint);
        b->setAutoDefault(false);
        return b;
    };
    QPushButton* add = button("AddUserBut", "&Add", "Add Service Provider");
    QPushButton* edit = button("EditUserBut", "&Edit", "Edit Selected Service Provider");
    QPushButton* del = button("DeleteBut", "&Delete", "Delete Selected Service Provider");
    QPushButton* carriers = button("BitBtn1", "Add From KOR Carrier List Server", "Requires Internet Connection!");
    QPushButton* done = button("DoneBut", "&Done", nullptr);
    QPushButton* help = button("BitBtn5", "&Help", nullptr);

    auto* side = new QVBoxLayout;
    for (QPushButton* b : {add, edit, del}) side->addWidget(b);
    side->addStretch(1);
    side->addWidget(done);
    side->addWidget(help);
    auto* top = new QHBoxLayout;
    top->addWidget(ListBox1, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(carriers);

    connect(add, &QPushButton::clicked, this, &TPCLForm::AddUserButClick);
    connect(edit, &QPushButton::clicked, this, &TPCLForm::EditUserButClick);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TPCLForm::EditUserButClick);
    connect(del, &QPushButton::clicked, this, &TPCLForm::DeleteButClick);
    connect(carriers, &QPushButton::clicked, this, &TPCLForm::BitBtn1Click);
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    connect(help, &QPushButton::clicked, this, [this] { showHelp(m_ctx.ui, m_ctx.appDir, 20); });

    runEditor = [](TPCDForm& editor) { return editor.exec(); };
    runCarrierList = [](TListServerFrm& window) { window.exec(); };
}

void TPCLForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TPCLForm::FormShow() {
    ListBox1->clear();
    for (const std::string& name : LoadProviderNames(m_ctx.workDir, m_ctx.ui))
        ListBox1->addItem(fromCp1252(name));
}

void TPCLForm::providerVanished() {
    m_ctx.ui.beep(BeepKind::Information);
    m_ctx.ui.warning(kVanished);
    FormShow();
}

void TPCLForm::AddUserButClick() {
    TPCDForm editor(m_ctx, this);
    editor.prepareNew();
    if (runEditor(editor) != QDialog::Accepted) return;
    // The editor refused a name already in the list before it closed.
    const double now = recordTimeNow();
    ProviderRec rec = newProviderRecord(now);
    editor.saveTo(rec, now);
    if (!SaveProvider(rec, m_ctx.workDir, m_ctx.ui)) {
        m_ctx.ui.errorBox("Unable To Save Provider " + editor.providerName() + "!");
        return;
    }
    ListBox1->addItem(editor.providerName());
}

void TPCLForm::EditUserButClick() {
    QListWidgetItem* item = ListBox1->currentItem();
    if (!item) return;
    TPCDForm editor(m_ctx, this);
    std::unique_ptr<ProviderRec> rec = FindProvider(toCp1252(item->text()), m_ctx.workDir, m_ctx.ui);
    if (!rec) {
        providerVanished();
        return;
    }
    editor.loadRecord(*rec);
    const int result = runEditor(editor);
    if (result != QDialog::Accepted && result != TPCDForm::kResultNew) return;
    const bool asNew = result == TPCDForm::kResultNew;
    const std::string oldName = editor.oldName();
    const double now = recordTimeNow();
    if (asNew) {
        rec->setDateAdded(now);
        rec->setPageCount(0);
        rec->setLastAccess(0);
        rec->setFilePos(-1);
    } else if (!refreshProviderStats(*rec, m_ctx.workDir, m_ctx.ui)) {
        // Deleted (or its slot reused) while it was being edited: writing it
        // back would resurrect it or overwrite another provider.
        providerVanished();
        return;
    }
    editor.saveTo(*rec, now);
    if (!SaveProvider(*rec, m_ctx.workDir, m_ctx.ui)) {
        m_ctx.ui.errorBox("Unable To Save Provider " + editor.providerName() + "!");
        return;
    }
    const std::string newName = rec->CompanyName();
    if (asNew) {
        ListBox1->addItem(editor.providerName());
        copyProviderMcf(m_ctx.workDir, oldName, newName);
    } else {
        item->setText(editor.providerName());
        if (newName != oldName) {
            moveProviderMcf(m_ctx.workDir, oldName, newName);
            renameProviderRoutes(m_ctx.workDir, oldName, newName, m_ctx.ui);
        }
    }
}

void TPCLForm::DeleteButClick() {
    QListWidgetItem* item = ListBox1->currentItem();
    if (!item) return;
    m_ctx.ui.beep(BeepKind::Question);
    if (!m_ctx.ui.confirm("Delete Provider " + item->text() + "?\n\rThis Will Remove All Associated Routes!"))
        return;
    std::unique_ptr<ProviderRec> rec = FindProvider(toCp1252(item->text()), m_ctx.workDir, m_ctx.ui);
    if (!rec) {
        providerVanished();
        return;
    }
    const std::string name = rec->CompanyName();
    rec->setDeleted(true);
    const DeleteRoutesResult routes = deleteProviderRoutes(m_ctx.workDir, name, m_ctx.ui);
    if (!SaveProvider(*rec, m_ctx.workDir, m_ctx.ui)) {
        m_ctx.ui.errorBox("Unable To Delete Provider " + item->text() + "!");
        return;
    }
    if (auto mcf = findProviderMcf(m_ctx.workDir, name)) {
        std::error_code ec;
        fs::remove(*mcf, ec);
    }
    delete item;
    if (routes.keptDefault)
        m_ctx.ui.information("The Route \"Default\" Uses This Provider And Was Kept; The Service Needs It "
                             "To Start. Give It Another Provider In The Routing Table.");
}

void TPCLForm::BitBtn1Click() {
    const InstallSettings install = readInstallSettings(m_ctx.appDir);
    const QString server = fromCp1252(install.carrierListServer).trimmed();
    if (!server.startsWith("http://", Qt::CaseInsensitive) && !server.startsWith("https://", Qt::CaseInsensitive)) {
        m_ctx.ui.information(kNoListServer);
        return;
    }
    const ConfigFile config = ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager);
    HttpGetOptions http;
    http.verifyTls = config.wctp().WCTPFOBSSL;
    const ProxySection proxy = config.proxy();
    if (proxy.Enabled) {
        const QString text = fromCp1252(proxy.Server);
        const int colon = text.indexOf(':');
        long port = 80;
        if (colon >= 0) {
            bool ok = false;
            const QString portText = text.mid(colon + 1);
            port = portText.toInt(&ok, 10);
            if (!ok) {
                m_ctx.ui.errorBox(portText + " Is Not A Valid Port Number For Proxy!");
                return;
            }
        }
        http.proxyHost = toCp1252(colon >= 0 ? text.left(colon) : text);
        http.proxyPort = port;
        http.proxyUser = proxy.User;
        http.proxyPassword = proxy.Pass;
    }
    TListServerFrm window(m_ctx, server, http, this);
    runCarrierList(window);
    FormShow();
}

}  // namespace nv
