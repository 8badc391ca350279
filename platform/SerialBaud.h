#pragma once
// Line speeds through termios2 (BOTHER), for the rates that <termios.h> has no
// constant for (14400, 56000). Kept apart: <asm/termbits.h> and <termios.h>
// cannot share a source file.
#include <string>

namespace nv::serialbaud {

// Sets input and output speed to `baud` by number; false with the reason.
bool setSpeed(int fd, int baud, std::string* error);
// The output speed in baud, or -1.
int outputSpeed(int fd);

}  // namespace nv::serialbaud
