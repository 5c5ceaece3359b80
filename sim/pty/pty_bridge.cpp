// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty_bridge.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "driver_rate.h"

namespace kestro::sim {

namespace {

std::string reason(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyBridge::PtyBridge(Scheduler& scheduler, VirtualLine& line)
    : scheduler_(scheduler), line_(line), toTarget_(line.toTarget) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        throw PtyError(reason("No pseudo-terminal"));
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        ::close(master_);
        throw PtyError(reason("The pseudo-terminal cannot be unlocked"));
    }
    path_ = ::ptsname(master_);
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        ::close(master_);
        throw PtyError(reason(("Cannot open " + path_).c_str()));
    }
    // Raw until a program sets its own: no echo, no line editing, no CR LF translation.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B1200);
    ::tcsetattr(slave_, TCSANOW, &t);
    // Packet mode tells the board when a program flushes its output (as kestro-cli does on
    // Ctrl-C): what the program wrote and the line has not yet carried is then dropped, as an
    // adapter's flush drops it, instead of reaching the boot loader after the next reset.
    int on = 1;
    ::ioctl(master_, TIOCPKT, &on);
    followRate();
}

PtyBridge::~PtyBridge() {
    line_.toPc.setReceiver(0, nullptr);
    ::close(slave_);
    ::close(master_);
}

void PtyBridge::followRate() {
    // Read as termios2 does, in baud: a custom rate (BOTHER) has no B constant to find.
    const DriverRate set = driverRate(master_);
    const int baud = set.out;
    if (set.error != 0 || baud <= 0 || baud == rate_)
        return;
    rate_ = baud;
    toTarget_.setBaud(baud);
    line_.toPc.setReceiver(baud, [this](Byte b, bool fe) { received(b, fe); });
}

void PtyBridge::readable() {
    followRate();
    // Everything the program wrote is taken at once into the line's queue, so that a flush,
    // reported ahead of anything written after it, finds all that came before it here.
    std::array<Byte, 257> buffer{};  // in packet mode a status byte comes first
    for (;;) {
        const ssize_t n = ::read(master_, buffer.data(), buffer.size());
        if (n <= 0)
            return;  // EAGAIN; the slave we hold keeps EIO away
        if (buffer[0] == TIOCPKT_DATA)
            toTarget_.queue(ByteView(buffer.data() + 1, static_cast<std::size_t>(n - 1)));
        else if (buffer[0] & TIOCPKT_FLUSHWRITE)
            toTarget_.discard();
    }
}

void PtyBridge::received(Byte byte, bool) {
    // A break (a NUL with a framing error) goes on as a lone NUL: a pseudo-terminal carries no
    // break, and a program that watches for one on such a line takes a lone NUL for it.
    // Nobody reading is no fault of the line: what does not fit is lost, as on a cable.
    [[maybe_unused]] const ssize_t n = ::write(master_, &byte, 1);
}

}  // namespace kestro::sim
