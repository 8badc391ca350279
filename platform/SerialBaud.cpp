#include "platform/SerialBaud.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace nv::serialbaud {

bool setSpeed(int fd, int baud, std::string* error) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) {
        if (error) *error = std::string("TCGETS2: ") + std::strerror(errno);
        return false;
    }
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    if (::ioctl(fd, TCSETS2, &t) != 0) {
        if (error) *error = std::string("TCSETS2: ") + std::strerror(errno);
        return false;
    }
    return true;
}

int outputSpeed(int fd) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0) return -1;
    return static_cast<int>(t.c_ospeed);
}

}  // namespace nv::serialbaud
