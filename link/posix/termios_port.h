// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "break_decoder.h"
#include "clock.h"
#include "event_loop_clock.h"
#include "serial_port.h"

struct termios;
class QObject;
class QSocketNotifier;

namespace kestro {

// Comm n as the system names it when the user has mapped no other device to it.
std::string defaultDevice(int n);

// Makes t raw with the given line settings and break marking on (see BreakDecoder), without
// flow control and with reads that wait for one byte unless the descriptor is non-blocking.
// False, with t untouched, for a rate termios has no constant for.
bool configureTermios(termios& t, const LineSettings& settings);

// A real serial port through termios. Everything runs on the thread that owns the port: reads
// and writes are non-blocking and driven by socket notifiers, so the listener hears of data,
// breaks and a lost device from the event loop.
class TermiosPort final : public SerialPort {
  public:
    using DeviceFor = std::function<std::string(int)>;
    using Now = std::function<TimePoint()>;

    // now defaults to the monotonic clock; tests pass their own to check the out count.
    explicit TermiosPort(DeviceFor deviceFor = defaultDevice, Now now = {});
    ~TermiosPort() override;
    TermiosPort(const TermiosPort&) = delete;
    TermiosPort& operator=(const TermiosPort&) = delete;

    void setCommPort(int n) override { port_ = n; }
    int commPort() const override { return port_; }
    std::string deviceName(int n) const override { return deviceFor_(n); }

    PortError setSettings(std::string_view settings) override;
    LineSettings settings() const override;
    RateResult setRate(int baud) override;

    PortError open() override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    PortError failure() const override { return failure_; }
    AccessProblem accessProblem() const override { return accessProblem_; }

    PortError output(ByteView bytes) override;
    using SerialPort::output;
    std::size_t outBufferCount() override;
    std::size_t outBufferSize() const override { return kOutBufferSize; }
    void discardOutput() override;

    Bytes input() override;
    Bytes waiting() const override { return Bytes(rx_.begin(), rx_.end()); }
    std::size_t inBufferCount() override { return rx_.size(); }
    void discardInput() override;
    void setInputLen(std::size_t n) override { inputLen_ = n; }

    void setListener(PortListener* listener) override { listener_ = listener; }
    void setLoneNulIsBreak(bool enabled) override { loneNulIsBreak_ = enabled; }
    void setTextAnswers(bool enabled) override { textAnswers_ = enabled; }

    static constexpr std::size_t kOutBufferSize = 512;

  private:
    PortError settingsFailed(int error);
    void onReadable();
    void onWritable();
    // Writes what the descriptor takes now; the write notifier waits for room for the rest.
    PortError flushOutput();
    void handOver(std::size_t n);
    std::size_t lineEstimate() const;
    Duration frameTime(std::size_t n) const;
    void deliver(std::vector<BreakDecoder::Item>& items);
    // Closes a port that failed under us; the listener hears of it now or from the event loop.
    void fail(PortError error, bool notifyNow);
    void release();

    DeviceFor deviceFor_;
    Now now_;
    int port_ = 1;
    LineSettings settings_;
    int rate_ = 0;  // set by setRate until the next open or setSettings; 0: the text's
    int fd_ = -1;
    std::uint64_t generation_ = 0;  // counts opens, so late news of an old one is ignored
    PortError failure_ = PortError::None;
    AccessProblem accessProblem_;
    PortListener* listener_ = nullptr;
    bool loneNulIsBreak_ = false;
    bool textAnswers_ = false;

    // The device's settings as the port found them, given back when it closes: the next
    // program on the port may set only raw mode and would get our break marking (0xFF doubled).
    std::unique_ptr<termios> found_;
    // Whether the port was found without the driver's low-latency mode that it now has: given
    // back at close like the rest.
    bool lowLatencySet_ = false;

    std::unique_ptr<QObject> context_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
    // Wakes the event loop when what was handed over can have left the wire: the kernel tells
    // of room in its buffer, never of an empty one, and a wait for the drain ends then.
    std::unique_ptr<PreciseTimer> drainWake_;
    void onDrainWake();

    BreakDecoder decoder_;
    std::deque<Byte> rx_;
    std::size_t inputLen_ = 0;
    std::deque<Byte> tx_;
    // When the last byte handed to the driver can have left the wire at the latest.
    TimePoint lineFreeAt_{0};
};

}  // namespace kestro
