// SPDX-License-Identifier: GPL-3.0-or-later
// The HC11's serial communications interface (M68HC11 Reference Manual, section 9), attached
// to one end of a virtual serial line.
//
// The SCI keeps its own time in E cycles: the board tells it the cycle of every access. The
// transmitter's shift register timing (TDRE when the data register moves into the shifter,
// TC when the shifter runs empty) is exact to the cycle of the access; the frames go onto
// the line when the board catches up with the line's time, at the line time of their cycle.
#pragma once

#include <cstdint>
#include <functional>

#include "kestro/sim/board/e_clock.h"
#include "virtual_line.h"

namespace kestro::sim {

namespace sci {
// Register offsets in the register block.
inline constexpr std::uint8_t BAUD = 0x2B;
inline constexpr std::uint8_t SCCR1 = 0x2C;
inline constexpr std::uint8_t SCCR2 = 0x2D;
inline constexpr std::uint8_t SCSR = 0x2E;
inline constexpr std::uint8_t SCDR = 0x2F;
// SCCR2
inline constexpr std::uint8_t TIE = 0x80;
inline constexpr std::uint8_t TCIE = 0x40;
inline constexpr std::uint8_t RIE = 0x20;
inline constexpr std::uint8_t ILIE = 0x10;
inline constexpr std::uint8_t TE = 0x08;
inline constexpr std::uint8_t RE = 0x04;
inline constexpr std::uint8_t RWU = 0x02;
inline constexpr std::uint8_t SBK = 0x01;
// SCSR
inline constexpr std::uint8_t TDRE = 0x80;
inline constexpr std::uint8_t TC = 0x40;
inline constexpr std::uint8_t RDRF = 0x20;
inline constexpr std::uint8_t IDLE = 0x10;
inline constexpr std::uint8_t OR = 0x08;
inline constexpr std::uint8_t NF = 0x04;
inline constexpr std::uint8_t FE = 0x02;
}  // namespace sci

class Sci {
  public:
    // Called from the line when a frame's stop bit is sampled; the board catches up with
    // the line's time and then hands the byte to received().
    using LineReceive = std::function<void(Byte byte, bool framingError)>;

    Sci(LineDirection& toLine, LineDirection& fromLine, EClock eClock, LineReceive onLine);
    Sci(const Sci&) = delete;
    Sci& operator=(const Sci&) = delete;

    // BAUD after reset: SCP1:SCP0 clear, SCR2-0 undefined (M68HC11 Reference Manual, BAUD's
    // reset row). The board takes SCR = 7, E/16/128 (976 baud at 2 MHz), a rate no program
    // can take for the loader's or any it might expect.
    static constexpr std::uint8_t kResetBaud = 0x07;
    // Reset values: BAUD kResetBaud, everything off, TDRE and TC set.
    void reset(std::uint64_t cycle);
    // RESET going low takes TxD from the shifter at once: what is left of a frame under way
    // is not sent, and the line rises for the rest of it. A reset() follows.
    void cutFrame(std::uint64_t cycle);

    std::uint8_t read(std::uint8_t reg, std::uint64_t cycle);
    void write(std::uint8_t reg, std::uint8_t value, std::uint64_t cycle);
    // Register value without the side effects of a read (for displays and tests).
    std::uint8_t peek(std::uint8_t reg, std::uint64_t cycle);

    // Runs the transmitter up to the cycle, putting frames and breaks on the line.
    void advanceTo(std::uint64_t cycle);
    // A frame arrived at the given cycle; noise: its samples disagreed (NF).
    void received(Byte byte, bool framingError, std::uint64_t cycle, bool noise = false);

    bool interruptPending(std::uint64_t cycle);

    // The rate set by BAUD, in baud, and the E cycles of one bit.
    double rate() const;
    std::uint32_t bitCycles() const;
    // What the line is told: the rate rounded up, so that a frame on the line is never longer
    // than the shifter's and back-to-back frames do not drift behind it.
    int lineBaud() const;

    // The line time of cycle 0. Frames, breaks and receiver changes reach the line at the
    // time of their cycle, not when the board gets round to running it.
    void setEpoch(TimePoint epoch) { epoch_ = epoch; }
    void setEClock(EClock eClock) { eClock_ = eClock; }

    int framesSent() const { return framesSent_; }
    int breaksSent() const { return breaksSent_; }

  private:
    void startShifter(std::uint64_t at);
    void startShift(std::uint64_t at, bool data, bool isBreak);
    void changeBaud(std::uint8_t value, std::uint64_t cycle);
    void endLineBreak(std::uint64_t cycle);
    Duration cyclesToDuration(std::uint64_t cycles) const;
    TimePoint lineTimeOf(std::uint64_t cycle) const;
    void updateReceiver(std::uint64_t cycle);
    std::uint8_t status(std::uint64_t cycle);

    LineDirection& toLine_;
    LineDirection& fromLine_;
    EClock eClock_;
    LineReceive onLine_;

    std::uint8_t baud_ = kResetBaud;
    std::uint8_t sccr1_ = 0;
    std::uint8_t sccr2_ = 0;

    // Transmitter.
    Byte tdr_ = 0;
    bool tdrFull_ = false;
    bool shifting_ = false;
    bool shiftingBreak_ = false;
    bool shiftingData_ = false;  // a frame on the line (not the preamble, not a break)
    std::uint64_t shiftEnd_ = 0;
    // Where the shifter is in its character: what is left of it, in 1/65536 bit, at segStart_.
    // A BAUD write changes the rate of the rest at once.
    std::uint64_t segStart_ = 0;
    std::int64_t remaining_ = 0;
    bool lineInBreak_ = false;
    TimePoint epoch_{0};

    // Receiver.
    Byte rdr_ = 0;
    bool rdrf_ = false;
    bool or_ = false;
    bool fe_ = false;
    bool nf_ = false;
    bool idle_ = false;
    bool idleArmed_ = false;  // a frame came in since IDLE was last set
    std::uint64_t lastRxCycle_ = 0;
    int receiverBaud_ = -1;

    // Flags seen by the last SCSR read: the SCDR access that follows clears those.
    std::uint8_t seen_ = 0;

    int framesSent_ = 0;
    int breaksSent_ = 0;
};

}  // namespace kestro::sim
