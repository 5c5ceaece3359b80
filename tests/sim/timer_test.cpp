// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "board_bench.h"
#include "kestro/sim/board/timer.h"

namespace kestro::sim {
namespace {

using namespace timer;

// A timer reset at cycle 0; accesses name their cycle.
struct Fixture {
    Fixture() { t.reset(0); }
    std::uint16_t tcnt(std::uint64_t c) {
        return static_cast<std::uint16_t>(t.read(TCNT, c) << 8 | t.read(TCNT + 1, c));
    }
    void writeToc(int x, std::uint16_t v, std::uint64_t c) {
        const auto reg = static_cast<std::uint8_t>(TOC1 + 2 * (x - 1));
        t.write(reg, static_cast<std::uint8_t>(v >> 8), c, false);
        t.write(static_cast<std::uint8_t>(reg + 1), static_cast<std::uint8_t>(v), c, false);
    }
    Timer t;
};

struct PrescaleCase {
    std::uint8_t pr;
    std::uint32_t divide;
};

// The prescaler divides E by 1, 4, 8 or 16; a new factor takes over at the prescaler's next
// turn (16 cycles after reset here), and TOF sets when the count passes $FFFF.
TEST(Timer, CounterFollowsThePrescalerAndOverflows) {
    for (const PrescaleCase c : {PrescaleCase{0, 1}, {1, 4}, {2, 8}, {3, 16}}) {
        SCOPED_TRACE(c.divide);
        Fixture f;
        f.t.write(TMSK2, c.pr, 10, false);
        EXPECT_EQ(f.tcnt(15), 15) << "the old rate until the prescaler turns";
        EXPECT_EQ(f.tcnt(16 + 5 * c.divide), 16 + 5) << "one count every " << c.divide;
        EXPECT_EQ(f.t.read(TMSK2, 20) & PR_MASK, c.pr);
        const std::uint64_t overflow = 16 + (65536 - 16) * std::uint64_t{c.divide};
        EXPECT_EQ(f.t.read(TFLG2, overflow - 1) & TOF, 0);
        EXPECT_EQ(f.tcnt(overflow - 1), 0xFFFF);
        EXPECT_EQ(f.t.read(TFLG2, overflow) & TOF, TOF);
        EXPECT_EQ(f.tcnt(overflow), 0x0000);
    }
}

struct PrWriteCase {
    const char* name;
    std::uint64_t firstAt;  // a first write of PR (none when 0)
    std::uint64_t writeAt;  // the write under test: PR = 3
    bool special;
    std::uint8_t prAfter;
};

// PR1:PR0 take only the first write within 64 E cycles of reset, except in the special modes.
TEST(Timer, PrescalerIsWritableOnlyEarlyOrInTheSpecialModes) {
    const PrWriteCase cases[] = {
        {"within 64 cycles", 0, 63, false, 3},
        {"after 64 cycles", 0, 64, false, 0},
        {"second write", 5, 40, false, 1},
        {"special mode, late", 0, 100000, true, 3},
    };
    for (const PrWriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        if (c.firstAt)
            f.t.write(TMSK2, 1, c.firstAt, false);
        f.t.write(TMSK2, 0x03, c.writeAt, c.special);
        EXPECT_EQ(f.t.read(TMSK2, c.writeAt + 1) & PR_MASK, c.prAfter);
    }
}

struct PinCase {
    const char* name;
    std::uint8_t tctl1;
    std::uint8_t oc1m;
    std::uint8_t oc1d;
    std::uint8_t latch;  // PORTA written first
    std::uint8_t pins;   // PA7-PA3 after OC1 and OC2-OC5 all match at once
};

// OMx:OLx pick no action, toggle, clear or set; OC1 sets the OC1M pins to OC1D and wins where it
// and another compare change a pin at the same moment.
TEST(Timer, CompareActionsOnPortA) {
    const PinCase cases[] = {
        {"disconnected", 0x00, 0x00, 0x00, 0x50, 0x50},
        {"toggle", 0x55, 0x00, 0x00, 0x50, 0x28},
        {"clear", 0xAA, 0x00, 0x00, 0x78, 0x00},
        {"set", 0xFF, 0x00, 0x00, 0x00, 0x78},
        {"OC1 wins over OC2 and OC5", 0x41, 0x48, 0x00, 0x00, 0x00},
        {"OC1 alone", 0x00, 0x30, 0x20, 0x10, 0x20},
    };
    for (const PinCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.t.write(PORTA, c.latch, 0, false);
        f.t.write(TCTL1, c.tctl1, 0, false);
        f.t.write(OC1M, c.oc1m, 0, false);
        f.t.write(OC1D, c.oc1d, 0, false);
        for (int x = 1; x <= 5; ++x)
            f.writeToc(x, 50, 1);
        EXPECT_EQ(f.t.read(PORTA, 49) & 0x78, c.latch & 0x78);
        EXPECT_EQ(f.t.read(PORTA, 50) & 0x78, c.pins);
    }
}

// A forced compare acts on the pin at the next timer clock without setting the flag; CFORC reads
// zero; a pin under a compare's control ignores writes to PORTA.
TEST(Timer, ForcedCompareAndTimerOwnedPins) {
    Fixture f;
    f.t.write(TMSK2, 0x03, 0, false);   // E/16 from cycle 16
    f.t.write(TCTL1, 0x40, 20, false);  // OC2 toggles PA6
    f.t.write(CFORC, 0x40, 33, false);
    EXPECT_EQ(f.t.read(CFORC, 33), 0);
    EXPECT_EQ(f.t.read(PORTA, 47) & 0x40, 0) << "not before the counter's next step";
    EXPECT_EQ(f.t.read(PORTA, 48) & 0x40, 0x40);
    EXPECT_EQ(f.t.read(TFLG1, 48), 0);
    f.t.write(PORTA, 0x00, 50, false);
    EXPECT_EQ(f.t.read(PORTA, 51) & 0x40, 0x40) << "PA6 belongs to OC2";
    f.t.write(TCTL1, 0x00, 52, false);
    f.t.write(PORTA, 0x00, 53, false);
    EXPECT_EQ(f.t.read(PORTA, 54) & 0x40, 0) << "a plain output again";
}

struct CaptureCase {
    const char* name;
    std::uint8_t tctl2;
    int bit;     // PA2, PA1 or PA0
    bool level;  // the edge: to high (rising) or to low (falling)
    std::uint8_t flag;
};

// TCTL2 picks the edges each capture takes; a capture holds the count of the edge's cycle.
TEST(Timer, InputCapturesTakeTheEdgesTctl2Selects) {
    const CaptureCase cases[] = {
        {"IC1 off", 0x00, 2, false, 0},
        {"IC1 rising, falling edge", 0x10, 2, false, 0},
        {"IC1 falling", 0x20, 2, false, IC1F},
        {"IC2 rising", 0x04, 1, true, IC2F},
        {"IC2 rising, falling edge", 0x04, 1, false, 0},
        {"IC3 any, falling", 0x03, 0, false, IC3F},
        {"IC3 any, rising", 0x03, 0, true, IC3F},
        {"IC1 any, edge on PA1", 0x30, 1, false, 0},
    };
    for (const CaptureCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.t.write(TMSK2, 0x02, 0, false);  // E/8: the capture still takes the edge's count
        f.t.write(TCTL2, c.tctl2, 1, false);
        if (c.level)
            f.t.setPortAInput(c.bit, false, 2);  // a rising edge needs the pin low first
        f.t.write(TFLG1, 0xFF, 3, false);
        f.t.setPortAInput(c.bit, c.level, 16 + 8 * 1000 + 7);  // the count's last cycle
        EXPECT_EQ(f.t.read(TFLG1, 9000), c.flag);
        const auto reg = static_cast<std::uint8_t>(TIC1 + 2 * (2 - c.bit));
        const unsigned tic = f.t.read(reg, 9000) << 8 | f.t.read(reg + 1, 9000);
        EXPECT_EQ(tic, c.flag ? 16u + 1000u : 0u);
    }
}

// RTIF sets one whole period after reset and then every period, counted from reset whatever the
// program does with the flag; RTR1:RTR0 pick 2^13 to 2^16 E cycles.
TEST(Timer, RealTimeInterruptKeepsItsPeriodFromReset) {
    for (std::uint8_t rtr = 0; rtr < 4; ++rtr) {
        SCOPED_TRACE(int{rtr});
        const std::uint64_t period = std::uint64_t{8192} << rtr;
        Fixture f;
        f.t.write(PACTL, rtr, 1, false);
        EXPECT_EQ(f.t.read(TFLG2, period - 1) & RTIF, 0);
        EXPECT_EQ(f.t.read(TFLG2, period) & RTIF, RTIF);
        Fixture late;  // looked at long after the timeout: the next still comes on time
        late.t.write(PACTL, rtr, 1, false);
        EXPECT_EQ(late.t.read(TFLG2, period + 100) & RTIF, RTIF);
        late.t.write(TFLG2, RTIF, period + 101, false);
        EXPECT_EQ(late.t.read(TFLG2, 2 * period) & RTIF, RTIF);
        f.t.write(TFLG2, RTIF, period + 100, false);
        EXPECT_EQ(f.t.read(TFLG2, 2 * period - 1) & RTIF, 0) << "not a period from the clearing";
        EXPECT_EQ(f.t.read(TFLG2, 2 * period) & RTIF, RTIF);
    }
}

struct EventCase {
    const char* name;
    std::uint8_t pactl;
    int counted;  // of three pulses low then high on PA7
};

// Event counting: PEDGE picks falling (clear) or rising (set) edges of PAI; each one counted
// also sets PAIF. Without PAEN nothing counts.
TEST(Timer, PulseAccumulatorCountsTheChosenEdges) {
    const EventCase cases[] = {
        {"falling", PAEN, 3},
        {"rising", PAEN | PEDGE, 3},
        {"off", PEDGE, 0},
    };
    for (const EventCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.t.write(PACTL, c.pactl, 1, false);
        f.t.write(PACNT, 0xFE, 2, false);
        for (int i = 0; i < 3; ++i) {
            f.t.setPortAInput(7, false, 10 + 20 * static_cast<std::uint64_t>(i));
            f.t.setPortAInput(7, true, 20 + 20 * static_cast<std::uint64_t>(i));
        }
        EXPECT_EQ(f.t.read(PACNT, 100), static_cast<std::uint8_t>(0xFE + c.counted));
        EXPECT_EQ(f.t.read(TFLG2, 100) & (PAOVF | PAIF), c.counted ? (PAOVF | PAIF) : 0)
            << "the overflow from $FF to $00 too";
    }
    // PA7 as an output still drives PAI.
    Fixture f;
    f.t.write(PORTA, 0x80, 1, false);  // the latch first: PA7 stays high as it turns
    f.t.write(PACTL, DDRA7 | PAEN, 2, false);
    f.t.write(PORTA, 0x00, 3, false);
    EXPECT_EQ(f.t.read(PACNT, 4), 1);
}

// Gated accumulation counts the E/64 clock (from reset) while PAI is at its active level; the
// end of the level sets PAIF, and the count carried past $FF sets PAOVF at that clock.
TEST(Timer, PulseAccumulatorGatesTheE64Clock) {
    Fixture f;
    f.t.write(PACTL, PAEN | PAMOD, 10, false);  // PA7 undriven reads high: the gate is open
    EXPECT_EQ(f.t.read(PACNT, 64 * 5 - 1), 4);
    EXPECT_EQ(f.t.read(PACNT, 64 * 5), 5);
    f.t.setPortAInput(7, false, 64 * 5 + 10);
    EXPECT_EQ(f.t.read(TFLG2, 64 * 5 + 11) & PAIF, PAIF) << "the trailing edge";
    EXPECT_EQ(f.t.read(PACNT, 64 * 20), 5) << "closed while low";
    f.t.write(PACNT, 0xFF, 64 * 20, false);
    f.t.setPortAInput(7, true, 64 * 20 + 1);
    EXPECT_EQ(f.t.nextEvent(), 64 * 21u);
    EXPECT_EQ(f.t.read(TFLG2, 64 * 21 - 1) & PAOVF, 0);
    EXPECT_EQ(f.t.read(TFLG2, 64 * 21) & PAOVF, PAOVF);
    EXPECT_EQ(f.t.read(PACNT, 64 * 21), 0);
}

// With several timer flags pending the manual's order decides: IC1-IC3, OC1-OC5, then TOF.
TEST(Timer, InterruptsInTheManualsOrder) {
    Fixture f;
    f.t.write(TMSK1, 0xFF, 0, false);
    f.t.write(TMSK2, TOF, 0, false);
    EXPECT_EQ(f.t.pendingVector(), std::nullopt);
    f.writeToc(4, 10, 1);
    f.writeToc(3, 10, 1);
    f.writeToc(5, 20, 1);
    f.t.advanceTo(30);
    EXPECT_EQ(f.t.pendingVector(), vector::Toc3);
    f.t.write(TFLG1, OC3F, 31, false);
    EXPECT_EQ(f.t.pendingVector(), vector::Toc4);
    f.t.write(TFLG1, OC4F, 32, false);
    EXPECT_EQ(f.t.pendingVector(), vector::Toc5);
    f.t.write(TMSK1, 0x00, 33, false);
    f.t.write(TMSK2, TOF | 0x40, 34, false);
    f.t.advanceTo(65536);
    EXPECT_EQ(f.t.pendingVector(), vector::RealTime) << "RTI outranks the timer's others";
    f.t.write(TFLG2, 0x40, 65536, false);
    EXPECT_EQ(f.t.pendingVector(), vector::TimerOverflow);
    f.t.write(TMSK2, PAOVF | PAIF, 65536, false);
    f.t.write(PACTL, PAEN, 65536, false);
    f.t.write(PACNT, 0xFF, 65536, false);
    f.t.setPortAInput(7, false, 65537);
    EXPECT_EQ(f.t.pendingVector(), vector::PulseAccOverflow);
    f.t.write(TFLG2, PAOVF, 65538, false);
    EXPECT_EQ(f.t.pendingVector(), vector::PulseAccInput);
    f.t.write(TMSK2, TOF | 0x40, 65539, false);
    EXPECT_EQ(f.t.nextEvent(), 65536 + 10) << "the next thing due: OC3 and OC4 at $000A";
}

#ifdef KESTRO_TEST_PROGRAMS
using testing::BoardBench;
using testing::kEveryPart;
using testing::testProgram;

// The LED program: OC2 toggles PA6 every 10 000 E cycles, its interrupt (through the RAM slot
// of bootstrap mode) moving TOC2 on. Every edge comes exactly one half period after the last,
// and the handler starts within the instruction under way plus the interrupt's stacking.
TEST(TimerOnBoard, Oc2BlinksTheLedToTheCycle) {
    for (const Chip chip : kEveryPart) {
        SCOPED_TRACE(variant(chip).name);
        BoardBench b(chip, 7812);
        std::vector<std::uint64_t> edges;
        b.board.timer().onPortA = [&](std::uint64_t cycle, std::uint8_t) {
            edges.push_back(cycle);
        };
        b.bootAndRun(testProgram("oc2_blink.s19", variant(chip).ramSize == 256 ? 256 : 257));
        b.run(std::chrono::milliseconds(100));
        ASSERT_GE(edges.size(), 19u);
        for (std::size_t i = 1; i < edges.size(); ++i)
            EXPECT_EQ(edges[i] - edges[i - 1], 10000u) << "edge " << i;
        const unsigned latency = b.board.ram()[0x80] << 8 | b.board.ram()[0x81];
        EXPECT_GT(latency, 0u);
        EXPECT_LE(latency, 3u + 14u + 5u) << "BRA, the stacking and the vector, LDD TCNT";
    }
}

// The pulse program: the test holds PA2 low for 1234 us; the program measures 2468 E cycles.
TEST(TimerOnBoard, InputCaptureMeasuresAPulseToTheCycle) {
    for (const Chip chip : kEveryPart) {
        SCOPED_TRACE(variant(chip).name);
        BoardBench b(chip, 7812);
        b.bootAndRun(testProgram("ic1_pulse.s19"));
        b.clock.advance(std::chrono::microseconds(777));
        b.board.setPortAInput(2, false);
        b.clock.advance(std::chrono::microseconds(1234));
        b.board.setPortAInput(2, true);
        b.run(std::chrono::milliseconds(1));
        const auto ram = b.board.ram();
        EXPECT_EQ(ram[0x84], 1) << "the program saw both edges";
        EXPECT_EQ(ram[0x82] << 8 | ram[0x83], 2468);
    }
}

// The RTI counter: in any stretch of ten periods (40.96 ms) the program counts ten interrupts.
TEST(TimerOnBoard, RealTimeInterruptCountsItsPeriods) {
    const Duration period = std::chrono::nanoseconds(8192 * 500);
    for (const Chip chip : kEveryPart) {
        SCOPED_TRACE(variant(chip).name);
        BoardBench b(chip, 7812);
        b.bootAndRun(testProgram("rti_count.s19"));
        // The bench resets the board at its time 0: the timeouts fall on whole periods from
        // there. Look half-way between two of them.
        const TimePoint from =
            TimePoint{} + period * ((b.clock.now() - TimePoint{}) / period + 2) + period / 2;
        b.run(from - b.clock.now());
        const auto count = [&] { return b.board.ram()[0x80] << 8 | b.board.ram()[0x81]; };
        const int before = count();
        EXPECT_GT(before, 0);
        b.run(period * 10);
        EXPECT_EQ(count() - before, 10);
    }
}
#endif

}  // namespace
}  // namespace kestro::sim
