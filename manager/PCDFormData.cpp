// The provider editor's data: loading and saving the record, ValidateProvider,
// Cancel, the modem settings, help and Submit.
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <chrono>
#include <system_error>

#include "foundation/ConfigFile.h"
#include "foundation/DataFile.h"
#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"
#include "manager/CarrierContactInfoFrm.h"
#include "manager/Help.h"
#include "manager/PCDForm.h"
#include "manager/ProviderStore.h"
#include "manager/QtText.h"
#include "platform/DataDirectory.h"

namespace nv {
namespace fs = std::filesystem;
namespace {

constexpr const char* kUnsafeName =
    "Provider Name May Not Hold \"/\", \"\\\" Or Control Characters, Nor Begin With \".\"!";
constexpr const char* kNotSubmittable = "Only WCTP, SNPP, or TAP Modem connections can be submitted!";
constexpr const char* kNoSubmitAddress =
    "No carrier update mail is configured: set SubmitFrom and SubmitTo in the [Nerivale] section of the "
    "install file.";

constexpr std::uint8_t kTypeOfMethod[] = {dtTapModem, dtTapDirect, dtTapOverIp, dtSnpp,
                                          dtWctp,     dtSmpp,      dtSmsModem};

QString timeText(double days) {
    if (days == 0) return "N/A";
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        fromRecordTime(days).time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count()).toString("M/d/yyyy h:mm:ss AP");
}

// A whole number as the record's int32 fields take it.
std::optional<int> wholeNumber(const QString& text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(n) : std::nullopt;
}

bool isPort(const QString& text) {
    auto n = wholeNumber(text);
    return n && *n >= 1 && *n <= 65535;
}

std::string text(const QLineEdit* e) { return toCp1252(e->text()); }
void setIndex(QComboBox* c, int index) { c->setCurrentIndex(index < c->count() ? index : -1); }
// A list with no item chosen keeps what the record held.
std::uint8_t indexByte(const QComboBox* c, std::uint8_t old) {
    return c->currentIndex() < 0 ? old : static_cast<std::uint8_t>(c->currentIndex());
}

}  // namespace

int methodOfDeliveryType(std::uint8_t type) {
    for (int i = 0; i < 7; ++i)
        if (kTypeOfMethod[i] == type) return i;
    return -1;
}

std::uint8_t deliveryTypeOfMethod(int item) {
    return item >= 0 && item < 7 ? kTypeOfMethod[item] : static_cast<std::uint8_t>(dtTapModem);
}

QString TPCDForm::providerName() const { return CompanyName->text(); }

void TPCDForm::prepareNew() {
    m_new = true;
    m_oldName.clear();
    CompanyName->clear();
    CompanyName->setEnabled(true);
    TerminalAccessNum->clear();
    Length->setCurrentIndex(2);
    SNPPServer->clear();
    SNPPPort->setText("444");
    SNPPUser->clear();
    SNPPPass->clear();
    DateAdded->setText("N/A");
    LastAccess->setText("N/A");
    PageCount->setText("0");
    ProtocolMethod->setCurrentIndex(mTapModem);
    ETAP->setCurrentIndex(0);
    ComPort->setCurrentIndex(0);
    ComFlow->setCurrentIndex(1);
    ComData->setCurrentIndex(0);
    ComSpeed->setCurrentIndex(3);
    FSComPort->setCurrentIndex(0);
    FSComFlow->setCurrentIndex(1);
    FSComData->setCurrentIndex(2);
    FSComSpeed->setCurrentIndex(6);
    for (QCheckBox* c : {WCTPNotifyWhenQueued, WCTPNotifyWhenDelivered, WCTPNotifyWhenRead}) c->setChecked(false);
    WCTPDocType->setText(kWctpDefaultDocType);
    Coverage->clear();
    SaveAsBut->setEnabled(false);
    m_tabs->setCurrentWidget(m_tapTab);
    CompanyName->setFocus();
}

