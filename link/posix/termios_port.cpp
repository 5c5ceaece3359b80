// SPDX-License-Identifier: GPL-3.0-or-later
#include "termios_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "access_check.h"
#include "driver_rate.h"

namespace kestro {

namespace {

// A USB adapter holds what it has received for its latency timer (16 ms on FTDI parts) before
// it hands it on, and every acknowledgement and answer of a talker would wait that long; the
// drivers with such a timer set it to 1 ms in low-latency mode. A port without the request (a
// pseudo-terminal) refuses it, which changes nothing. Whether the flag was changed.
bool setLowLatency(int fd, bool on) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || ((serial.flags & ASYNC_LOW_LATENCY) != 0) == on)
        return false;
    serial.flags = on ? serial.flags | ASYNC_LOW_LATENCY : serial.flags & ~ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

speed_t speedFor(int baud) {
    return static_cast<speed_t>(rateConstant(baud));
}

// What an errno from open() or from the first termios call on what it opened means.
PortError openError(int e) {
    switch (e) {
        case ENOENT:
        case ENODEV:
        case ENOTDIR:
            return PortError::Absent;
        // A node with no driver or hardware behind it: a serial port whose UART is not fitted,
        // /dev/tty for a process without a controlling terminal.
        case ENXIO:
        case EIO:
            return PortError::NoDevice;
        // It opened, but the terminal calls do not apply to it.
        case ENOTTY:
        case EISDIR:
            return PortError::NotSerial;
        case EACCES:
        case EPERM:
        case EROFS:
            return PortError::NoPermission;
        case EBUSY:
        case EWOULDBLOCK:
            return PortError::InUse;
        default:
            return PortError::Io;
    }
}

// What a read or write error on an open port means: these are what the kernel returns once the
// device behind the descriptor is gone (a USB adapter pulled out, a hung-up line).
PortError transferError(int e) {
    return (e == EIO || e == ENXIO || e == ENODEV) ? PortError::Lost : PortError::Io;
}

bool hungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

TimePoint monotonicNow() {
    return std::chrono::duration_cast<Duration>(
        std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

std::string defaultDevice(int n) {
    return "/dev/ttyS" + std::to_string(n - 1);
}

bool configureTermios(termios& t, const LineSettings& s) {
    const speed_t speed = speedFor(s.baud);
    if (speed == B0)
        return false;

    tcflag_t size = CS8;
    switch (s.dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        default:
            size = CS8;
            break;
    }
    tcflag_t parity = 0;
    switch (s.parity) {
        case 'E':
            parity = PARENB;
            break;
        case 'O':
            parity = PARENB | PARODD;
            break;
        case 'M':
            parity = PARENB | CMSPAR | PARODD;
            break;
        case 'S':
            parity = PARENB | CMSPAR;
            break;
        default:
            break;
    }

    // A break must reach us as a mark: IGNBRK would drop it, BRKINT would turn it into SIGINT,
    // and errors are only marked with INPCK on and IGNPAR off. ISTRIP would clear bit 7 of data.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
    t.c_iflag |= PARMRK | INPCK;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    // CIBAUD too: an input rate of its own, left by a driver after a custom rate, would stay in
    // force when only the output rate changes here.
    t.c_cflag &=
        ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CIBAUD);
    t.c_cflag |= CLOCAL | CREAD | size | parity | (s.stopBits == 2 ? CSTOPB : 0);
    // VMIN 1 makes an empty non-blocking read fail with EAGAIN, so a read of 0 means hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return true;
}

TermiosPort::TermiosPort(DeviceFor deviceFor, Now now)
    : deviceFor_(std::move(deviceFor)),
      now_(now ? std::move(now) : Now(monotonicNow)),
      context_(std::make_unique<QObject>()) {}

TermiosPort::~TermiosPort() {
    close();
    // Deleting the context also deletes notifiers retired with deleteLater and cancels any
    // failure report still queued for the event loop.
    context_.reset();
}

PortError TermiosPort::settingsFailed(int error) {
    const PortError e = transferError(error);
    // A device found gone here is gone for every other call too.
    if (e == PortError::Lost)
        fail(e, false);
    return e;
}

PortError TermiosPort::setSettings(std::string_view text) {
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        return PortError::BadSettings;
    if (fd_ >= 0) {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return settingsFailed(errno);
        if (!configureTermios(t, *parsed))
            return PortError::BadSettings;
        // At once, not after the output drains: the callers change the rate when they have
        // already waited for the line to be quiet, and a drain wait would block the window.
        if (::tcsetattr(fd_, TCSANOW, &t) != 0)
            return settingsFailed(errno);
    } else {
        termios probe{};
        if (!configureTermios(probe, *parsed))
            return PortError::BadSettings;
    }
    settings_ = *parsed;
    rate_ = 0;
    return PortError::None;
}

LineSettings TermiosPort::settings() const {
    LineSettings s = settings_;
    if (rate_ != 0)
        s.baud = rate_;
    return s;
}

RateResult TermiosPort::setRate(int baud) {
    if (fd_ < 0)
        return {failure_ != PortError::None ? failure_ : PortError::NotOpen, settings().baud};
    if (baud <= 0)
        return {PortError::BadSettings, settings().baud};
    const DriverRate set = setDriverRate(fd_, baud);
    if (set.error != 0 && set.error != EINVAL && set.error != ENOTTY) {
        const PortError e = settingsFailed(set.error);
        return {e, settings().baud};
    }
    // A driver may make each direction a little differently: the one further off counts. An
    // input rate of 0 is the output rate.
    const int in = set.in > 0 ? set.in : set.out;
    const int inForce = std::abs(in - baud) > std::abs(set.out - baud) ? in : set.out;
    const bool refused = set.error != 0 || inForce <= 0;
    if (!refused)
        rate_ = inForce;
    if (trace_)
        trace_->rateChanged(baud, settings().baud, refused);
    return {refused ? PortError::BadSettings : PortError::None, settings().baud};
}

PortError TermiosPort::open() {
    if (fd_ >= 0)
        return PortError::InUse;
    const std::string path = deviceFor_(port_);
    if (path.empty())
        return PortError::Absent;

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const PortError e = openError(errno);
        accessProblem_ = e == PortError::NoPermission ? diagnoseAccess(path) : AccessProblem{};
        return e;
    }
    const auto refuse = [fd](PortError e) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return e;
    };
    // Exclusive twice over: TIOCEXCL turns away later opens (EBUSY, except for root), the lock
    // finds programs that took the port the same way, root or not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return refuse(PortError::InUse);
    ::ioctl(fd, TIOCEXCL);

    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return refuse(openError(errno));
    found_ = std::make_unique<termios>(t);
    if (!configureTermios(t, settings_))
        return refuse(PortError::BadSettings);
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return refuse(openError(errno));
    // What arrived before the port was ours is not for us.
    ::tcflush(fd, TCIOFLUSH);
    lowLatencySet_ = setLowLatency(fd, true);

