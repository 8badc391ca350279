#pragma once
// Port records built byte by byte for the port window tests, and the data
// directory they run on: three modem lines (ids 2, 5, 7) and four providers.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/manager/PortRouteSupport.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {

struct Port {
    std::string name{};
    int tapi = 0;
    std::string modem{};
    bool enabled = true;
    int direction = 1;
    bool deleted = false;
    std::string group{};
    bool isDirect = false;
    int com = 0, speed = 3, flow = 1, data = 0;
    std::string dialPrefix{};
    int tnppCom = 0, tnppSettings = 1, tnppHandShake = 1, tnppSpeed = 3;
    // BusyRtyTO, ENQRetries, ENQTO, IdelTO, RetryCount, IntCharTime,
    // KeepAliveTO, RSHoldRetry, RSHoldTime, SourceAddr: the editor's initial texts.
    std::array<int, 10> tnpp = {60, 6, 10, 10, 6, 2, 60, 24, 10, 0};
    bool stx = false;
    bool isTnpp = false;
};

inline std::string portImage(const Port& p, std::int32_t pos) {
    fx::Image img(776);
    img.put(0, fx::text(p.name))
        .put(322, le16(p.tapi))
        .put(324, fx::text(p.modem))
        .put(584, byte(p.enabled))
        .put(586, byte(p.direction) + byte(p.deleted))
        .put(588, fx::le32(pos))
        .put(592, fx::text(p.group))
        .put(628, byte(p.isDirect) + byte(p.com) + byte(p.speed) + byte(p.flow) + byte(p.data))
        .put(633, fx::text(p.dialPrefix))
        .put(717, byte(p.tnppCom) + byte(p.tnppSettings) + byte(p.tnppHandShake) + byte(p.tnppSpeed))
        .put(765, byte(p.stx) + byte(p.isTnpp));
    const int offsets[10] = {721, 729, 733, 737, 741, 745, 749, 753, 757, 761};
    for (int i = 0; i < 10; ++i) img.put(offsets[i], fx::le32(p.tnpp[i]));
    return img.str();
}

inline std::string portFile(const std::vector<Port>& ports) {
    std::string f = fx::header(776, "QXDB 7.1");
    for (const auto& p : ports) f += portImage(p, static_cast<std::int32_t>(f.size()));
    return f;
}

inline std::string providerFile(const std::vector<std::pair<std::string, int>>& providers) {
    std::string f = fx::header(2871, "QXDB 7.6");
    for (const auto& [name, type] : providers)
        f += fx::Image(2871)
                 .put(0, fx::text(name))
                 .put(702, fx::le32(static_cast<std::int32_t>(f.size())))
                 .put(2506, byte(type))
                 .str();
    return f;
}

inline const char* kModemsIni =
    "[Line2]\r\nName=USR Courier\r\nDevice=/dev/serial/by-id/usb-USR-if00\r\n"
    "[Line5]\r\nName=Zoom\r\nDevice=/dev/ttyS1\r\n"
    "[Line7]\r\nName=Hayes Accura\r\nDevice=/dev/ttyS2\r\n";

// Modems.ini and Provider.dat of the port tests.
inline void writePortTestData(const std::filesystem::path& dir) {
    writeFile(dir / "Modems.ini", kModemsIni);
    writeFile(dir / "Provider.dat",
              providerFile({{"Zed Direct", 0}, {"Modem Co", 1}, {"Acme", 0}, {"Link", 7}}));
}

}  // namespace nv::test
