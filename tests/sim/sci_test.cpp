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
    // Advances in steps of 500 cycles, as the board's run slices do.
    void runTo(std::uint64_t cycle) {
        while (cycleNow() < cycle) {
            const std::uint64_t next = std::min(cycle, cycleNow() + 500);
            clock.advance(Duration{static_cast<std::int64_t>(next) * 500} - clock.now());
            sci.advanceTo(next);
        }
    }
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

TEST(Sci, BackToBackBytesLeaveOneFrameApart) {
    SciBench s;
    s.sci.write(sci::BAUD, 0x30, 0);
    s.sci.write(sci::SCCR2, sci::TE, 0);
    std::vector<TimePoint> at;
    Bytes got;
    s.line.toPc.setReceiver(9616, [&](Byte b, bool) {
        got.push_back(b);
        at.push_back(s.clock.now());
    });
    s.runTo(2080);
    s.sci.write(sci::SCDR, 'x', 2080);
    s.sci.write(sci::SCDR, 'y', 2081);
    EXPECT_EQ(s.status(2082) & sci::TDRE, 0);  // 'y' waits in TDR
    s.runTo(4160);
    EXPECT_EQ(s.status(4160) & (sci::TDRE | sci::TC), sci::TDRE);
    s.runTo(10000);
    EXPECT_EQ(got, (Bytes{'x', 'y'}));
    ASSERT_EQ(at.size(), 2u);
    const double apartUs = std::chrono::duration<double, std::micro>(at[1] - at[0]).count();
    EXPECT_NEAR(apartUs, 1040.0, 2.0);
}

TEST(Sci, AByteReadTooLateIsAnOverrun) {
    SciBench s;
    s.sci.write(sci::SCCR2, sci::RE, 0);
    s.sci.received('a', false, 100);
    s.sci.received('b', false, 200);
    EXPECT_EQ(s.status(300) & (sci::RDRF | sci::OR), sci::RDRF | sci::OR);
    EXPECT_EQ(s.sci.read(sci::SCDR, 301), 'a');  // the first byte stays, the second is lost
    EXPECT_EQ(s.status(302) & (sci::RDRF | sci::OR), 0);
}

TEST(Sci, FlagsClearOnlyAfterStatusThenData) {
    SciBench s;
    s.sci.write(sci::SCCR2, sci::RE, 0);
    s.sci.received('a', false, 100);
    EXPECT_EQ(s.sci.read(sci::SCDR, 101), 'a');  // no SCSR read first: RDRF stays
    EXPECT_TRUE(s.status(102) & sci::RDRF);
    s.sci.read(sci::SCDR, 103);
    EXPECT_FALSE(s.status(104) & sci::RDRF);
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

TEST(Sci, ReceiveInterruptsFollowTheirEnables) {
    SciBench s;
    s.sci.write(sci::SCCR2, sci::RE, 0);
    s.sci.received('a', false, 100);
    EXPECT_FALSE(s.sci.interruptPending(101));
    s.sci.write(sci::SCCR2, sci::RE | sci::RIE, 102);
    EXPECT_TRUE(s.sci.interruptPending(103));
    s.status(104);
    s.sci.read(sci::SCDR, 105);
    EXPECT_FALSE(s.sci.interruptPending(106));
    s.sci.write(sci::SCCR2, sci::TE | sci::TIE, 107);
    EXPECT_TRUE(s.sci.interruptPending(108));  // TDRE is set while nothing waits
}

TEST(Sci, SendBreakHoldsTheLineLowThenLetsTheNextByteThrough) {
    SciBench s;
    s.sci.write(sci::BAUD, 0x30, 0);
    std::vector<std::pair<Byte, bool>> got;
    s.line.toPc.setReceiver(9616, [&](Byte b, bool fe) { got.emplace_back(b, fe); });
    s.sci.write(sci::SCCR2, sci::TE | sci::SBK, 0);
    s.runTo(20000);  // ten ms of break
    s.sci.write(sci::SCCR2, sci::TE, 20000);
    s.sci.write(sci::SCDR, 'k', 20001);
    s.runTo(40000);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::make_pair(Byte{0}, true));
    EXPECT_EQ(got[1], std::make_pair(Byte{'k'}, false));
    EXPECT_EQ(s.sci.breaksSent(), 1);
}

TEST(Sci, ARateMismatchGarblesWhatArrives) {
    testing::BoardBench b(Chip::E9, 7812);
    // A talker that sets 1200 baud and echoes: the PC talks at 9600.
    const Bytes echo{0x0F, 0x8E, 0x00, 0xFF, 0xCE, 0x10, 0x00, 0x86, 0x33, 0xA7, 0x2B,
                     0x6F, 0x2C, 0x86, 0x0C, 0xA7, 0x2D, 0x1F, 0x2E, 0x20, 0xFC, 0xE6,
                     0x2F, 0x1F, 0x2E, 0x80, 0xFC, 0xE7, 0x2F, 0x20, 0xF2};
    b.bootAndRun(echo);
    Bytes received;
    b.board.onReceived = [&](Byte x, bool) { received.push_back(x); };
    b.pc.setBaud(9600);
    b.pc.send(bytesOf("abc"));
    b.clock.advance(std::chrono::milliseconds(100));
    EXPECT_NE(received, bytesOf("abc"));
    // At the right rate the same talker echoes faithfully.
    b.pc.setBaud(1200);
    b.clock.advance(std::chrono::milliseconds(100));
    b.pc.rx.clear();
    received.clear();
    b.pc.send(bytesOf("abc"));
    b.clock.advance(std::chrono::milliseconds(100));
    EXPECT_EQ(received, bytesOf("abc"));
    EXPECT_EQ(b.pc.data(), bytesOf("abc"));
}

}  // namespace
}  // namespace kestro::sim