void TPCDForm::loadRecord(const ProviderRec& r) {
    m_new = false;
    m_oldName = r.CompanyName();
    CompanyName->setText(fromCp1252(r.CompanyName()));
    TerminalAccessNum->setText(fromCp1252(r.TerminalAccessNum()));
    Password->setText(fromCp1252(r.Password()));
    Length->setEditText(QString::number(r.MsgLength()));
    SNPPServer->setText(fromCp1252(r.SNPPServer()));
    SNPPPort->setText(fromCp1252(r.SNPPPort()));
    SNPPCallerID->setText(fromCp1252(r.SNPPCallerID()));
    ProtocolMethod->setCurrentIndex(methodOfDeliveryType(r.DeliveryType()));
    SNPPSecure->setChecked(r.SNPPSecure() == 0);
    Notes->setPlainText(fromCp1252(r.Notes()).replace("\r\n", "\n"));
    NoQueue->setChecked(r.NoQueue());
    TwoWay->setChecked(r.TwoWay());
    Ping->setChecked(r.Ping());
    Cove->setChecked(r.Cove());
    HoldUntil->setChecked(r.HoldUntil());
    Level->setChecked(r.Level());
    setIndex(ETAP, r.ETAP());
    DateAdded->setText(timeText(r.DateAdded()));
    PageCount->setText(QString::number(r.PageCount()));
    LastAccess->setText(timeText(r.LastAccess()));
    setIndex(ComPort, r.ComPort());
    setIndex(ComSpeed, r.ComSpeed());
    setIndex(ComData, r.ComData());
    setIndex(ComFlow, r.ComFlow());
    setIndex(FSComPort, r.FSComPort());
    setIndex(FSComSpeed, r.FSComSpeed());
    setIndex(FSComData, r.FSComData());
    setIndex(FSComFlow, r.FSComFlow());
    WCTPServer->setText(fromCp1252(r.WCTPServer()));
    WCTPPort->setText(fromCp1252(r.WCTPPort()));
    WCTPUser->setText(fromCp1252(r.WCTPUser()));
    WCTPPass->setText(fromCp1252(r.WCTPPass()));
    WCTPNotifyWhenQueued->setChecked(r.WCTPNotifyWhenQueued());
    WCTPNotifyWhenDelivered->setChecked(r.WCTPNotifyWhenDelivered());
    WCTPNotifyWhenRead->setChecked(r.WCTPNotifyWhenRead());
    WCTPDocType->setText(fromCp1252(r.WCTPDocType()));
    SNPPUser->setText(fromCp1252(r.SNPPUser()));
    SNPPPass->setText(fromCp1252(r.SNPPPass()));
    Coverage->setText(fromCp1252(r.Coverage()));
    MaxMsgsPerCall->setText(QString::number(r.MaxMsgsPerCall()));
    SMSServiceProvider->setText(fromCp1252(r.SMSServiceProvider()));
    TapOverIPAddr->setText(fromCp1252(r.TapOverIPAddr()));
    TapOverIPPort->setText(fromCp1252(r.TapOverIPPort()));
    SMPPUserName->setText(fromCp1252(r.SMPPUserName()));
    SMPPPassword->setText(fromCp1252(r.SMPPPassword()));
    setIndex(SMPPProtocol, r.SMPPProtocol());
    SMPPServer->setText(fromCp1252(r.SMPPServer()));
    SMPPort->setText(QString::number(r.SMPPort()));
    SMPPSecureMode->setChecked(r.SMPPSecureMode() != -1);
    m_contact->loadFrom(r);
    SaveAsBut->setEnabled(true);
    m_tabs->setCurrentWidget(m_tapTab);
    CompanyName->setFocus();
    ProtocolMethodCloseUp();
}

