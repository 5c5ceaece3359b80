// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/sci.h"

#include <algorithm>
#include <cmath>

namespace kestro::sim {

namespace {

// SCP1:SCP0 of BAUD select the prescaler (M68HC11 Reference Manual, table 9-1).
constexpr std::uint32_t kPrescale[4] = {1, 3, 4, 13};
constexpr std::uint32_t kBitsPerFrame = 10;
constexpr std::int64_t kFractionBits = 16;

std::uint32_t bitCyclesOf(std::uint8_t baud) {
    return 16 * kPrescale[(baud >> 4) & 3] * (1u << (baud & 7));
}

}  // namespace

Sci::Sci(LineDirection& toLine, LineDirection& fromLine, EClock eClock, LineReceive onLine)
    : toLine_(toLine), fromLine_(fromLine), eClock_(eClock), onLine_(std::move(onLine)) {
    // The SCI takes three samples of each bit and votes (M68HC11 Reference Manual, SCI
    // receiver): noise and a rate that does not fit show as the chip would show them.
    fromLine_.setMajoritySampling(true);
}

void Sci::reset(std::uint64_t cycle) {
    baud_ = kResetBaud;
    sccr1_ = 0;
    sccr2_ = 0;
    tdrFull_ = false;
    shifting_ = false;
    shiftingBreak_ = false;
    shiftingData_ = false;
    shiftEnd_ = cycle;
    rdrf_ = or_ = fe_ = nf_ = idle_ = idleArmed_ = false;
    seen_ = 0;
    if (lineInBreak_) {
        // A reset releases TxD: the line goes back to mark.
        endLineBreak(cycle);
    }
    updateReceiver(cycle);
}

void Sci::cutFrame(std::uint64_t cycle) {
    advanceTo(cycle);
    // The line keeps a frame whole; the rest of it, from the cut on, goes at a rate so high
    // that it lasts a few nanoseconds: the stop bit's high follows at once, and a receiver
    // reads the bits it had not sampled yet as 1s.
    constexpr int kGone = 1'000'000'000;
    if (shiftingData_)
        toLine_.changeRate(lineTimeOf(cycle), kGone);
}

std::uint32_t Sci::bitCycles() const {
    return bitCyclesOf(baud_);
}

double Sci::rate() const {
    return eClock_.hz() / bitCycles();
}

int Sci::lineBaud() const {
    return static_cast<int>(std::ceil(rate()));
}

Duration Sci::cyclesToDuration(std::uint64_t cycles) const {
    return eClock_.timeOf(cycles);
}

TimePoint Sci::lineTimeOf(std::uint64_t cycle) const {
    return epoch_ + cyclesToDuration(cycle);
}

void Sci::updateReceiver(std::uint64_t cycle) {
    const int b = (sccr2_ & sci::RE) ? lineBaud() : 0;
    if (b == receiverBaud_)
        return;
    const int was = receiverBaud_;
    receiverBaud_ = b;
    if (b == 0)
        fromLine_.setReceiver(0, nullptr);
    else if (was > 0)
        fromLine_.changeReceiverRate(b, lineTimeOf(cycle));  // a frame under way goes on
    else
        fromLine_.setReceiver(b, onLine_, lineTimeOf(cycle));
}

void Sci::startShift(std::uint64_t at, bool data, bool isBreak) {
    shifting_ = true;
    shiftingBreak_ = isBreak;
    shiftingData_ = data;
    segStart_ = at;
    remaining_ = std::int64_t{kBitsPerFrame} << kFractionBits;
    shiftEnd_ = at + std::uint64_t{kBitsPerFrame} * bitCycles();
}

void Sci::changeBaud(std::uint8_t value, std::uint64_t cycle) {
    // The rate changes at once, also for the character being shifted: what is left of it goes
    // at the new rate (M68HC11 Reference Manual, SCI: wait for TC before changing the rate).
    if (shifting_ && bitCycles() != bitCyclesOf(value)) {
        const auto done =
            static_cast<std::int64_t>(((cycle - segStart_) << kFractionBits) / bitCycles());
        remaining_ = std::max<std::int64_t>(0, remaining_ - done);
        segStart_ = cycle;
        baud_ = value;
        const auto left = static_cast<std::uint64_t>(remaining_) * bitCycles();
        shiftEnd_ = cycle + ((left + (1u << kFractionBits) - 1) >> kFractionBits);
        if (shiftingData_)
            toLine_.changeRate(lineTimeOf(cycle), lineBaud());
    }
    baud_ = value;
    updateReceiver(cycle);
}

void Sci::endLineBreak(std::uint64_t cycle) {
    // The break ends with at least one mark bit, so that the next start bit is seen
    // (reference manual 9.6.4).
    toLine_.endBreak(lineTimeOf(cycle), cyclesToDuration(bitCycles()));
    lineInBreak_ = false;
}

void Sci::startShifter(std::uint64_t at) {
    if (!(sccr2_ & sci::TE))
        return;
    if (sccr2_ & sci::SBK) {
        // Break characters follow one another for as long as SBK stays set: one low level on
        // the line, held until the last of them ends.
        if (!lineInBreak_) {
            toLine_.holdBreak(lineTimeOf(at));
            lineInBreak_ = true;
            ++breaksSent_;
        }
        startShift(at, false, true);
        return;
    }
    if (tdrFull_) {
        // On the line at the moment the shifter starts it, however late the board runs.
        toLine_.startFrame(tdr_, lineBaud(), lineTimeOf(at));
        ++framesSent_;
        tdrFull_ = false;
        startShift(at, true, false);
    }
}

void Sci::advanceTo(std::uint64_t cycle) {
    while (shifting_ && shiftEnd_ <= cycle) {
        shifting_ = false;
        shiftingData_ = false;
        if (shiftingBreak_) {
            shiftingBreak_ = false;
            if (lineInBreak_ && (sccr2_ & (sci::TE | sci::SBK)) != (sci::TE | sci::SBK))
                endLineBreak(shiftEnd_);
        }
        startShifter(shiftEnd_);
    }
}

std::uint8_t Sci::status(std::uint64_t cycle) {
    if (idleArmed_ && cycle >= lastRxCycle_ + std::uint64_t{kBitsPerFrame} * bitCycles()) {
        idle_ = true;
        idleArmed_ = false;
    }
    std::uint8_t s = 0;
    if (!tdrFull_)
        s |= sci::TDRE;
    if (!tdrFull_ && !shifting_)
        s |= sci::TC;
    if (rdrf_)
        s |= sci::RDRF;
    if (idle_)
        s |= sci::IDLE;
    if (or_)
        s |= sci::OR;
    if (nf_)
        s |= sci::NF;
    if (fe_)
        s |= sci::FE;
    return s;
}

std::uint8_t Sci::peek(std::uint8_t reg, std::uint64_t cycle) {
    advanceTo(cycle);
    switch (reg) {
        case sci::BAUD:
            return baud_;
        case sci::SCCR1:
            return sccr1_;
        case sci::SCCR2:
            return sccr2_;
        case sci::SCSR:
            return status(cycle);
        case sci::SCDR:
            return rdr_;
        default:
            return 0;
    }
}

std::uint8_t Sci::read(std::uint8_t reg, std::uint64_t cycle) {
    advanceTo(cycle);
    switch (reg) {
        case sci::SCSR:
            seen_ = status(cycle);
            return seen_;
        case sci::SCDR: {
            // Reading SCDR after SCSR clears the receive flags that the SCSR read saw.
            if (seen_ & sci::RDRF)
                rdrf_ = false;
            if (seen_ & sci::OR)
                or_ = false;
            if (seen_ & sci::FE)
                fe_ = false;
            if (seen_ & sci::NF)
                nf_ = false;
            if (seen_ & sci::IDLE)
                idle_ = false;
            seen_ &=
                static_cast<std::uint8_t>(~(sci::RDRF | sci::OR | sci::FE | sci::NF | sci::IDLE));
            return rdr_;
        }
        case sci::SCCR1:
            return static_cast<std::uint8_t>(sccr1_ & 0x7F);  // R8 of the last 8-bit frame: 0
        default:
            return peek(reg, cycle);
    }
}

void Sci::write(std::uint8_t reg, std::uint8_t value, std::uint64_t cycle) {
    advanceTo(cycle);
    switch (reg) {
        case sci::BAUD:
            changeBaud(value, cycle);
            break;
        case sci::SCCR1:
            sccr1_ = value;
            break;
        case sci::SCCR2: {
            const std::uint8_t old = sccr2_;
            sccr2_ = value;
            if ((value & sci::TE) && !(old & sci::TE) && !shifting_) {
                // Enabling the transmitter queues a preamble: one idle character.
                startShift(cycle, false, false);
            } else if (!shifting_) {
                startShifter(cycle);
            }
            if ((old ^ value) & sci::RE)
                updateReceiver(cycle);
            break;
        }
        case sci::SCDR:
            tdr_ = value;
            tdrFull_ = true;
            seen_ &= static_cast<std::uint8_t>(~(sci::TDRE | sci::TC));
            if (!shifting_)
                startShifter(cycle);
            break;
        default:
            break;
    }
}

void Sci::received(Byte byte, bool framingError, std::uint64_t cycle, bool noise) {
    if (!(sccr2_ & sci::RE))
        return;
    if (rdrf_) {
        // The program has not read the last byte: it stays, the new one is lost.
        or_ = true;
    } else {
        rdr_ = byte;
        rdrf_ = true;
        fe_ = framingError;
        nf_ = noise;
    }
    lastRxCycle_ = cycle;
    idleArmed_ = true;
}

bool Sci::interruptPending(std::uint64_t cycle) {
    // Asked before every instruction while the I bit is clear: without an enable, no question.
    if (!(sccr2_ & (sci::TIE | sci::TCIE | sci::RIE | sci::ILIE)))
        return false;
    advanceTo(cycle);
    const std::uint8_t s = status(cycle);
    return ((sccr2_ & sci::TIE) && (s & sci::TDRE)) || ((sccr2_ & sci::TCIE) && (s & sci::TC)) ||
           ((sccr2_ & sci::RIE) && (s & (sci::RDRF | sci::OR))) ||
           ((sccr2_ & sci::ILIE) && (s & sci::IDLE));
}

}  // namespace kestro::sim
