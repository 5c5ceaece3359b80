// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <array>

#include "board_bench.h"
#include "kestro/sim/board/nvm.h"

namespace kestro::sim {
namespace {

using namespace pprog;

// Runs one PPROG cycle the way the data sheet lists it: set EELAT (and the erase bits),
// write the address (kConfig: the CONFIG register), set EEPGM in a second write, wait, clear
// PPROG.
constexpr int kConfig = -1;
void eepromCycle(Eeprom& e, std::uint8_t mode, int offset, std::uint8_t data, std::uint64_t start,
                 std::uint64_t length = Eeprom::cycleTimeAt({})) {
    e.writePprog(mode | EELAT, start);
    if (offset == kConfig)
        e.writeConfig(data, start + 1);
    else
        e.writeArray(static_cast<std::uint16_t>(offset), data, start + 1);
    e.writePprog(mode | EELAT | EEPGM, start + 2);
    e.writePprog(0, start + 2 + length);
}

Eeprom unprotected(const Variant& v) {
    Eeprom e(v);
    e.writeBprot(0, true);
    return e;
}

// The programming times are times, not E cycles: a cycle a cycle short changes nothing, a
// talker that counts the 10 ms of a 2 MHz E programs nothing at 3 MHz, and below 2 MHz the
// EEPROM asks for 20 ms. Below 1 MHz no cycle on E is long enough: the pump wants the R-C clock
// that CSEL selects. Programming only clears bits.
TEST(Eeprom, ProgrammingTimesFollowTheCrystal) {
    struct CrystalCase {
        std::uint32_t crystalHz;
        std::uint64_t eepromCycles;  // 0: never
        std::uint64_t epromCycles;
    };
    const CrystalCase cases[] = {{12'000'000, 30'000, 6'000},
                                 {8'000'000, 20'000, 4'000},
                                 {7'372'800, 36'864, 3'687},
                                 {4'915'200, 24'576, 2'458},
                                 {3'686'400, 0, 1'844}};
    for (const CrystalCase& c : cases) {
        const EClock clock{c.crystalHz};
        for (const bool full : {false, true}) {
            Eeprom e(variant(Chip::E9_711), clock);
            e.writeBprot(0, true);
            Eprom rom(0x3000);
            e.attachEprom(&rom);
            const std::uint64_t length = !c.eepromCycles ? 1'000'000'000
                                         : full          ? c.eepromCycles
                                                         : c.eepromCycles - 1;
            eepromCycle(e, 0, 0x10, 0x5A, 0, length);
            EXPECT_EQ(e.read(0x10), full && c.eepromCycles ? 0x5A : 0xFF)
                << c.crystalHz << " Hz, " << length;
            if (full && c.eepromCycles) {
                eepromCycle(e, 0, 0x10, 0xF0, 1'000'000, length);
                EXPECT_EQ(e.read(0x10), 0x50) << c.crystalHz << " Hz";
            }
            const std::uint64_t pulse = full ? c.epromCycles : c.epromCycles - 1;
            e.writePprog(ELAT, 2'000'000'000, true);
            rom.writeArray(0x10, 0x3C);
            e.writePprog(ELAT | EPGM, 2'000'000'001, true);
            e.writePprog(0, 2'000'000'001 + pulse, true);
            EXPECT_EQ(rom.read(0x10), full ? 0x3C : 0xFF) << c.crystalHz << " Hz, EPROM " << pulse;
        }
    }
}

// On the R-C clock a cycle counts only once the pump has settled, 10 ms after CSEL was set,
// and lasts 20 ms in time, at any E; a change of clock during a cycle spoils it.
TEST(Eeprom, TheRcClockWantsItsSettlingAndItsTime) {
    struct RcCase {
        const char* what;
        std::uint32_t crystalHz;
        double settledMs;  // from CSEL set to the cycle's start
        double cycleMs;
        int cselOffMs;  // CSEL cleared this long into the cycle; -1: kept
        bool programs;
    };
    const RcCase cases[] = {
        {"settled, full time", 3'686'400, 10, 20, -1, true},
        {"settled a cycle short", 3'686'400, 10, 19.99, -1, false},
        {"not yet settled", 3'686'400, 9.99, 20, -1, false},
        {"CSEL cleared during the cycle", 3'686'400, 10, 20, 5, false},
        {"at E = 2 MHz on the R-C clock the 10 ms of E do not do", 8'000'000, 10, 10.6, -1, false},
        {"at E = 2 MHz on the R-C clock", 8'000'000, 10, 20, -1, true},
    };
    for (const RcCase& c : cases) {
        SCOPED_TRACE(c.what);
        const EClock clock{c.crystalHz};
        const auto cycles = [&](double ms) {
            return static_cast<std::uint64_t>(ms * c.crystalHz / 4000.0 + 0.5);
        };
        Eeprom e(variant(Chip::E9), clock);
        e.writeBprot(0, true);
        e.selectPumpClock(true, 1'000);
        const std::uint64_t start = 1'000 + cycles(c.settledMs);
        e.writePprog(EELAT, start - 2);
        e.writeArray(0x10, 0x5A, start - 1);
        e.writePprog(EELAT | EEPGM, start);
        if (c.cselOffMs >= 0)
            e.selectPumpClock(false, start + cycles(c.cselOffMs));
        e.writePprog(0, start + cycles(c.cycleMs));
        EXPECT_EQ(e.read(0x10), c.programs ? 0x5A : 0xFF);
    }
}

TEST(Eeprom, EraseModesEraseTheirRangeToFF) {
    struct EraseCase {
        const char* name;
        std::uint8_t mode;
        std::uint16_t address;
        std::uint16_t from, to;  // the erased range, to exclusive
    };
    const EraseCase cases[] = {{"byte", ERASE | BYTE, 0x123, 0x123, 0x124},
                               {"byte overrides row", ERASE | BYTE | ROW, 0x45, 0x45, 0x46},
                               {"row", ERASE | ROW, 0x123, 0x120, 0x130},
                               {"bulk", ERASE, 0x77, 0x000, 0x200}};
    for (const EraseCase& c : cases) {
        Eeprom e = unprotected(variant(Chip::E9));
        std::fill(e.array().begin(), e.array().end(), std::uint8_t{0x00});
        eepromCycle(e, c.mode, c.address, 0x00, 0);
        for (std::uint16_t i = 0; i < e.array().size(); ++i)
            ASSERT_EQ(e.array()[i], (i >= c.from && i < c.to) ? 0xFF : 0x00) << c.name << " " << i;
    }
}

TEST(Eeprom, LatchRules) {
    Eeprom e = unprotected(variant(Chip::E9));
    e.array()[4] = 0x33;
    // EELAT and EEPGM in one write: EEPGM does not stick, no cycle starts.
    e.writePprog(EELAT | EEPGM, 0);
    EXPECT_EQ(e.pprog(), EELAT);
    e.writeArray(4, 0x00, 1);
    EXPECT_NE(e.read(4), 0x33) << "with EELAT set a read does not return the cell";
    e.writePprog(0, 30'000);
    EXPECT_EQ(e.read(4), 0x33);
    // Without EELAT a write to the array is ignored.
    e.writeArray(4, 0x00, 30'001);
    EXPECT_EQ(e.read(4), 0x33);
    e.writePprog(EELAT, 30'002);
    // During a cycle the latch is frozen: a second write does not move it.
    e.writeArray(4, 0x30, 30'003);
    e.writePprog(EELAT | EEPGM, 30'004);
    e.writeArray(5, 0x00, 30'005);
    e.writePprog(0, 60'000);
    EXPECT_EQ(e.read(4), 0x30);
    EXPECT_EQ(e.read(5), 0xFF);
}

TEST(Eeprom, BprotGuardsItsBlocksUntilCleared) {
    // The first and last offsets of the blocks of BPRT0..3.
    struct Part {
        Chip chip;
        std::array<std::pair<std::uint16_t, std::uint16_t>, 4> blocks;
    };
    const Part parts[] = {
        {Chip::E9, {{{0x000, 0x01F}, {0x020, 0x05F}, {0x060, 0x0DF}, {0x0E0, 0x1FF}}}},
        {Chip::E2_811, {{{0x000, 0x1FF}, {0x200, 0x3FF}, {0x400, 0x5FF}, {0x600, 0x7FF}}}},
    };
    for (const Part& p : parts) {
        for (int b = 0; b < 4; ++b) {
            Eeprom e(variant(p.chip));
            // Only the block's own bit set.
            e.writeBprot(static_cast<std::uint8_t>(1 << b), true);
            std::uint64_t t = 0;
            for (int other = 0; other < 4; ++other) {
                for (const std::uint16_t offset : {p.blocks[other].first, p.blocks[other].second}) {
                    eepromCycle(e, 0, offset, 0x00, t += 100'000);
                    EXPECT_EQ(e.read(offset), other == b ? 0xFF : 0x00)
                        << variant(p.chip).name << " BPRT" << b << " offset " << offset;
                }
            }
        }
    }
    Eeprom e(variant(Chip::E9));
    EXPECT_EQ(e.bprotReg(), 0x1F);
    e.writeBprot(0x00, false);  // the window is closed: bits stay set
    EXPECT_EQ(e.bprotReg(), 0x1F);
}

// CONFIG is erased only by the bulk-erase mode addressed to it, on every part, and that erase
// leaves the array alone; a byte or row erase addressed to it changes nothing.
TEST(Eeprom, ConfigIsACellOfItsOwn) {
    for (const Variant& v : variants()) {
        Eeprom e = unprotected(v);
        e.writeBprot(bprot::PTCON, true);
        eepromCycle(e, 0, kConfig, 0x05, 0);
        EXPECT_EQ(e.configCell(), v.factoryConfig) << v.name << ": PTCON protects CONFIG";
        e.writeBprot(0, true);
        eepromCycle(e, 0, kConfig, 0x05, 40'000);
        const auto programmed = static_cast<std::uint8_t>(v.factoryConfig & 0x05);
        EXPECT_EQ(e.configCell(), programmed) << v.name;
        e.array()[7] = 0x00;
        std::uint64_t t = 80'000;
        for (const std::uint8_t mode : {ERASE | BYTE, ERASE | ROW, ERASE | BYTE | ROW}) {
            eepromCycle(e, mode, kConfig, 0x00, t += 40'000);
            EXPECT_EQ(e.configCell(), programmed) << v.name << " mode " << int{mode};
        }
        eepromCycle(e, ERASE, kConfig, 0x00, t += 40'000);
        EXPECT_EQ(e.configCell(), 0xFF) << v.name;
        EXPECT_EQ(e.array()[7], 0x00) << v.name << ": the array is untouched";
    }
}

// The 711E9's EPROM, driven by PPROG: ELAT with the data write, then EPGM in a second write for
// the full time, with the programming voltage throughout.
TEST(Eprom, ProgramsThroughPprogOnlyWithVoltageAndTime) {
    const std::uint64_t kEpromTime = 4'000;  // 2 ms at E = 2 MHz
    struct EpromCase {
        const char* name;
        std::uint8_t first;   // the write that opens the latch
        std::uint8_t second;  // the write that should switch the voltage on
        std::uint64_t length;
        bool voltage;
        std::uint8_t expected;
    };
    const EpromCase cases[] = {
        {"programs", ELAT, ELAT | EPGM, kEpromTime, true, 0x34},
        {"too short", ELAT, ELAT | EPGM, kEpromTime - 1, true, 0xF7},
        {"no voltage", ELAT, ELAT | EPGM, kEpromTime, false, 0xF7},
        {"ELAT with EPGM", ELAT | EPGM, ELAT, kEpromTime, true, 0xF7},
        {"ELAT with EELAT", ELAT | EELAT, ELAT | EPGM, kEpromTime, true, 0xF7},
        {"EELAT for the EPROM", EELAT, EELAT | EPGM, kEpromTime, true, 0xF7}};
    for (const EpromCase& c : cases) {
        Eeprom e = unprotected(variant(Chip::E9_711));
        Eprom rom(0x3000);
        e.attachEprom(&rom);
        rom.array()[0x10] = 0xF7;
        e.writePprog(c.first, 0, c.voltage);
        rom.writeArray(0x10, 0x3C);
        e.writePprog(c.second, 1, c.voltage);
        e.writePprog(0, 1 + c.length, c.voltage);
        EXPECT_EQ(rom.read(0x10), c.expected) << c.name;
        EXPECT_EQ(e.array()[0x10], 0xFF) << c.name << ": the EEPROM is not the EPROM";
    }
}

// While a latch is open the array is cut off from the bus: a read never returns the cell, and
// an erased cell never reads as erased.
TEST(Latches, AReadWhileLatchedIsNeverTheCell) {
    for (const std::uint8_t cell : {0xFF, 0x00, 0x5A}) {
        Eeprom e = unprotected(variant(Chip::E9_711));
        Eprom rom(0x3000);
        e.attachEprom(&rom);
        e.array()[3] = cell;
        rom.array()[3] = cell;
        e.writePprog(EELAT, 0);
        e.writeArray(3, cell, 1);  // even with the cell's own value latched
        EXPECT_NE(e.read(3), cell) << "EEPROM " << int(cell);
        e.writePprog(0, 2);
        EXPECT_EQ(e.read(3), cell);
        e.writePprog(ELAT, 3);
        rom.writeArray(3, cell);
        EXPECT_NE(rom.read(3), cell) << "EPROM " << int(cell);
        EXPECT_EQ(e.read(3), cell) << "ELAT leaves the EEPROM readable";
        e.writePprog(0, 4);
        EXPECT_EQ(rom.read(3), cell);
    }
}

// A programming pulse with no address of that memory latched (the program latched an address
// where the memory is not) changes nothing and is counted, so that a test can see it.
TEST(Latches, APulseWithNothingLatchedIsCounted) {
    Eeprom e = unprotected(variant(Chip::E9_711));
    Eprom rom(0x3000);
    e.attachEprom(&rom);
    struct Step {
        std::uint8_t latch;
        bool writeFirst;
        int strayAfter;
    };
    const Step steps[] = {{EELAT, true, 0}, {EELAT, false, 1}, {ELAT, true, 1}, {ELAT, false, 2}};
    std::uint64_t t = 0;
    for (const Step& s : steps) {
        e.writePprog(s.latch, t += 10);
        if (s.writeFirst) {
            if (s.latch == EELAT)
                e.writeArray(1, 0x00, t += 10);
            else
                rom.writeArray(1, 0x00);
        }
        e.writePprog(s.latch | EPGM, t += 10);
        e.writePprog(0, t += 30'000, true);
        EXPECT_EQ(e.strayPulses(), s.strayAfter) << int(s.latch) << " " << s.writeFirst;
    }
}

}  // namespace
}  // namespace kestro::sim
