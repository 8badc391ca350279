// "Configuration Settings": loading, OK's checks and save, Cancel, Help.
// The tabs are built in ConfigFormTabs.cpp, the service steps live in
// ConfigFormService.cpp.
#include "manager/ConfigForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "foundation/ConfigFile.h"
#include "manager/Help.h"
#include "manager/QtText.h"

namespace nv {

namespace {

// Help contexts of the tabs, in tab order.
constexpr int kTabHelp[] = {120, 130, 140, 150, 24};

// A stored position outside the list (a hand-edited file) shows the manager's
// default instead of no selection, so OK never saves -1.
void selectIndex(QComboBox* c, int stored, int managerDefault) {
    c->setCurrentIndex(stored >= 0 && stored < c->count() ? stored : managerDefault);
}

// QLineEdit::setText cuts a text to the typing limit; a longer hand-edited value
// is shown whole and the limit only stops it growing.
void setLimitedText(QLineEdit* e, const std::string& cp1252, const char* limitProperty) {
    const QString text = fromCp1252(cp1252);
    const QVariant limit = e->property(limitProperty);
    if (limit.isValid()) e->setMaxLength(std::max(limit.toInt(), static_cast<int>(text.size())));
    e->setText(text);
}

std::string text(const QLineEdit* e) { return toCp1252(e->text()); }

NumberText number(const QLineEdit* e, const NumberText& fallback) {
    return NumberText::fromText(text(e), fallback.value);
}

}  // namespace

TConfigFrm::TConfigFrm(ManagerContext& ctx, ServiceControl& service, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_service(service) {
    setObjectName("ConfigFrm");
    setWindowTitle("Configuration Settings");

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setUsesScrollButtons(false);  // every tab's title in view
    TabSheet1 = buildGeneralTab();
    TabSheet5 = buildBrevicorTab();
    TabSheet2 = buildTnppTab();
    TabSheet4 = buildWctpTab();
    TabSheet3 = buildSmtpSmsTab();
    const std::pair<QWidget*, const char*> tabs[] = {
        {TabSheet1, "TabSheet1"}, {TabSheet5, "TabSheet5"}, {TabSheet2, "TabSheet2"},
        {TabSheet4, "TabSheet4"}, {TabSheet3, "TabSheet3"}};
    const char* titles[] = {"General Settings", "Brevicor Settings", "TNPP Settings",
                            "WCTP/Proxy Settings", "SMTP/SMS Settings"};
    for (int i = 0; i < 5; ++i) {
        tabs[i].first->setObjectName(tabs[i].second);
        PageControl1->addTab(tabs[i].first, titles[i]);
    }
    PageControl1->setCurrentIndex(0);  // FormCreate

    BitBtn2 = new QPushButton("OK", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setDefault(true);
    BitBtn3 = new QPushButton("Cancel", this);
    BitBtn3->setObjectName("BitBtn3");
    BitBtn5 = new QPushButton("Help", this);
    BitBtn5->setObjectName("BitBtn5");
    auto* panel = new QVBoxLayout;
    panel->addWidget(BitBtn2);
    panel->addWidget(BitBtn3);
    panel->addWidget(BitBtn5);
    panel->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(panel);

    buildChecks();
    nameRepeatedCaptions();

    m_stopTimer = new QTimer(this);
    m_stopTimer->setSingleShot(true);
    connect(m_stopTimer, &QTimer::timeout, this, &TConfigFrm::pollStopped);

    connect(BitBtn2, &QPushButton::clicked, this, &TConfigFrm::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TConfigFrm::BitBtn3Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TConfigFrm::BitBtn5Click);
    connect(DefaultLogon, &QCheckBox::toggled, this, &TConfigFrm::DefaultLogonClick);
    connect(Install2, &QPushButton::clicked, this, &TConfigFrm::Install2Click);
    connect(ApplySvcChg, &QPushButton::clicked, this, &TConfigFrm::ApplySvcChgClick);
    connect(Uninstall2, &QPushButton::clicked, this, &TConfigFrm::Uninstall2Click);
    DefaultLogonClick();
}

void TConfigFrm::showEvent(QShowEvent* event) {
    // Each showing starts from what is saved (not from a window restored from
    // the task bar).
    if (!event->spontaneous()) loadFromConfig();
    QDialog::showEvent(event);
}

void TConfigFrm::loadFromConfig() {
    ConfigSet set;
    try {
        set = ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager).load();
    } catch (const std::exception& e) {
        m_ctx.ui.errorBox(QString::fromStdString(e.what()));
        set = ConfigSet::defaults(ConfigSide::Manager);
    }
    fillControls(set);
}

void TConfigFrm::fillControls(const ConfigSet& c) {
    const ConfigSet d = ConfigSet::defaults(ConfigSide::Manager);
    const char* lim = kLimitProperty;

    LogonName->setText(fromCp1252(c.server.LogonName));
    LogonPassword->setText(fromCp1252(c.server.Password));
    DefaultLogon->setChecked(c.server.DefaultLogon);
    DefaultLogonClick();

    const auto& np = c.nerivalePort;
    TimeOut->setText(fromCp1252(np.TimeOut.text));
    MaxMsgLength->setText(fromCp1252(np.Length.text));
    Turncate->setChecked(np.TruncateMsgs);
    selectIndex(ComPort, np.ComPort, d.nerivalePort.ComPort);
    selectIndex(DataSettings, np.DataSettings, d.nerivalePort.DataSettings);
    selectIndex(FlowCtrl, np.FlowCtrl, d.nerivalePort.FlowCtrl);
    selectIndex(JQComSpeed, np.ComSpeed, d.nerivalePort.ComSpeed);

    const auto& w = c.wctp;
    WCTPSenderID->setText(fromCp1252(w.WCTPSenderID));
    WCTPDocType->setText(fromCp1252(w.WCTPDocType));
    WCTPMiscSenderInfo->setText(fromCp1252(w.WCTPMiscSenderInfo));
    FOBSSL->setChecked(w.WCTPFOBSSL);

    const auto& m = c.smtp;
    setLimitedText(SMTPServer, m.Server, lim);
    setLimitedText(SMTPPort, m.Port.text, lim);
    setLimitedText(SMTPUser, m.User, lim);
    SMTPPass->setText(fromCp1252(m.Pass));
    SMTPUseSSL->setChecked(m.UseSSL);
    setLimitedText(SMTPEMailAddr, m.Sender, lim);
    SMTPEnabled->setChecked(m.Enabled);

    const auto& bp = c.brevicorPort;
    QJTimeOut->setText(fromCp1252(bp.TimeOut.text));
    QJEnabled->setChecked(bp.Enabled);
    selectIndex(QJComPort, bp.ComPort, d.brevicorPort.ComPort);
    selectIndex(QJData, bp.DataSettings, d.brevicorPort.DataSettings);
    selectIndex(QJFlow, bp.FlowCtrl, d.brevicorPort.FlowCtrl);
    selectIndex(QJSpeed, bp.ComSpeed, d.brevicorPort.ComSpeed);

    const auto& t = c.tnpp;
    const std::pair<QLineEdit*, const NumberText*> tnppText[] = {
        {SourceAddr, &t.SourceAddr},   {DestAddr, &t.DestAddr},       {Inertia, &t.Inertia},
        {BusyRtyTO, &t.BusyRtyTO},     {IdelTO, &t.IdelTO},           {RetryCount, &t.RetryCount},
        {KeepAliveTO, &t.KeepAliveTO}, {IntCharTime, &t.IntCharTime}, {RSHoldRetry, &t.RSHoldRetry},
        {RSHoldTime, &t.RSHoldTime},   {ENQRetries, &t.ENQRetries},   {ENQTO, &t.ENQTO}};
    for (const auto& [edit, value] : tnppText) edit->setText(fromCp1252(value->text));
    selectIndex(UseCom, t.UseCom, d.tnpp.UseCom);
    selectIndex(ComSettings, t.ComSettings, d.tnpp.ComSettings);
    selectIndex(HandShake, t.HandShake, d.tnpp.HandShake);
    selectIndex(ComSpeed, t.ComSpeed, d.tnpp.ComSpeed);
    STXInit->setChecked(t.STXInit);
    TRSPCRC->setChecked(t.TransparentCRC);
    EnableTNPP->setChecked(t.EnableTNPP);

    const auto& p = c.proxy;
    WCTPProxyServer->setText(fromCp1252(p.Server));
    WCTPProxyUserName->setText(fromCp1252(p.User));
    WCTPProxyPassword->setText(fromCp1252(p.Pass));
    UseProxyServer->setChecked(p.Enabled);

    const auto& s = c.sms;
    selectIndex(SMSCOMPort, s.COMPort, d.sms.COMPort);
    selectIndex(SMSCOMSpeed, s.COMSpeed, d.sms.COMSpeed);
    selectIndex(SMSMode, s.Mode, d.sms.Mode);
    SMSEnabled->setChecked(s.Enabled);
}

ConfigSet TConfigFrm::fromControls() const {
    ConfigSet c = ConfigSet::defaults(ConfigSide::Manager);

    auto& np = c.nerivalePort;
    np.TimeOut = number(TimeOut, np.TimeOut);
    np.Length = number(MaxMsgLength, np.Length);
    np.TruncateMsgs = Turncate->isChecked();
    np.Enabled = true;
    np.ComPort = ComPort->currentIndex();
    np.DataSettings = DataSettings->currentIndex();
    np.FlowCtrl = FlowCtrl->currentIndex();
    np.ComSpeed = JQComSpeed->currentIndex();

    auto& w = c.wctp;
    w.WCTPSenderID = text(WCTPSenderID);
    w.WCTPDocType = text(WCTPDocType);
    w.WCTPMiscSenderInfo = text(WCTPMiscSenderInfo);
    w.WCTPFOBSSL = FOBSSL->isChecked();

    auto& m = c.smtp;
    m.Server = text(SMTPServer);
    m.Port = number(SMTPPort, m.Port);
    m.User = text(SMTPUser);
    m.Pass = text(SMTPPass);
    m.UseSSL = SMTPUseSSL->isChecked();
    m.Sender = text(SMTPEMailAddr);
    m.Enabled = SMTPEnabled->isChecked();

    auto& bp = c.brevicorPort;
    bp.TimeOut = number(QJTimeOut, bp.TimeOut);
    bp.Enabled = QJEnabled->isChecked();
    bp.ComPort = QJComPort->currentIndex();
    bp.DataSettings = QJData->currentIndex();
    bp.FlowCtrl = QJFlow->currentIndex();
    bp.ComSpeed = QJSpeed->currentIndex();

    auto& t = c.tnpp;
    const std::pair<QLineEdit*, NumberText*> tnppText[] = {
        {SourceAddr, &t.SourceAddr},   {DestAddr, &t.DestAddr},       {Inertia, &t.Inertia},
        {BusyRtyTO, &t.BusyRtyTO},     {IdelTO, &t.IdelTO},           {RetryCount, &t.RetryCount},
        {KeepAliveTO, &t.KeepAliveTO}, {IntCharTime, &t.IntCharTime}, {RSHoldRetry, &t.RSHoldRetry},
        {RSHoldTime, &t.RSHoldTime},   {ENQRetries, &t.ENQRetries},   {ENQTO, &t.ENQTO}};
    for (const auto& [edit, value] : tnppText) *value = number(edit, *value);
    t.UseCom = UseCom->currentIndex();
    t.ComSettings = ComSettings->currentIndex();
    t.HandShake = HandShake->currentIndex();
    t.ComSpeed = ComSpeed->currentIndex();
    t.STXInit = STXInit->isChecked();
    t.TransparentCRC = TRSPCRC->isChecked();
    t.EnableTNPP = EnableTNPP->isChecked();

    auto& p = c.proxy;
    p.Server = text(WCTPProxyServer);
    p.User = text(WCTPProxyUserName);
    p.Pass = text(WCTPProxyPassword);
    p.Enabled = UseProxyServer->isChecked();

    auto& s = c.sms;
    s.COMPort = SMSCOMPort->currentIndex();
    s.COMSpeed = SMSCOMSpeed->currentIndex();
    s.Mode = SMSMode->currentIndex();
    s.Enabled = SMSEnabled->isChecked();
    return c;
}

void TConfigFrm::failField(QLineEdit* field, QWidget* tab, const QString& message,
                           const char* putBack) {
    m_ctx.ui.beep(BeepKind::Information);
    m_ctx.ui.errorBox(message);
    PageControl1->setCurrentWidget(tab);
    if (putBack) field->setText(putBack);
    field->setFocus();
}

bool TConfigFrm::checkFields() {
    for (const BlankCheck& c : m_checks) {
        if (c.when && !c.when->isChecked()) continue;
        if (!c.field->text().isEmpty()) continue;
        failField(c.field, c.tab, c.message, c.putBack);
        return false;
    }
    return true;
}

bool TConfigFrm::saveSettings() {
    if (!checkFields()) return false;
    try {
        ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager).saveEditor(fromControls());
    } catch (const std::exception& e) {
        m_ctx.ui.errorBox(QString::fromStdString(e.what()));
        return false;
    }
    return true;
}

void TConfigFrm::BitBtn2Click() {
    if (saveSettings()) accept();
}

void TConfigFrm::BitBtn3Click() { reject(); }

void TConfigFrm::BitBtn5Click() {
    showHelp(m_ctx.ui, m_ctx.appDir, kTabHelp[PageControl1->currentIndex()]);
}

void TConfigFrm::DefaultLogonClick() {
    const bool own = !DefaultLogon->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{LogonName, LogonPassword, m_logonNameLabel,
                                                      m_logonPasswordLabel})
        w->setEnabled(own);
}

void TConfigFrm::setServiceButtons(ButtonState install, ButtonState uninstall, ButtonState apply) {
    auto set = [](QPushButton* b, ButtonState s) {
        if (s != ButtonState::Unchanged) b->setEnabled(s == ButtonState::On);
    };
    set(Install2, install);
    set(Uninstall2, uninstall);
    set(ApplySvcChg, apply);
}

bool TConfigFrm::smtpEnabledSaved() const {
    return ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager).smtp().Enabled;
}

}  // namespace nv
