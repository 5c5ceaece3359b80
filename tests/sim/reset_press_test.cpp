// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <functional>

#include "board_bench.h"

namespace kestro::sim {
namespace {

using namespace std::chrono_literals;
using testing::BoardBench;

// A program that sends 'U' back to back for as long as it runs:
// LDX #$1000; BRCLR $2E,X #$80 *; LDAA #'U'; STAA $2F,X; BRA back to the BRCLR.
const Bytes kChatter{0xCE, 0x10, 0x00, 0x1F, 0x2E, 0x80, 0xFC, 0x86, 0x55, 0xA7, 0x2F, 0x20, 0xF6};
// BRA *: a program that parks and says nothing.
const Bytes kPark{0x20, 0xFE};

// Wire bytes of a download: the sync byte, then the image.
Bytes download(const Bytes& image) {
    Bytes wire{0xFF};
    wire.insert(wire.end(), image.begin(), image.end());
    return wire;
}

// Whatever the chip was doing when RESET went low, nothing the PC sends while it is held reaches
// the boot loader, and the PC hears nothing from the chip: no break and no byte, but for the end
// of a frame cut short at the press. On release the loader sends its break and takes a download
// from its first byte, the sync.
TEST(ResetPress, WhatArrivesWhileHeldIsLostAndTheLoaderStartsAfresh) {
    struct Case {
        const char* name;
        std::function<void(BoardBench&)> before;  // brings the board to the moment of the press
    };
    const Case cases[] = {
        {"awaiting the sync", [](BoardBench& b) { b.reset(); }},
        {"mid-download",
         [](BoardBench& b) {
             b.reset();
             b.pc.send(download(testing::padded(kPark, 400)));
             b.clock.waitUntil([&] { return b.board.loadedBytes() >= 20; }, 1s);
             ASSERT_EQ(b.board.phase(), BootPhase::Loading);
             b.pc.tx.discard();  // the PC stops; its frame on the wire goes on
         }},
        {"running a program that sends",
         [](BoardBench& b) {
             b.bootAndRun(testing::padded(kChatter));
             b.run(5ms);
             ASSERT_FALSE(b.pc.rx.empty());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoardBench b;
        c.before(b);
        b.pc.rx.clear();
        const TimePoint press = b.clock.now();
        b.board.holdReset();
        EXPECT_FALSE(b.board.powered());
        // The PC goes on: a whole download with its sync, which must never start one.
        b.pc.send(download(testing::padded(kPark, 40)));
        b.clock.advance(200ms);
        EXPECT_LE(b.line.toPc.idleAt(), press + 5ms) << "TxD held low through the press";
        EXPECT_EQ(b.pc.breaks(), 0);
        for (const auto& f : b.pc.rx)
            EXPECT_LE(f.at, press + characterTime(7812, 1)) << "a frame begun after the press";
        EXPECT_LE(b.pc.rx.size(), 1u);

        b.pc.rx.clear();
        const TimePoint release = b.clock.now();
        b.board.releaseReset();
        EXPECT_EQ(b.board.phase(), BootPhase::AwaitSync);
        EXPECT_EQ(b.board.loadedBytes(), 0u);
        b.clock.advance(30ms);
        ASSERT_EQ(b.pc.breaks(), 1);
        EXPECT_GE(b.pc.rx.front().at, release);
        EXPECT_EQ(b.board.phase(), BootPhase::AwaitSync) << "a byte of the hold taken for a sync";

        b.pc.rx.clear();
        const Bytes image = testing::padded(kPark, 512);
        b.pc.send(download(image));
        b.clock.advance(characterTime(7812, 520));
        EXPECT_EQ(b.board.phase(), BootPhase::Running);
        EXPECT_EQ(b.pc.data(), image) << "the echo of the download after the release";
    }
}

// A frame being shifted out when RESET goes low is cut: TxD, no longer driven, rises, so the PC
// reads the bits still to come as 1s and a stop bit, not a $00 break.
TEST(ResetPress, CutsTheFrameUnderWayAndTheLineGoesHigh) {
    BoardBench b(Chip::E9, 1200);
    b.reset();
    TimePoint received{0};
    b.board.onReceived = [&](Byte, bool) { received = b.line.toTarget.sampledAt(); };
    b.pc.send({0xFF});      // the sync at 1200 baud; the loader's break then ends
    b.clock.advance(15ms);  // well within the idle line that would end the download
    b.pc.send({0x00});      // echoed from the moment it is taken
    b.clock.waitUntil([&] { return b.board.loadedBytes() == 1; }, 1s);
    b.pc.rx.clear();
    // The echo starts as the $00 is taken: press in its data bit 4, after bits 0-3 went out.
    const Duration bit = characterTime(b.board.sci().lineBaud(), 1) / 10;
    b.clock.advance(received + bit * 21 / 4 - b.clock.now());
    b.board.holdReset();
    b.clock.advance(50ms);
    ASSERT_EQ(b.pc.rx.size(), 1u);
    EXPECT_EQ(b.pc.rx[0].byte, 0xF0);
    EXPECT_FALSE(b.pc.rx[0].framingError);
}

// RESET rises no sooner than the least press asked for after the latest press: a button let go
// early waits, one held longer lets go at once, a press again while a release waits holds the
// chip until the button is let go again, and a press of no length is the instant reset.
TEST(ResetPress, ReleasesNoSoonerThanTheLeastPressAfterTheLatestPress) {
    constexpr Duration kNone = Duration::max();
    struct Case {
        const char* name;
        Duration down;        // from the press to the release asked for (0: a timed press)
        Duration minimum;     // the least press asked for
        Duration pressAgain;  // from that release to a second press, held 20 ms
        Duration heldFor;     // from the (last) press until RESET rises
    };
    const Case cases[] = {
        {"timed press", 0ms, 50ms, kNone, 50ms},
        {"press of no length", 0ms, 0ms, kNone, 0ms},
        {"let go early", 20ms, 50ms, kNone, 50ms},
        {"held long", 200ms, 50ms, kNone, 200ms},
        // Down again at 40 ms and still down at 60 ms, past the first release's 50 ms.
        {"pressed again", 10ms, 50ms, 30ms, 50ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoardBench b;
        b.reset();
        TimePoint lastPress = b.clock.now();
        if (c.down == 0ms) {
            b.board.pressReset(c.minimum);
        } else {
            b.board.holdReset();
            b.clock.advance(c.down);
            b.board.releaseReset(c.minimum);
        }
        if (c.pressAgain != kNone) {
            b.clock.advance(c.pressAgain);
            lastPress = b.clock.now();
            b.board.holdReset();
            b.clock.advance(20ms);
            EXPECT_TRUE(b.board.resetHeld()) << "let go while the button is down";
            b.board.releaseReset(c.minimum);
        }
        ASSERT_TRUE(b.clock.waitUntil([&] { return !b.board.resetHeld(); }, 1s));
        EXPECT_EQ(b.clock.now() - lastPress, c.heldFor);
        EXPECT_TRUE(b.board.powered());
        EXPECT_EQ(b.board.phase(), BootPhase::AwaitSync);
    }
}

}  // namespace
}  // namespace kestro::sim
