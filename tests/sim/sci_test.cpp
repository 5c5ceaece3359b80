// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "board_bench.h"
#include "kestro/sim/board/sci.h"

namespace kestro::sim {
namespace {

constexpr EClock kE{8'000'000};  // E = 2 MHz

// An SCI on its own, cycles counted from the clock's time (500 ns each).
struct SciBench {
    SciBench()
        : sci(line.toPc, line.toTarget, kE,
              [this](Byte b, bool fe) { sci.received(b, fe, cycleNow(), line.toTarget.noise()); }) {
        sci.reset(0);
    }
    std::uint64_t cycleNow() const { return static_cast<std::uint64_t>(clock.now().count() / 500); }
    std::uint8_t status(std::uint64_t cycle) { return sci.read(sci::SCSR, cycle); }

    VirtualClock clock;
    VirtualLine line{clock};
    Sci sci;
};

struct RateCase {
    std::uint8_t baud;
    double rate;
};

TEST(Sci, RatesFollowBaudAndTheEClock) {
    const RateCase cases[] = {{0x30, 9615.4}, {0x33, 1201.9}, {0x22, 7812.5},
                              {0x04, 7812.5}, {0x31, 4807.7}, {0x35, 300.5}};
    for (const RateCase& c : cases) {
        SciBench s;
        s.sci.write(sci::BAUD, c.baud, 0);
        EXPECT_NEAR(s.sci.rate(), c.rate, 0.1) << std::hex << int(c.baud);
    }
}

TEST(Sci, TransmitterFlagsFollowTheShiftRegister) {
    SciBench s;
    s.sci.write(sci::BAUD, 0x30, 0);      // 208 E cycles per bit, 2080 per frame
    s.sci.write(sci::SCCR2, sci::TE, 0);  // queues one idle character first
    s.sci.write(sci::SCDR, 'A', 10);
    s.sci.write(sci::SCDR, 'A', 10);
    struct Expect {
        std::uint64_t cycle;
        std::uint8_t flags;
    };
    // 'A' waits in TDR behind the preamble, moves to the shifter at 2080 (TDRE), leaves at
    // 4160 (TC).
    const Expect table[] = {
        {100, 0}, {2079, 0}, {2080, sci::TDRE}, {4159, sci::TDRE}, {4160, sci::TDRE | sci::TC}};
    for (const Expect& e : table)
        EXPECT_EQ(s.status(e.cycle) & (sci::TDRE | sci::TC), e.flags) << e.cycle;
}

// A second byte before the first is read is lost (overrun); RDRF and OR clear only when SCSR
// then SCDR are read.
// A byte not yet read, or one received with a framing error, blocks the characters after it
// (lost, OR set) until SCSR and then SCDR are read; a read of SCDR alone unblocks nothing.
TEST(Sci, AByteReadTooLateIsAnOverrun) {
    for (const bool framingError : {false, true}) {
        SCOPED_TRACE(framingError ? "framing error" : "good frame");
        SciBench s;
        s.sci.write(sci::SCCR2, sci::RE, 0);
        s.sci.received('a', framingError, 100);
        s.sci.received('b', false, 200);
        EXPECT_EQ(s.sci.read(sci::SCDR, 250), 'a');  // no SCSR read first: the flags stay
        s.sci.received('c', false, 260);
        const std::uint8_t fe = framingError ? sci::FE : 0;
        EXPECT_EQ(s.status(300) & (sci::RDRF | sci::OR | sci::FE), sci::RDRF | sci::OR | fe);
        EXPECT_EQ(s.sci.read(sci::SCDR, 301), 'a');  // the first byte stays, the others are lost
        EXPECT_EQ(s.status(302) & (sci::RDRF | sci::OR | sci::FE), 0);
        s.sci.received('d', false, 400);
        EXPECT_EQ(s.status(401) & (sci::RDRF | sci::FE), sci::RDRF);
        EXPECT_EQ(s.sci.read(sci::SCDR, 402), 'd');
    }
}

TEST(Sci, BreakReadsAsZeroWithAFramingErrorAndIdleFollows) {
    SciBench s;
    s.sci.write(sci::BAUD, 0x30, 0);
    s.sci.write(sci::SCCR2, sci::RE, 0);
    s.sci.received(0x00, true, 100);
    EXPECT_EQ(s.status(101) & (sci::RDRF | sci::FE | sci::IDLE), sci::RDRF | sci::FE);
    s.sci.read(sci::SCDR, 102);
    EXPECT_EQ(s.status(100 + 2079) & sci::IDLE, 0);
    EXPECT_EQ(s.status(100 + 2080) & sci::IDLE, sci::IDLE);
}

// A BAUD write takes effect at once, also for the character being shifted out: the rest of it
// leaves at the new rate, TC comes when it has, and a PC still at the old rate samples the
// mixture.
TEST(Sci, ABaudWriteChangesTheRateOfTheCharacterBeingSent) {
    struct Case {
        const char* name;
        std::uint8_t second;  // BAUD written three bits into the character
        std::uint64_t tcAt;   // cycle at which TC sets
        Byte pcReads;         // what a PC at 1200 baud samples
    };
    // At 1200 baud ($33) a bit is 1664 E cycles; the data starts after the preamble (16640).
    constexpr std::uint64_t start = 16'640;
    constexpr std::uint64_t change = start + 3 * 1664;
    const Case cases[] = {{"unchanged", 0x33, start + 10 * 1664, 0x00},
                          {"to 9600 at once", 0x30, change + 7 * 208, 0xF8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SciBench s;
        Bytes got;
        s.line.toPc.setReceiver(1200, [&](Byte b, bool) { got.push_back(b); });
        s.sci.write(sci::BAUD, 0x33, 0);
        s.sci.write(sci::SCCR2, sci::TE, 0);
        s.sci.write(sci::SCDR, 0x00, 0);
        s.sci.write(sci::BAUD, c.second, change);
        EXPECT_EQ(s.status(c.tcAt - 1) & sci::TC, 0);
        EXPECT_EQ(s.status(c.tcAt) & sci::TC, sci::TC);
        s.clock.advance(std::chrono::milliseconds(40));
        EXPECT_EQ(got, Bytes{c.pcReads});
    }
}

// A frame at a rate the receiver is not set to: the SCI delivers what its three samples per bit
// make of it, with FE when the stop bit samples low and NF when the samples of a bit disagree. A
// BAUD write while a frame comes in: the samples still to take follow the new rate from where the
// receiver got to, so the frame is not lost.
TEST(Sci, AFrameAtTheWrongRateReadsAsTheSamplesMakeIt) {
    struct Case {
        const char* name;
        int pcBaud;
        Byte sent;
        std::uint8_t baud;  // the SCI's
        Byte reads;
        std::uint8_t flags;       // of FE and NF
        std::uint8_t rebaud = 0;  // BAUD written 20 us after the start edge
    };
    const Case cases[] = {
        {"the right rate", 9600, 0x55, 0x30, 0x55, 0},
        // The start bit of a $FF at 1200 baud ends between RT8 and RT10 of bit 5 at 7812.
        {"$FF at 1200 into 7812", 1200, 0xFF, 0x22, 0xC0, sci::NF},
        {"$00 at 1200 into 9600", 1200, 0x00, 0x30, 0x00, sci::FE},
        {"BAUD set to 9600 while it comes in", 9600, 0x55, 0x33, 0x55, 0, 0x30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SciBench s;
        Transmitter pc(s.line.toTarget);
        pc.setBaud(c.pcBaud);
        s.sci.write(sci::BAUD, c.baud, 0);
        s.sci.write(sci::SCCR2, sci::RE, 0);
        pc.queue(Bytes{c.sent});
        if (c.rebaud)
            s.sci.write(sci::BAUD, c.rebaud, 40);
        s.clock.advance(std::chrono::milliseconds(2));
        const std::uint8_t status = s.status(s.cycleNow());
        ASSERT_EQ(status & sci::RDRF, sci::RDRF);
        EXPECT_EQ(status & (sci::FE | sci::NF), c.flags);
        EXPECT_EQ(s.sci.read(sci::SCDR, s.cycleNow()), c.reads);
        EXPECT_EQ(s.status(s.cycleNow()) & (sci::FE | sci::NF), 0) << "cleared by SCSR, SCDR";
    }
}

}  // namespace
}  // namespace kestro::sim

namespace kestro::sim {
namespace {

TEST(EClockTest, CyclesAndLineTimeConvertWithoutDriftAtAnyCrystal) {
    for (const std::uint32_t crystal : {4'915'200u, 7'372'800u, 8'000'000u, 12'000'000u}) {
        const EClock e{crystal};
        SCOPED_TRACE(crystal);
        // An hour of E cycles is an hour of line time, to the nanosecond.
        EXPECT_EQ(e.cyclesIn(std::chrono::hours(1)), std::uint64_t{crystal} / 4 * 3600);
        for (const std::uint64_t c : {1ULL, 3ULL, 1'000'003ULL, 123'456'789'012ULL}) {
            EXPECT_EQ(e.cyclesIn(e.timeOf(c)), c);
            EXPECT_EQ(e.cyclesIn(e.timeOf(c) - Duration{1}), c - 1);
        }
    }
}

}  // namespace
}  // namespace kestro::sim
