#include "foundation/SpeedIndex.h"

#include <algorithm>

namespace nv {

int baudFromSpeedIndex(int index) {
    if (index < 0 || index >= kSpeedIndexCount) return 0;
    return kSpeedIndexBaud[static_cast<std::size_t>(index)];
}

int speedIndexFromBaud(int baud) {
    auto it = std::find(kSpeedIndexBaud.begin(), kSpeedIndexBaud.end(), baud);
    return it == kSpeedIndexBaud.end() ? -1 : static_cast<int>(it - kSpeedIndexBaud.begin());
}

std::string comPortName(int comNumber) { return "COM" + std::to_string(comNumber); }

}  // namespace nv
