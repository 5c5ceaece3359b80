// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "board_bench.h"
#include "kestro/sim/board/sci.h"

namespace kestro::sim {
namespace {

constexpr std::uint32_t kE = 2'000'000;

// An SCI on its own, cycles counted from the clock's time (500 ns each).
struct SciBench {
    SciBench()
        : sci(line.toPc, line.toTarget, kE,
              [this](Byte b, bool fe) { sci.received(b, fe, cycleNow()); }) {
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
TEST(Sci, AByteReadTooLateIsAnOverrun) {
    SciBench s;
    s.sci.write(sci::SCCR2, sci::RE, 0);
    s.sci.received('a', false, 100);
    s.sci.received('b', false, 200);
    EXPECT_EQ(s.sci.read(sci::SCDR, 250), 'a');  // no SCSR read first: the flags stay
    EXPECT_EQ(s.status(300) & (sci::RDRF | sci::OR), sci::RDRF | sci::OR);
    EXPECT_EQ(s.sci.read(sci::SCDR, 301), 'a');  // the first byte stays, the second is lost
    EXPECT_EQ(s.status(302) & (sci::RDRF | sci::OR), 0);
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

}  // namespace
}  // namespace kestro::sim
