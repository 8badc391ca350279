// The five tabs of "Configuration Settings": every control with its caption,
// list, initial text, length limit, key filter and hint.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "foundation/ConfigFile.h"
#include "foundation/SpeedIndex.h"
#include "manager/ConfigForm.h"
#include "manager/FormWidgets.h"

namespace nv {

namespace {

const QStringList kPortData = {"7,E,1", "8,N,1"};
const QStringList kPortFlow = {"None", "Hardware", "Software", "Both"};
// The TNPP link's lists are in another order than the ports' lists.
const QStringList kTnppData = {"8,N,1", "7,E,1"};
const QStringList kTnppHandShake = {"RTS/CTS", "Xon/Xoff", "Both", "None"};

// A caption label with the control as its buddy (screen readers name the
// control by it), and an optional note after the control.
QLabel* addRow(QFormLayout* form, const char* caption, QWidget* field, const char* note = nullptr) {
    auto* label = new QLabel(QString::fromUtf8(caption));
    label->setBuddy(field);
    if (!note) {
        form->addRow(label, field);
    } else {
        auto* row = new QHBoxLayout;
        row->addWidget(field);
        row->addWidget(new QLabel(QString::fromUtf8(note)));
        form->addRow(label, row);
    }
    return label;
}

QGroupBox* group(const char* title, QLayout* layout) {
    auto* g = new QGroupBox(QString::fromUtf8(title));
    g->setLayout(layout);
    return g;
}

}  // namespace

QLineEdit* TConfigFrm::numberEdit(const char* name, const char* initial) {
    QLineEdit* e = textEdit(name);
    // Digits only, typed or pasted (TimeOutKeyPress's filter); backspace still works.
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
    e->setText(initial);
    return e;
}

QLineEdit* TConfigFrm::textEdit(const char* name, int maxLength) {
    QLineEdit* e = namedEdit(name, maxLength, false, this);
    if (maxLength > 0) e->setProperty(kLimitProperty, maxLength);
    return e;
}

QComboBox* TConfigFrm::list(const char* name, const QStringList& items) { return namedList(name, items, false, this); }

QCheckBox* TConfigFrm::box(const char* name, const char* caption) {
    return namedCheckBox(name, QString::fromUtf8(caption), this);
}

QWidget* TConfigFrm::buildGeneralTab() {
    auto* service = new QFormLayout;
    LogonName = textEdit("LogonName");
    LogonPassword = textEdit("LogonPassword");
    LogonPassword->setEchoMode(QLineEdit::Password);
    m_logonNameLabel = addRow(service, "Logon &Name:", LogonName);
    m_logonPasswordLabel = addRow(service, "Logon &Password:", LogonPassword);
    DefaultLogon = box("DefaultLogon", "&Default Service Logon");
    DefaultLogon->setChecked(true);
    service->addRow(DefaultLogon);
    Install2 = namedButton("Install2", "Install Service", this);
    Uninstall2 = namedButton("Uninstall2", "Uninstall Service", this);
    ApplySvcChg = namedButton("ApplySvcChg", "Apply Changes", this);
    for (QPushButton* b : {Install2, Uninstall2, ApplySvcChg}) b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Install2);
    buttons->addWidget(Uninstall2);
    buttons->addWidget(ApplySvcChg);
    service->addRow(buttons);

    auto* port = new QFormLayout;
    ComPort = list("ComPort", comPortItems(20));
    DataSettings = list("DataSettings", kPortData);
    FlowCtrl = list("FlowCtrl", kPortFlow);
    JQComSpeed = list("JQComSpeed", speedItems());
    TimeOut = numberEdit("TimeOut", "60");
    MaxMsgLength = numberEdit("MaxMsgLength", "512");
    addRow(port, "Com Port:", ComPort);
    addRow(port, "Data:", DataSettings);
    addRow(port, "Flow CTRL:", FlowCtrl);
    addRow(port, "COM Speed:", JQComSpeed);
    addRow(port, "Time Out:", TimeOut);
    addRow(port, "Max Msg Length:", MaxMsgLength);
    Turncate = box("Turncate", "Truncate Messages");
    port->addRow(Turncate);

