// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/timer.h"

#include <algorithm>

#include "kestro/sim/cpu.h"

namespace kestro::sim {

namespace {

// PR1:PR0 select E/1, E/4, E/8 or E/16 (M68HC11E data sheet 9.1; A8 technical data 8.1.12).
constexpr std::uint32_t kDivide[4] = {1, 4, 8, 16};
// The prescaler is a divide-by-16 counter: a new PR value takes over at its next turn.
constexpr std::uint64_t kPrescalerTurn = 16;
constexpr std::uint64_t kInitWindow = 64;
// The real-time interrupt comes every E/2^13, 2^14, 2^15 or 2^16 cycles (RTR1:RTR0), 4.096 ms
// to 32.768 ms at E = 2 MHz (M68HC11E data sheet 9.6, table 9-5).
constexpr std::uint64_t kRtiBase = 8192;
// The gated pulse accumulator counts a free-running E/64 clock (M68HC11 Reference Manual 11.1).
constexpr std::uint64_t kPaClock = 64;

// OC2-OC5 drive PA6-PA3; OC1 can drive PA7-PA3 through OC1M/OC1D.
constexpr std::uint8_t kOcPins = 0xF8;
constexpr std::uint8_t kOutputOnlyPins = 0x78;  // PA6-PA3

constexpr std::uint8_t ocPin(int x) {  // x = 2..5
    return static_cast<std::uint8_t>(0x80 >> (x - 1));
}

}  // namespace

void Timer::reset(std::uint64_t cycle) {
    reset_ = base_ = synced_ = cycle;
    baseTick_ = doneTick_ = 0;
    divide_ = nextDivide_ = 1;
    prescaleAt_.reset();
    prWritten_ = false;
    toc_.fill(0xFFFF);
    tic_.fill(0);
    oc1m_ = oc1d_ = tctl1_ = tctl2_ = tmsk1_ = tflg1_ = tmsk2_ = tflg2_ = pactl_ = 0;
    forced_ = 0;
    pacnt_ = 0;
    // A whole period passes before the first RTIF (M68HC11E data sheet 9.6).
    rtiAt_ = nextRtiAfter(cycle);
    setPins(0, cycle);
    plan();
}

// The timeouts fall on whole periods of the free-running RTI clock counted from reset, so a
// period runs from the previous timeout, whenever RTIF was cleared.
std::uint64_t Timer::nextRtiAfter(std::uint64_t cycle) const {
    const std::uint64_t period = kRtiBase << (pactl_ & timer::RTR_MASK);
    return reset_ + ((cycle - reset_) / period + 1) * period;
}

std::uint64_t Timer::ticksAt(std::uint64_t cycle) const {
    if (prescaleAt_ && cycle >= *prescaleAt_) {
        const std::uint64_t turn = baseTick_ + (*prescaleAt_ - base_) / divide_;
        return turn + (cycle - *prescaleAt_) / nextDivide_;
    }
    return cycle < base_ ? baseTick_ : baseTick_ + (cycle - base_) / divide_;
}

std::uint64_t Timer::cycleOfTick(std::uint64_t tick) const {
    if (prescaleAt_) {
        const std::uint64_t turn = baseTick_ + (*prescaleAt_ - base_) / divide_;
        if (tick >= turn)
            return *prescaleAt_ + (tick - turn) * nextDivide_;
    }
    return base_ + (tick - baseTick_) * divide_;
}

std::uint16_t Timer::counterAt(std::uint64_t cycle) const {
    return static_cast<std::uint16_t>(ticksAt(cycle));
}

// The first tick after doneTick_ at which the counter overflows, a compare matches or a forced
// compare is due.
std::uint64_t Timer::nextEventTick() const {
    const std::uint64_t low = doneTick_ & 0xFFFF;
    std::uint64_t next = ((doneTick_ >> 16) + 1) << 16;  // $FFFF -> $0000
    for (const std::uint16_t toc : toc_)
        next = std::min(next, doneTick_ + ((toc - low - 1) & 0xFFFF) + 1);
    if (forced_)
        next = std::min(next, forceTick_);
    return next;
}

void Timer::plan() {
    nextEvent_ = std::min(cycleOfTick(nextEventTick()), rtiAt_);
    if (paGateOpen()) {
        // The E/64 clock edge that will carry the count over $FF.
        const std::uint64_t edges = 256u - pacnt_;
        const std::uint64_t at = reset_ + ((synced_ - reset_) / kPaClock + edges) * kPaClock;
        nextEvent_ = std::min(nextEvent_, at);
    }
    if (prescaleAt_)
        nextEvent_ = std::min(nextEvent_, *prescaleAt_);
}

void Timer::advanceTo(std::uint64_t cycle) {
    if (cycle < synced_)
        return;
    if (prescaleAt_ && cycle >= *prescaleAt_) {
        const std::uint64_t turn = ticksAt(*prescaleAt_);
        runTicksTo(turn);
        base_ = *prescaleAt_;
        baseTick_ = turn;
        divide_ = nextDivide_;
        prescaleAt_.reset();
    }
    runTicksTo(ticksAt(cycle));
    if (cycle >= rtiAt_) {
        tflg2_ |= timer::RTIF;
        rtiAt_ = nextRtiAfter(cycle);
    }
    if (paGateOpen())
        paCount(synced_, cycle);
    synced_ = cycle;
    plan();
}

void Timer::runTicksTo(std::uint64_t tick) {
    for (std::uint64_t e = nextEventTick(); e <= tick; e = nextEventTick()) {
        fire(e);
        doneTick_ = e;
    }
    doneTick_ = std::max(doneTick_, tick);
}

void Timer::fire(std::uint64_t tick) {
    const std::uint16_t count = static_cast<std::uint16_t>(tick);
    std::uint8_t match = 0;
    for (int i = 0; i < 5; ++i)
        if (toc_[static_cast<std::size_t>(i)] == count)
            match |= static_cast<std::uint8_t>(0x80 >> i);
    std::uint8_t act = match;
    if (forced_ && tick == forceTick_) {
        // A forced compare acts on the pins as a match would, without setting its flag
        // (RM 10.4, CFORC).
        act |= forced_;
        forced_ = 0;
    }

    std::uint8_t latch = latch_;
    for (int x = 2; x <= 5; ++x) {
        if (!(act & (0x80 >> (x - 1))))
            continue;
        const std::uint8_t pin = ocPin(x);
        switch ((tctl1_ >> (2 * (5 - x))) & 3) {  // OMx:OLx (RM 10.4, TCTL1)
            case 1:
                latch ^= pin;
                break;
            case 2:
                latch &= static_cast<std::uint8_t>(~pin);
                break;
            case 3:
                latch |= pin;
                break;
            default:
                break;
        }
    }
    // OC1 comes last: where it and another compare change a pin at once, OC1 wins (RM 10.4).
    if (act & timer::OC1F)
        latch = static_cast<std::uint8_t>((latch & ~oc1m_) | (oc1d_ & oc1m_));

    tflg1_ |= match;
    if (count == 0 && tick != 0)
        tflg2_ |= timer::TOF;
    if (act)
        setPins(latch, cycleOfTick(tick));
}

// ---- pulse accumulator (PA7/PAI)

// Gated mode: PEDGE clear counts while PAI is high, set while it is low.
bool Timer::paGateOpen() const {
    if ((pactl_ & (timer::PAEN | timer::PAMOD)) != (timer::PAEN | timer::PAMOD))
        return false;
    const bool high = (portAPins() & 0x80) != 0;
    return high != ((pactl_ & timer::PEDGE) != 0);
}

// The E/64 clock edges in (from, to], counted from reset.
void Timer::paCount(std::uint64_t from, std::uint64_t to) {
    const std::uint64_t edges = (to - reset_) / kPaClock - (from - reset_) / kPaClock;
    if (pacnt_ + edges > 0xFF)
        tflg2_ |= timer::PAOVF;
    pacnt_ = static_cast<std::uint8_t>(pacnt_ + edges);
}

// PAI follows the PA7 pin, whichever way DDRA7 points (A8 technical data 8.3). The gated count
// is already up to date when this is called.
void Timer::paPinChanged(bool level) {
    if (!(pactl_ & timer::PAEN))
        return;
    const bool rising = (pactl_ & timer::PEDGE) != 0;
    if (!(pactl_ & timer::PAMOD)) {
        // Event counting: PEDGE picks rising (set) or falling (clear) edges.
        if (level == rising) {
            if (++pacnt_ == 0)
                tflg2_ |= timer::PAOVF;
            tflg2_ |= timer::PAIF;
        }
    } else if (level == rising) {
        // Gated: the trailing edge of the active level sets PAIF (RM 11.3).
        tflg2_ |= timer::PAIF;
    }
}

std::uint8_t Timer::portAOutputs() const {
    return static_cast<std::uint8_t>(kOutputOnlyPins | (pactl_ & timer::DDRA7));
}

std::uint8_t Timer::portAPins() const {
    const std::uint8_t out = portAOutputs();
    return static_cast<std::uint8_t>((latch_ & out) | (inputs_ & ~out));
}

void Timer::setPins(std::uint8_t latch, std::uint64_t cycle) {
    const std::uint8_t before = portAPins();
    latch_ = latch;
    const std::uint8_t after = portAPins();
    if ((before ^ after) & 0x80)
        paPinChanged((after & 0x80) != 0);
    if (onPortA && after != before)
        onPortA(cycle, after);
}

void Timer::setPortAInput(int bit, bool level, std::uint64_t cycle) {
    cycle = std::max(cycle, reset_);  // an edge from before a reset lands at the reset
    advanceTo(cycle);
    const std::uint8_t m = static_cast<std::uint8_t>(1u << (bit & 7));
    const bool was = (inputs_ & m) != 0;
    inputs_ = static_cast<std::uint8_t>(level ? (inputs_ | m) : (inputs_ & ~m));
    if (was == level || (portAOutputs() & m))
        return;
    if (bit == 7) {
        paPinChanged(level);
        plan();
        return;
    }
    if (bit > 2)
        return;
    // PA2, PA1, PA0 are IC1, IC2, IC3. EDGxB:EDGxA in TCTL2: 01 rising edges, 10 falling, 11
    // both, 00 none. The count of the edge's cycle goes into TICx (RM 10.5, p. 10-41: the
    // capture is not delayed by the prescaler).
    const int ic = 2 - bit;
    const unsigned edges = (tctl2_ >> (4 - 2 * ic)) & 3;
    if (edges == 3 || edges == (level ? 1u : 2u)) {
        tic_[static_cast<std::size_t>(ic)] = counterAt(cycle);
        tflg1_ |= static_cast<std::uint8_t>(timer::IC1F >> ic);
    }
}

std::uint8_t Timer::timerDrivenPins() const {
    std::uint8_t pins = oc1m_;
    for (int x = 2; x <= 5; ++x)
        if ((tctl1_ >> (2 * (5 - x))) & 3)
            pins |= ocPin(x);
    return pins;
}

std::uint8_t Timer::read(std::uint8_t offset, std::uint64_t cycle) {
    advanceTo(cycle);
    if (offset >= timer::TIC1 && offset < timer::TOC1) {
        const std::uint16_t v = tic_[static_cast<std::size_t>((offset - timer::TIC1) / 2)];
        return static_cast<std::uint8_t>((offset & 1) ? v : v >> 8);
    }
    if (offset >= timer::TOC1 && offset < timer::TCTL1) {
        const std::uint16_t v = toc_[static_cast<std::size_t>((offset - timer::TOC1) / 2)];
        return static_cast<std::uint8_t>((offset & 1) ? v : v >> 8);
    }
    switch (offset) {
        case timer::PORTA:
            return portAPins();
        case timer::CFORC:
            return 0;  // never reads as anything but zero (RM 10.4)
        case timer::OC1M:
            return oc1m_;
        case timer::OC1D:
            return oc1d_;
        case timer::TCNT:
            return static_cast<std::uint8_t>(counterAt(cycle) >> 8);
        case timer::TCNT + 1:
            return static_cast<std::uint8_t>(counterAt(cycle));
        case timer::TCTL1:
            return tctl1_;
        case timer::TCTL2:
            return tctl2_;
        case timer::TMSK1:
            return tmsk1_;
        case timer::TFLG1:
            return tflg1_;
        case timer::TMSK2:
            return tmsk2_;
        case timer::TFLG2:
            return tflg2_;
        case timer::PACTL:
            return pactl_;
        case timer::PACNT:
            return pacnt_;
        default:
            return 0;
    }
}

void Timer::write(std::uint8_t offset, std::uint8_t v, std::uint64_t cycle, bool specialMode) {
    advanceTo(cycle);
    if (offset >= timer::TOC1 && offset < timer::TCTL1) {
        std::uint16_t& toc = toc_[static_cast<std::size_t>((offset - timer::TOC1) / 2)];
        toc = (offset & 1) ? static_cast<std::uint16_t>((toc & 0xFF00) | v)
                           : static_cast<std::uint16_t>((toc & 0x00FF) | (v << 8));
        plan();
        return;
    }
    switch (offset) {
        case timer::PORTA: {
            // A pin that a compare controls cannot be written from software (RM 10.4).
            const std::uint8_t writable = static_cast<std::uint8_t>(kOcPins & ~timerDrivenPins());
            setPins(static_cast<std::uint8_t>((latch_ & ~writable) | (v & writable)), cycle);
            break;
        }
        case timer::CFORC:
            // Synchronised to the timer clock: the action comes at the counter's next step.
            if (v & kOcPins) {
                forced_ |= static_cast<std::uint8_t>(v & kOcPins);
                forceTick_ = ticksAt(cycle) + 1;
            }
            break;
        case timer::OC1M:
            oc1m_ = v & kOcPins;
            break;
        case timer::OC1D:
            oc1d_ = v & kOcPins;
            break;
        case timer::TCTL1:
            tctl1_ = v;
            break;
        case timer::TCTL2:
            tctl2_ = v & 0x3F;
            break;
        case timer::TMSK1:
            tmsk1_ = v;
            break;
        case timer::TFLG1:
            tflg1_ &= static_cast<std::uint8_t>(~v);  // a 1 clears its flag
            break;
        case timer::TMSK2: {
            std::uint8_t pr = tmsk2_ & timer::PR_MASK;
            // PR1:PR0: any time in the special modes; otherwise only the first write, and only
            // within 64 E cycles of reset (A8 technical data 8.1.12).
            if (specialMode || (!prWritten_ && cycle - reset_ < kInitWindow)) {
                pr = v & timer::PR_MASK;
                prWritten_ = true;
            }
            if (kDivide[pr] != (prescaleAt_ ? nextDivide_ : divide_)) {
                nextDivide_ = kDivide[pr];
                prescaleAt_ = reset_ + ((cycle - reset_) / kPrescalerTurn + 1) * kPrescalerTurn;
            }
            tmsk2_ = static_cast<std::uint8_t>((v & 0xF0) | pr);
            break;
        }
        case timer::TFLG2:
            tflg2_ &= static_cast<std::uint8_t>(~(v & 0xF0));
            break;
        case timer::PACTL: {
            // DDRA7 may hand PA7 to the latch or back to what drives it from outside.
            const std::uint8_t before = portAPins();
            pactl_ = v & 0xF3;
            rtiAt_ = nextRtiAfter(cycle);
            const std::uint8_t after = portAPins();
            if ((before ^ after) & 0x80)
                paPinChanged((after & 0x80) != 0);
            if (onPortA && after != before)
                onPortA(cycle, after);
            break;
        }
        case timer::PACNT:
            pacnt_ = v;  // readable and writable at any time (RM 11)
            break;
        default:
            break;  // TCNT and the input captures are read-only
    }
    plan();
}

std::optional<std::uint16_t> Timer::pendingVectorOf() const {
    // Priorities after IRQ (M68HC11E data sheet 5.4): RTI, IC1, IC2, IC3, OC1 ... OC5, then the
    // timer overflow.
    static constexpr struct {
        std::uint8_t flag;
        std::uint16_t vector;
    } kOrder[] = {
        {0x04, vector::Tic1}, {0x02, vector::Tic2}, {0x01, vector::Tic3}, {0x80, vector::Toc1},
        {0x40, vector::Toc2}, {0x20, vector::Toc3}, {0x10, vector::Toc4}, {0x08, vector::Toc5},
    };
    if (tflg2_ & tmsk2_ & timer::RTIF)
        return vector::RealTime;
    if (const std::uint8_t pending = tflg1_ & tmsk1_) {
        for (const auto& o : kOrder)
            if (pending & o.flag)
                return o.vector;
    }
    if (tflg2_ & tmsk2_ & timer::TOF)
        return vector::TimerOverflow;
    if (tflg2_ & tmsk2_ & timer::PAOVF)
        return vector::PulseAccOverflow;
    if (tflg2_ & tmsk2_ & timer::PAIF)
        return vector::PulseAccInput;
    return std::nullopt;
}

}  // namespace kestro::sim
