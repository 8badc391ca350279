#pragma once
// "Configuration Settings": the editor of Config.Dat and the service's
// installation. One instance lives for the whole run beside the main window.
#include <QDialog>
#include <functional>

#include "manager/ManagerContext.h"
#include "manager/ServiceControl.h"

namespace nv {

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

private:
    ManagerContext& m_ctx;
    ServiceControl& m_service;
    class QPushButton* m_install = nullptr;
    class QPushButton* m_uninstall = nullptr;
    class QPushButton* m_apply = nullptr;
};

}  // namespace nv
