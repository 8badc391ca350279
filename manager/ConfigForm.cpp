// Placeholder until the editor lands: loads nothing, writes the manager's
// defaults on a first run, and carries the three service buttons.
#include "manager/ConfigForm.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/ConfigFile.h"

namespace nv {

TConfigFrm::TConfigFrm(ManagerContext& ctx, ServiceControl& service, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_service(service) {
    setWindowTitle("Configuration Settings");
    auto* layout = new QVBoxLayout(this);
    m_install = new QPushButton("Install Service", this);
    m_uninstall = new QPushButton("Uninstall Service", this);
    m_apply = new QPushButton("Apply Changes", this);
    layout->addWidget(m_install);
    layout->addWidget(m_uninstall);
    layout->addWidget(m_apply);
}

void TConfigFrm::loadFromConfig() {}

bool TConfigFrm::saveSettings() {
    try {
        const auto file = ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager);
        file.saveEditor(file.load());
        return true;
    } catch (const std::exception& e) {
        m_ctx.ui.errorBox(QString::fromStdString(e.what()));
        return false;
    }
}

void TConfigFrm::setServiceButtons(ButtonState install, ButtonState uninstall, ButtonState apply) {
    auto set = [](QPushButton* b, ButtonState s) {
        if (s != ButtonState::Unchanged) b->setEnabled(s == ButtonState::On);
    };
    set(m_install, install);
    set(m_uninstall, uninstall);
    set(m_apply, apply);
}

bool TConfigFrm::smtpEnabledSaved() const {
    return ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager).smtp().Enabled;
}

}  // namespace nv
