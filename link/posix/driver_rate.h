// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kestro {

// A tty's rates as its driver reports them, in baud; error is an errno value, 0 when none.
struct DriverRate {
    int out = 0;
    int in = 0;
    int error = 0;
};

// Any rate through termios2 (BOTHER where no B constant has it), both directions alike and
// every other setting kept, at once; then what the driver really set, read back. Drivers round
// to what their divisors make, or refuse (EINVAL) and keep the rate before.
DriverRate setDriverRate(int fd, int baud);
// The B constant the kernel has for a rate (B9600 for 9600), the same in <termios.h> and in
// the kernel's headers; 0 (B0) for a rate without one.
unsigned rateConstant(int baud);
// The rates the driver reports now. On a pseudo-terminal's master: those its program set.
DriverRate driverRate(int fd);

}  // namespace kestro
