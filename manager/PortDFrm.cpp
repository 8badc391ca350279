#include "manager/PortDFrm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"
#include "foundation/SpeedIndex.h"
#include "manager/Help.h"
#include "manager/FormWidgets.h"
#include "manager/ModemSettingsDlg.h"
#include "manager/QtText.h"

namespace nv {

namespace {

constexpr int kKindRole = Qt::UserRole + 1;
constexpr std::uint8_t kTapDirectType = 0;  // providers of TAP on a direct serial port
constexpr std::uint8_t kTnppType = 7;
constexpr int kSpeed1200 = 3;
// Nine digits always fit the int32 fields.
constexpr int kMaxDigits = 9;

void setIndex(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

}  // namespace

PortKind portKindOf(const PortRec& rec) {
    const std::string modem = rec.Modem();
    if (modem == kDirectConnection) return PortKind::Direct;
    if (modem == kTnppConnection || modem == kTnppPortOld) return PortKind::Tnpp;
    return PortKind::Modem;
}

TPortDataForm::TPortDataForm(ManagerContext& ctx, const std::optional<std::vector<LineDevice>>& lines,
                             QWidget* parent)
    : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("TAP/TNPP Port Data");
    m_tnppEdits = {
        {"SourceAddr", "Source Address:", "0"}, {"Inertia", "Inertia:", "3"},
        {"DestAddr", "Dest. Address:", "0"},    {"BusyRtyTO", "Busy Retry T/O:", "60"},
        {"IdelTO", "Idle T/O:", "10"},          {"RetryCount", "Retry Count:", "6"},
        {"KeepAliveTO", "Keep Alive T/O:", "60"}, {"IntCharTime", "Inter Char. Time:", "2"},
        {"RSHoldRetry", "RS Hold Retry:", "24"}, {"RSHoldTime", "RS Hold Time:", "10"},
        {"ENQRetries", "ENQ Retries:", "6"},    {"ENQTO", "ENQ T/O:", "10"},
    };
    m_tabs = new QTabWidget;
    m_tabs->setObjectName("PageControl1");
    m_tabs->addTab(buildGeneral(), "&General");
    m_tabs->addTab(buildStats(), "&Stats");
    m_tabs->addTab(buildTnpp(), "&TNPP");

    if (lines)
        for (const LineDevice& d : *lines) {
            m_modem->addItem(d.name, d.id);
            m_modem->setItemData(m_modem->count() - 1, static_cast<int>(PortKind::Modem), kKindRole);
        }
    m_modem->addItem(kDirectConnection);
    m_modem->setItemData(m_modem->count() - 1, static_cast<int>(PortKind::Direct), kKindRole);
    m_modem->addItem(kTnppConnection);
    m_modem->setItemData(m_modem->count() - 1, static_cast<int>(PortKind::Tnpp), kKindRole);
    m_modem->setCurrentIndex(-1);
    connect(m_modem, &QComboBox::currentIndexChanged, this, &TPortDataForm::ModemChange);

