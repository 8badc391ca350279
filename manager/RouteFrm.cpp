#include "manager/RouteFrm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"
#include "manager/FormWidgets.h"
#include "manager/Help.h"
#include "manager/QtText.h"

namespace nv {

namespace {

constexpr const char* kDefaultRoute = "Default";
constexpr const char* kDefaultPrefix = "0000000000";
constexpr const char* kEPage = "E-Page";
constexpr const char* kNone = "NONE";
constexpr const char* kExampleAddress = "pager@example.com";
constexpr const char* kExampleSuffix = "@example.com";

// The live routes of the table, for the conflict checks. The table has already
// told the operator about a file it cannot read; the save that follows does again.
std::vector<RouteRec> liveRoutes(ManagerContext& ctx) {
    std::vector<RouteRec> routes;
    UnattendedPrompt quiet(nullptr);
    scanRecordFile(RouteRec::kKind, ctx.workDir, quiet, [&](const std::uint8_t* raw) {
        routes.push_back(RouteRec::fromBytes(raw));
        return true;
    });
    return routes;
}

}  // namespace

TRouteDetailsFrm::TRouteDetailsFrm(ManagerContext& ctx, const QStringList& providerNames, bool emailEnabled,
                                   QWidget* parent)
    : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("Route Details");
    m_name = namedEdit("RouteName", static_cast<int>(RouteRec::kRouteNameLength));
    m_prefix = namedEdit("NPANXX", static_cast<int>(RouteRec::kNPANXXLength));
    m_prefix->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_prefix));
    m_provider = namedList("Provider", {});
    m_secProvider = namedList("SecProvider", {});
    m_eddr = namedEdit("Eddr", static_cast<int>(RouteRec::kEddrLength));
    m_secEddr = namedEdit("SecEddr", static_cast<int>(RouteRec::kSecEddrLength));
    m_enabled = namedCheckBox("Enabled", "Route Enabled");
    m_enabled->setChecked(true);
    m_removePrefix = namedCheckBox("RemoveRoutePrefix", "Remove Route Prefix");
    m_pinInSubPri = namedCheckBox("PlacePinInSubPri", "Place PIN In Subject Field");
    m_pinInSubSec = namedCheckBox("PlacePinInSubSec", "Place PIN In Subject Field");
    // The two boxes share a caption; screen readers tell them apart by these.
    m_pinInSubPri->setAccessibleName("Place PIN In Subject Field, Primary");
    m_pinInSubSec->setAccessibleName("Place PIN In Subject Field, Secondary");

    QStringList primary = providerNames;
    QStringList secondary = QStringList{kNone} + providerNames;
    if (emailEnabled) {
        primary << kEPage;
        secondary << kEPage;
    }
    primary << "Brevicor" << "TNPP";
    m_provider->addItems(primary);
    m_provider->setCurrentIndex(-1);
    m_secProvider->addItems(secondary);
    m_secProvider->setCurrentIndex(0);

    auto* form = new QFormLayout;
    form->addRow("Route Name:", m_name);
    form->addRow("Route Prefix or NPA NXX:", m_prefix);
    form->addRow("", m_enabled);
    form->addRow("", m_removePrefix);
    form->addRow("Primary Destination Provider:", m_provider);
    form->addRow("Primary E-Mail or Suffix:", m_eddr);
    form->addRow("", m_pinInSubPri);
    form->addRow("Secondary Destination Provider:", m_secProvider);
    form->addRow("Secondary E-Mail or Suffix:", m_secEddr);
    form->addRow("", m_pinInSubSec);

    const DialogButtons buttons = okCancelHelp("OK", "BitBtn1", "BitBtn2", "BitBtn3");
    connect(buttons.ok, &QPushButton::clicked, this, &TRouteDetailsFrm::BitBtn1Click);
    connect(buttons.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(buttons.help, &QPushButton::clicked, this, [this] { showHelp(m_ctx.ui, m_ctx.appDir, kHelpContext); });

    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(buttons.box);
}

void TRouteDetailsFrm::forceDefault() {
    m_name->setText(kDefaultRoute);
    m_prefix->setText(kDefaultPrefix);
    m_enabled->setChecked(true);
    for (QWidget* w : {static_cast<QWidget*>(m_name), static_cast<QWidget*>(m_prefix),
                       static_cast<QWidget*>(m_enabled)})
        w->setEnabled(false);
}

