// The provider editor's window: top fields, the tabs and the side buttons, and
// the key filters. Loading, saving and the checks are in PCDFormData.cpp.
#include "manager/PCDForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "foundation/ConfigFile.h"
#include "manager/CarrierContactInfoFrm.h"
#include "manager/FormWidgets.h"
#include "manager/ModemSettingsDlg.h"

namespace nv {
namespace {

const QStringList kMethods = {"Tap Modem",     "Tap Direct Connect", "TAP Over IP", "Internet SNPP",
                              "Internet WCTP", "Internet SMPP",      "SMS Modem"};
const QStringList kFlows = {"None", "Hardware", "Software", "Both"};

// The editor's key filters, on the typed text: a dropped key beeps. Control
// keys (editing shortcuts, Tab, Enter, Esc) pass; a pasted text is checked by
// ValidateProvider instead.
class KeyFilter : public QObject {
public:
    enum class Kind { Digits, Name };
    KeyFilter(Kind kind, OperatorUi& ui, QObject* parent) : QObject(parent), m_kind(kind), m_ui(ui) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const QString text = static_cast<QKeyEvent*>(event)->text();
        for (QChar c : text) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F) continue;
            if (!passes(c)) {
                m_ui.beep(m_kind == Kind::Digits ? BeepKind::Plain : BeepKind::Information);
                return true;
            }
        }
        return false;
    }

private:
    bool passes(QChar c) const {
        const char16_t u = c.unicode();
        if (m_kind == Kind::Digits) return (u >= '0' && u <= '9') || u == ',' || u == '#' || u == '*' || u == '-';
        if (u == '-' || u == '_') return true;
        return !((u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60));
    }
    Kind m_kind;
    OperatorUi& m_ui;
};

QLabel* statLabel(const char* name) {
    auto* l = new QLabel("N/A");
    l->setObjectName(name);
    return l;
}

}  // namespace

TPCDForm::TPCDForm(ManagerContext& ctx, QWidget* parent) : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("Service Provider Data");
    m_contact = new TCarrierContactInfoFrm(ctx, this);
    m_hiddenTabs = new QWidget(this);
    m_hiddenTabs->hide();

    auto* outer = new QVBoxLayout;
    buildTop(outer);
    m_tabs = new QTabWidget;
    m_tabs->setObjectName("PageControl1");
    m_tabs->setUsesScrollButtons(false);  // every shown tab in sight
    m_tapTab = buildTapTab();
    m_snppTab = buildSnppTab();
    m_wctpTab = buildWctpTab();
    m_smsTab = buildSmsTab();
    m_smppTab = buildSmppTab();
    m_tabs->addTab(m_tapTab, "&TAP Access");
    m_tabs->addTab(m_snppTab, "&SNPP Access");
    m_tabs->addTab(m_wctpTab, "&WCTP Access");
    m_tabs->addTab(buildNotesTab(), "&Notes");
    m_tabs->addTab(buildStatsTab(), "S&tats");
    m_tabs->addTab(m_smsTab, "SMS Access");
    m_tabs->addTab(m_smppTab, "SMPP Access");
    // "TAP &Direct Access" and "Fleet Sync Access": never shown.
    auto* hidden = new QVBoxLayout(m_hiddenTabs);
    hidden->addWidget(buildDirectTab());
    hidden->addWidget(buildFleetSyncTab());
    outer->addWidget(m_tabs, 1);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(outer, 1);
    layout->addWidget(buildButtons());

    auto* digits = new KeyFilter(KeyFilter::Kind::Digits, ctx.ui, this);
    for (QLineEdit* e : {TerminalAccessNum, MaxMsgsPerCall, TapOverIPPort, SMPPort}) e->installEventFilter(digits);
    CompanyName->installEventFilter(new KeyFilter(KeyFilter::Kind::Name, ctx.ui, this));
    connect(ProtocolMethod, &QComboBox::activated, this, &TPCDForm::ProtocolMethodCloseUp);
    runModemSettings = [this](const std::filesystem::path& mcf) { return editModemSettings(this, m_ctx, mcf); };
    connect(m_contact, &TCarrierContactInfoFrm::mailFinished, this, [this](bool ok) {
        if (ok) m_ctx.ui.information("Update Sent");
    });
}

TPCDForm::~TPCDForm() = default;

void TPCDForm::buildTop(QVBoxLayout* outer) {
    auto* form = new QFormLayout;
    CompanyName = namedEdit("CompanyName", ProviderRec::kCompanyNameLength);
    CompanyName->setToolTip("Enter The Name Of The Paging Company");
    ProtocolMethod = namedList("ProtocolMethod", kMethods);
    form->addRow("&Provider Name:", CompanyName);
    form->addRow("&Delivery Method:", ProtocolMethod);
    outer->addLayout(form);
}

