// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "kestro/sim/board/devices.h"

namespace kestro::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::uint64_t kWindow = PageEeprom{}.loadWindowCycles();
const std::uint64_t kCycle = PageEeprom{}.writeCycleCycles();

// The end of the write cycle that a load ending at `last` (cycle of the last write) starts.
std::uint64_t cycleEnd(std::uint64_t last) {
    return last + kWindow + kCycle;
}

// A load of one page is written in one cycle once the line has been quiet for the load window;
// a write to another page lands in the load's own page, and writes during the cycle are lost.
TEST(PageEeprom, OnePageLoadOneCycle) {
    PageEeprom e;
    e.write(0x0000, 0x11, 0);
    e.write(0x0041, 0x22, 10);                // another page, same load: over $0001
    e.write(0x0002, 0x33, 20);                // back on the page: still loading
    e.write(0x0003, 0x44, 20 + kWindow + 5);  // the cycle has started
    const std::uint64_t end = cycleEnd(20);
    EXPECT_TRUE(e.busy(end - 1));
    EXPECT_FALSE(e.busy(end));
    EXPECT_EQ(Bytes(e.cells().begin(), e.cells().begin() + 4), (Bytes{0x11, 0x22, 0x33, 0xFF}));
    EXPECT_EQ(e.read(0x0041, end), 0xFF);
    EXPECT_EQ(e.writeCycles(), 1u);

    // A part that writes a byte at a time starts its cycle with the write.
    PageEeprom b;
    b.pageSize = 1;
    b.write(0x0000, 0x11, 0);
    b.write(0x0001, 0x22, 10);  // during the cycle: lost
    EXPECT_TRUE(b.busy(kCycle - 1));
    EXPECT_EQ(b.read(0x0001, 20) & 0x80, 0x80) << "polling from the write on";
    EXPECT_FALSE(b.busy(kCycle));
    EXPECT_EQ(Bytes(b.cells().begin(), b.cells().begin() + 2), (Bytes{0x11, 0xFF}));
}

TEST(Companion, RegistersMoveTheBlocksAtTheNextReset) {
    BoardDevices d;
    d.reset();
    EXPECT_EQ(d.read(0x1040 + Companion::SFR, 0), 0x81);
    EXPECT_EQ(d.read(0x1040 + Companion::EEM, 0), 0x07);
    d.companion().eeprom().cells()[0] = 0x5C;
    EXPECT_EQ(d.read(0xE000, 0), 0x5C);

    d.write(0x1040 + Companion::EEM, 0x24, 0);  // block 4 ($8000), port B as A7-A0
    d.write(0x1040 + Companion::SFR, 0x83, 0);  // refused: the EEM write cycle runs
    EXPECT_EQ(d.read(0x1040 + Companion::STATUS, 1) & 0x80, 0x80);
    d.write(0x1040 + Companion::SFR, 0x83, kCycle + 1);
    EXPECT_EQ(d.companion().stored(), (CompanionRegisters{0x00, 0x24, 0x83}));
    EXPECT_EQ(d.read(0xE000, kCycle + 2), 0x5C) << "in use only after a reset";

    d.reset();
    EXPECT_EQ(d.read(0x8000, 0), 0x5C) << "moved over the parallel EEPROM, which it hides";
    EXPECT_EQ(d.read(0x3040 + Companion::SFR, 0), 0x83);
    d.write(0x1040, 0x99, 0);
    EXPECT_EQ(d.ram()[0x1040], 0x99) << "the old place is external RAM again";
}

}  // namespace
}  // namespace kestro::sim