    auto* tab = new QWidget;
    auto* v = new QVBoxLayout(tab);
    v->addWidget(group("Service Settings", service));
    v->addWidget(group("Neri Vale Port Settings", port));
    v->addStretch();
    return tab;
}

QWidget* TConfigFrm::buildBrevicorTab() {
    auto* form = new QFormLayout;
    QJComPort = list("QJComPort", comPortItems(20));
    QJData = list("QJData", kPortData);
    QJFlow = list("QJFlow", kPortFlow);
    QJSpeed = list("QJSpeed", speedItems());
    QJTimeOut = numberEdit("QJTimeOut", "60");
    addRow(form, "Com Port:", QJComPort);
    addRow(form, "Data:", QJData);
    addRow(form, "Flow CTRL:", QJFlow);
    addRow(form, "COM Speed:", QJSpeed);
    addRow(form, "Time Out:", QJTimeOut);
    QJEnabled = box("QJEnabled", "Enabled");
    form->addRow(QJEnabled);

    auto* tab = new QWidget;
    auto* v = new QVBoxLayout(tab);
    v->addWidget(group("Brevicor Terminal  Settings", form));
    v->addStretch();
    return tab;
}

QWidget* TConfigFrm::buildTnppTab() {
    auto* link = new QFormLayout;
    SourceAddr = numberEdit("SourceAddr", "0");
    // The destination and the inertia take any character.
    DestAddr = textEdit("DestAddr");
    DestAddr->setText("0");
    Inertia = textEdit("Inertia");
    Inertia->setText("3");
    BusyRtyTO = numberEdit("BusyRtyTO", "60");
    IdelTO = numberEdit("IdelTO", "10");
    RetryCount = numberEdit("RetryCount", "6");
    KeepAliveTO = numberEdit("KeepAliveTO", "60");
    IntCharTime = numberEdit("IntCharTime", "2");
    RSHoldRetry = numberEdit("RSHoldRetry", "24");
    RSHoldTime = numberEdit("RSHoldTime", "10");
    ENQRetries = numberEdit("ENQRetries", "6");
    ENQTO = numberEdit("ENQTO", "10");
    addRow(link, "Source Address:", SourceAddr, "(DEC)");
    addRow(link, "Dest. Address:", DestAddr, "(DEC)");
    addRow(link, "Inertia:", Inertia);
    addRow(link, "Busy Rsp. T.O.:", BusyRtyTO);
    addRow(link, "Idel Rsp. T.O.:", IdelTO);
    addRow(link, "Retry Count:", RetryCount);
    addRow(link, "Keep Alive T.O.:", KeepAliveTO);
    addRow(link, "Inter Char. Time:", IntCharTime);
    addRow(link, "RS Hold Retry:", RSHoldRetry);
    addRow(link, "RS Hold Time:", RSHoldTime);
    addRow(link, "ENQ Retries:", ENQRetries);
    addRow(link, "ENQ Rsp. T.O.:", ENQTO);
    EnableTNPP = box("EnableTNPP", "Enable TNPP");
    link->addRow(EnableTNPP);

    auto* port = new QFormLayout;
    UseCom = list("UseCom", comPortItems(20));
    ComSettings = list("ComSettings", kTnppData);
    HandShake = list("HandShake", kTnppHandShake);
    ComSpeed = list("ComSpeed", speedItems());
    addRow(port, "Com Port:", UseCom);
    addRow(port, "Settings:", ComSettings);
    addRow(port, "Handshake:", HandShake);
    addRow(port, "Speed:", ComSpeed);
    STXInit = box("STXInit", "Send STX In Initiation");
    TRSPCRC = box("TRSPCRC", "Transparent CRC");
    port->addRow(STXInit);
    port->addRow(TRSPCRC);

    auto* tab = new QWidget;
    auto* h = new QHBoxLayout(tab);
    h->addWidget(group("TNPP Settings", link));
    auto* right = new QVBoxLayout;
    right->addWidget(group("Port Settings", port));
    right->addStretch();
    h->addLayout(right);
    return tab;
}

