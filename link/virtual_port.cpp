// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual_port.h"

namespace kestro {

namespace {

// How long past the earliest moment the awaited bytes can be in the scheduler is asked to
// watch: the far end's own turn-around before it answers (a talker's few dozen E cycles) and a
// wake-up that came late. Later than that a board in the same process answers at the clock's
// next gathered wake-up, as it did before the wait said what it awaits.
constexpr Duration kAnswerSlack = std::chrono::microseconds(500);

}  // namespace

VirtualPort::~VirtualPort() {
    close();
}

void VirtualPort::attach(int n, VirtualLine& line, std::string name) {
    lines_[n] = Attached{&line, name.empty() ? "virtual port " + std::to_string(n) : name};
}

std::string VirtualPort::deviceName(int n) const {
    auto it = lines_.find(n);
    return it != lines_.end() ? it->second.name : "virtual port " + std::to_string(n);
}

PortError VirtualPort::setSettings(std::string_view text) {
    const auto parsed = LineSettings::parse(text);
    if (!parsed)
        return PortError::BadSettings;
    settings_ = *parsed;
    rate_ = 0;
    if (open_)
        applyRate();
    return PortError::None;
}

LineSettings VirtualPort::settings() const {
    LineSettings s = settings_;
    if (rate_ != 0)
        s.baud = rate_;
    return s;
}

void VirtualPort::applyRate() {
    const int baud = settings().baud;
    tx_->setBaud(baud);
    open_->toPc.setReceiver(baud, [this](Byte b, bool fe) { received(b, fe); });
}

RateResult VirtualPort::setRate(int baud) {
    if (!open_)
        return {failure_ != PortError::None ? failure_ : PortError::NotOpen, settings().baud};
    const std::optional<int> set = baud <= 0  ? std::nullopt
                                   : adapter_ ? adapter_(baud)
                                              : std::optional<int>(baud);
    const bool refused = !set || *set <= 0;
    if (!refused) {
        rate_ = *set;
        applyRate();
    }
    if (trace_)
        trace_->rateChanged(baud, settings().baud, refused);
    return {refused ? PortError::BadSettings : PortError::None, settings().baud};
}

PortError VirtualPort::open() {
    if (open_)
        return PortError::InUse;
    if (auto it = openResult_.find(port_); it != openResult_.end() && it->second != PortError::None)
        return it->second;
    auto it = lines_.find(port_);
    if (it == lines_.end())
        return PortError::Absent;
    open_ = it->second.line;
    failure_ = PortError::None;
    tx_ = std::make_unique<Transmitter>(open_->toTarget);
    applyRate();
    return PortError::None;
}

void VirtualPort::close() {
    if (!open_)
        return;
    open_->toPc.setReceiver(0, nullptr);
    tx_.reset();
    open_ = nullptr;
    rate_ = 0;
    rx_.clear();
    awaited_ = 0;
}

void VirtualPort::pull() {
    if (!open_)
        return;
    close();
    failure_ = PortError::Lost;
    if (listener_)
        listener_->portFailed(PortError::Lost);
}

PortError VirtualPort::output(ByteView bytes) {
    if (!open_)
        return failure_ != PortError::None ? failure_ : PortError::NotOpen;
    if (trace_)
        trace_->sent(bytes);
    tx_->queue(bytes);
    awaited_ = 0;
    if (bytes.empty())
        return PortError::None;
    // The wait for the drain hangs on the end of the last frame (or of the one the adapter's
    // FIFO takes last): the frames follow one another from the one on the wire.
    const Duration c = characterTime(tx_->baud());
    const auto queued = static_cast<std::int64_t>(tx_->pending()) - 1;
    const TimePoint last = open_->toTarget.idleAt() + queued * c;
    scheduler_.watchClosely(last - std::min<std::int64_t>(queued, adapterFifo_) * c, last);
    return PortError::None;
}

void VirtualPort::awaitInput(std::size_t count) {
    awaited_ = open_ && count > rx_.size() ? count : 0;
    if (awaited_ == 0)
        return;
    // The earliest the last can be in: from the frame on its way, or else from the end of what
    // the PC sent last (an answer follows its request), which a late wait may find past.
    const Duration c = characterTime(settings().baud);
    const auto more = static_cast<std::int64_t>(awaited_ - rx_.size());
    const std::optional<TimePoint> next = open_->toPc.nextSampleAt();
    const TimePoint earliest = next ? *next + (more - 1) * c : open_->toTarget.idleAt() + more * c;
    scheduler_.watchClosely(earliest, std::max(earliest, scheduler_.now()) + kAnswerSlack);
}

void VirtualPort::discardOutput() {
    if (tx_)
        tx_->discard();
}

Bytes VirtualPort::input() {
    awaited_ = 0;
    const std::size_t n = inputLen_ != 0 ? std::min(inputLen_, rx_.size()) : rx_.size();
    Bytes out(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

void VirtualPort::received(Byte byte, bool framingError) {
    // A UART reads a break as a NUL whose stop bit is missing; some adapters hand it on as a
    // NUL alone, which counts as a break only while the link asks for that.
    const bool loneNul = loneNulIsBreak_ && byte == 0 && rx_.empty();
    if ((framingError && byte == 0) || loneNul || (textAnswers_ && readsAsBreak(byte))) {
        if (trace_)
            trace_->breakReceived();
        if (listener_)
            listener_->portBreak();
        return;
    }
    if (trace_)
        trace_->received(ByteView(&byte, 1));
    rx_.push_back(byte);
    if (awaited_ != 0 && rx_.size() >= awaited_) {
        awaited_ = 0;
        scheduler_.watchClosely(TimePoint{0}, TimePoint{-1});
    }
    if (listener_)
        listener_->portDataArrived();
}

}  // namespace kestro
