#pragma once
// Pictures of the windows for the README. Only when NV_SCREENSHOT_DIR is set
// (scripts/screenshots.sh runs the window tests under Xvfb with it); never asserted.
#include <QApplication>
#include <QDir>
#include <QWidget>

namespace nv::test {

inline void saveScreenshot(QWidget* w, const QString& name) {
    const QString dir = qEnvironmentVariable("NV_SCREENSHOT_DIR");
    if (dir.isEmpty() || !w) return;
    w->show();
    w->raise();
    w->activateWindow();
    QApplication::processEvents();
    QDir().mkpath(dir);
    w->grab().save(QDir(dir).filePath(name + ".png"));
}

}  // namespace nv::test
