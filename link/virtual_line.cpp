// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual_line.h"

#include <algorithm>

namespace kestro {

namespace {

// Offset of the given number of half bit times at the rate, exact to the nanosecond.
Duration halfBits(std::int64_t n, int baud) {
    return Duration{n * 500'000'000LL / baud};
}

}  // namespace

TimePoint LineDirection::Frame::end() const {
    if (held)
        return TimePoint::max();
    return baud == 0 ? start + breakLength : start + halfBits(20, baud);
}

int LineDirection::Frame::levelAt(TimePoint t) const {
    if (baud == 0)
        return 0;
    const Duration dt = t - start;
    int k = static_cast<int>(dt.count() * baud / 1'000'000'000LL);
    while (k < 9 && halfBits(2 * (k + 1), baud) <= dt)
        ++k;
    while (k > 0 && halfBits(2 * k, baud) > dt)
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
    f.start = std::max(from, idleAt_);
    f.baud = baud;
    f.byte = byte;
    frames_.push_back(f);
    idleAt_ = f.end();
    added();
}

void LineDirection::startBreak(Duration length, Duration markAfter, TimePoint from) {
    Frame f;
    f.start = std::max(from, idleAt_);
    f.breakLength = length;
    frames_.push_back(f);
    idleAt_ = f.end() + markAfter;
    added();
}

void LineDirection::holdBreak(TimePoint from) {
    Frame f;
    f.start = std::max(from, idleAt_);
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
    f.breakLength = std::max({at, scheduler_.now(), f.start}) - f.start;
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
    for (const Frame& f : frames_) {
        if (t < f.start)
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
        if (f.start != previousEnd)
            before = 1;
        if (f.end() > from) {
            if (before == 1 && f.start >= from)
                return f.start;
            if (f.baud != 0) {
                for (int k = 0; k < 9; ++k) {
                    const TimePoint boundary = f.start + halfBits(2 * (k + 1), f.baud);
                    const TimePoint inside = f.start + halfBits(2 * k + 1, f.baud);
                    if (boundary >= from && f.levelAt(inside) == 1 && f.levelAt(boundary) == 0)
                        return boundary;
                }
            }
        }
        before = f.baud == 0 ? 0 : 1;
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
    const TimePoint e = *edge;
    samplingAt_ = e + halfBits(19, rxBaud_);
    sampling_ = scheduler_.schedule(samplingAt_, [this, e] { sample(e); });
}

void LineDirection::sample(TimePoint edge) {
    sampling_.reset();
    const int baud = rxBaud_;
    if (levelAt(edge + halfBits(1, baud)) != 0) {  // a glitch, not a start bit
        watchFrom_ = edge + halfBits(1, baud);
        arm();
        return;
    }
    Byte byte = 0;
    for (int bit = 0; bit < 8; ++bit)
        byte |= static_cast<Byte>(levelAt(edge + halfBits(3 + 2 * bit, baud)) << bit);
    const bool framingError = levelAt(edge + halfBits(19, baud)) == 0;
    watchFrom_ = edge + halfBits(19, baud);
    sampledAt_ = watchFrom_;
    prune();
    if (receive_)
        receive_(byte, framingError);
    arm();
}

void LineDirection::added() {
    prune();
    arm();
}

void LineDirection::prune() {
    const TimePoint pivot =
        rxBaud_ != 0 ? std::min(watchFrom_, scheduler_.now()) : scheduler_.now();
    while (frames_.size() > 1 && frames_[1].end() <= pivot)
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