QWidget* TConfigFrm::buildWctpTab() {
    auto* wctp = new QFormLayout;
    WCTPSenderID = textEdit("WCTPSenderID");
    WCTPSenderID->setText("NOYB");
    WCTPSenderID->setToolTip("Normally Your E-Mail Address");
    WCTPMiscSenderInfo = textEdit("WCTPMiscSenderInfo");
    WCTPDocType = textEdit("WCTPDocType");
    WCTPDocType->setToolTip("Normally Leave The Default Setting");
    addRow(wctp, "Sender &ID:", WCTPSenderID);
    addRow(wctp, "Sender &Misc. Info:", WCTPMiscSenderInfo);
    addRow(wctp, "Default &DTD Document:", WCTPDocType);
    FOBSSL = box("FOBSSL", "Fail On Bad SSL");
    wctp->addRow(FOBSSL);

    auto* proxy = new QFormLayout;
    WCTPProxyServer = textEdit("WCTPProxyServer");
    WCTPProxyServer->setToolTip("Proxy Server Address, With Its Port After A Colon (host:8080)");
    WCTPProxyUserName = textEdit("WCTPProxyUserName");
    WCTPProxyPassword = textEdit("WCTPProxyPassword");
    WCTPProxyPassword->setEchoMode(QLineEdit::Password);
    addRow(proxy, "Pro&xy Server:", WCTPProxyServer);
    addRow(proxy, "Proxy User:", WCTPProxyUserName);
    addRow(proxy, "Proxy Pass&word:", WCTPProxyPassword);
    UseProxyServer = box("UseProxyServer", "&Use HTTP Proxy");
    proxy->addRow(UseProxyServer);

    auto* tab = new QWidget;
    auto* v = new QVBoxLayout(tab);
    v->addWidget(group("WCTP Settings", wctp));
    v->addWidget(group("HTTP Proxy Server", proxy));
    v->addStretch();
    return tab;
}

QWidget* TConfigFrm::buildSmtpSmsTab() {
    auto* sms = new QFormLayout;
    SMSCOMPort = list("SMSCOMPort", comPortItems(15));
    SMSCOMSpeed = list("SMSCOMSpeed", speedItems(12));  // stops at 57600
    SMSCOMSpeed->setToolTip("COM Speed (Normally 2400)");
    SMSMode = list("SMSMode", {"Text", "PDU"});
    SMSMode->setToolTip("Sending Mode (Normally Text)");
    addRow(sms, "&COM Port:", SMSCOMPort);
    addRow(sms, "COM &Speed:", SMSCOMSpeed);
    addRow(sms, "&Mode:", SMSMode);
    SMSEnabled = box("SMSEnabled", "SMS Enabled");
    sms->addRow(SMSEnabled);

    auto* smtp = new QFormLayout;
    SMTPServer = textEdit("SMTPServer", 55);
    SMTPServer->setToolTip("Leave Blank To Look Up The Recipient's Mail Server (MX)");
    SMTPPort = numberEdit("SMTPPort", "25");
    SMTPPort->setMaxLength(10);
    SMTPPort->setProperty(kLimitProperty, 10);
    SMTPPort->setToolTip("Normally 25");
    SMTPUser = textEdit("SMTPUser", 55);
    SMTPPass = textEdit("SMTPPass");
    SMTPPass->setEchoMode(QLineEdit::Password);
    SMTPEMailAddr = textEdit("SMTPEMailAddr", 100);
    addRow(smtp, "SMTP Ser&ver:", SMTPServer);
    addRow(smtp, "SMTP P&ort:", SMTPPort);
    addRow(smtp, "SMTP &User:", SMTPUser);
    addRow(smtp, "SMTP &Password:", SMTPPass);
    addRow(smtp, "Senders E-&Mail Address:", SMTPEMailAddr);
    SMTPUseSSL = box("SMTPUseSSL", "Enable SSL/TLS");
    SMTPEnabled = box("SMTPEnabled", "Enabled SMTP Paging");
    smtp->addRow(SMTPUseSSL);
    smtp->addRow(SMTPEnabled);

    auto* tab = new QWidget;
    auto* v = new QVBoxLayout(tab);
    v->addWidget(group("SMS Port Settings", sms));
    v->addWidget(group("SMTP Setting", smtp));
    v->addStretch();
    return tab;
}

