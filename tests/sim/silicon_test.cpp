// SPDX-License-Identifier: GPL-3.0-or-later
// The board is at least as strict as the chip: small programs poke the registers the way a
// talker would, and the board must answer as silicon does, not more kindly.
#include <gtest/gtest.h>

#include "board_bench.h"

namespace kestro::sim {
namespace {

using testing::BoardBench;

// LDAA #$20; STAA $10<reg>; LDAA #$5A; STAA $D000; LDAB $D000; STAB $0080; LDAA #$21;
// STAA $10<reg>; LDX #1000; DEX; BNE -3 (6000 E cycles: 3 ms); CLR $10<reg>; BRA *
Bytes eprogramOnce(std::uint8_t reg) {
    return {0x86, 0x20, 0xB7, 0x10, reg,  0x86, 0x5A, 0xB7, 0xD0, 0x00, 0xF6,
            0xD0, 0x00, 0xF7, 0x00, 0x80, 0x86, 0x21, 0xB7, 0x10, reg,  0xCE,
            0x03, 0xE8, 0x09, 0x26, 0xFD, 0x7F, 0x10, reg,  0x20, 0xFE};
}

// The 711E9's EPROM is programmed through PPROG (ELAT, EPGM), the 711E20's through EPROG at
// $1036, each with +12 V on XIRQ/VPPE; the other register does nothing to it. While ELAT is
// set a read is not the cell.
TEST(Silicon, EachEpromProgramsOnlyThroughItsOwnRegisterWithItsVoltage) {
    struct Case {
        const char* name;
        Chip chip;
        std::uint8_t reg;
        bool voltage;
        std::uint8_t expected;
    };
    const Case cases[] = {{"711E9, PPROG with +12 V", Chip::E9_711, 0x3B, true, 0x5A},
                          {"711E9, PPROG without +12 V", Chip::E9_711, 0x3B, false, 0xFF},
                          {"711E9, EPROG at $1036", Chip::E9_711, 0x36, true, 0xFF},
                          {"711E20, EPROG with +12 V", Chip::E20_711, 0x36, true, 0x5A},
                          {"711E20, EPROG without +12 V", Chip::E20_711, 0x36, false, 0xFF},
                          {"711E20, PPROG", Chip::E20_711, 0x3B, true, 0xFF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoardOptions options{c.chip};
        options.programmingVoltage = c.voltage;
        BoardBench b(options, 7812);
        b.bootAndRun(testing::padded(eprogramOnce(c.reg)));
        b.clock.advance(std::chrono::milliseconds(20));
        EXPECT_EQ(b.board.eprom()[*b.board.chip().romOffset(0xD000)], c.expected);
        EXPECT_EQ(b.board.eeprom().array(), Bytes(512, 0xFF)) << "nothing went to the EEPROM";
        const bool ownRegister =
            c.reg == (b.board.chip().epromControl == EpromControl::Eprog ? 0x36 : 0x3B);
        if (ownRegister) {
            EXPECT_NE(b.board.ram()[0x80], 0xFF) << "read while latched gave the erased cell";
        }
        EXPECT_EQ(b.board.peek(0x1036), 0x00) << "reserved, or cleared";
    }
}

// CONFIG is an EEPROM cell behind a working register that a reset loads: a read of $103F shows
// the working register, a write to it (in bootstrap mode too) only latches data for programming,
// and a new value takes effect at the next reset (M68HC11 Reference Manual 3.2.1).
TEST(Silicon, ConfigTakesANewValueOnlyAtTheNextReset) {
    for (const Variant& v : variants()) {
        SCOPED_TRACE(v.name);
        const std::uint8_t value = v.eepromMovable ? 0xF5 : 0x05;  // NOSEC, ROMON cleared
        // LDAA #value; STAA $103F; LDAB $103F; STAB $80; CLR BPROT; LDAB #EELAT; STAB PPROG;
        // STAA $103F; LDAB #EELAT|EEPGM; STAB PPROG; LDX #4000; DEX; BNE -3 (12 ms);
        // CLR PPROG; LDAB $103F; STAB $81; BRA *
        const Bytes program{0x86, value, 0xB7, 0x10, 0x3F, 0xF6, 0x10, 0x3F, 0xF7, 0x00, 0x80,
                            0x7F, 0x10,  0x35, 0xC6, 0x02, 0xF7, 0x10, 0x3B, 0xB7, 0x10, 0x3F,
                            0xC6, 0x03,  0xF7, 0x10, 0x3B, 0xCE, 0x0F, 0xA0, 0x09, 0x26, 0xFD,
                            0x7F, 0x10,  0x3B, 0xF6, 0x10, 0x3F, 0xF7, 0x00, 0x81, 0x20, 0xFE};
        BoardBench b(v.chip, 7812);
        b.bootAndRun(testing::padded(program));
        b.clock.advance(std::chrono::milliseconds(40));
        EXPECT_EQ(b.board.ram()[0x80], v.factoryConfig) << "a plain write changed CONFIG";
        EXPECT_EQ(b.board.ram()[0x81], v.factoryConfig) << "the cell shows before a reset";
        // Programming only clears bits: the parts sold with EEON or ROMON clear keep them so.
        const auto programmed = static_cast<std::uint8_t>(value & v.factoryConfig);
        EXPECT_EQ(b.board.eeprom().configCell(), programmed);
        b.board.resetBootstrap();
        EXPECT_EQ(b.board.config(), programmed & v.configMask);
    }
}

// Where nothing answers, a read does not look like erased memory: not inside the chip in
// single-chip mode, not on the expanded bus where the board has no device.
TEST(Silicon, NothingThereNeverReadsAsErased) {
    struct Case {
        Chip chip;
        bool expanded;
        std::uint16_t from, to;  // an empty stretch of the map, to inclusive
    };
    const Case cases[] = {
        {Chip::A8, false, 0x1100, 0xB5FF},     {Chip::A8, false, 0xB800, 0xBEFF},
        {Chip::E9, false, 0x0200, 0x0FFF},     {Chip::E9_711, false, 0xC000, 0xCFFF},
        {Chip::E2_811, false, 0x0100, 0xF7FF}, {Chip::E9, true, 0xA000, 0xB5FF}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(variant(c.chip).name) + (c.expanded ? " expanded" : ""));
        BoardBench b(c.chip, 7812);
        // LDAA #$E5 (RBOOT, SMOD, MDA: special test, expanded); STAA $103C; BRA *
        const Bytes expand{0x86, 0xE5, 0xB7, 0x10, 0x3C, 0x20, 0xFE};
        b.bootAndRun(testing::padded(c.expanded ? expand : Bytes{0x20, 0xFE}));
        b.clock.advance(std::chrono::milliseconds(1));
        ASSERT_EQ(b.board.expanded(), c.expanded);
        for (unsigned a = c.from; a <= c.to; ++a) {
            if (a < 0x1000 || a >= 0x1040) {  // the register block answers
                ASSERT_NE(b.board.peek(static_cast<std::uint16_t>(a)), 0xFF) << std::hex << a;
            }
        }
    }
}

// A program that changes the rate while its character is on the wire, prompted by a byte from
// the PC: the board stops at that byte and, in 20 ms run slices, would not run again before the
// PC samples the character. The PC must still sample what the chip really sent. LDX #$1000;
// LDAB #80; DECB; BNE -3 (200 us); CLRA; STAA SCDR,X; BRCLR SCSR,X #RDRF *; LDAA #baud;
// STAA BAUD,X; BRA *. The $00 slowed to 300 baud keeps the line low at the PC's stop bit sample.
TEST(Silicon, TheWireCarriesARateChangeMadeMidCharacter) {
    for (const bool change : {false, true}) {
        SCOPED_TRACE(change ? "changed" : "unchanged");
        BoardOptions options{Chip::E9};
        options.slice = std::chrono::milliseconds(20);
        BoardBench b(options, 7812);
        const std::uint8_t baud = change ? 0x35 : 0x22;
        b.bootAndRun({0xCE, 0x10, 0x00, 0xC6, 0x50, 0x5A, 0x26, 0xFD, 0x4F, 0xA7, 0x2F,
                      0x1F, 0x2E, 0x20, 0xFC, 0x86, baud, 0xA7, 0x2B, 0x20, 0xFE});
        b.pc.send(Bytes{'x'});
        b.clock.advance(std::chrono::milliseconds(100));
        ASSERT_FALSE(b.pc.rx.empty());
        EXPECT_EQ(b.pc.rx.front().byte, 0x00);
        EXPECT_EQ(b.pc.rx.front().framingError, change);
    }
}

}  // namespace
}  // namespace kestro::sim
