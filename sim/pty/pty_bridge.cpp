// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty_bridge.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "driver_rate.h"

namespace kestro::sim {

namespace {

std::string reason(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyBridge::PtyBridge(Scheduler& scheduler, VirtualLine& line, LineFaults faults)
    : scheduler_(scheduler),
      line_(line),
      toTarget_(line.toTarget),
      faults_(std::move(faults)),
      start_(scheduler.now()) {
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
    int made = baud;
    if (std::ranges::find(faults_.refused, baud) != faults_.refused.end() && lineRate_ != 0) {
        // An adapter that cannot make the rate keeps the one before, and says so to a program
        // that reads its settings back.
        setDriverRate(slave_, rate_);
        return;
    }
    for (const auto& [asked, rounded] : faults_.rounded)
        if (asked == baud)
            made = rounded;
    made = static_cast<int>(std::lround(made * (1 + faults_.rateError / 100)));
    rate_ = baud;
    lineRate_ = made;
    toTarget_.setBaud(made);
    line_.toPc.setReceiver(made, [this](Byte b, bool fe) { received(b, fe); });
}

std::optional<Byte> PtyBridge::carry(Byte byte) {
    const bool silent = (faults_.silentAfter && carried_ >= *faults_.silentAfter) ||
                        (faults_.silentAt && scheduler_.now() - start_ >= *faults_.silentAt);
    if (silent)
        return std::nullopt;
    ++carried_;
    if (faults_.flipEvery != 0 && carried_ % faults_.flipEvery == 0)
        byte ^= static_cast<Byte>(1u << (carried_ / faults_.flipEvery % 8));
    return byte;
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
        if (buffer[0] == TIOCPKT_DATA) {
            Bytes through;
            for (ssize_t i = 1; i < n; ++i)
                if (const auto b = carry(buffer[static_cast<std::size_t>(i)]))
                    through.push_back(*b);
            toTarget_.queue(ByteView(through));
        } else if (buffer[0] & TIOCPKT_FLUSHWRITE)
            toTarget_.discard();
    }
}

void PtyBridge::received(Byte byte, bool) {
    // A break (a NUL with a framing error) goes on as a lone NUL: a pseudo-terminal carries no
    // break, and a program that watches for one on such a line takes a lone NUL for it.
    // Nobody reading is no fault of the line: what does not fit is lost, as on a cable.
    const auto through = carry(byte);
    if (through) [[maybe_unused]]
        const ssize_t n = ::write(master_, &*through, 1);
}

}  // namespace kestro::sim
