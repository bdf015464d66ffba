// Apart from serial_test.cpp because the kernel's termios2 header clashes with <termios.h>.
#include "serial_test_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace ufd::serial::test {

std::uint32_t outputSpeed(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return 0;
    }
    return t.c_ospeed;
}

} // namespace ufd::serial::test
