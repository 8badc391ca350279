#pragma once
// The modem lines the manager offers for outbound ports. Each line is a
// section "Line<id>" of Modems.ini in the data directory (platform/ModemLine.h
// reads it); the id is stable and is what a port record stores in TapiDevice,
// the name is what it stores in Modem and what names "<name>.mcf".
#include <QString>
#include <filesystem>
#include <optional>
#include <vector>

#include "manager/ManagerContext.h"

class QWidget;

namespace nv {

struct LineDevice {
    QString name;
    int id = 0;
};

class TKORTapi {
public:
    // Reads the lines. "Error Loading Tapi!" when Modems.ini cannot be read,
    // "Error, No Tapi Devices Available!!" when it names no usable line; then
    // there is no device list. A line whose name cannot name a file ("/",
    // a leading ".", more than 255 characters, none at all) is left out and
    // named in an error.
    explicit TKORTapi(ManagerContext& ctx);
    virtual ~TKORTapi() = default;

    // In id order; nothing when the lines could not be read.
    const std::optional<std::vector<LineDevice>>& LineDevices() const { return m_devices; }

    // The modem settings dialog on `fileName` (the .mcf of a line). True when
    // the operator confirmed and the file was written.
    bool SetModemConfig(QWidget* parent, const std::filesystem::path& fileName, int deviceId);

    // Where the settings of the modem line `modemName` (record text) are kept.
    static std::filesystem::path modemConfigFile(const std::filesystem::path& dataDir,
                                                 const std::string& modemName);

protected:
    ManagerContext& m_ctx;

private:
    std::optional<std::vector<LineDevice>> m_devices;
};

// The port windows' own instance; nothing beyond the lines and the dialog.
class TKORPage : public TKORTapi {
public:
    using TKORTapi::TKORTapi;
};

}  // namespace nv