    fd_ = fd;
    ++generation_;
    failure_ = PortError::None;
    decoder_.reset();
    rx_.clear();
    tx_.clear();
    lineFreeAt_ = TimePoint{0};

    readNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, context_.get());
    QObject::connect(readNotifier_, &QSocketNotifier::activated, context_.get(),
                     [this] { onReadable(); });
    writeNotifier_ = new QSocketNotifier(fd_, QSocketNotifier::Write, context_.get());
    writeNotifier_->setEnabled(false);
    QObject::connect(writeNotifier_, &QSocketNotifier::activated, context_.get(),
                     [this] { onWritable(); });
    return PortError::None;
}

void TermiosPort::close() {
    if (fd_ < 0)
        return;
    // Flushed first: closing a tty waits until its output has drained, up to half a minute.
    ::tcflush(fd_, TCIOFLUSH);
    if (found_)
        ::tcsetattr(fd_, TCSANOW, found_.get());
    if (std::exchange(lowLatencySet_, false))
        setLowLatency(fd_, false);
    release();
}

void TermiosPort::release() {
    // The notifiers may be the ones whose signal runs right now, so they go later; disabled,
    // they no longer watch the descriptor that is about to be closed.
    for (QSocketNotifier* n : {readNotifier_, writeNotifier_}) {
        if (!n)
            continue;
        n->setEnabled(false);
        QObject::disconnect(n, nullptr, nullptr, nullptr);
        n->deleteLater();
    }
    readNotifier_ = writeNotifier_ = nullptr;
    if (drainWake_)
        drainWake_->stop();
    // The exclusive flag belongs to the tty, not to our descriptor: a pseudo-terminal keeps it
    // after we close while its other end stays open, and turns away everyone but root.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    rate_ = 0;
    decoder_.reset();
    rx_.clear();
    tx_.clear();
    lineFreeAt_ = TimePoint{0};
}

