// ZQSCM: the service manager. Finds its directories, then runs the main window
// with the configuration editor beside it.
#include <QApplication>
#include <QScreen>

#include "manager/ConfigForm.h"
#include "manager/ManagerStartup.h"
#include "manager/SystemctlServiceControl.h"
#include "manager/ZQSCMain.h"
#include "platform/DataDirectory.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Neri Vale Service Manager");
    nv::QtOperatorUi ui;
    const auto dirs = nv::findManagerDirectories(ui, nv::programDirectory());
    if (!dirs) return 1;
    nv::ManagerContext ctx{dirs->appDir, dirs->workDir, ui};
    nv::SystemctlServiceControl service;
    nv::TZQSrvcMngr window(ctx, service);
    nv::TConfigFrm configFrm(ctx, service, &window);
    configFrm.onServiceChanged = [&window] { window.refreshStatus(); };
    window.setConfigForm(&configFrm);
    if (QScreen* screen = QApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    window.show();
    return app.exec();
}
