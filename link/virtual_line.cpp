// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual_line.h"

#include <algorithm>

namespace kestro {

namespace {

// Offset of the given number of half bit times at the rate, exact to the nanosecond.
Duration halfBits(std::int64_t n, int baud) {
    return Duration{n * 500'000'000LL / baud};
}

// Where the receiver takes its last sample of a frame: the middle of the stop bit, or RT10 of
// it with three samples per bit.
std::int64_t stopSamplePhase(bool majority) {
    return 9 * RateTrack::kBit + (majority ? 9 : 8) * (RateTrack::kBit / 16);
}

}  // namespace

std::int64_t RateTrack::phaseAt(TimePoint t) const {
    for (auto it = changes.rbegin(); it != changes.rend(); ++it)
        if (it->at <= t)
            return it->phase + (t - it->at).count() * it->baud;
    return (t - start).count() * baud;
}

TimePoint RateTrack::timeOf(std::int64_t phase) const {
    for (auto it = changes.rbegin(); it != changes.rend(); ++it)
        if (it->phase <= phase)
            return it->at + Duration{(phase - it->phase) / it->baud};
    return start + Duration{phase / baud};
}

void RateTrack::changeRate(TimePoint at, int newBaud) {
    const int current = changes.empty() ? baud : changes.back().baud;
    if (newBaud == current)
        return;
    if (changes.empty() && at <= start) {
        baud = newBaud;
        return;
    }
    const std::int64_t phase = phaseAt(at);
    if (!changes.empty() && changes.back().at == at)
        changes.pop_back();
    changes.push_back({at, newBaud, phase});
}

TimePoint LineDirection::Frame::end() const {
    if (held)
        return TimePoint::max();
    return baud() == 0 ? start() + breakLength : boundary(10);
}

int LineDirection::Frame::levelAt(TimePoint t) const {
    if (baud() == 0)
        return 0;
    int k = static_cast<int>(std::clamp<std::int64_t>(track.phaseAt(t) / RateTrack::kBit, 0, 9));
    while (k < 9 && boundary(k + 1) <= t)
        ++k;
    while (k > 0 && boundary(k) > t)
        --k;
    if (k == 0)
        return 0;
    if (k == 9)
        return 1;
    return (byte >> (k - 1)) & 1;
}

LineDirection::~LineDirection() {
    if (sampling_)
        scheduler_.cancel(*sampling_);
}

void LineDirection::startFrame(Byte byte, int baud, TimePoint from) {
    Frame f;
    f.track.start = std::max(from, idleAt_);
    f.track.baud = baud;
    f.byte = byte;
    frames_.push_back(f);
    idleAt_ = f.end();
    added();
}

void LineDirection::startBreak(Duration length, Duration markAfter, TimePoint from) {
    Frame f;
    f.track.start = std::max(from, idleAt_);
    f.breakLength = length;
    frames_.push_back(f);
    idleAt_ = f.end() + markAfter;
    added();
}

void LineDirection::holdBreak(TimePoint from) {
    Frame f;
    f.track.start = std::max(from, idleAt_);
    f.held = true;
    frames_.push_back(f);
    idleAt_ = TimePoint::max();
    added();
}

void LineDirection::endBreak(TimePoint at, Duration markAfter) {
    if (frames_.empty() || !frames_.back().held)
        return;
    Frame& f = frames_.back();
    f.held = false;
    f.breakLength = std::max({at, scheduler_.now(), f.start()}) - f.start();
    idleAt_ = f.end() + markAfter;
    added();
}

void LineDirection::setReceiver(int baud, Receive receive, TimePoint from) {
    if (sampling_) {
        scheduler_.cancel(*sampling_);
        sampling_.reset();
    }
    rxBaud_ = baud;
    receive_ = std::move(receive);
    watchFrom_ = std::max(watchFrom_, from);
    arm();
}

int LineDirection::levelAt(TimePoint t) const {
    const int level = driveAt(t);
    if (level == 0 || riseDelay_ <= Duration{0})
        return level;
    // High only once the line has been let go for the whole rise: a 1 that follows a 0 by less
    // than the rise still reads 0.
    return driveAt(t - riseDelay_) & driveAt(t - riseDelay_ / 2);
}

int LineDirection::driveAt(TimePoint t) const {
    for (const Frame& f : frames_) {
        if (t < f.start())
            break;
        if (t < f.end())
            return f.levelAt(t);
    }
    return 1;
}

std::optional<TimePoint> LineDirection::fallingEdgeFrom(TimePoint from) const {
    int before = 1;  // the level just before the next frame's start
    TimePoint previousEnd{-1};
    for (const Frame& f : frames_) {
        if (f.start() != previousEnd)
            before = 1;
        if (f.end() > from) {
            if (before == 1 && f.start() >= from)
                return f.start();
            if (f.baud() != 0) {
                for (int k = 0; k < 9; ++k) {
                    const TimePoint boundary = f.boundary(k + 1);
                    const TimePoint inside =
                        f.track.timeOf(k * RateTrack::kBit + RateTrack::kBit / 2);
                    if (boundary >= from && f.levelAt(inside) == 1 && f.levelAt(boundary) == 0)
                        return boundary;
                }
            }
        }
        before = f.baud() == 0 ? 0 : 1;
        previousEnd = f.end();
    }
    return std::nullopt;
}

void LineDirection::arm() {
    if (rxBaud_ == 0 || sampling_)
        return;
    const auto edge = fallingEdgeFrom(watchFrom_);
    if (!edge) {
        // No start bit anywhere in what has been sent so far, and whatever comes next starts
        // now or later: the receiver need not look back, so a line held low (a long break)
        // does not pile up frames to scan again.
        if (!frames_.empty())
            watchFrom_ = std::max(watchFrom_, std::min(frames_.back().end(), scheduler_.now()));
        prune();
        return;
    }
    rxTrack_ = RateTrack{*edge, rxBaud_, {}};
    samplingAt_ = rxTrack_.timeOf(stopSamplePhase(majority_));
    sampling_ = scheduler_.schedule(samplingAt_, [this] { sample(); });
}

int LineDirection::sampleBit(int bit, bool& noisy) const {
    const auto at = [&](int sixteenths) {
        return levelAt(
            rxTrack_.timeOf(bit * RateTrack::kBit + sixteenths * (RateTrack::kBit / 16)));
    };
    if (!majority_)
        return at(8);
    const int ones = at(7) + at(8) + at(9);
    noisy = noisy || (ones != 0 && ones != 3);
    return ones >= 2 ? 1 : 0;
}

void LineDirection::sample() {
    if (beforeSample_) {
        // Still marked as sampling, so that what the sender adds now does not re-arm.
        inSample_ = true;
        beforeSample_(samplingAt_);
        inSample_ = false;
    }
    sampling_.reset();
    bool noisy = false;
    bool startBit = levelAt(rxTrack_.timeOf(RateTrack::kBit / 2)) == 0;
    if (majority_) {
        // The start bit is verified at RT3, RT5 and RT7: two lows of three make it.
        int ones = 0;
        for (const int rt : {2, 4, 6})
            ones += levelAt(rxTrack_.timeOf(rt * (RateTrack::kBit / 16)));
        startBit = ones < 2;
        noisy = ones != 0;
    }
    if (!startBit) {  // a glitch, not a start bit
        watchFrom_ = rxTrack_.timeOf(RateTrack::kBit / 2);
        arm();
        return;
    }
    Byte byte = 0;
    for (int bit = 0; bit < 8; ++bit)
        byte |= static_cast<Byte>(sampleBit(bit + 1, noisy) << bit);
    const bool framingError = sampleBit(9, noisy) == 0;
    watchFrom_ = rxTrack_.timeOf(9 * RateTrack::kBit + RateTrack::kBit / 2);
    sampledAt_ = watchFrom_;
    prune();
    noise_ = noisy;
    if (receive_)
        receive_(byte, framingError);
    noise_ = false;
    arm();
}

void LineDirection::changeReceiverRate(int baud, TimePoint at) {
    if (baud == rxBaud_)
        return;
    rxBaud_ = baud;
    if (sampling_ && rxTrack_.start < at) {
        // Part-way through a frame: the samples still to come follow the new rate.
        scheduler_.cancel(*sampling_);
        rxTrack_.changeRate(at, baud);
        samplingAt_ = rxTrack_.timeOf(stopSamplePhase(majority_));
        sampling_ = scheduler_.schedule(samplingAt_, [this] { sample(); });
        return;
    }
    if (sampling_) {
        scheduler_.cancel(*sampling_);
        sampling_.reset();
    }
    arm();
}

void LineDirection::changeRate(TimePoint at, int baud) {
    if (frames_.empty())
        return;
    Frame& f = frames_.back();
    if (f.baud() == 0 || f.held || at >= f.end())
        return;
    f.track.changeRate(std::max(at, f.start()), baud);
    idleAt_ = f.end();
    if (sampling_ && !inSample_ && rxTrack_.start > at) {
        // The edge the receiver is about to sample has moved with the rate.
        scheduler_.cancel(*sampling_);
        sampling_.reset();
        arm();
    }
}

void LineDirection::added() {
    prune();
    arm();
}

void LineDirection::prune() {
    const TimePoint pivot =
        rxBaud_ != 0 ? std::min(watchFrom_, scheduler_.now()) : scheduler_.now();
    // What the receiver may still sample reaches back a rise before the pivot (taken off the
    // pivot: a held break ends at TimePoint::max()).
    while (frames_.size() > 1 && frames_[1].end() <= pivot - riseDelay_)
        frames_.pop_front();
}

Transmitter::~Transmitter() {
    if (frameEnd_)
        line_.scheduler().cancel(*frameEnd_);
}

void Transmitter::queue(ByteView bytes) {
    for (Byte b : bytes)
        queue_.push_back(Item{false, b, {}});
    if (!onWire_)
        startNext(line_.scheduler().now());
}

void Transmitter::queueBreak(Duration length) {
    queue_.push_back(Item{true, 0, length});
    if (!onWire_)
        startNext(line_.scheduler().now());
}

std::size_t Transmitter::pending() const {
    return queue_.size() + (onWire_ ? 1 : 0);
}

void Transmitter::discard() {
    queue_.clear();
}

void Transmitter::startNext(TimePoint from) {
    if (queue_.empty()) {
        onWire_ = false;
        return;
    }
    const Item item = queue_.front();
    queue_.pop_front();
    if (item.isBreak)
        line_.startBreak(item.length, halfBits(2, baud_), from);
    else
        line_.startFrame(item.byte, baud_, from);
    onWire_ = true;
    const TimePoint end = line_.idleAt();
    frameEnd_ = line_.scheduler().schedule(end, [this, end] {
        frameEnd_.reset();
        onWire_ = false;
        // The next frame starts where this one ended, not when this event got to run.
        startNext(end);
    });
}

}  // namespace kestro
