#pragma once

#include <deque>
#include <functional>
#include <optional>

#include "bytes.h"
#include "clock.h"

namespace kestro {

// One direction of a virtual serial line. The sender drives a waveform of frames (start bit,
// 8 data bits LSB first, stop bit) at its own rate; the receiver samples that waveform at its
// own rate, the way a UART does. Equal rates deliver every byte 10 bit times after it started;
// a receiver at another rate gets the garbage a real one would ($FF sent at 1200 baud reads
// as $C0 or $E0 at 7812 baud), and a break reads as $00 with a framing error.
class LineDirection {
  public:
    // Called at the moment the receiver samples the stop bit.
    using Receive = std::function<void(Byte byte, bool framingError)>;

    explicit LineDirection(Scheduler& scheduler) : scheduler_(scheduler) {}
    LineDirection(const LineDirection&) = delete;
    LineDirection& operator=(const LineDirection&) = delete;
    ~LineDirection();

    Scheduler& scheduler() const { return scheduler_; }

    // --- sender side. A frame starts now; the sender must not start one before idleAt().
    void startFrame(Byte byte, int baud);
    // A break holds the line low; the mark that follows it lets the receiver see the next start.
    void startBreak(Duration length, Duration markAfter);
    TimePoint idleAt() const { return idleAt_; }

    // --- receiver side. Baud 0 means nobody listens (a closed port): frames are lost.
    void setReceiver(int baud, Receive receive);
    int receiverBaud() const { return rxBaud_; }

  private:
    struct Frame {
        TimePoint start;
        int baud = 0;  // 0 for a break
        Byte byte = 0;
        Duration breakLength{0};
        TimePoint end() const;
        int levelAt(TimePoint t) const;  // 1 or 0 within the frame
    };

    void added();
    int levelAt(TimePoint t) const;
    std::optional<TimePoint> fallingEdgeFrom(TimePoint from) const;
    void arm();
    void sample(TimePoint edge);
    void prune();

    Scheduler& scheduler_;
    std::deque<Frame> frames_;
    TimePoint idleAt_{0};
    int rxBaud_ = 0;
    Receive receive_;
    TimePoint watchFrom_{0};
    std::optional<Scheduler::EventId> sampling_;
};

// A UART transmitter with an unbounded queue in front of it: bytes go out back to back at the
// set rate. Both the PC's virtual port and simulated targets send through one.
class Transmitter {
  public:
    explicit Transmitter(LineDirection& line) : line_(line) {}
    Transmitter(const Transmitter&) = delete;
    Transmitter& operator=(const Transmitter&) = delete;
    ~Transmitter();

    void setBaud(int baud) { baud_ = baud; }
    int baud() const { return baud_; }
    void queue(ByteView bytes);
    void queueBreak(Duration length);
    // Bytes not yet fully on the wire, the one being shifted out included.
    std::size_t pending() const;
    // Drops what has not started; a frame already on the wire finishes, as on a real UART.
    void discard();

  private:
    struct Item {
        bool isBreak = false;
        Byte byte = 0;
        Duration length{0};
    };
    void startNext();

    LineDirection& line_;
    int baud_ = 1200;
    std::deque<Item> queue_;
    bool onWire_ = false;
    std::optional<Scheduler::EventId> frameEnd_;
};

// A serial cable: one direction each way between the PC and a target.
struct VirtualLine {
    explicit VirtualLine(Scheduler& s) : toTarget(s), toPc(s) {}
    LineDirection toTarget;
    LineDirection toPc;
};

}  // namespace kestro
