// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "board_bench.h"

namespace kestro::sim {
namespace {

using namespace std::chrono_literals;

#ifdef KESTRO_TEST_PROGRAMS
// Fed every 7 ms the COP leaves the program alone; once it stops feeding, the COP resets the
// chip between one and two of its 16.4 ms periods after the last service, and the chip comes
// back in bootstrap mode through the COP vector. With NOCOP set (as a part leaves the factory)
// nothing resets it.
TEST(CopOnBoard, ResetsAProgramThatStopsFeedingIt) {
    for (const bool nocop : {false, true}) {
        for (const Chip chip : testing::kEveryPart) {
            SCOPED_TRACE(std::string(variant(chip).name) + (nocop ? " NOCOP" : ""));
            testing::BoardBench b(chip, 7812);
            // The factory CONFIG has NOCOP set: the COP is off until a program clears it.
            const std::uint8_t cell = b.board.eeprom().configCell();
            b.board.eeprom().setConfigCell(static_cast<std::uint8_t>(
                nocop ? (cell | config::NOCOP) : (cell & ~config::NOCOP)));
            b.bootAndRun(testing::testProgram("cop_reset.s19"));
            b.run(60ms);
            EXPECT_EQ(b.board.copResets(), 0) << "not while it is fed";
            b.run(90ms);
            const auto ram = b.board.ram();
            EXPECT_EQ(ram[0x81], 10) << "every service made";
            EXPECT_EQ(b.board.copResets(), nocop ? 0 : 1);
            EXPECT_EQ(ram[0x80], nocop ? 0 : 1) << "through the COP vector's RAM slot";
            EXPECT_EQ(b.board.hprio() & hprio::SMOD, nocop ? 0 : hprio::SMOD);
        }
    }
}
#endif

// In bootstrap mode the COP never resets the chip: a program that never feeds it runs on.
TEST(Cop, StaysQuietInBootstrapMode) {
    testing::BoardBench b(Chip::E9, 7812);
    b.board.eeprom().setConfigCell(
        static_cast<std::uint8_t>(b.board.eeprom().configCell() & ~config::NOCOP));
    b.bootAndRun(testing::padded({0x20, 0xFE}));  // BRA *
    b.run(1500ms);
    EXPECT_EQ(b.board.copResets(), 0);
    EXPECT_EQ(b.board.cpu().regs.pc, 0x0000);
}

// The timeout in the normal modes: CR1:CR0 = 00 gives 2^15 E cycles from the last service at
// the least, one more period at the most.
TEST(Cop, TimesOutWithinOneClockOfItsPeriod) {
    // LDX #$1000; LDAA #$55; STAA COPRST,X; LDAA #$AA; STAA COPRST,X; LDAA #$05;
    // STAA HPRIO,X; BRA * (the service comes first: the COP has counted since reset).
    const Bytes program{0xCE, 0x10, 0x00, 0x86, 0x55, 0xA7, 0x3A, 0x86, 0xAA,
                        0xA7, 0x3A, 0x86, 0x05, 0xA7, 0x3C, 0x20, 0xFE};
    testing::BoardBench b(Chip::E9, 7812);
    b.board.eeprom().setConfigCell(
        static_cast<std::uint8_t>(b.board.eeprom().configCell() & ~config::NOCOP));
    b.bootAndRun(testing::padded(program));
    const std::uint64_t start = b.board.cycle();
    // The service came a little before `start`, at most one run slice.
    b.run(std::chrono::nanoseconds((32768 - 2000) * 500));
    EXPECT_EQ(b.board.copResets(), 0) << "not before a whole period";
    b.run(std::chrono::nanoseconds((32768 + 2000) * 500));
    EXPECT_EQ(b.board.copResets(), 1);
    EXPECT_GE(b.board.cycle() - start, 32768u);
}

}  // namespace
}  // namespace kestro::sim
