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

Duration FastLink::settleAfterDownload(int downloadBaud) {
    return characterTime(downloadBaud, 4) + kTalkerIdle + kSettleMargin;
}

SciRate FastLink::talkerRate() const {
    return f_.link().sciClock().talkerRate();
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
        // Awaited whole as a K would be, not its head alone: a refusal is short and rare, and a
        // long answer must not cost wake-ups at both its ends.
        const bool mayBeDone = got.empty() || got[0] == kDone;
        f_.port().awaitInput(std::max(need, kAnswerHead + check + (mayBeDone ? dataBytes : 0)) -
                             had);
        f_.clock().waitUntil(
            [this, need, had] {
                return had + f_.port().inBufferCount() >= need ||
                       f_.port().failure() != PortError::None;
            },
            limit);
        if (f_.port().failure() != PortError::None)
            f_.portFailed(f_.port().failure());
        const Bytes more = f_.port().input();
        // No answer starts with a NUL, and a boot loader holds its break until the PC sends:
        // a NUL and then silence is a reset, on a line that brings a break as a NUL.
        if (more.empty() && got == Bytes{0})
            f_.resetOnLine();
        if (more.empty())
            return got.empty() ? Outcome::Silent : Outcome::Damaged;
        got.insert(got.end(), more.begin(), more.end());
        // Once the talker has begun, the rest follows at the line's pace.
        limit = characters(need - std::min(need, got.size()) + 2) + kTurnaround;
    }
    const std::size_t length = kAnswerHead + check + (got[0] == kDone ? dataBytes : 0);
    const bool known = got[0] == kDone || got[0] == kDamaged || got[0] == kUnknown ||
                       got[0] == kNoMemory || got[0] == kRefused;
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
        Answer answer;
        const Outcome o = attemptOnce(req, dataBytes, chipTime, answer);
        if (o != Outcome::Good && atFastRate()) {
            // A talker that took the request for damaged went back to the talker's rate without a
            // word; one whose answer was lost or damaged is taken back there by the pings. Either
            // way the job goes on at the next rate down, and the request is sent again.
            fallBack();
            continue;
        }
        // A talker says nothing to a request that came damaged: a ping tells whether it is
        // still there (then the request goes again) before the wait grows past a second.
        if (o == Outcome::Silent) {
            Answer pong;
            if (attemptOnce(pingRequest(), 0, {}, pong) != Outcome::Good)
                silent();
            continue;
        }
        if (o == Outcome::Damaged) {
            waitQuiet();
            continue;
        }
        if (answer.status == kDamaged)
            continue;
        if (answer.status == kUnknown)
            throw unknownRequest();
        if (atFastRate() && ++clean_ >= kCleanRun && next_ >= 2 && next_ - 1 > fastest_)
            stepUp();
        return answer;
    }
    f_.ui().setProgress(std::nullopt);
    throw damagedTooOften();
}

std::optional<Answer> FastLink::lastExchange(Byte command, std::uint16_t address, Byte count) {
    const std::size_t length = kAnswerHead + (check_ == Check::Crc8 ? 1 : kAnswerCrc);
    f_.port().discardInput();
    f_.send(ByteView(request(command, address, count, {}, check_)));
    f_.waitDrained();
    f_.port().awaitInput(length);
    // The link's own clock: a break that follows the answer is the program talking.
    f_.link().clock().waitUntil(
        [this, length] {
            return f_.port().inBufferCount() >= length || f_.port().failure() != PortError::None;
        },
        characters(length + 3) + kTurnaround);
    if (f_.port().failure() != PortError::None)
        f_.portFailed(f_.port().failure());
    f_.port().setInputLen(length);
    const Bytes got = f_.port().input();
    f_.port().setInputLen(0);
    const bool checked =
        check_ == Check::Crc8 ? crc8(ByteView(got)) == 0 : crc16(ByteView(got)) == 0;
    if (got.size() == length && got[0] == kDone && checked)
        return Answer{got[0], static_cast<std::uint16_t>(got[1] << 8 | got[2]), {}};
    // No answer, or a damaged one: a reset under the job is told as one.
    f_.wait(Duration{0});
    return std::nullopt;
}

FastLink::Outcome FastLink::attemptOnce(const Bytes& req, std::size_t dataBytes, Duration chipTime,
                                        Answer& answer) {
    f_.port().discardInput();
    f_.send(ByteView(req));
    f_.waitDrained();
    const Outcome o = receive(dataBytes, chipTime + characters(3) + kTurnaround, answer);
    if (o == Outcome::Good)
        talkerBaud_ = f_.port().settings().baud;
    return o;
}

Bytes FastLink::pingRequest() const {
    return request(kPing, 0, 0, {}, check_);
}

