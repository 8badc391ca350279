#include "manager/ManagerStartup.h"

#include "foundation/ConfigFile.h"
#include "manager/Help.h"
#include "platform/DataDirectory.h"
#include "platform/ServiceAccount.h"

namespace nv {

namespace {
constexpr int kHelpSettingsNotFound = 2;
}

std::optional<ManagerDirectories> findManagerDirectories(OperatorUi& ui, const std::filesystem::path& programDir) {
    const InstallSettings settings = readInstallSettings(programDir);
    // Asked before anything is created; the answer does not stop the start.
    if (!ConfigFile::inDataDirectory(dataDirectoryFor(settings), ConfigSide::Manager).exists() &&
        ui.showDialog(DialogKind::Confirmation, "Settings Not Found! Please Configure Application?",
                      {DialogButton::Ok, DialogButton::Help}) == DialogButton::Help)
        showHelp(ui, settings.installDir, kHelpSettingsNotFound);
    ManagerDirectories dirs{settings.installDir, {}};
    try {
        dirs.workDir = findDataDirectory(settings);
    } catch (const DataDirectoryError& e) {
        ui.errorBox(QString::fromLocal8Bit(e.what()));
        return std::nullopt;
    }
    // An operator outside the service's group could change nothing: say which group to join.
    if (const auto problem = dataDirectoryAccessProblem(dirs.workDir)) {
        ui.errorBox(QString::fromLocal8Bit(problem->c_str()));
        return std::nullopt;
    }
    return dirs;
}

}  // namespace nv
