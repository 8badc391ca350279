#include "manager/Help.h"

#include <system_error>

#include "manager/QtText.h"
#include "platform/DataDirectory.h"

#ifndef NV_GUIDE_SOURCE_DIR
#define NV_GUIDE_SOURCE_DIR ""
#endif

namespace nv {
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> guideCandidates(const fs::path& appDir) {
    std::vector<fs::path> c;
    if (!appDir.empty()) c.push_back(appDir / "guide" / kGuideFileName);
    c.push_back(programDirectory() / ".." / "share" / "nerivale" / "guide" / kGuideFileName);
    if (*NV_GUIDE_SOURCE_DIR) c.push_back(fs::path(NV_GUIDE_SOURCE_DIR) / kGuideFileName);
    return c;
}

}  // namespace

fs::path guideFile(const fs::path& appDir) {
    for (const auto& p : guideCandidates(appDir)) {
        std::error_code ec;
        if (fs::is_regular_file(p, ec)) return fs::weakly_canonical(p, ec);
    }
    return {};
}

void showHelp(OperatorUi& ui, const fs::path& appDir, int context) {
    const fs::path file = guideFile(appDir);
    if (file.empty()) {
        ui.errorBox(QString("Help file not found: %1")
                        .arg(QString::fromStdString(guideCandidates(appDir).front().string())));
        return;
    }
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(file.string()));
    if (context != 0) url.setFragment(QString("ctx%1").arg(context));
    if (!ui.openUrl(url))
        ui.errorBox(QString("Unable to open the help file %1").arg(QString::fromStdString(file.string())));
}

}  // namespace nv