void TermiosPort::fail(PortError error, bool notifyNow) {
    release();
    failure_ = error;
    if (notifyNow) {
        if (listener_)
            listener_->portFailed(error);
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(),
        [this, error, generation = generation_] {
            if (generation == generation_ && fd_ < 0 && listener_)
                listener_->portFailed(error);
        },
        Qt::QueuedConnection);
}

PortError TermiosPort::output(ByteView bytes) {
    if (fd_ < 0)
        return failure_ != PortError::None ? failure_ : PortError::NotOpen;
    if (trace_)
        trace_->sent(bytes);
    tx_.insert(tx_.end(), bytes.begin(), bytes.end());
    // Bytes already waiting keep their turn behind the notifier.
    if (writeNotifier_->isEnabled())
        return PortError::None;
    const PortError e = flushOutput();
    if (e != PortError::None)
        fail(e, false);
    return e;
}

PortError TermiosPort::flushOutput() {
    Byte chunk[4096];
    while (!tx_.empty()) {
        const std::size_t n = std::min(tx_.size(), sizeof chunk);
        std::copy_n(tx_.begin(), n, chunk);
        const ssize_t written = ::write(fd_, chunk, n);
        if (written > 0) {
            tx_.erase(tx_.begin(), tx_.begin() + written);
            handOver(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return written < 0 ? transferError(errno) : PortError::Io;
    }
    writeNotifier_->setEnabled(!tx_.empty());
    return PortError::None;
}

void TermiosPort::onWritable() {
    if (fd_ < 0)
        return;
    const PortError e = flushOutput();
    if (e != PortError::None)
        fail(e, true);
}

Duration TermiosPort::frameTime(std::size_t n) const {
    const LineSettings s = settings();
    const std::int64_t bits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + s.stopBits;
    return Duration{static_cast<std::int64_t>(n) * bits * 1'000'000'000LL / s.baud};
}

void TermiosPort::handOver(std::size_t n) {
    // Each byte starts once the one before it has gone, or now if the line is idle.
    lineFreeAt_ = std::max(now_(), lineFreeAt_) + frameTime(n);
    if (!drainWake_)
        drainWake_ = std::make_unique<PreciseTimer>([this] { onDrainWake(); });
    drainWake_->start(lineFreeAt_ - now_());
}

void TermiosPort::onDrainWake() {
    if (fd_ < 0)
        return;
    int driver = 0;
    if (::ioctl(fd_, TIOCOUTQ, &driver) != 0 || driver <= 0)
        return;
    // The driver still holds bytes (a slower line, a peer that reads late): look again when
    // they can have gone, but at most once a millisecond.
    drainWake_->start(std::max<Duration>(frameTime(static_cast<std::size_t>(driver)), 1ms));
}

std::size_t TermiosPort::lineEstimate() const {
    const Duration left = lineFreeAt_ - now_();
    if (left <= Duration::zero())
        return 0;
    const double frames =
        static_cast<double>(left.count()) / static_cast<double>(frameTime(1).count());
    // Rounded, but never 0 while any of the last frame can still be on the wire.
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(frames)));
}

std::size_t TermiosPort::outBufferCount() {
    if (fd_ < 0)
        return 0;
    int driver = 0;
    if (::ioctl(fd_, TIOCOUTQ, &driver) != 0 || driver < 0)
        driver = 0;
    // The driver no longer counts what a USB adapter holds in its own FIFO, so what we handed
    // over counts by line time too until it can have left.
    return tx_.size() + std::max(static_cast<std::size_t>(driver), lineEstimate());
}

void TermiosPort::discardOutput() {
    tx_.clear();
    if (fd_ < 0)
        return;
    writeNotifier_->setEnabled(false);
    ::tcflush(fd_, TCOFLUSH);
    lineFreeAt_ = TimePoint{0};
}

Bytes TermiosPort::input() {
    const std::size_t n = inputLen_ != 0 ? std::min(inputLen_, rx_.size()) : rx_.size();
    Bytes out(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

void TermiosPort::discardInput() {
    rx_.clear();
    if (fd_ < 0)
        return;
    ::tcflush(fd_, TCIFLUSH);
    // The rest of a mark begun in the last read went with the flush.
    decoder_.reset();
}

void TermiosPort::onReadable() {
    if (fd_ < 0)
        return;
    std::vector<BreakDecoder::Item> items;
    PortError error = PortError::None;
    bool gotAny = false;
    Byte buffer[4096];
    while (true) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            decoder_.feed(ByteView(buffer, static_cast<std::size_t>(n)), items);
            gotAny = true;
            continue;
        }
        if (n == 0) {
            // With VMIN 1 an empty read is EAGAIN; end of file is a hung-up line.
            error = PortError::Lost;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Woken with nothing to read: the notifier also wakes on hang-up and error.
            if (!gotAny && hungUp(fd_))
                error = PortError::Lost;
        } else {
            error = transferError(errno);
        }
        break;
    }
    const auto generation = generation_;
    deliver(items);
    if (error != PortError::None && generation == generation_ && fd_ >= 0)
        fail(error, true);
}

void TermiosPort::deliver(std::vector<BreakDecoder::Item>& items) {
    using Item = BreakDecoder::Item;
    // Adapters that report no line status (CH340 and the like) pass a break on as a plain NUL.
    // While the link waits for a reset and no operation talks to the target, a NUL that comes
    // on its own, into an empty receive queue, is taken for such a break and not queued.
    if (loneNulIsBreak_ && rx_.empty() && items.size() == 1 && items[0] == Item::data(0))
        items[0] = Item::brk();
    // A line that carries no break (a pseudo-terminal, an adapter without line status) brings
    // one as the byte a receiver read: a NUL, or less where the PC's sending cut the break short.
    if (textAnswers_)
        for (Item& item : items)
            if (!item.isBreak() && readsAsBreak(item.byte))
                item = Item::brk();

    // The listener may close or reopen the port; whatever is left then belongs to nobody.
    const auto generation = generation_;
    const auto alive = [&] { return generation == generation_ && fd_ >= 0; };
    bool newData = false;
    for (const Item& item : items) {
        if (!item.isBreak()) {
            if (trace_)
                trace_->received(ByteView(&item.byte, 1));
            rx_.push_back(item.byte);
            newData = true;
            continue;
        }
        if (newData && listener_) {
            newData = false;
            listener_->portDataArrived();
            if (!alive())
                return;
        }
        if (trace_)
            trace_->breakReceived();
        if (listener_)
            listener_->portBreak();
        if (!alive())
            return;
    }
    if (newData && listener_)
        listener_->portDataArrived();
}

}  // namespace kestro
