// SPDX-License-Identifier: GPL-3.0-or-later
// The HC11's main timer (M68HC11 Reference Manual, section 10; MC68HC11A8 technical data,
// section 8): the free-running counter TCNT behind its prescaler, the timer overflow, the five
// output compares with their pin actions on port A, the input captures, the real-time interrupt,
// the pulse accumulator, and port A's pins.
//
// Nothing here runs per E cycle. The counter is a function of the cycle count; the timer
// catches up lazily, on every access to its registers and whenever the cycle count passes
// nextEvent(), the first cycle at which a flag could set or a pin could change. Between those
// moments it costs the board nothing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>

namespace kestro::sim {

namespace timer {
// Register offsets in the register block.
inline constexpr std::uint8_t PORTA = 0x00;
inline constexpr std::uint8_t CFORC = 0x0B;
inline constexpr std::uint8_t OC1M = 0x0C;
inline constexpr std::uint8_t OC1D = 0x0D;
inline constexpr std::uint8_t TCNT = 0x0E;  // and $0F
inline constexpr std::uint8_t TIC1 = 0x10;  // TIC1-TIC3 $10-$15
inline constexpr std::uint8_t TOC1 = 0x16;  // TOC1-TOC5 $16-$1F
inline constexpr std::uint8_t TCTL1 = 0x20;
inline constexpr std::uint8_t TCTL2 = 0x21;
inline constexpr std::uint8_t TMSK1 = 0x22;
inline constexpr std::uint8_t TFLG1 = 0x23;
inline constexpr std::uint8_t TMSK2 = 0x24;
inline constexpr std::uint8_t TFLG2 = 0x25;
inline constexpr std::uint8_t PACTL = 0x26;
inline constexpr std::uint8_t PACNT = 0x27;
// TFLG1 / TMSK1: OC1F..OC5F in bits 7..3, IC1F..IC3F in bits 2..0.
inline constexpr std::uint8_t OC1F = 0x80;
inline constexpr std::uint8_t OC2F = 0x40;
inline constexpr std::uint8_t OC3F = 0x20;
inline constexpr std::uint8_t OC4F = 0x10;
inline constexpr std::uint8_t OC5F = 0x08;
inline constexpr std::uint8_t IC1F = 0x04;
inline constexpr std::uint8_t IC2F = 0x02;
inline constexpr std::uint8_t IC3F = 0x01;
// TFLG2 / TMSK2.
inline constexpr std::uint8_t TOF = 0x80;
inline constexpr std::uint8_t RTIF = 0x40;
inline constexpr std::uint8_t PAOVF = 0x20;
inline constexpr std::uint8_t PAIF = 0x10;
inline constexpr std::uint8_t PR_MASK = 0x03;
// PACTL.
inline constexpr std::uint8_t DDRA7 = 0x80;
inline constexpr std::uint8_t PAEN = 0x40;
inline constexpr std::uint8_t PAMOD = 0x20;
inline constexpr std::uint8_t PEDGE = 0x10;
inline constexpr std::uint8_t RTR_MASK = 0x03;

// The registers that the timer answers for (PORTA, and CFORC up to PACNT).
constexpr bool owns(std::uint8_t offset) {
    return offset == PORTA || (offset >= CFORC && offset <= PACNT);
}
}  // namespace timer

class Timer {
  public:
    static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

    // A reset at `cycle`: the counter starts from $0000, the prescaler divides by 1, every
    // flag, mask and control clear, TOC1-TOC5 $FFFF.
    void reset(std::uint64_t cycle);

    // prescalerWritable: the special modes, where PR1:PR0 may be written at any time; in the
    // normal modes only the first write within 64 E cycles of reset takes.
    std::uint8_t read(std::uint8_t offset, std::uint64_t cycle);
    void write(std::uint8_t offset, std::uint8_t value, std::uint64_t cycle, bool specialMode);

    // Applies every event up to and including `cycle`.
    void advanceTo(std::uint64_t cycle);
    // The first cycle after the last advance at which something may happen.
    std::uint64_t nextEvent() const { return nextEvent_; }

