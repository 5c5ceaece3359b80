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

}  // namespace
}  // namespace kestro::sim
