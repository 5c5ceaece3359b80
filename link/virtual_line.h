// SPDX-License-Identifier: GPL-3.0-or-later
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

    // --- sender side. A frame starts at `from` (by default now), or where the line is next
    // idle if that is later. A sender that keeps its own time passes the moment the frame
    // left it, even when its events run late: frames sent back to back then lie back to
    // back on the line, however late the events that put them there.
    void startFrame(Byte byte, int baud) { startFrame(byte, baud, scheduler_.now()); }
    void startFrame(Byte byte, int baud, TimePoint from);
    // A break holds the line low; the mark that follows it lets the receiver see the next start.
    void startBreak(Duration length, Duration markAfter) {
        startBreak(length, markAfter, scheduler_.now());
    }
    void startBreak(Duration length, Duration markAfter, TimePoint from);
    // A break held until endBreak(): one low level however long it lasts and however late the
    // sender gets round to ending it. It ends at `at` or now, whichever is later, so that
    // what a receiver has already sampled as low stays low.
    void holdBreak(TimePoint from);
    void endBreak(TimePoint at, Duration markAfter);
    // TimePoint::max() while a break is held.
    TimePoint idleAt() const { return idleAt_; }

    // --- receiver side. Baud 0 means nobody listens (a closed port): frames are lost. The
    // receiver looks for start bits from `from` on (by default now): a receiver switched in
    // answer to a byte passes the moment that byte was sampled, not when its event ran.
    void setReceiver(int baud, Receive receive) {
        setReceiver(baud, std::move(receive), scheduler_.now());
    }
    void setReceiver(int baud, Receive receive, TimePoint from);
    int receiverBaud() const { return rxBaud_; }
    // Inside a Receive callback: the line time of the stop bit's sample, which is earlier than
    // now when the event ran late.
    TimePoint sampledAt() const { return sampledAt_; }
    // When the receiver will next sample a stop bit, if a frame is on its way. A receiver that
    // runs a clock of its own stops short of it, so that the byte finds it where it arrives.
    std::optional<TimePoint> nextSampleAt() const {
        return sampling_ ? std::optional<TimePoint>(samplingAt_) : std::nullopt;
    }

  private:
    struct Frame {
        TimePoint start;
        int baud = 0;  // 0 for a break
        Byte byte = 0;
        Duration breakLength{0};
        bool held = false;  // a break whose end is not known yet
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
    TimePoint sampledAt_{0};
    TimePoint samplingAt_{0};
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
    void startNext(TimePoint from);

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