    // The normal-mode vector of the highest-priority timer interrupt now pending (flag and
    // its enable both set), in the manual's order: RTI, IC1, IC2, IC3, OC1 ... OC5, TOF, pulse
    // accumulator overflow, pulse accumulator input edge.
    std::optional<std::uint16_t> pendingVector() const {
        // Asked before every instruction while the I bit is clear: the common answer is quick.
        if (!((tflg1_ & tmsk1_) | (tflg2_ & tmsk2_ & 0xF0)))
            return std::nullopt;
        return pendingVectorOf();
    }

    // The counter's value at `cycle` (no catching up needed).
    std::uint16_t counterAt(std::uint64_t cycle) const;

    // ---- port A, for a front end and tests. Levels are those of the pins; an input pin that
    // nothing drives reads high (the board's pull-ups).
    std::uint8_t portAPins() const;
    // The pins driven by the chip (PA6-PA3 always, PA7 with DDRA7).
    std::uint8_t portAOutputs() const;
    // Drives an input pin (PA7 while an input, PA2-PA0) from outside, from `cycle` on; the
    // level a pin reads with nothing driving it is high. An edge on PA2, PA1 or PA0 that TCTL2
    // selects captures the count into TIC1, TIC2 or TIC3 and sets IC1F, IC2F or IC3F.
    void setPortAInput(int bit, bool level, std::uint64_t cycle);

    // Sees every change of port A's output pins at the cycle it happened.
    std::function<void(std::uint64_t cycle, std::uint8_t pins)> onPortA;

  private:
    std::optional<std::uint16_t> pendingVectorOf() const;
    std::uint64_t ticksAt(std::uint64_t cycle) const;
    std::uint64_t cycleOfTick(std::uint64_t tick) const;
    void runTicksTo(std::uint64_t tick);
    void fire(std::uint64_t tick);
    std::uint64_t nextEventTick() const;
    std::uint64_t nextRtiAfter(std::uint64_t cycle) const;
    void plan();
    void setPins(std::uint8_t latch, std::uint64_t cycle);
    std::uint8_t timerDrivenPins() const;
    bool paGateOpen() const;
    void paCount(std::uint64_t from, std::uint64_t to);
    void paPinChanged(bool level);

    // The counter: `base_` is the cycle at which tick `baseTick_` began, and the count goes up
    // one every `divide_` cycles from there. TCNT is the tick's low 16 bits. A prescaler
    // change takes effect at the next $F-$0 turn of the 4-bit prescaler (RM 10.5), a multiple
    // of 16 cycles after reset.
    std::uint64_t reset_ = 0;
    std::uint64_t base_ = 0;
    std::uint64_t baseTick_ = 0;
    std::uint32_t divide_ = 1;
    std::optional<std::uint64_t> prescaleAt_;
    std::uint32_t nextDivide_ = 1;
    bool prWritten_ = false;

    std::uint64_t synced_ = 0;    // events up to this cycle are applied
    std::uint64_t doneTick_ = 0;  // ticks up to this one are applied
    std::uint64_t nextEvent_ = kNever;
    // The real-time interrupt's next timeout: its clock runs from reset and cannot be stopped.
    std::uint64_t rtiAt_ = kNever;

    std::array<std::uint16_t, 5> toc_{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    std::uint8_t oc1m_ = 0;
    std::uint8_t oc1d_ = 0;
    std::uint8_t tctl1_ = 0;
    std::uint8_t tctl2_ = 0;
    std::uint8_t tmsk1_ = 0;
    std::uint8_t tflg1_ = 0;
    std::uint8_t tmsk2_ = 0;
    std::uint8_t tflg2_ = 0;
    std::uint8_t pactl_ = 0;
    std::array<std::uint16_t, 3> tic_{};
    // Forced compares (CFORC) wait for the next timer clock: the channels and that tick.
    std::uint8_t forced_ = 0;
    std::uint64_t forceTick_ = 0;

    // The pulse accumulator's count (the gated mode counts E/64 clocks from reset lazily).
    std::uint8_t pacnt_ = 0;

    std::uint8_t latch_ = 0;      // port A output latch, written by software and the compares
    std::uint8_t inputs_ = 0xFF;  // what drives the input pins from outside (pull-ups: high)
};

}  // namespace kestro::sim
