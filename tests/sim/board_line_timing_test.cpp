// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "board_bench.h"
#include "late_events.h"

namespace kestro::sim {
namespace {

constexpr int kBaud = 1200;

// A board as the program runs it (2 ms run slices) whose events run late: its reset break
// lasts until the PC sends, and the loader echoes each byte of a 256-byte download a character
// time after it came.
TEST(BoardLineTiming, LateEventsNeitherSplitTheResetBreakNorDelayTheEcho) {
    VirtualClock clock;
    kestro::testing::StallingScheduler late(clock, 40ms, 15ms);
    VirtualLine line(late);
    Board board(late, line, BoardOptions{Chip::A8, false, std::chrono::milliseconds(2)});
    testing::PcSide pc(line, kBaud);
    clock.advance(20ms);
    board.resetBootstrap();
    clock.advance(700ms);
    EXPECT_EQ(pc.breaks(), 1) << "one reset, one break";
    EXPECT_EQ(pc.rx.size(), 1u) << "and nothing else";
    pc.rx.clear();

    const TimePoint t0 = clock.now();
    Bytes download(257, 0x00);
    download[0] = 0xFF;
    for (std::size_t i = 1; i < download.size(); ++i)
        download[i] = static_cast<Byte>(i);
    pc.tx.queue(download);
    clock.advance(2500ms);
    ASSERT_EQ(pc.rx.size(), 256u);
    for (std::size_t i = 0; i < pc.rx.size(); ++i) {
        // Byte i + 1 of the download ends at t0 + (i + 2) characters; its echo follows at once.
        const TimePoint due = t0 + characterTime(kBaud, static_cast<std::int64_t>(i + 3)) -
                              Duration{1'000'000'000LL / kBaud};
        ASSERT_EQ(pc.rx[i].byte, static_cast<Byte>(i + 1));
        ASSERT_LE(std::chrono::abs(pc.rx[i].at - due), Duration{200us}) << i;
    }
}

// The boot loader leaves port D wired-OR: TxD only pulls low and rises through the board's
// pull-up, so that a 1 after a 0 reads as a 0 once half a bit no longer covers the rise. With an
// adapter's weak pull-up (the board's default) that is below 125,000 baud; a program that
// clears DWOM, as every fast talker does before it goes faster, drives TxD both ways.
TEST(BoardLineTiming, TxdRisesThroughThePullUpWhileTheLoadersWiredOrLasts) {
    const double weak = BoardOptions{}.txdPullUpOhms;
    EXPECT_GT(txdLimitBaud(weak), 62'500);
    EXPECT_LT(txdLimitBaud(weak), 125'000);
    struct Case {
        double pullUp;
        int baud;
        bool intact;
    };
    const Case cases[] = {
        {weak, 62'500, true},
        {weak, 125'000, false},
        {weak, static_cast<int>(txdLimitBaud(weak) * 0.97), true},
        {weak, static_cast<int>(txdLimitBaud(weak) * 1.03), false},
        {4'700, 125'000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pullUp) + " ohms, " + std::to_string(c.baud) + " baud");
        VirtualClock clock;
        VirtualLine line(clock);
        testing::PcSide pc(line, c.baud);
        line.toPc.setRiseDelay(txdRiseTime(c.pullUp));
        Transmitter board(line.toPc);
        board.setBaud(c.baud);
        const Bytes sent{0x55, 0xA5, 0x0F, 0x80};
        board.queue(sent);
        clock.advance(10ms);
        EXPECT_EQ(pc.data() == sent, c.intact);
    }

    // The loader sets DWOM; a reset and a fast talker's start clear it.
    testing::BoardBench b(Chip::E9, 1200);
    b.reset();
    EXPECT_EQ(b.line.toPc.riseDelay(), txdRiseTime(weak));
    b.bootAndRun(testing::testProgram("upper_echo.s19"));
    EXPECT_EQ(b.line.toPc.riseDelay(), txdRiseTime(weak)) << "a program that leaves SPCR alone";
    b.board.setTxdPullUp(4'700);
    EXPECT_EQ(b.line.toPc.riseDelay(), txdRiseTime(4'700));
}

}  // namespace
}  // namespace kestro::sim
