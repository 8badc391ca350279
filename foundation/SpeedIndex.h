#pragma once
// The speed index and COM naming shared by Config.Dat, the record files and the
// serial components: one table, one spelling.
#include <array>
#include <string>

namespace nv {

// Speed index 0-12: 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400,
// 56000, 57600, 115200 baud.
inline constexpr std::array<int, 13> kSpeedIndexBaud = {110,   300,   600,   1200,  2400,
                                                        4800,  9600,  14400, 19200, 38400,
                                                        56000, 57600, 115200};
constexpr int kSpeedIndexCount = static_cast<int>(kSpeedIndexBaud.size());

int baudFromSpeedIndex(int index);  // 0 outside 0-12
int speedIndexFromBaud(int baud);   // -1 when not in the table

// "COM" followed by the number (COM index 0 is "COM1": pass index + 1).
std::string comPortName(int comNumber);

}  // namespace nv
