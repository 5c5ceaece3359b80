#include <gtest/gtest.h>

#include "board_bench.h"
#include "kestro/sim/board/devices.h"

namespace kestro::sim {
namespace {

constexpr std::uint64_t kWindow = PageEeprom::kByteLoadWindow;
constexpr std::uint64_t kCycle = PageEeprom::kWriteCycle;

// Writes bytes one after another, 10 cycles apart; returns the cycle after the last.
std::uint64_t writeAll(PageEeprom& e, std::uint64_t at,
                       std::initializer_list<std::pair<std::uint16_t, std::uint8_t>> writes) {
    for (const auto& [offset, value] : writes) {
        e.write(offset, value, at);
        at += 10;
    }
    return at;
}

// The end of the write cycle that a load ending at `last` (cycle of the last write) starts.
std::uint64_t cycleEnd(std::uint64_t last) {
    return last + kWindow + kCycle;
}

TEST(PageEeprom, APageLoadIsWrittenInOneCycle) {
    PageEeprom e;
    std::uint64_t at = 0;
    for (std::uint16_t i = 0; i < PageEeprom::kPageSize; ++i, at += 20)
        e.write(static_cast<std::uint16_t>(0x0140 + i), static_cast<std::uint8_t>(i), at);
    const std::uint64_t last = at - 20;
    EXPECT_FALSE(e.busy(last + kWindow - 1)) << "still loading";
    EXPECT_TRUE(e.busy(last + kWindow));
    EXPECT_TRUE(e.busy(cycleEnd(last) - 1));
    EXPECT_FALSE(e.busy(cycleEnd(last)));
    for (std::uint16_t i = 0; i < PageEeprom::kPageSize; ++i)
        ASSERT_EQ(e.read(static_cast<std::uint16_t>(0x0140 + i), cycleEnd(last)), i);
}

TEST(PageEeprom, DataPollingAndToggleBitDuringTheCycle) {
    PageEeprom e;
    e.write(0x10, 0x35, 0);
    const std::uint64_t during = kWindow + 100;
    const std::uint8_t first = e.read(0x10, during);
    const std::uint8_t second = e.read(0x10, during + 1);
    EXPECT_EQ(first & 0x80, 0x80) << "bit 7: the complement of the data's bit 7";
    EXPECT_NE(first & 0x40, second & 0x40) << "bit 6 toggles from read to read";
    EXPECT_EQ(e.read(0x10, cycleEnd(0)), 0x35);
}

TEST(PageEeprom, WritesOutsideTheLoadedPageOrDuringTheCycleAreLost) {
    PageEeprom e;
    e.write(0x0000, 0x11, 0);
    e.write(0x0040, 0x22, 10);                // another page, same load
    e.write(0x0001, 0x33, 20);                // back on the page: still loading
    e.write(0x0002, 0x44, 20 + kWindow + 5);  // the cycle has started
    const std::uint64_t end = cycleEnd(20);
    EXPECT_EQ(e.read(0x0000, end), 0x11);
    EXPECT_EQ(e.read(0x0001, end), 0x33);
    EXPECT_EQ(e.read(0x0040, end), 0xFF);
    EXPECT_EQ(e.read(0x0002, end), 0xFF);
}

TEST(PageEeprom, SoftwareDataProtection) {
    PageEeprom e;
    // Protect and write in one load.
    std::uint64_t at =
        writeAll(e, 0, {{0x1555, 0xAA}, {0x0AAA, 0x55}, {0x1555, 0xA0}, {0x0200, 0x12}});
    at = cycleEnd(at - 10);
    EXPECT_EQ(e.read(0x0200, at), 0x12);
    EXPECT_TRUE(e.sdp());
    // A plain write now changes nothing but still takes a write cycle.
    e.write(0x0201, 0x34, at);
    EXPECT_TRUE(e.busy(at + kWindow + 1));
    at = cycleEnd(at);
    EXPECT_EQ(e.read(0x0201, at), 0xFF);
    // The three-byte sequence opens one load.
    at = writeAll(e, at, {{0x1555, 0xAA}, {0x0AAA, 0x55}, {0x1555, 0xA0}, {0x0201, 0x34}});
    at = cycleEnd(at - 10);
    EXPECT_EQ(e.read(0x0201, at), 0x34);
    // Unprotect with the six-byte sequence.
    at = writeAll(e, at,
                  {{0x1555, 0xAA},
                   {0x0AAA, 0x55},
                   {0x1555, 0x80},
                   {0x1555, 0xAA},
                   {0x0AAA, 0x55},
                   {0x1555, 0x20}});
    EXPECT_FALSE(e.sdp());
    at += kCycle;
    e.write(0x0202, 0x56, at);
    EXPECT_EQ(e.read(0x0202, cycleEnd(at)), 0x56);
}

TEST(PageEeprom, ABrokenSequenceIsOrdinaryDataWhenUnprotected) {
    PageEeprom e;
    const std::uint64_t at = writeAll(e, 0, {{0x1555, 0xAA}, {0x1556, 0x01}});
    EXPECT_EQ(e.read(0x1555, cycleEnd(at - 10)), 0xAA);
    EXPECT_EQ(e.read(0x1556, cycleEnd(at - 10)), 0x01);
}

TEST(Companion, BlockProtectionGuardsOneKilobyteBlocks) {
    Companion c;
    c.setStored({0x82, 0x07, 0x81});  // blocks 1 and 7
    c.reset();
    struct Case {
        std::uint16_t offset;
        bool written;
    };
    const Case cases[] = {{0x03FF, true}, {0x0400, false}, {0x07FF, false}, {0x0800, true},
                          {0x1BFF, true}, {0x1C00, false}, {0x1FFF, false}};
    std::uint64_t at = 0;
    for (const Case& k : cases) {
        c.eeprom().write(k.offset, 0x00, at);
        at = cycleEnd(at);
        EXPECT_EQ(c.eeprom().read(k.offset, at), k.written ? 0x00 : 0xFF) << std::hex << k.offset;
    }
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

TEST(Companion, RegisterWritesNeedProtectionOffAndBit7InSfr) {
    Companion c;
    c.reset();
    c.eeprom().setSdp(true);
    c.writeRegister(Companion::BPR, 0xFF, 0);
    EXPECT_EQ(c.stored().bpr, 0x00);
    EXPECT_EQ(c.readRegister(Companion::STATUS, 0) & 0x01, 0x01);
    c.eeprom().setSdp(false);
    c.writeRegister(Companion::SFR, 0x05, 0);
    EXPECT_EQ(c.stored().sfr, 0x81);
    c.writeRegister(Companion::SFR, 0x90, 0);  // unit 16: $10000, off the map
    c.reset();
    EXPECT_FALSE(c.registerBase().has_value());
}

TEST(Companion, TheRestoreSequenceBringsBackTheDefaults) {
    Companion c;
    c.setStored({0xFF, 0x02, 0x90});
    c.eeprom().setSdp(true);
    c.reset();
    writeAll(c.eeprom(), 0,
             {{0x1555, 0xAA},
              {0x0AAA, 0x55},
              {0x1555, 0x80},
              {0x1555, 0xAA},
              {0x0AAA, 0x55},
              {0x1555, Companion::kRestoreDefaults}});
    EXPECT_EQ(c.stored(), CompanionRegisters{});
    EXPECT_FALSE(c.eeprom().sdp());
}

// Leaves bootstrap for the special test mode (MDA set), then uses the external bus.
TEST(Board, TheExpandedBusReachesTheBoardsDevices) {
    const Bytes code{
        0x86, 0xE5,        // LDAA #RBOOT|SMOD|MDA|$05
        0xB7, 0x10, 0x3C,  // STAA HPRIO
        0x86, 0xA5,        // LDAA #$A5
        0xB7, 0x20, 0x00,  // STAA $2000 (external RAM)
        0xB7, 0x00, 0x80,  // STAA $0080 (internal RAM wins over the external)
        0xB7, 0x90, 0x00,  // STAA $9000 (parallel EEPROM, offset $1000)
        0x20, 0xFE,        // BRA *
    };
    testing::BoardBench b(Chip::E9);
    b.bootAndRun(code);
    b.clock.advance(std::chrono::milliseconds(20));
    EXPECT_TRUE(b.board.expanded());
    EXPECT_EQ(b.board.devices().ram()[0x2000], 0xA5);
    EXPECT_EQ(b.board.devices().ram()[0x0080], 0x00);
    EXPECT_EQ(b.board.ram()[0x80], 0xA5);
    EXPECT_EQ(b.board.devices().parallelEeprom().cells()[0x1000], 0xA5);
    EXPECT_EQ(b.board.peek(0x2000), 0xA5);
}

TEST(Board, SingleChipBootstrapSeesNoExternalBus) {
    const Bytes code{
        0x86, 0xA5,        // LDAA #$A5
        0xB7, 0x20, 0x00,  // STAA $2000
        0x20, 0xFE,        // BRA *
    };
    testing::BoardBench b(Chip::E9);
    b.bootAndRun(code);
    b.clock.advance(std::chrono::milliseconds(5));
    EXPECT_FALSE(b.board.expanded());
    EXPECT_EQ(b.board.devices().ram()[0x2000], 0x00);
    EXPECT_EQ(b.board.peek(0x2000), 0xFF);
}

TEST(Board, SmodOnceClearedStaysClearAndMovesTheVectors) {
    const Bytes code{
        0x86, 0x25,        // LDAA #MDA|$05 (SMOD and RBOOT cleared: normal expanded)
        0xB7, 0x10, 0x3C,  // STAA HPRIO
        0x86, 0xE5,        // LDAA #RBOOT|SMOD|MDA|$05: SMOD cannot come back
        0xB7, 0x10, 0x3C,  // STAA HPRIO
        0x20, 0xFE,        // BRA *
    };
    testing::BoardBench b(Chip::E9);
    b.bootAndRun(code);
    b.clock.advance(std::chrono::milliseconds(5));
    EXPECT_EQ(b.board.hprio() & (hprio::SMOD | hprio::MDA | hprio::RBOOT), hprio::MDA);
    EXPECT_EQ(b.board.cpu().vectorBase(), 0xFFC0);
}

}  // namespace
}  // namespace kestro::sim