bool FastLink::ping() {
    const Bytes req = pingRequest();
    int silences = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        Answer answer;
        const Outcome o = attemptOnce(req, 0, {}, answer);
        // At a fast rate a ping that came damaged sent the talker back to the talker's rate, as any
        // request.
        if (o != Outcome::Good && atFastRate())
            return lookAtTalkerRate();
        silences = o == Outcome::Silent ? silences + 1 : 0;
        switch (o) {
            case Outcome::Silent:
                // Unanswered: damaged on the way (then the talker says nothing), or no talker.
                if (silences == 2)
                    return false;
                continue;
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

FastLink::~FastLink() {
    // The talker is done with; what the port hears next (a reset's break, the boot loader) comes
    // at the settings' rate.
    if (atFastRate())
        f_.port().setRate(talkerRate().asked);
}

bool FastLink::atFastRate() const {
    // The talker's rate as the port made it, which may be a little off the rate asked.
    return f_.port().isOpen() &&
           !f_.link().sciClock().withinTolerance(talkerRate(), f_.port().settings().baud);
}

void FastLink::setRate(int baud) {
    const RateResult r = f_.port().setRate(baud);
    if (r.error != PortError::None && r.error != PortError::BadSettings)
        f_.portFailed(r.error);
}

bool FastLink::lookAtTalkerRate() {
    setRate(talkerRate().asked);
    waitQuiet();
    // A talker still at the fast rate takes the first ping for damage and goes back to the talker's
    // rate without a word (an answer at the talker's rate would reach a PC listening faster as a
    // break, which is what a reset sends): the second is answered.
    return ping();
}

void FastLink::backToTalkerRate() {
    if (!lookAtTalkerRate())
        silent();
}

void FastLink::fallBack() {
    // One damaged block is noise: the rate that carried the others is kept.
    const std::size_t from = clean_ >= kCleanRun && next_ > 0 ? next_ - 1 : next_;
    clean_ = 0;
    backToTalkerRate();
    agreeRate(from);
}

void FastLink::stepUp() {
    clean_ = 0;
    // The rate above failed here before: agreeing from it goes on down to this one.
    agreeRate(next_ - 2);
}

FastLink::Trial FastLink::tryRate(const RateChoice& c) {
    // B goes at the talker's rate (E/16/13/8, or the boot loader's E/16/16 after a download at it);
    // the talker answers K there and takes the new rate once K has left.
    const Bytes req = request(kRate, 0, c.rate.baudRegister, {}, check_);
    Answer answer;
    int silences = 0;
    for (int attempt = 0;; ++attempt) {
        if (attempt == kAttempts) {
            f_.ui().setProgress(std::nullopt);
            throw damagedTooOften();
        }
        setRate(talkerBaud_);
        const Outcome o = attemptOnce(req, 0, {}, answer);
        silences = o == Outcome::Silent ? silences + 1 : 0;
        if (silences == 2)
            silent();
        if (o == Outcome::Silent && !atFastRate())
            continue;  // B came damaged: the talker said nothing and stays at its rate
        if (o != Outcome::Good) {
            // The talker may have taken B and switched, or taken it for damaged and gone back
            // to its rate: a ping at the talker's rate finds it there.
            backToTalkerRate();
            silences = 0;
            continue;
        }
        if (answer.status == kDone)
            break;
        if (answer.status == kUnknown)
            return Trial::NoRates;  // a talker without B keeps its rate
    }
    // The talker takes the new rate once K's stop bit has ended, which the PC may hear before its
    // end: a character's time at the old rate before the ping, and never less than one at the
    // talker's rate (8.3 ms at 1200 baud), the time a talker has always had: a talker that writes
    // BAUD late (the virtual board, which runs its chip in slices behind the line in real time)
    // would take the ping's first bytes at the old rate.
    f_.wait(std::max(characters(1), characterTime(talkerRate().asked)));
    setRate(c.rate.asked);
    if (attemptOnce(pingRequest(), 0, {}, answer) == Outcome::Good && answer.status == kDone)
        return Trial::Kept;
    backToTalkerRate();
    return Trial::Failed;
}

SciRate FastLink::agreeRate(std::size_t from) {
    while (true) {
        const SciClock& sci = f_.link().sciClock();
        const auto rates = sci.fastRates();
        const RateChoice c =
            chooseRate([this](int baud) { return f_.port().setRate(baud); }, sci, rates, from);
        if (c.error != PortError::None)
            f_.portFailed(c.error);
        const Trial t = c.inForce == 0 ? Trial::NoRates : tryRate(c);
        if (t == Trial::Failed) {
            from = c.next;
            continue;
        }
        next_ = t == Trial::Kept ? c.next : rates.size();
        if (t == Trial::Kept)
            fastest_ = std::min(fastest_, c.next - 1);
        if (t == Trial::NoRates)
            setRate(talkerBaud_);
        f_.ui().setLineRate(f_.port().settings().baud);
        if (t == Trial::Kept)
            return c.rate;
        return sci.withinTolerance(sci.loaderRate(), talkerBaud_) ? sci.loaderRate() : talkerRate();
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