// Some captions repeat across the tabs ("Com Port:" on three of them). A
// control under such a caption takes its group's title into its accessible
// name, so a screen reader tells them apart.
void TConfigFrm::nameRepeatedCaptions() {
    auto plain = [](QString t) { return t.remove('&').remove(':').trimmed(); };
    QHash<QString, int> seen;
    const auto labels = findChildren<QLabel*>();
    for (QLabel* l : labels)
        if (l->buddy()) ++seen[plain(l->text()).toLower()];
    for (QLabel* l : labels) {
        if (!l->buddy() || seen[plain(l->text()).toLower()] < 2) continue;
        QWidget* p = l->buddy()->parentWidget();
        while (p && !qobject_cast<QGroupBox*>(p)) p = p->parentWidget();
        if (p) l->buddy()->setAccessibleName(plain(static_cast<QGroupBox*>(p)->title()) + " " + plain(l->text()));
    }
}

// OK's checks, in the order they run: the first blank field stops the save.
void TConfigFrm::buildChecks() {
    m_checks = {
        {nullptr, WCTPSenderID, "Sender ID Can Not Be Blank!", TabSheet4, "NOYB"},
        {nullptr, WCTPDocType, "DTD Document Can Not Be Blank!", TabSheet4, kWctpDefaultDocType},
        {nullptr, TimeOut, "Time Out Can Not Be Blank!", TabSheet1, "60"},
        {nullptr, MaxMsgLength, "Max Msg Length Can Not Be Blank!", TabSheet1, "512"},
        {UseProxyServer, WCTPProxyServer, "Proxy Server Can Not Be Blank!", TabSheet4, nullptr},
        {SMTPEnabled, SMTPPort, "SMTP Port Can Not Be Blank!", TabSheet3, "25"},
        {SMTPEnabled, SMTPEMailAddr, "Sender Address Can Not Be Blank!", TabSheet3, nullptr},
        {QJEnabled, QJTimeOut, "Brevicor Port Can Not Be Blank!", TabSheet5, "60"},
        {EnableTNPP, SourceAddr, "Source Address Can Not Be Blank!", TabSheet2, "0"},
        {EnableTNPP, BusyRtyTO, "Busy Rsp. T.O. Can Not Be Blank!", TabSheet2, "60"},
        {EnableTNPP, IdelTO, "Idle T.O. Can Not Be Blank!", TabSheet2, "10"},
        {EnableTNPP, RetryCount, "Retry Coun Can Not Be Blank!", TabSheet2, "6"},
        {EnableTNPP, KeepAliveTO, "Keep Alive T.O. Can Not Be Blank!", TabSheet2, "60"},
        {EnableTNPP, IntCharTime, "Inter Char Time Can Not Be Blank!", TabSheet2, "2"},
        {EnableTNPP, RSHoldRetry, "RS Hold Retry Can Not Be Blank!", TabSheet2, "24"},
        {EnableTNPP, RSHoldTime, "RS Hold Time Can Not Be Blank!", TabSheet2, "10"},
        {EnableTNPP, ENQRetries, "ENQ Retries Can Not Be Blank!", TabSheet2, "6"},
        {EnableTNPP, ENQTO, "ENQ T.O. Can Not Be Blank!", TabSheet2, "10"},
    };
}

}  // namespace nv