void TPCDForm::saveTo(ProviderRec& r, double now) const {
    r.setCompanyName(text(CompanyName));
    r.setTerminalAccessNum(text(TerminalAccessNum));
    r.setPassword(text(Password));
    r.setMsgLength(wholeNumber(Length->currentText()).value_or(0));
    r.setSNPPServer(text(SNPPServer));
    r.setSNPPPort(text(SNPPPort));
    r.setSNPPCallerID(text(SNPPCallerID));
    r.setDeliveryType(deliveryTypeOfMethod(ProtocolMethod->currentIndex()));
    r.setSNPPSecure(SNPPSecure->isChecked() ? 0 : -1);
    r.setNotes(toCp1252(Notes->toPlainText().replace("\n", "\r\n")));
    r.setNoQueue(NoQueue->isChecked());
    r.setTwoWay(TwoWay->isChecked());
    r.setPing(Ping->isChecked());
    r.setCove(Cove->isChecked());
    r.setHoldUntil(HoldUntil->isChecked());
    r.setLevel(Level->isChecked());
    r.setETAP(indexByte(ETAP, r.ETAP()));
    r.setComPort(indexByte(ComPort, r.ComPort()));
    r.setComSpeed(indexByte(ComSpeed, r.ComSpeed()));
    r.setComData(indexByte(ComData, r.ComData()));
    r.setComFlow(indexByte(ComFlow, r.ComFlow()));
    r.setFSComPort(indexByte(FSComPort, r.FSComPort()));
    r.setFSComSpeed(indexByte(FSComSpeed, r.FSComSpeed()));
    r.setFSComData(indexByte(FSComData, r.FSComData()));
    r.setFSComFlow(indexByte(FSComFlow, r.FSComFlow()));
    r.setWCTPServer(text(WCTPServer));
    r.setWCTPPort(text(WCTPPort));
    r.setWCTPUser(text(WCTPUser));
    r.setWCTPPass(text(WCTPPass));
    r.setWCTPNotifyWhenQueued(WCTPNotifyWhenQueued->isChecked());
    r.setWCTPNotifyWhenDelivered(WCTPNotifyWhenDelivered->isChecked());
    r.setWCTPNotifyWhenRead(WCTPNotifyWhenRead->isChecked());
    r.setWCTPDocType(text(WCTPDocType));
    r.setSNPPUser(text(SNPPUser));
    r.setSNPPPass(text(SNPPPass));
    r.setCoverage(text(Coverage));
    r.setMaxMsgsPerCall(wholeNumber(MaxMsgsPerCall->text()).value_or(0));
    r.setSMSServiceProvider(text(SMSServiceProvider));
    r.setTapOverIPAddr(text(TapOverIPAddr));
    r.setTapOverIPPort(text(TapOverIPPort));
    r.setSMPPUserName(text(SMPPUserName));
    r.setSMPPPassword(text(SMPPPassword));
    if (SMPPProtocol->currentIndex() >= 0) r.setSMPPProtocol(SMPPProtocol->currentIndex());
    r.setSMPPServer(text(SMPPServer));
    r.setSMPPort(wholeNumber(SMPPort->text()).value_or(0));
    r.setSMPPSecureMode(SMPPSecureMode->isChecked() ? 0 : -1);
    m_contact->saveTo(r);
    stampProviderSave(r, r.FilePos() == -1, now);
}

bool TPCDForm::fail(const char* message, QWidget* tab, QWidget* focus) {
    m_ctx.ui.beep(BeepKind::Information);
    m_ctx.ui.warning(message);
    if (tab) m_tabs->setCurrentWidget(tab);
    focus->setFocus();
    return false;
}

