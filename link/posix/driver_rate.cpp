// SPDX-License-Identifier: GPL-3.0-or-later
// termios2 comes from the kernel's headers, whose struct termios clashes with the C library's:
// this file must never include <termios.h>, nor anything that does.
#include "driver_rate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace kestro {

unsigned rateConstant(int baud) {
    struct Rate {
        int baud;
        unsigned bits;
    };
    static constexpr Rate kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Rate& r : kRates)
        if (r.baud == baud)
            return r.bits;
    return B0;
}

DriverRate driverRate(int fd) {
#ifdef TCGETS2
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return {0, 0, errno};
    return {static_cast<int>(t.c_ospeed), static_cast<int>(t.c_ispeed), 0};
#else
    (void)fd;
    return {0, 0, ENOTTY};
#endif
}

DriverRate setDriverRate(int fd, int baud) {
#ifdef TCGETS2
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return {0, 0, errno};
    // No input rate of its own (CIBAUD B0): the input follows the output, now and after a
    // later change through plain termios, which cannot say BOTHER.
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CIBAUD);
    // A driver that knows nothing of BOTHER still takes the rates the kernel has a constant for.
    const unsigned constant = rateConstant(baud);
    t.c_cflag |= constant != B0 ? constant : BOTHER;
    t.c_ospeed = t.c_ispeed = static_cast<speed_t>(baud);
    if (::ioctl(fd, TCSETS2, &t) != 0) {
        const int error = errno;
        DriverRate before = driverRate(fd);
        before.error = error;
        return before;
    }
    return driverRate(fd);
#else
    (void)fd;
    (void)baud;
    return {0, 0, ENOTTY};
#endif
}

}  // namespace kestro
