// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "bytes.h"
#include "clock.h"

namespace kestro {

// Where a UART is within a frame, as time goes on at a rate that may change part-way: the
// phase counts nanoseconds times baud, so one bit is 1e9. A rate change keeps the phase
// reached and goes on at the new rate, as a baud-rate generator rewritten mid-frame does.
struct RateTrack {
    static constexpr std::int64_t kBit = 1'000'000'000;
    struct Change {
        TimePoint at;
        int baud;
        std::int64_t phase;  // reached at `at`
    };
    TimePoint start;
    int baud = 0;
    std::vector<Change> changes;

    std::int64_t phaseAt(TimePoint t) const;
    TimePoint timeOf(std::int64_t phase) const;
    void changeRate(TimePoint at, int newBaud);
};

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
    // An open-drain sender rising through a pull-up: the line reaches the receiver's threshold
    // this long after the sender lets go (falling edges are driven and stay sharp). 0: a driven
    // output.
    void setRiseDelay(Duration d) { riseDelay_ = d; }
    Duration riseDelay() const { return riseDelay_; }

    // --- receiver side. Baud 0 means nobody listens (a closed port): frames are lost. The
    // receiver looks for start bits from `from` on (by default now): a receiver switched in
    // answer to a byte passes the moment that byte was sampled, not when its event ran.
    void setReceiver(int baud, Receive receive) {
        setReceiver(baud, std::move(receive), scheduler_.now());
    }
    void setReceiver(int baud, Receive receive, TimePoint from);
    int receiverBaud() const { return rxBaud_; }
    // A receiver's rate rewritten at `at`: a frame it is sampling goes on at the new rate from
    // where it got to; a frame on the wire whose start it has not seen is looked for at the new
    // rate.
    void changeReceiverRate(int baud, TimePoint at);
    // Three samples per bit (RT8, RT9, RT10 of sixteen; the start bit at RT3, RT5, RT7) and a
    // majority vote, as the HC11's SCI receiver takes them (M68HC11 Reference Manual, SCI
    // receiver); otherwise one sample in the middle of each bit.
    void setMajoritySampling(bool on) { majority_ = on; }
    // Inside a Receive callback: the samples of a bit disagreed (the SCI's NF).
    bool noise() const { return noise_; }
    // The sender's rate rewritten at `at`: the rest of the frame on the wire then (its bit in
    // progress included) goes out at the new rate.
    void changeRate(TimePoint at, int baud);
    // Called before the receiver samples a frame whose stop bit is due at the given time, so
    // that a sender that runs behind can first put on the wire what it sent until then.
    void setBeforeSample(std::function<void(TimePoint)> fn) { beforeSample_ = std::move(fn); }
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
        RateTrack track;  // track.baud 0 for a break
        Byte byte = 0;
        Duration breakLength{0};
        bool held = false;  // a break whose end is not known yet
        TimePoint start() const { return track.start; }
        int baud() const { return track.baud; }
        TimePoint boundary(int k) const { return track.timeOf(k * RateTrack::kBit); }
        TimePoint end() const;
        int levelAt(TimePoint t) const;  // 1 or 0 within the frame
    };

    void added();
    int levelAt(TimePoint t) const;
    int driveAt(TimePoint t) const;
    std::optional<TimePoint> fallingEdgeFrom(TimePoint from) const;
    void arm();
    void sample();
    void prune();
    int sampleBit(int bit, bool& noisy) const;

    Scheduler& scheduler_;
    std::deque<Frame> frames_;
    TimePoint idleAt_{0};
    int rxBaud_ = 0;
    Receive receive_;
    TimePoint watchFrom_{0};
    TimePoint sampledAt_{0};
    TimePoint samplingAt_{0};
    std::optional<Scheduler::EventId> sampling_;
    RateTrack rxTrack_;  // the frame being sampled: its start edge and the receiver's rate
    Duration riseDelay_{0};
    bool majority_ = false;
    bool noise_ = false;
    bool inSample_ = false;
    std::function<void(TimePoint)> beforeSample_;
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