bool TPCDForm::ValidateProvider(bool asNew) {
    const int m = ProtocolMethod->currentIndex();
    auto empty = [](const QLineEdit* e) { return e->text().isEmpty(); };
    if (empty(CompanyName)) return fail("No Provider Name Specified!", nullptr, CompanyName);
    if (Length->currentText().isEmpty()) return fail("Max. Message Length Not Specified!", m_tapTab, Length);
    if (m < 0) return fail("No Connection Type Specified!", nullptr, ProtocolMethod);
    if (m == mTapModem && empty(TerminalAccessNum))
        return fail("No Access Number Specified!", m_tapTab, TerminalAccessNum);
    if (m == mTapOverIp && empty(TapOverIPAddr)) return fail("Must Specify TAP IP Address!", m_tapTab, TapOverIPAddr);
    if (m == mTapOverIp && empty(TapOverIPPort)) return fail("Must Specify TAP IP Port!", m_tapTab, TapOverIPPort);
    if (m == mSnpp && empty(SNPPServer)) return fail("Must Specify SNPP Server!", m_snppTab, SNPPServer);
    if (m == mSnpp && empty(SNPPPort)) return fail("Must Specify SNPP Port!", m_snppTab, SNPPPort);
    if (m == mWctp && empty(WCTPServer)) return fail("Must Specify WCTP Server!", m_wctpTab, WCTPServer);
    if (m == mWctp && empty(WCTPPort)) return fail("Must Specify WCTP Port!", m_wctpTab, WCTPPort);
    if (m == mWctp && empty(WCTPDocType)) return fail("Must DTD Document Location!", m_wctpTab, WCTPDocType);
    if (m == mSmpp && empty(SMPPServer)) return fail("Must Specify SMPP Server!", m_smppTab, SMPPServer);
    if (m == mSmpp && empty(SMPPort)) return fail("Must Specify SMPP Port!", m_smppTab, SMPPort);
    if (m == mSmpp && empty(SMPPUserName)) return fail("Must Specify SMPP User Name!", m_smppTab, SMPPUserName);
    if (m == mSmpp && empty(SMPPPassword)) return fail("Must Specify SMPP Password!", m_smppTab, SMPPPassword);

    // Checked here, before the dialog closes, so no edit is lost to a number
    // that cannot be stored or a name that cannot be a file name.
    const std::string name = text(CompanyName);
    if (!isSafeProviderName(name)) return fail(kUnsafeName, nullptr, CompanyName);
    auto length = wholeNumber(Length->currentText());
    if (!length || *length <= 0)
        return fail("Max. Message Length Must Be A Whole Number Above 0!", m_tapTab, Length);
    auto maxMsgs = MaxMsgsPerCall->text().isEmpty() ? std::optional<int>(0) : wholeNumber(MaxMsgsPerCall->text());
    if (!maxMsgs || *maxMsgs < 0)
        return fail("Max Messages Per Call Must Be A Whole Number (0 Indecates Unlimited)!", m_tapTab, MaxMsgsPerCall);
    if (m == mTapOverIp && !isPort(TapOverIPPort->text()))
        return fail("Tap Over IP Port Must Be A Port Number From 1 To 65535!", m_tapTab, TapOverIPPort);
    const bool smppPortBad = m == mSmpp ? !isPort(SMPPort->text())
                                        : !SMPPort->text().isEmpty() && !wholeNumber(SMPPort->text());
    if (smppPortBad)
        return fail("SMPP Port Must Be A Port Number From 1 To 65535!", m_smppTab, SMPPort);
    if (Password->text().size() > static_cast<int>(kMaxPasswordLength))
        return fail("Password Longer Than 31 Characters!", m_tapTab, Password);

    // Another provider of this name (letter case ignored); an edit saved in
    // place does not count its own record.
    bool skippedSelf = m_new || asNew;
    for (const std::string& other : LoadProviderNames(m_ctx.workDir, m_ctx.ui)) {
        if (!skippedSelf && equalsNoCase(other, m_oldName)) {
            skippedSelf = true;
            continue;
        }
        if (equalsNoCase(other, name)) return fail("Paging Company Already In List!", nullptr, CompanyName);
    }
    return true;
}

void TPCDForm::ProtocolMethodCloseUp() {
    switch (ProtocolMethod->currentIndex()) {
        case mTapModem:
        case mTapDirect:
        case mTapOverIp: m_tabs->setCurrentWidget(m_tapTab); break;
        case mSnpp: m_tabs->setCurrentWidget(m_snppTab); break;
        case mWctp: m_tabs->setCurrentWidget(m_wctpTab); break;
        case mSmpp: m_tabs->setCurrentWidget(m_smppTab); break;
        case mSmsModem: m_tabs->setCurrentWidget(m_smsTab); break;
        default: break;
    }
}

// Cancel removes a modem settings file only when this editing of a new
// provider made it; a file that was there before belongs to another provider.
void TPCDForm::reject() {
    if (m_new && m_createdMcf) {
        std::error_code ec;
        fs::remove(*m_createdMcf, ec);
        m_createdMcf.reset();
    }
    QDialog::reject();
}