// A stored name that the list no longer holds (a deleted provider, another
// letter case, "E-Page" with e-mail paging off) stays as an extra entry, so OK
// keeps it instead of silently changing the route.
void TRouteDetailsFrm::selectProvider(QComboBox* box, const QString& name) {
    if (name.isEmpty()) return;
    int i = box->findText(name, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (i < 0) {
        box->addItem(name);
        i = box->count() - 1;
    }
    box->setCurrentIndex(i);
}

void TRouteDetailsFrm::loadRoute(const RouteRec& rec) {
    Edit = true;
    m_filePos = rec.FilePos();
    m_storedName = fromCp1252(rec.RouteName());
    m_storedPrefix = fromCp1252(rec.NPANXX());
    m_name->setText(m_storedName);
    m_prefix->setText(m_storedPrefix);
    selectProvider(m_provider, fromCp1252(rec.Provider()));
    selectProvider(m_secProvider, fromCp1252(rec.SecProvider()));
    m_eddr->setText(fromCp1252(rec.Eddr()));
    m_secEddr->setText(fromCp1252(rec.SecEddr()));
    m_enabled->setChecked(rec.Enabled());
    m_removePrefix->setChecked(rec.RemoveRoutePrefix());
    m_pinInSubPri->setChecked(rec.PlacePinInSubPri());
    m_pinInSubSec->setChecked(rec.PlacePinInSubSec());
    if (equalsNoCase(rec.RouteName(), kDefaultRoute))
        for (QWidget* w : {static_cast<QWidget*>(m_name), static_cast<QWidget*>(m_prefix),
                           static_cast<QWidget*>(m_enabled)})
            w->setEnabled(false);
}

void TRouteDetailsFrm::storeInto(RouteRec& rec) const {
    rec.setRouteName(toCp1252(m_name->text()));
    rec.setNPANXX(toCp1252(m_prefix->text()));
    rec.setProvider(toCp1252(m_provider->currentText()));
    rec.setSecProvider(toCp1252(m_secProvider->currentText()));
    rec.setEddr(toCp1252(m_eddr->text()));
    rec.setSecEddr(toCp1252(m_secEddr->text()));
    rec.setEnabled(m_enabled->isChecked());
    rec.setRemoveRoutePrefix(m_removePrefix->isChecked());
    rec.setPlacePinInSubPri(m_pinInSubPri->isChecked());
    rec.setPlacePinInSubSec(m_pinInSubSec->isChecked());
}

bool TRouteDetailsFrm::checkBlanks() {
    const std::pair<QWidget*, const char*> blanks[] = {
        {m_name, "Route Name Can Not Be Blank!"},
        {m_prefix, "NPA NXX Can Not Be Blank!"},
        {m_provider, "Provider Can Not Be Blank!"},
    };
    for (const auto& [w, message] : blanks) {
        const bool blank = w == m_provider ? m_provider->currentText().isEmpty()
                                           : static_cast<QLineEdit*>(w)->text().isEmpty();
        if (!blank) continue;
        m_ctx.ui.errorBox(message);
        w->setFocus();
        return false;
    }
    return true;
}

// An "E-Page" address: a full address with the PIN in the subject, else a suffix.
bool TRouteDetailsFrm::checkAddress(QLineEdit* edit, bool fullAddress) {
    const QString a = edit->text();
    QString message;
    if (fullAddress) {
        if (a.isEmpty())
            message = QString("Must Provide E-Mail Address! (%1)").arg(kExampleAddress);
        else if (!a.contains('@') || !a.contains('.'))
            message = QString("Invalid E-Mail Address! Must Be \"%1\"").arg(kExampleAddress);
    } else {
        if (a.isEmpty())
            message = QString("Must Provide E-Mail Suffix! (%1)").arg(kExampleSuffix);
        else if (!a.contains('@') || !a.contains('.') || !a.startsWith('@'))
            message = QString("Invalid E-Mail Suffix! Must Be \"%1\"").arg(kExampleSuffix);
    }
    if (message.isEmpty()) return true;
    m_ctx.ui.errorBox(message);
    edit->setFocus();
    return false;
}

// Name and prefix against the other live routes (this route excluded by its
// place in the file, so a change of letter case is no conflict). The look-up
// takes the first route in file order whose prefix begins the PIN, so a prefix
// that begins another's, or is begun by it, is worth a warning.
bool TRouteDetailsFrm::checkConflicts() {
    const std::string prefix = toCp1252(m_prefix->text());
    const std::string name = toCp1252(m_name->text());
    const bool prefixChanged = !Edit || m_prefix->text() != m_storedPrefix;
    const bool nameChanged = !Edit || m_name->text() != m_storedName;
    const std::vector<RouteRec> routes = liveRoutes(m_ctx);
    auto others = [&](auto&& visit) {
        for (const RouteRec& r : routes)
            if (r.FilePos() != m_filePos && visit(r)) return &r;
        return static_cast<const RouteRec*>(nullptr);
    };
    auto isDefault = [](const RouteRec& r) { return equalsNoCase(r.RouteName(), kDefaultRoute); };
    if (prefixChanged && others([&](const RouteRec& r) {
            return !isDefault(r) && std::string_view(prefix).starts_with(r.NPANXX());
        })) {
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.warning("NPA NXX Already In Use!");
        m_prefix->setFocus();
        return false;
    }
    if (nameChanged && others([&](const RouteRec& r) { return equalsNoCase(r.RouteName(), name); })) {
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.warning("Route Name Already In Use!");
        m_name->setFocus();
        return false;
    }
    if (!prefixChanged) return true;
    const RouteRec* shadowed = others([&](const RouteRec& r) {
        return !isDefault(r) && std::string_view(r.NPANXX()).starts_with(prefix);
    });
    if (!shadowed) return true;
    const QString text = QString("Route Prefix %1 Overlaps Route \"%2\" (%3)! Pages Take The First Matching "
                                 "Route In The Table. Save Anyway?")
                             .arg(m_prefix->text(), fromCp1252(shadowed->RouteName()),
                                  fromCp1252(shadowed->NPANXX()));
    m_ctx.ui.beep(BeepKind::Warning);
    if (m_ctx.ui.showDialog(DialogKind::Warning, text, {DialogButton::Yes, DialogButton::No}) ==
        DialogButton::Yes)
        return true;
    m_prefix->setFocus();
    return false;
}

void TRouteDetailsFrm::BitBtn1Click() {
    if (!checkBlanks()) return;
    if (m_provider->currentText() == kEPage && !checkAddress(m_eddr, m_pinInSubPri->isChecked())) return;
    if (m_secProvider->currentText() == kEPage && !checkAddress(m_secEddr, m_pinInSubSec->isChecked())) return;
    if (!checkConflicts()) return;
    accept();
}

}  // namespace nv
