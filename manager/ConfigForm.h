#pragma once
// "Configuration Settings": the editor of Config.Dat and the service's
// installation. One instance lives for the whole run beside the main window.
//
// Controls carry the system's names as object names (TimeOut, QJEnabled, ...),
// so tests and screen readers find them. Every showing reloads the saved
// values: edits that were cancelled do not linger.
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <vector>

#include "manager/ManagerContext.h"
#include "manager/PrivilegedRunner.h"
#include "manager/ServiceControl.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;

namespace nv {

struct ConfigSet;

// How SetStatus leaves one of the editor's service buttons.
enum class ButtonState { On, Off, Unchanged };

class TConfigFrm : public QDialog {
    Q_OBJECT
public:
    TConfigFrm(ManagerContext& ctx, ServiceControl& service, QWidget* parent = nullptr);

    // Fills every control from Config.Dat with the manager's defaults.
    void loadFromConfig();
    // The OK operation's checks and save without showing the window (first run).
    // False when a check failed or the file could not be written.
    bool saveSettings();
    // SetStatus's three columns: "Install Service", "Uninstall Service", "Apply Changes".
    void setServiceButtons(ButtonState install, ButtonState uninstall, ButtonState apply);
    // [SMTP] Enabled as saved in Config.Dat (the route editor's e-mail offer).
    bool smtpEnabledSaved() const;

    // Runs after each install, apply and removal so the main window refreshes its state.
    std::function<void()> onServiceChanged;

    // ZQSvc as the privileged steps run it: beside this program, else in the
    // install directory.
    QString serviceProgram() const;
    // How long Uninstall waits for the service to stop, and how often it asks.
    void setStopWait(int pollMs, int limitMs) {
        m_stopPollMs = pollMs;
        m_stopLimitMs = limitMs;
    }
    // True while an install, apply or removal is under way.
    bool serviceBusy() const { return m_busy; }

public slots:
    void BitBtn2Click();  // OK
    void BitBtn3Click();  // Cancel
    void BitBtn5Click();  // Help
    void DefaultLogonClick();
    void Install2Click();
    void ApplySvcChgClick();
    void Uninstall2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // One check of OK: a field that must not be blank while `when` is ticked.
    struct BlankCheck {
        QCheckBox* when;  // nullptr: always
        QLineEdit* field;
        const char* message;
        QWidget* tab;
        const char* putBack;  // nullptr: the field stays blank
    };

    // The typing limit of a length-limited edit (a hand-edited longer value is
    // kept whole, not cut to it).
    static constexpr const char* kLimitProperty = "nv_typingLimit";

    // ConfigFormTabs.cpp: building the five tabs.
    QWidget* buildGeneralTab();
    QWidget* buildBrevicorTab();
    QWidget* buildTnppTab();
    QWidget* buildWctpTab();
    QWidget* buildSmtpSmsTab();
    QLineEdit* numberEdit(const char* name, const char* initial);
    QLineEdit* textEdit(const char* name, int maxLength = 0);
    QComboBox* list(const char* name, const QStringList& items);
    QCheckBox* box(const char* name, const char* caption);
    void buildChecks();
    void nameRepeatedCaptions();

    void fillControls(const ConfigSet& set);
    ConfigSet fromControls() const;
    bool checkFields();
    // A check failed: information beep, error dialog, the field's tab, its
    // default text back where it has one, the focus.
    void failField(QLineEdit* field, QWidget* tab, const QString& message,
                   const char* putBack = nullptr);

    // ConfigFormService.cpp: the privileged steps.
    bool checkLogon();
    bool saveServerKeys();
    QStringList installArguments() const;
    void runService(const QStringList& args, std::function<void(const PrivilegedRunner::Result&)> done);
    void applyAfterQuery(ServiceState state);
    void uninstallAfterQuery(ServiceState state);
    void stopThenUninstall();
    void pollStopped();
    void runUninstall();
    void unableToStop(const QString& error);
    void serviceStepDone();

    ManagerContext& m_ctx;
    ServiceControl& m_service;
    PrivilegedRunner m_runner;

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* TabSheet3 = nullptr;

    // General Settings
    QLineEdit* LogonName = nullptr;
    QLineEdit* LogonPassword = nullptr;
    QLabel* m_logonNameLabel = nullptr;
    QLabel* m_logonPasswordLabel = nullptr;
    QCheckBox* DefaultLogon = nullptr;
    QPushButton* Install2 = nullptr;
    QPushButton* Uninstall2 = nullptr;
    QPushButton* ApplySvcChg = nullptr;
    QComboBox* ComPort = nullptr;
    QComboBox* DataSettings = nullptr;
    QComboBox* FlowCtrl = nullptr;
    QComboBox* JQComSpeed = nullptr;
    QLineEdit* TimeOut = nullptr;
    QLineEdit* MaxMsgLength = nullptr;
    QCheckBox* Turncate = nullptr;
    // Brevicor Settings
    QComboBox* QJComPort = nullptr;
    QComboBox* QJData = nullptr;
    QComboBox* QJFlow = nullptr;
    QComboBox* QJSpeed = nullptr;
    QLineEdit* QJTimeOut = nullptr;
    QCheckBox* QJEnabled = nullptr;
    // TNPP Settings
    QLineEdit* SourceAddr = nullptr;
    QLineEdit* DestAddr = nullptr;
    QLineEdit* Inertia = nullptr;
    QLineEdit* BusyRtyTO = nullptr;
    QLineEdit* IdelTO = nullptr;
    QLineEdit* RetryCount = nullptr;
    QLineEdit* KeepAliveTO = nullptr;
    QLineEdit* IntCharTime = nullptr;
    QLineEdit* RSHoldRetry = nullptr;
    QLineEdit* RSHoldTime = nullptr;
    QLineEdit* ENQRetries = nullptr;
    QLineEdit* ENQTO = nullptr;
    QCheckBox* EnableTNPP = nullptr;
    QComboBox* UseCom = nullptr;
    QComboBox* ComSettings = nullptr;
    QComboBox* HandShake = nullptr;
    QComboBox* ComSpeed = nullptr;
    QCheckBox* STXInit = nullptr;
    QCheckBox* TRSPCRC = nullptr;
    // WCTP/Proxy Settings
    QLineEdit* WCTPSenderID = nullptr;
    QLineEdit* WCTPMiscSenderInfo = nullptr;
    QLineEdit* WCTPDocType = nullptr;
    QCheckBox* FOBSSL = nullptr;
    QLineEdit* WCTPProxyServer = nullptr;
    QLineEdit* WCTPProxyUserName = nullptr;
    QLineEdit* WCTPProxyPassword = nullptr;
    QCheckBox* UseProxyServer = nullptr;
    // SMTP/SMS Settings
    QComboBox* SMSCOMPort = nullptr;
    QComboBox* SMSCOMSpeed = nullptr;
    QComboBox* SMSMode = nullptr;
    QCheckBox* SMSEnabled = nullptr;
    QLineEdit* SMTPServer = nullptr;
    QLineEdit* SMTPPort = nullptr;
    QLineEdit* SMTPUser = nullptr;
    QLineEdit* SMTPPass = nullptr;
    QLineEdit* SMTPEMailAddr = nullptr;
    QCheckBox* SMTPUseSSL = nullptr;
    QCheckBox* SMTPEnabled = nullptr;

    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* BitBtn5 = nullptr;

    std::vector<BlankCheck> m_checks;

    bool m_busy = false;
    QTimer* m_stopTimer = nullptr;
    int m_stopPollMs = 500;
    int m_stopLimitMs = 30000;
    int m_stopWaitedMs = 0;
};

}  // namespace nv