    const DialogButtons buttons = okCancelHelp("&OK", "OKBut", "BitBtn2", "BitBtn1");
    connect(buttons.ok, &QPushButton::clicked, this, &TPortDataForm::OKButClick);
    connect(buttons.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(buttons.help, &QPushButton::clicked, this, [this] { showHelp(m_ctx.ui, m_ctx.appDir, kHelpContext); });

    auto* top = new QVBoxLayout(this);
    top->addWidget(m_tabs);
    top->addWidget(buttons.box);
    m_tabs->setCurrentIndex(0);
    ModemChange();
}

QWidget* TPortDataForm::buildGeneral() {
    m_name = namedEdit("Name", static_cast<int>(PortRec::kNameLength));
    m_modem = namedList("Modem", {});
    auto* settings = namedButton("BitBtn4", "TAP Modem &Settings");
    connect(settings, &QPushButton::clicked, this, &TPortDataForm::BitBtn4Click);
    m_enabled = namedCheckBox("PortEnabled", "Port &Enabled");
    m_dialPrefix = namedEdit("DialPrefix", static_cast<int>(PortRec::kDialPrefixLength));
    m_group = namedList("DirectGroupName", {});
    m_groupLabel = new QLabel("&Provider Name:");

    m_comPort = namedList("ComPort", comPortItems(16));
    m_comData = namedList("ComData", {"7,E,1", "8,N,1", "8,N,2"});
    m_comSpeed = namedList("ComSpeed", speedItems());
    m_comFlow = namedList("ComFlow", {"None", "Hardware", "Software", "Both"});
    m_direct = new QGroupBox(kDirectConnection);
    m_direct->setObjectName("DirectGroup");
    auto* directForm = new QFormLayout(m_direct);
    directForm->addRow("&Com Port:", m_comPort);
    directForm->addRow("&Data Settings", m_comData);
    directForm->addRow("Sp&eed:", m_comSpeed);
    directForm->addRow("&Flow Control:", m_comFlow);
    m_comPort->setAccessibleName("Direct Connection, COM Port");
    m_comSpeed->setAccessibleName("Direct Connection, Speed");

    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->addRow("&Port Name:", m_name);
    auto* modemRow = new QHBoxLayout;
    modemRow->addWidget(m_modem, 1);
    modemRow->addWidget(settings);
    auto* modemLabel = new QLabel("&Modem:");
    modemLabel->setBuddy(m_modem);
    form->addRow(modemLabel, modemRow);
    form->addRow("", m_enabled);
    form->addRow("&Dial Prefix:", m_dialPrefix);
    m_groupLabel->setBuddy(m_group);
    form->addRow(m_groupLabel, m_group);
    form->addRow(m_direct);
    return page;
}

QWidget* TPortDataForm::buildStats() {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->addRow("Last Page:", new QLabel("N/A"));
    form->addRow("Pages Sent:", new QLabel("0"));
    form->addRow("Date Added:", new QLabel("N/A"));
    return page;
}

QWidget* TPortDataForm::buildTnpp() {
    for (auto& e : m_tnppEdits) {
        e.edit = new QLineEdit(e.initial);
        e.edit->setObjectName(e.name);
        e.edit->setMaxLength(kMaxDigits);
        e.edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e.edit));
    }
    auto* page = new QWidget;
    auto* top = new QVBoxLayout(page);
    auto* addresses = new QFormLayout;
    for (int i = 0; i < 3; ++i) addresses->addRow(m_tnppEdits[i].caption, m_tnppEdits[i].edit);
    top->addLayout(addresses);

    m_tnppCom = namedList("TNPPCom", comPortItems(9));
    m_tnppSettings = namedList("TNPPComSettings", {"8,N,1", "7,E,1"});
    m_tnppHandShake = namedList("TNPPHandShake", {"RTS/CTS", "Xon/Xoff", "Both", "None"});
    m_tnppSpeed = namedList("TNPPComSpeed", speedItems());
    m_stxInit = new QCheckBox("Send STX In Initiation");
    m_stxInit->setObjectName("STXInit");
    m_transparentCrc = new QCheckBox("Transparent CRC");
    m_transparentCrc->setObjectName("TRSPCRC");
    auto* portBox = new QGroupBox("Port Settings");
    auto* portForm = new QFormLayout(portBox);
    portForm->addRow("COM Port:", m_tnppCom);
    portForm->addRow("Settings:", m_tnppSettings);
    portForm->addRow("Handshake:", m_tnppHandShake);
    portForm->addRow("Speed:", m_tnppSpeed);
    portForm->addRow("", m_stxInit);
    portForm->addRow("", m_transparentCrc);
    // Captions the General tab uses too: screen readers hear the group as well.
    m_tnppCom->setAccessibleName("TNPP Port Settings, COM Port");
    m_tnppSpeed->setAccessibleName("TNPP Port Settings, Speed");
    auto* tnppBox = new QGroupBox("TNPP Settings");
    auto* tnppForm = new QFormLayout(tnppBox);
    for (std::size_t i = 3; i < m_tnppEdits.size(); ++i) tnppForm->addRow(m_tnppEdits[i].caption, m_tnppEdits[i].edit);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(portBox);
    boxes->addWidget(tnppBox);
    top->addLayout(boxes);
    return page;
}

