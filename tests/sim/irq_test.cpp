// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "board_bench.h"

namespace kestro::sim {
namespace {

using namespace std::chrono_literals;

// A handler at $0006 that counts in $80: LDX #$1000; then `mask` (CLI, or CLRA; TAP to open
// XIRQ too); BRA *; handler INC $0080; RTI. The slot at `slot` jumps to it.
Bytes counter(Bytes mask, std::uint16_t slot) {
    Bytes image{0xCE, 0x10, 0x00};
    image.insert(image.end(), mask.begin(), mask.end());
    image.insert(image.end(), {0x20, 0xFE});
    const auto handler = static_cast<Byte>(image.size());
    image.insert(image.end(), {0x7C, 0x00, 0x80, 0x3B});
    image = testing::padded(image);
    image[slot] = 0x7E;
    image[slot + 1u] = 0x00;
    image[slot + 2u] = handler;
    return image;
}

struct LevelCase {
    const char* name;
    Bytes mask;
    std::uint16_t slot;
    bool xirq;
};

// Without IRQE, IRQ asks for an interrupt for as long as it is held low; so does XIRQ once the
// X bit is clear. Released, they ask for nothing.
TEST(Irq, ALowLevelInterruptsForAsLongAsItLasts) {
    const LevelCase cases[] = {
        {"IRQ", {0x0E}, 0xEE, false},
        {"XIRQ", {0x4F, 0x06}, 0xF1, true},
    };
    for (const LevelCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing::BoardBench b(Chip::E9, 7812);
        b.bootAndRun(counter(c.mask, c.slot));
        b.run(1ms);
        EXPECT_EQ(b.board.ram()[0x80], 0) << "nothing while the pin is high";
        c.xirq ? b.board.setXirqLow(true) : b.board.setIrqLow(true);
        b.run(100us);
        EXPECT_GT(b.board.ram()[0x80], 3) << "again and again while low";
        c.xirq ? b.board.setXirqLow(false) : b.board.setIrqLow(false);
        b.board.catchUp();
        const Byte held = b.board.ram()[0x80];
        b.run(1ms);
        EXPECT_LE(b.board.ram()[0x80], held + 1) << "at most the one under way";
    }
}

#ifdef KESTRO_TEST_PROGRAMS
// The edge counter: with IRQE the handler runs once per falling edge, however long IRQ stays
// low, on every part.
TEST(IrqOnBoard, EdgeSensitiveIrqCountsEachFallingEdgeOnce) {
    for (const Chip chip : testing::kEveryPart) {
        SCOPED_TRACE(variant(chip).name);
        testing::BoardBench b(chip, 7812);
        b.bootAndRun(testing::testProgram("irq_count.s19"));
        b.clock.advance(1ms);
        for (int i = 0; i < 5; ++i) {
            b.board.setIrqLow(true);
            b.clock.advance(i == 2 ? 3ms : 50us);
            b.board.setIrqLow(false);
            b.clock.advance(200us);
        }
        b.board.catchUp();
        EXPECT_EQ(b.board.ram()[0x80], 5);
    }
}
#endif

// IRQE, like the other protected bits of OPTION, takes only a first write within 64 E cycles of
// reset in the normal modes.
TEST(Irq, IrqeIsWritableOnceEarlyInTheNormalModes) {
    // LDX #$1000; LDAA #$0C; STAA HPRIO,X (clear SMOD: normal mode); LDAA #$30; STAA OPTION,X;
    // BRA *. The first write comes long after reset (the download), so it does not take.
    testing::BoardBench b(Chip::E9, 7812);
    b.bootAndRun(testing::padded(
        {0xCE, 0x10, 0x00, 0x86, 0x05, 0xA7, 0x3C, 0x86, 0x30, 0xA7, 0x39, 0x20, 0xFE}));
    b.run(1ms);
    EXPECT_EQ(b.board.peek(0x103C) & 0x40, 0) << "in a normal mode now";
    EXPECT_EQ(b.board.peek(0x1039) & 0x20, 0);
}

}  // namespace
}  // namespace kestro::sim
