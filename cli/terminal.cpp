// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

namespace kestro::cli {

namespace {

using namespace std::chrono_literals;

// Keeps a terminal in raw mode for as long as it lives: every key goes to the target as typed
// (Ctrl-C included), nothing is echoed locally, and the old mode comes back however the
// terminal ends.
class RawMode {
  public:
    explicit RawMode(int fd) : fd_(fd) {
        if (!::isatty(fd_) || ::tcgetattr(fd_, &saved_) != 0)
            return;
        termios raw = saved_;
        ::cfmakeraw(&raw);
        active_ = ::tcsetattr(fd_, TCSANOW, &raw) == 0;
    }
    ~RawMode() {
        if (active_)
            ::tcsetattr(fd_, TCSANOW, &saved_);
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

bool writeAll(int fd, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// What waits on the input now, without blocking; nullopt at its end (or an error).
std::optional<Bytes> readWaiting(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return Bytes{};
    if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
        return Bytes{};
    Byte buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return Bytes{};
    if (n <= 0)
        return std::nullopt;
    return Bytes(buffer, buffer + n);
}

}  // namespace

PortError runTerminal(SerialPort& port, Clock& clock, int baud, TerminalEnds ends) {
    // Set again only when it differs: the program may be talking already, and a port set anew
    // may lose the character it is receiving.
    const std::string settings = std::to_string(baud) + ",N,8,1";
    if (port.settings() != LineSettings::parse(settings))
        if (const PortError e = port.setSettings(settings); e != PortError::None)
            return e;
    std::fflush(stdout);
    RawMode raw(ends.in);
    // After the end of the input the answers to its last bytes still come in: the terminal
    // waits for 20 character times of quiet line (at least 100 ms), 5 s at most.
    const Duration quiet = std::max<Duration>(100ms, Duration{200'000'000'000LL / baud});
    constexpr Duration kDrainLimit = 5s;
    bool inputOpen = true;
    TimePoint inputEnded{0};
    TimePoint lastActivity = clock.now();
    for (;;) {
        if (inputOpen) {
            const auto typed = readWaiting(ends.in);
            if (!typed) {
                inputOpen = false;
                inputEnded = clock.now();
                lastActivity = inputEnded;
            } else if (!typed->empty()) {
                const auto escape = std::find(typed->begin(), typed->end(), kTerminalEscape);
                const Bytes send(typed->begin(), escape);
                if (!send.empty())
                    port.output(ByteView(send));
                if (escape != typed->end())
                    return PortError::None;
            }
        }
        const Bytes got = port.input();
        if (!got.empty()) {
            if (!writeAll(ends.out, got))
                return PortError::None;  // nobody reads what the target sends any more
            lastActivity = clock.now();
        }
        if (port.failure() != PortError::None)
            return port.failure();
        if (!inputOpen) {
            if (port.outBufferCount() != 0)
                lastActivity = clock.now();
            else if (clock.now() - lastActivity >= quiet)
                return PortError::None;
            if (clock.now() - inputEnded >= kDrainLimit)
                return PortError::None;
        }
        clock.sleepFor(2ms);
    }
}

}  // namespace kestro::cli