QWidget* TPCDForm::buildTapTab() {
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    TerminalAccessNum = namedEdit("TerminalAccessNum", ProviderRec::kTerminalAccessNumLength);
    // The cipher keeps 31 characters; ValidateProvider refuses longer ones.
    Password = namedEdit("Password", 0);
    Length = namedList("Length", {"80", "140", "160", "240"}, true);
    ETAP = namedList("ETAP", {"NONE", "Nextel SMS", "Aldiscon SMS"});
    MaxMsgsPerCall = namedEdit("MaxMsgsPerCall", 11);
    MaxMsgsPerCall->setToolTip("0 Indecates Unlimited");
    TapOverIPAddr = namedEdit("TapOverIPAddr", ProviderRec::kTapOverIPAddrLength);
    TapOverIPPort = namedEdit("TapOverIPPort", ProviderRec::kTapOverIPPortLength);
    form->addRow("&Access Number:", TerminalAccessNum);
    form->addRow("&Password:", Password);
    form->addRow("&Length:", Length);
    form->addRow("E-TAP:", ETAP);
    form->addRow("&Max Messages Per Call:", MaxMsgsPerCall);
    form->addRow("Tap Over IP Addr:", TapOverIPAddr);
    form->addRow("Tap Over IP Port:", TapOverIPPort);
    auto* modem = new QPushButton("Provider &Modem Settings");
    modem->setObjectName("BitBtn4");
    connect(modem, &QPushButton::clicked, this, &TPCDForm::BitBtn4Click);
    form->addRow(modem);
    return tab;
}

QWidget* TPCDForm::buildDirectTab() {
    auto* tab = new QGroupBox("TAP &Direct Access");
    auto* form = new QFormLayout(tab);
    ComPort = namedList("ComPort", comPortItems(15));
    ComSpeed = namedList("ComSpeed", speedItems());
    ComData = namedList("ComData", {"7,E,1", "8,N,1"});
    ComFlow = namedList("ComFlow", kFlows);
    form->addRow("Com Port:", ComPort);
    form->addRow("Com Speed:", ComSpeed);
    form->addRow("Com Data:", ComData);
    form->addRow("Com Flow:", ComFlow);
    return tab;
}

QWidget* TPCDForm::buildSnppTab() {
    auto* tab = new QWidget;
    auto* server = new QGroupBox("SNPP Server");
    auto* sf = new QFormLayout(server);
    SNPPServer = namedEdit("SNPPServer", ProviderRec::kSNPPServerLength);
    SNPPPort = namedEdit("SNPPPort", ProviderRec::kSNPPPortLength);
    SNPPPort->setText("444");
    SNPPUser = namedEdit("SNPPUser", ProviderRec::kSNPPUserLength);
    SNPPPass = namedEdit("SNPPPass", ProviderRec::kSNPPPassLength, true);
    SNPPSecure = namedCheckBox("SNPPSecure", "Use Secure Connection");
    sf->addRow("SNPP Server:", SNPPServer);
    sf->addRow("SNPP Port:", SNPPPort);
    sf->addRow("SNPP User:", SNPPUser);
    sf->addRow("SNPP Password:", SNPPPass);
    sf->addRow(SNPPSecure);

    auto* options = new QGroupBox("SNPP Options");
    auto* of = new QFormLayout(options);
    TwoWay = namedCheckBox("TwoWay", "2 &Way");
    Cove = namedCheckBox("Cove", "&Alt. Coverage");
    HoldUntil = namedCheckBox("HoldUntil", "&Hold Until");
    NoQueue = namedCheckBox("NoQueue", "No &Queue");
    Level = namedCheckBox("Level", "&Level");
    Ping = namedCheckBox("Ping", "&Ping");
    auto* flags = new QHBoxLayout;
    for (QCheckBox* c : {TwoWay, Cove, HoldUntil, NoQueue, Level, Ping}) flags->addWidget(c);
    of->addRow(flags);
    Coverage = namedEdit("Coverage", ProviderRec::kCoverageLength);
    SNPPCallerID = namedEdit("SNPPCallerID", ProviderRec::kSNPPCallerIDLength);
    of->addRow("&Coverage:", Coverage);
    of->addRow("Caller &ID:", SNPPCallerID);

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(server);
    layout->addWidget(options);
    return tab;
}

QWidget* TPCDForm::buildWctpTab() {
    auto* tab = new QWidget;
    auto* server = new QGroupBox("WCTP Server");
    auto* sf = new QFormLayout(server);
    WCTPServer = namedEdit("WCTPServer", ProviderRec::kWCTPServerLength);
    WCTPPort = namedEdit("WCTPPort", ProviderRec::kWCTPPortLength);
    WCTPPort->setText("80");
    WCTPDocType = namedEdit("WCTPDocType", ProviderRec::kWCTPDocTypeLength);
    WCTPUser = namedEdit("WCTPUser", ProviderRec::kWCTPUserLength);
    WCTPPass = namedEdit("WCTPPass", ProviderRec::kWCTPPassLength, true);
    sf->addRow("WCTP Server:", WCTPServer);
    sf->addRow("WCTP Port:", WCTPPort);
    sf->addRow("&DTD Doc.:", WCTPDocType);
    sf->addRow("WCTP User:", WCTPUser);
    sf->addRow("WCTP Password:", WCTPPass);
    auto* options = new QGroupBox("Delivery Options");
    auto* ol = new QVBoxLayout(options);
    WCTPNotifyWhenQueued = namedCheckBox("WCTPNotifyWhenQueued", "Notify When Queued");
    WCTPNotifyWhenDelivered = namedCheckBox("WCTPNotifyWhenDelivered", "Notify When Delivered");
    WCTPNotifyWhenRead = namedCheckBox("WCTPNotifyWhenRead", "Notify When Read");
    for (QCheckBox* c : {WCTPNotifyWhenQueued, WCTPNotifyWhenDelivered, WCTPNotifyWhenRead}) ol->addWidget(c);
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(server);
    layout->addWidget(options);
    return tab;
}

