// SPDX-License-Identifier: GPL-3.0-or-later
#include "fast_link.h"

#include <algorithm>

namespace kestro::fast {

namespace {

// The answer's status and address, and its CRC.
constexpr std::size_t kAnswerHead = 3;
constexpr std::size_t kAnswerCrc = 2;

LinkError damagedTooOften() {
    static_assert(FastLink::kAttempts == 4, "kDamagedTooOften says how often");
    return LinkError(kDamagedTooOften, LinkError::Ending::EndAsFrame,
                     "The job was stopped there and may be partly done. Check the cable, then "
                     "reset your HC11 into bootstrap mode and start the job again.");
}

LinkError unknownRequest() {
    return LinkError(kUnknownRequest, LinkError::Ending::EndAsFrame,
                     "The talker files in the asm folder may not belong to this version of "
                     "Kestro.");
}

}  // namespace

std::uint16_t crc16(ByteView data, std::uint16_t crc) {
    for (Byte b : data) {
        crc = static_cast<std::uint16_t>(crc ^ (b << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

Bytes request(Byte command, std::uint16_t address, Byte count) {
    return request(command, address, count, {}, Check::Crc16);
}

std::uint8_t crc8(ByteView data, std::uint8_t crc) {
    for (Byte b : data) {
        crc = static_cast<std::uint8_t>(crc ^ b);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

Bytes request(Byte command, std::uint16_t address, Byte count, ByteView data, Check check) {
    Bytes r{command, static_cast<Byte>(address >> 8), static_cast<Byte>(address), count};
    r.insert(r.end(), data.begin(), data.end());
    if (check == Check::Crc8) {
        r.push_back(crc8(ByteView(r)));
        return r;
    }
    const std::uint16_t crc = crc16(ByteView(r));
    r.push_back(static_cast<Byte>(crc >> 8));
    r.push_back(static_cast<Byte>(crc));
    return r;
}

Bytes request(Byte command, std::uint16_t address, Byte count, ByteView data) {
    Bytes r{command, static_cast<Byte>(address >> 8), static_cast<Byte>(address), count};
    r.insert(r.end(), data.begin(), data.end());
    const std::uint16_t crc = crc16(ByteView(r));
    r.push_back(static_cast<Byte>(crc >> 8));
    r.push_back(static_cast<Byte>(crc));
    return r;
}

Duration FastLink::characters(std::size_t n) const {
    return characterTime(std::max(f_.port().settings().baud, 1), static_cast<std::int64_t>(n));
}

void FastLink::silent() {
    f_.ui().setProgress(std::nullopt);
    throw LinkError(kStoppedAnswering, LinkError::Ending::EndAsFrame,
                    "Nothing came back to a request within a second, so the job was stopped "
                    "there and may be partly done. Reset your HC11 into bootstrap mode and start "
                    "the job again.");
}

void FastLink::waitQuiet() {
    // A flood that never ends is not a talker: give up after a second more than the longest
    // answer takes, which a damaged one may still be (over two seconds at 1200 baud).
    const TimePoint giveUp =
        f_.clock().now() + characters(kReadBlock + kAnswerHead + kAnswerCrc) + 1s;
    const Duration quiet = kTalkerIdle * 2 + characters(2);
    std::size_t seen = f_.port().inBufferCount();
    while (true) {
        f_.clock().waitUntil(
            [this, seen] {
                return f_.port().inBufferCount() != seen || f_.port().failure() != PortError::None;
            },
            quiet);
        if (f_.port().failure() != PortError::None)
            f_.portFailed(f_.port().failure());
        if (f_.port().inBufferCount() == seen)
            break;
        seen = f_.port().inBufferCount();
        if (f_.clock().now() > giveUp) {
            f_.ui().setProgress(std::nullopt);
            throw LinkError(kNotTheProtocol, LinkError::Ending::EndAsFrame,
                            "It did not stop within a second, so the job was stopped there and "
                            "may be partly done. Check the cable and the port's settings, then "
                            "reset your HC11 into bootstrap mode and start the job again.");
        }
    }
    f_.port().discardInput();
}

FastLink::Outcome FastLink::receive(std::size_t dataBytes, Duration firstByteLimit,
                                    Answer& answer) {
    Bytes got;
    Duration limit = firstByteLimit;
    const std::size_t check = check_ == Check::Crc8 ? 1 : kAnswerCrc;
    while (true) {
        std::size_t need = kAnswerHead + check;
        if (!got.empty() && got[0] == kDone)
            need += dataBytes;
        if (got.size() >= need)
            break;
        const std::size_t had = got.size();
        f_.clock().waitUntil(
            [this, need, had] {
                return had + f_.port().inBufferCount() >= need ||
                       f_.port().failure() != PortError::None;
            },
            limit);
        if (f_.port().failure() != PortError::None)
            f_.portFailed(f_.port().failure());
        const Bytes more = f_.port().input();
        if (more.empty())
            return got.empty() ? Outcome::Silent : Outcome::Damaged;
        got.insert(got.end(), more.begin(), more.end());
        // Once the talker has begun, the rest follows at the line's pace.
        limit = characters(need - std::min(need, got.size()) + 2) + kTurnaround;
    }
    const std::size_t length = kAnswerHead + check + (got[0] == kDone ? dataBytes : 0);
    const bool known =
        got[0] == kDone || got[0] == kDamaged || got[0] == kUnknown || got[0] == kNoMemory ||
        got[0] == kRefused;
    const bool checked =
        check_ == Check::Crc8 ? crc8(ByteView(got)) == 0 : crc16(ByteView(got)) == 0;
    if (!known || got.size() != length || !checked)
        return Outcome::Damaged;
    answer.status = got[0];
    answer.address = static_cast<std::uint16_t>(got[1] << 8 | got[2]);
    answer.data.assign(got.begin() + kAnswerHead, got.end() - static_cast<std::ptrdiff_t>(check));
    return Outcome::Good;
}

Answer FastLink::exchange(Byte command, std::uint16_t address, Byte count, std::size_t dataBytes,
                          Duration chipTime) {
    return exchange(command, address, count, {}, dataBytes, chipTime);
}

Answer FastLink::exchange(Byte command, std::uint16_t address, Byte count, ByteView data,
                          std::size_t dataBytes, Duration chipTime) {
    return exchange(request(command, address, count, data, check_), dataBytes, chipTime);
}

Answer FastLink::exchange(const Bytes& req, std::size_t dataBytes, Duration chipTime) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        f_.port().discardInput();
        f_.send(ByteView(req));
        f_.waitDrained();
        Answer answer;
        switch (receive(dataBytes, chipTime + kTalkerIdle + characters(3) + kTurnaround, answer)) {
            case Outcome::Silent:
                silent();
            case Outcome::Damaged:
                waitQuiet();
                continue;
            case Outcome::Good:
                break;
        }
        if (answer.status == kDamaged)
            continue;
        if (answer.status == kUnknown)
            throw unknownRequest();
        return answer;
    }
    f_.ui().setProgress(std::nullopt);
    throw damagedTooOften();
}

bool FastLink::ping() {
    const Bytes req = request(kPing, 0, 0, {}, check_);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        f_.port().discardInput();
        f_.send(ByteView(req));
        f_.waitDrained();
        Answer answer;
        switch (receive(0, kTalkerIdle + characters(3) + kTurnaround, answer)) {
            case Outcome::Silent:
                return false;
            case Outcome::Damaged:
                waitQuiet();
                continue;
            case Outcome::Good:
                if (answer.status == kUnknown)
                    throw unknownRequest();
                if (answer.status == kDone)
                    return true;
                continue;
        }
    }
    throw damagedTooOften();
}

void FastLink::setRate(int baud) {
    const RateResult r = f_.port().setRate(baud);
    if (r.error != PortError::None && r.error != PortError::BadSettings)
        f_.portFailed(r.error);
}

bool FastLink::tryRate(const SciRate& r) {
    const Bytes req = request(kRate, 0, r.baudRegister);
    setRate(kSlowRate.asked);
    f_.port().discardInput();
    f_.send(ByteView(req));
    f_.waitDrained();
    // The talker switches on B's last byte and says nothing; one that took B for damaged answers
    // N at 1200 within its idle time. Listening at 1200 until then also lets an adapter finish
    // shifting B out before its rate changes.
    f_.clock().waitUntil(
        [this] { return f_.port().inBufferCount() > 0 || f_.port().failure() != PortError::None; },
        kTalkerIdle + characters(3) + kRateListen);
    if (f_.port().failure() != PortError::None)
        f_.portFailed(f_.port().failure());
    if (f_.port().inBufferCount() > 0) {
        waitQuiet();
        return false;
    }
    setRate(r.asked);
    // The same request at the new rate: the talker answers K there, or goes back to 1200.
    f_.send(ByteView(req));
    f_.waitDrained();
    Answer answer;
    if (receive(0, characters(3) + kTurnaround, answer) == Outcome::Good && answer.status == kDone)
        return true;
    // The talker is back at 1200, or kept the new rate and its K was lost on the way.
    if (answersAt(kSlowRate.asked))
        return false;
    if (answersAt(r.asked))
        return true;
    if (answersAt(kSlowRate.asked))
        return false;
    silent();
}

bool FastLink::answersAt(int baud) {
    setRate(baud);
    waitQuiet();
    f_.send(ByteView(request(kPing, 0, 0)));
    f_.waitDrained();
    Answer answer;
    return receive(0, kTalkerIdle + characters(3) + kTurnaround, answer) == Outcome::Good &&
           answer.status == kDone;
}

SciRate FastLink::agreeRate() {
    std::size_t from = 0;
    while (true) {
        const RateChoice c = chooseRate([this](int baud) { return f_.port().setRate(baud); }, from);
        if (c.error != PortError::None)
            f_.portFailed(c.error);
        if (c.inForce == 0)
            setRate(kSlowRate.asked);
        if (c.inForce == 0 || tryRate(c.rate)) {
            f_.ui().setLineRate(f_.port().settings().baud);
            return c.rate;
        }
        from = c.next;
    }
}

Bytes FastLink::read(Byte command, std::uint16_t address, std::size_t count,
                     const std::function<void(std::size_t)>& progress) {
    Bytes data;
    data.reserve(count);
    while (data.size() < count) {
        const std::size_t n = std::min(kReadBlock, count - data.size());
        const auto at = static_cast<std::uint16_t>(address + data.size());
        const Answer a = exchange(command, at, static_cast<Byte>(n), n);
        if (a.status != kDone || a.address != at)
            throw damagedTooOften();
        data.insert(data.end(), a.data.begin(), a.data.end());
        if (progress)
            progress(data.size());
    }
    return data;
}

}  // namespace kestro::fast
