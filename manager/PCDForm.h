#pragma once
// "Service Provider Data": the editor of one ProviderRec. The list opens it
// modally; OK closes with Accepted, "&New" with kResultNew (save as a new
// provider), both only after ValidateProvider passed. Two tabs (TAP direct
// and Fleet Sync) are never shown; their controls still load and save.
#include <QDialog>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "foundation/Records.h"
#include "manager/ManagerContext.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QVBoxLayout;

namespace nv {

class TCarrierContactInfoFrm;

class TPCDForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResultNew = 4;
    // ProtocolMethod items.
    enum Method { mTapModem, mTapDirect, mTapOverIp, mSnpp, mWctp, mSmpp, mSmsModem };

    TPCDForm(ManagerContext& ctx, QWidget* parent = nullptr);
    ~TPCDForm() override;

    // Add: the defaults of a new provider.
    void prepareNew();
    // Edit: every control from `rec`; its name is the old name.
    void loadRecord(const ProviderRec& rec);
    // The controls into `rec` (mapped fields only) and the bytes every save sets.
    void saveTo(ProviderRec& rec, double now) const;

    // The checks of OK and "&New"; the first failure beeps, warns, shows its tab
    // and focuses its control.
    bool ValidateProvider(bool asNew);

    bool isNew() const { return m_new; }
    QString providerName() const;
    const std::string& oldName() const { return m_oldName; }
    TCarrierContactInfoFrm* contactForm() const { return m_contact; }

    // The modem settings dialog on a .mcf file; editModemSettings unless a test
    // drives it.
    std::function<bool(const std::filesystem::path&)> runModemSettings;

    // The tab of a method (the one ProtocolMethodCloseUp shows).
    void ProtocolMethodCloseUp();

public slots:
    void reject() override;

private:
    void buildTop(QVBoxLayout* outer);
    QWidget* buildTapTab();
    QWidget* buildDirectTab();
    QWidget* buildSnppTab();
    QWidget* buildWctpTab();
    QWidget* buildNotesTab();
    QWidget* buildStatsTab();
    QWidget* buildFleetSyncTab();
    QWidget* buildSmsTab();
    QWidget* buildSmppTab();
    QWidget* buildButtons();

    bool fail(const char* message, QWidget* tab, QWidget* focus);
    void BitBtn4Click();       // modem settings
    void SpeedButton2Click();  // submit
    void BitBtn3Click();       // help
    QStringList submitLines() const;

    ManagerContext& m_ctx;
    bool m_new = false;
    std::string m_oldName;
    std::optional<std::string> m_createdMcf;  // a .mcf this editing made
    TCarrierContactInfoFrm* m_contact = nullptr;

    QTabWidget* m_tabs = nullptr;
    QWidget* m_tapTab = nullptr;
    QWidget* m_snppTab = nullptr;
    QWidget* m_wctpTab = nullptr;
    QWidget* m_smsTab = nullptr;
    QWidget* m_smppTab = nullptr;
    QWidget* m_hiddenTabs = nullptr;  // owner of the tabs never shown

    QLineEdit* CompanyName = nullptr;
    QComboBox* ProtocolMethod = nullptr;
    QLineEdit* TerminalAccessNum = nullptr;
    QLineEdit* Password = nullptr;
    QComboBox* Length = nullptr;
    QComboBox* ETAP = nullptr;
    QLineEdit* MaxMsgsPerCall = nullptr;
    QLineEdit* TapOverIPAddr = nullptr;
    QLineEdit* TapOverIPPort = nullptr;
    QComboBox* ComPort = nullptr;
    QComboBox* ComSpeed = nullptr;
    QComboBox* ComData = nullptr;
    QComboBox* ComFlow = nullptr;
    QLineEdit* SNPPServer = nullptr;
    QLineEdit* SNPPPort = nullptr;
    QLineEdit* SNPPUser = nullptr;
    QLineEdit* SNPPPass = nullptr;
    QCheckBox* SNPPSecure = nullptr;
    QCheckBox* TwoWay = nullptr;
    QCheckBox* Cove = nullptr;
    QCheckBox* HoldUntil = nullptr;
    QCheckBox* NoQueue = nullptr;
    QCheckBox* Level = nullptr;
    QCheckBox* Ping = nullptr;
    QLineEdit* Coverage = nullptr;
    QLineEdit* SNPPCallerID = nullptr;
    QLineEdit* WCTPServer = nullptr;
    QLineEdit* WCTPPort = nullptr;
    QLineEdit* WCTPDocType = nullptr;
    QLineEdit* WCTPUser = nullptr;
    QLineEdit* WCTPPass = nullptr;
    QCheckBox* WCTPNotifyWhenQueued = nullptr;
    QCheckBox* WCTPNotifyWhenDelivered = nullptr;
    QCheckBox* WCTPNotifyWhenRead = nullptr;
    QPlainTextEdit* Notes = nullptr;
    QLabel* DateAdded = nullptr;
    QLabel* PageCount = nullptr;
    QLabel* LastAccess = nullptr;
    QComboBox* FSComPort = nullptr;
    QComboBox* FSComSpeed = nullptr;
    QComboBox* FSComData = nullptr;
    QComboBox* FSComFlow = nullptr;
    QLineEdit* SMSServiceProvider = nullptr;
    QLineEdit* SMPPServer = nullptr;
    QLineEdit* SMPPort = nullptr;
    QLineEdit* SMPPUserName = nullptr;
    QLineEdit* SMPPPassword = nullptr;
    QCheckBox* SMPPSecureMode = nullptr;
    QComboBox* SMPPProtocol = nullptr;
    QPushButton* SaveAsBut = nullptr;
};

// Delivery method item <-> DeliveryType byte; -1: no item (types 5 to 10).
int methodOfDeliveryType(std::uint8_t type);
std::uint8_t deliveryTypeOfMethod(int item);

}  // namespace nv