QWidget* TPCDForm::buildNotesTab() {
    auto* tab = new QWidget;
    Notes = new QPlainTextEdit;
    Notes->setObjectName("Notes");
    Notes->setAccessibleName("Notes");
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(Notes);
    return tab;
}

QWidget* TPCDForm::buildStatsTab() {
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    DateAdded = statLabel("DateAdded");
    PageCount = statLabel("PageCount");
    LastAccess = statLabel("LastAccess");
    form->addRow("Date Added:", DateAdded);
    form->addRow("Pages Sent:", PageCount);
    form->addRow("Last Page:", LastAccess);
    return tab;
}

QWidget* TPCDForm::buildFleetSyncTab() {
    auto* tab = new QGroupBox("Fleet Sync Access");
    auto* form = new QFormLayout(tab);
    FSComPort = namedList("FSComPort", comPortItems(15));
    FSComSpeed = namedList("FSComSpeed", speedItems());
    FSComData = namedList("FSComData", {"7,E,1", "8,N,1", "8,N,2"});
    FSComFlow = namedList("FSComFlow", kFlows);
    form->addRow("Fleet Sync Com Port:", FSComPort);
    form->addRow("Fleet Sync Com Speed:", FSComSpeed);
    form->addRow("Fleet Sync Com Data:", FSComData);
    form->addRow("Fleet Sync Com Flow:", FSComFlow);
    return tab;
}

QWidget* TPCDForm::buildSmsTab() {
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    SMSServiceProvider = namedEdit("SMSServiceProvider", ProviderRec::kSMSServiceProviderLength);
    form->addRow("&Service Provider:", SMSServiceProvider);
    return tab;
}

QWidget* TPCDForm::buildSmppTab() {
    auto* tab = new QWidget;
    auto* server = new QGroupBox("SMPP Server");
    auto* sf = new QFormLayout(server);
    SMPPServer = namedEdit("SMPPServer", ProviderRec::kSMPPServerLength);
    SMPPort = namedEdit("SMPPort", 11);
    SMPPort->setText("2775");
    SMPPUserName = namedEdit("SMPPUserName", ProviderRec::kSMPPUserNameLength);
    SMPPPassword = namedEdit("SMPPPassword", ProviderRec::kSMPPPasswordLength, true);
    SMPPSecureMode = namedCheckBox("SMPPSecureMode", "Use Secure Connection");
    SMPPProtocol = namedList("SMPPProtocol",
                            {"SMPP for traditional SMPP servers", "CIMD2 for Nokia SMS Center servers"});
    sf->addRow("SMPP Server:", SMPPServer);
    sf->addRow("SMPP Port:", SMPPort);
    sf->addRow("SMPP User Name:", SMPPUserName);
    sf->addRow("SMPP Password:", SMPPPassword);
    sf->addRow(SMPPSecureMode);
    sf->addRow("SMPP Protocol:", SMPPProtocol);
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(server);
    layout->addStretch(1);
    return tab;
}

QWidget* TPCDForm::buildButtons() {
    auto* box = new QWidget;
    auto* l = new QVBoxLayout(box);
    auto button = [&](const char* name, const char* caption, const char* hint = nullptr) {
        auto* b = new QPushButton(caption);
        b->setObjectName(name);
        if (hint) b->setToolTip(hint);
        l->addWidget(b);
        return b;
    };
    QPushButton* ok = button("BitBtn1", "&OK");
    ok->setDefault(true);
    QPushButton* cancel = button("BitBtn2", "&Cancel");
    QPushButton* help = button("BitBtn3", "&Help");
    SaveAsBut = button("SaveAsBut", "&New", "Save As A New Provider");
    QPushButton* contact = button("SpeedButton1", "Contact Info.", "Show Carrier Contact Information");
    QPushButton* submit = button("SpeedButton2", "Submit To KOR", "Submit Carrier Information To KOR");
    l->addStretch(1);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (ValidateProvider(false)) accept();
    });
    connect(SaveAsBut, &QPushButton::clicked, this, [this] {
        if (ValidateProvider(true)) done(kResultNew);
    });
    connect(cancel, &QPushButton::clicked, this, &TPCDForm::reject);
    connect(help, &QPushButton::clicked, this, &TPCDForm::BitBtn3Click);
    connect(contact, &QPushButton::clicked, this, [this] { m_contact->exec(); });
    connect(submit, &QPushButton::clicked, this, &TPCDForm::SpeedButton2Click);
    return box;
}

}  // namespace nv
