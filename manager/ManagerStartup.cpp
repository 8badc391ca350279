#include "manager/ManagerStartup.h"

#include "foundation/ConfigFile.h"
#include "manager/Help.h"
#include "platform/DataDirectory.h"

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
    try {
        return ManagerDirectories{settings.installDir, findDataDirectory(settings)};
    } catch (const DataDirectoryError& e) {
        ui.errorBox(QString::fromLocal8Bit(e.what()));
        return std::nullopt;
    }
}

}  // namespace nv