QLineEdit* TPortDataForm::tnpp(const char* name) const {
    for (const auto& e : m_tnppEdits)
        if (std::string_view(e.name) == name) return e.edit;
    return nullptr;
}

PortKind TPortDataForm::chosenKind() const {
    const QVariant k = m_modem->currentData(kKindRole);
    return k.isValid() ? static_cast<PortKind>(k.toInt()) : PortKind::Modem;
}

// A modem line's stable id; for the built-in entries their list position.
std::int16_t TPortDataForm::chosenDevice() const {
    if (chosenKind() == PortKind::Modem) return static_cast<std::int16_t>(m_modem->currentData().toInt());
    return static_cast<std::int16_t>(m_modem->currentIndex());
}

void TPortDataForm::ModemChange() {
    const bool chosen = m_modem->currentIndex() >= 0;
    const PortKind kind = chosenKind();
    const bool direct = chosen && kind == PortKind::Direct;
    const bool tnppLink = chosen && kind == PortKind::Tnpp;
    m_direct->setEnabled(direct);
    m_group->setEnabled(direct || tnppLink);
    m_groupLabel->setEnabled(direct || tnppLink);
    if (!direct && !tnppLink) return;
    const QString keep = m_group->currentText();
    QStringList names;
    for (const auto& n : LoadProviderNamesByType(m_ctx.workDir, direct ? kTapDirectType : kTnppType, m_ctx.ui))
        names << fromCp1252(n);
    names.sort(Qt::CaseInsensitive);
    m_group->clear();
    m_group->addItems(names);
    m_group->setCurrentIndex(m_group->findText(keep, Qt::MatchFixedString | Qt::MatchCaseSensitive));
}

void TPortDataForm::prepareAdd() {
    m_comPort->setCurrentIndex(0);
    m_comSpeed->setCurrentIndex(kSpeed1200);
    m_comFlow->setCurrentIndex(1);
    m_comData->setCurrentIndex(0);
    m_tnppCom->setCurrentIndex(0);
    m_tnppSettings->setCurrentIndex(1);
    m_tnppHandShake->setCurrentIndex(1);
    m_tnppSpeed->setCurrentIndex(kSpeed1200);
    m_enabled->setChecked(false);
}

