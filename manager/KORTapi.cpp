#include "manager/KORTapi.h"

#include <QStringList>

#include "foundation/FileUtil.h"
#include "foundation/Records.h"
#include "manager/ModemSettingsDlg.h"
#include "manager/QtText.h"
#include "platform/DataDirectory.h"
#include "platform/ModemLine.h"

namespace nv {

namespace {

// The name becomes "<name>.mcf" in the data directory and PortRec.Modem.
bool usableName(const std::string& name) {
    return !name.empty() && name.size() <= PortRec::kModemLength && name.find('/') == std::string::npos &&
           name.front() != '.';
}

}  // namespace

TKORTapi::TKORTapi(ManagerContext& ctx) : m_ctx(ctx) {
    const auto path = findFileNoCase(ctx.workDir, kModemsFileName);
    std::string content;
    if (!path || !readWholeFile(*path, content)) {
        ctx.ui.information("Error Loading Tapi!");
        return;
    }
    std::vector<LineDevice> devices;
    QStringList refused;
    const ModemList list = ModemList::load(*path);
    for (const ModemEntry& e : list.entries()) {
        if (usableName(e.name))
            devices.push_back({fromCp1252(e.name), static_cast<int>(e.id)});
        else
            refused << QString("Line%1 \"%2\"").arg(e.id).arg(fromCp1252(e.name));
    }
    if (!refused.isEmpty())
        ctx.ui.errorBox("Modem Line Name Not Usable In " + fromCp1252(path->filename().string()) + ": " +
                        refused.join(", ") + " (A Name Is Needed; No \"/\", No Leading \".\")");
    if (devices.empty()) {
        ctx.ui.information("Error, No Tapi Devices Available!!");
        return;
    }
    m_devices = std::move(devices);
}

bool TKORTapi::SetModemConfig(QWidget* parent, const std::filesystem::path& fileName, int /*deviceId*/) {
    // One configuration per line, whatever device it sits on.
    return editModemSettings(parent, m_ctx, fileName);
}

std::filesystem::path TKORTapi::modemConfigFile(const std::filesystem::path& dataDir, const std::string& modemName) {
    // The same spelling as the service's look-up: the record's bytes and ".mcf".
    return dataDir / (modemName + ".mcf");
}

}  // namespace nv