void TPCDForm::BitBtn4Click() {
    const std::string name = text(CompanyName);
    if (name.empty()) {
        fail("No Provider Name Specified!", nullptr, CompanyName);
        return;
    }
    if (!isSafeProviderName(name)) {
        fail(kUnsafeName, nullptr, CompanyName);
        return;
    }
    const auto existing = findProviderMcf(m_ctx.workDir, name);
    const fs::path mcf = existing.value_or(providerMcfPath(m_ctx.workDir, name));
    if (!existing) {
        if (auto system = findFileNoCase(m_ctx.appDir, "system.mcf")) {
            std::error_code ec;
            if (!fs::copy_file(*system, mcf, fs::copy_options::none, ec)) {
                m_ctx.ui.beep(BeepKind::Information);
                m_ctx.ui.errorBox("Unable To Save Modem Config Settings!");
                return;
            }
        }
    }
    runModemSettings(mcf);
    std::error_code ec;
    if (!existing && fs::exists(mcf, ec)) m_createdMcf = mcf.string();
}

void TPCDForm::BitBtn3Click() {
    QWidget* tab = m_tabs->currentWidget();
    int context = 0;
    if (tab == m_tapTab) context = 20;
    else if (tab == m_snppTab) context = 22;
    else if (tab == m_wctpTab) context = 23;
    else if (tab == m_smsTab) context = 24;
    else if (tab == m_smppTab) context = 25;
    if (context) showHelp(m_ctx.ui, m_ctx.appDir, context);
}

QStringList TPCDForm::submitLines() const {
    auto flag = [](const QCheckBox* c) { return QString(c->isChecked() ? "1" : "0"); };
    QStringList lines;
    lines << "ConnectionName:=" + CompanyName->text() << "Length:=" + Length->currentText();
    const QStringList notes = Notes->toPlainText().split('\n');
    lines << "Notes:=" + notes.front();
    lines << notes.mid(1);
    lines << QString();
    switch (ProtocolMethod->currentIndex()) {
        case mTapModem:
            lines << "Password:=" + Password->text() << "AccessNumber:=" + TerminalAccessNum->text()
                  << "ETap:=" + ETAP->currentText();
            break;
        case mSnpp:
            lines << "SNPPServer:=" + SNPPServer->text() << "SNPPPort:=" + SNPPPort->text()
                  << "SNPPUser:=" + SNPPUser->text() << "SNPPPass:=" + SNPPPass->text()
                  << "NoQueue:=" + flag(NoQueue) << "TwoWay:=" + flag(TwoWay) << "Ping:=" + flag(Ping)
                  << "Cove:=" + flag(Cove) << "Hold:=" + flag(HoldUntil) << "Level:=" + flag(Level);
            break;
        case mWctp:
            lines << "WCTPServer:=" + WCTPServer->text() << "WCTPPort:=" + WCTPPort->text()
                  << "WCTPUser:=" + WCTPUser->text() << "WCTPPass:=" + WCTPPass->text()
                  << "WCTPNotifyWhenQueued=" + flag(WCTPNotifyWhenQueued)
                  << "WCTPNotifyWhenDelivered=" + flag(WCTPNotifyWhenDelivered)
                  << "WCTPNotifyWhenRead:=" + flag(WCTPNotifyWhenRead) << "WCTPDocType:=" + WCTPDocType->text();
            break;
        default: break;
    }
    return lines;
}

void TPCDForm::SpeedButton2Click() {
    const int m = ProtocolMethod->currentIndex();
    if (m != mTapModem && m != mSnpp && m != mWctp) {
        m_ctx.ui.information(kNotSubmittable);
        return;
    }
    const InstallSettings install = readInstallSettings(m_ctx.appDir);
    if (install.submitFrom.empty() || install.submitTo.empty()) {
        m_ctx.ui.information(kNoSubmitAddress);
        return;
    }
    m_contact->SendSMTP(submitLines(), fromCp1252(install.submitFrom), fromCp1252(install.submitTo));
}

}  // namespace nv