void TPortDataForm::loadPort(const PortRec& rec) {
    m_filePos = rec.FilePos();
    m_name->setText(fromCp1252(rec.Name()));
    m_enabled->setChecked(rec.PortEnabled());
    const QString modem = fromCp1252(rec.Modem());
    int index = -1;
    if (rec.Modem() == kTnppPortOld) {
        index = m_modem->count() - 1;
    } else {
        for (int i = 0; i < m_modem->count() && index < 0; ++i)
            if (m_modem->itemText(i) == modem && m_modem->itemData(i, kKindRole).toInt() == int(PortKind::Modem) &&
                m_modem->itemData(i).toInt() == rec.TapiDevice())
                index = i;
        if (index < 0) index = m_modem->findText(modem, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    }
    m_modem->setCurrentIndex(index);
    ModemChange();
    setIndex(m_comPort, rec.ComPort());
    setIndex(m_comSpeed, rec.ComSpeed());
    setIndex(m_comFlow, rec.ComFlow());
    setIndex(m_comData, rec.ComData());
    m_dialPrefix->setText(fromCp1252(rec.DialPrefix()));
    const QString group = fromCp1252(rec.DirectGroupName());
    int g = m_group->findText(group, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (g < 0) g = m_group->findText(group, Qt::MatchFixedString);
    m_group->setCurrentIndex(g);
    setIndex(m_tnppCom, rec.TNPPCom());
    setIndex(m_tnppSettings, rec.TNPPComSettings());
    setIndex(m_tnppHandShake, rec.TNPPHandShake());
    setIndex(m_tnppSpeed, rec.TNPPComSpeed());
    const std::pair<const char*, std::int32_t> values[] = {
        {"BusyRtyTO", rec.BusyRtyTO()},   {"ENQRetries", rec.ENQRetries()},   {"ENQTO", rec.ENQTO()},
        {"IdelTO", rec.IdelTO()},         {"RetryCount", rec.RetryCount()},   {"IntCharTime", rec.IntCharTime()},
        {"KeepAliveTO", rec.KeepAliveTO()}, {"RSHoldRetry", rec.RSHoldRetry()}, {"RSHoldTime", rec.RSHoldTime()},
        {"SourceAddr", rec.SourceAddr()},
    };
    for (const auto& [name, v] : values) tnpp(name)->setText(QString::number(v));
    m_stxInit->setChecked(rec.STXInit());
}

void TPortDataForm::storeInto(PortRec& rec) const {
    const PortKind kind = chosenKind();
    rec.setName(toCp1252(m_name->text()));
    rec.setTapiDevice(chosenDevice());
    rec.setModem(toCp1252(m_modem->currentText()));
    rec.setPortThread(0);
    rec.setPortEnabled(m_enabled->isChecked());
    rec.setDirection(1);
    rec.setDeleted(false);
    rec.setDirectGroupName(toCp1252(m_group->currentText()));
    rec.setIsDirect(kind == PortKind::Direct || kind == PortKind::Tnpp);
    rec.setIsTnpp(kind == PortKind::Tnpp);
    rec.setComPort(static_cast<std::uint8_t>(std::max(0, m_comPort->currentIndex())));
    rec.setComSpeed(static_cast<std::uint8_t>(std::max(0, m_comSpeed->currentIndex())));
    rec.setComFlow(static_cast<std::uint8_t>(std::max(0, m_comFlow->currentIndex())));
    rec.setComData(static_cast<std::uint8_t>(std::max(0, m_comData->currentIndex())));
    rec.setDialPrefix(toCp1252(m_dialPrefix->text()));
    rec.setTNPPCom(static_cast<std::uint8_t>(std::max(0, m_tnppCom->currentIndex())));
    rec.setTNPPComSettings(static_cast<std::uint8_t>(std::max(0, m_tnppSettings->currentIndex())));
    rec.setTNPPHandShake(static_cast<std::uint8_t>(std::max(0, m_tnppHandShake->currentIndex())));
    rec.setTNPPComSpeed(static_cast<std::uint8_t>(std::max(0, m_tnppSpeed->currentIndex())));
    // A blank edit (only a port other than a TNPP link gets past the checks with
    // one) keeps the field's initial value.
    auto number = [this](const char* name) {
        for (const auto& e : m_tnppEdits)
            if (std::string_view(e.name) == name)
                return (e.edit->text().isEmpty() ? QString(e.initial) : e.edit->text()).toInt();
        return 0;
    };
    rec.setBusyRtyTO(number("BusyRtyTO"));
    rec.setENQRetries(number("ENQRetries"));
    rec.setENQTO(number("ENQTO"));
    rec.setIdelTO(number("IdelTO"));
    rec.setRetryCount(number("RetryCount"));
    rec.setIntCharTime(number("IntCharTime"));
    rec.setKeepAliveTO(number("KeepAliveTO"));
    rec.setRSHoldRetry(number("RSHoldRetry"));
    rec.setRSHoldTime(number("RSHoldTime"));
    rec.setSourceAddr(number("SourceAddr"));
    rec.setSTXInit(m_stxInit->isChecked());
}

bool TPortDataForm::refuse(QWidget* focus, const QString& message, bool tnppTab) {
    m_ctx.ui.beep(BeepKind::Information);
    m_ctx.ui.warning(message);
    m_tabs->setCurrentIndex(tnppTab ? 2 : 0);
    if (focus) focus->setFocus();
    return false;
}

bool TPortDataForm::checkTnpp() {
    const std::pair<const char*, const char*> singles[] = {
        {"DestAddr", "No TNPP Destination Address Specified!"},
        {"Inertia", "Must Enter A Valid Inertia Value!"},
        {"SourceAddr", "Must Enter A Valid Source Address!"},
    };
    for (const auto& [name, message] : singles)
        if (tnpp(name)->text().isEmpty()) return refuse(tnpp(name), message, true);
    for (const char* name : {"BusyRtyTO", "IdelTO", "KeepAliveTO", "ENQTO"})
        if (tnpp(name)->text().isEmpty()) return refuse(nullptr, "Must Enter A Valid Time Out!", true);
    const std::pair<const char*, const char*> rest[] = {
        {"RetryCount", "Must Enter A Valid Retry Count!"},
        {"IntCharTime", "Must Enter A Valid Inter Char. Time!"},
        {"RSHoldRetry", "Must Enter A Valid RS Hold Retry!"},
        {"RSHoldTime", "Must Enter A Valid RS Hold Time!"},
        {"ENQRetries", "Must Enter A Valid ENQ Retry!"},
    };
    for (const auto& [name, message] : rest)
        if (tnpp(name)->text().isEmpty()) return refuse(tnpp(name), message, true);
    return true;
}

// Against every other live port in file order (this one excluded by its place
// in the file); the first port that clashes decides. Devices are compared
// within their kind: COM ports of direct ports, line ids of modem ports, and
// at most one TNPP link.
bool TPortDataForm::checkDuplicates() {
    const PortKind kind = chosenKind();
    const std::string name = toCp1252(m_name->text());
    const std::int16_t device = chosenDevice();
    const auto comPort = static_cast<std::uint8_t>(m_comPort->currentIndex());
    QWidget* focus = nullptr;
    QString message;
    // The list has already told the operator about a file it cannot read.
    UnattendedPrompt quiet(nullptr);
    scanRecordFile(PortRec::kKind, m_ctx.workDir, quiet, [&](const std::uint8_t* raw) {
        const PortRec p = PortRec::fromBytes(raw);
        if (p.FilePos() == m_filePos) return true;
        const PortKind other = portKindOf(p);
        if (kind == PortKind::Direct && other == PortKind::Direct && p.ComPort() == comPort) {
            message = "ComPort Already Assigned!";
            focus = m_comPort;
        } else if (kind == other && ((kind == PortKind::Modem && p.TapiDevice() == device) || kind == PortKind::Tnpp)) {
            message = "Modem Device Already Assigned!";
            focus = m_modem;
        } else if (equalsNoCase(p.Name(), name)) {
            message = "Port Name Already Assigned!";
            focus = m_name;
        }
        return message.isEmpty();
    });
    if (message.isEmpty()) return true;
    return refuse(focus, message);
}

void TPortDataForm::OKButClick() {
    if (m_name->text().isEmpty()) return void(refuse(m_name, "No Name Specified!"));
    if (m_modem->currentIndex() < 0) return void(refuse(m_modem, "No Modem Specified!"));
    if (chosenKind() == PortKind::Direct && m_group->currentText().isEmpty())
        return void(refuse(m_group, "No Provider Specified!"));
    if (chosenKind() == PortKind::Tnpp && !checkTnpp()) return;
    if (!checkDuplicates()) return;
    accept();
}

void TPortDataForm::BitBtn4Click() {
    if (m_modem->currentIndex() < 0) return void(refuse(m_modem, "Must Select a Modem First!"));
    if (m_name->text().isEmpty()) return void(refuse(m_name, "Must Select a Name First!"));
    // editModemSettings reports a file it could not write; Cancel is no error.
    editModemSettings(this, m_ctx, TKORTapi::modemConfigFile(m_ctx.workDir, toCp1252(m_modem->currentText())));
}

}  // namespace nv
