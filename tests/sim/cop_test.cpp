// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "board_bench.h"
#include "talker_loader.h"

namespace kestro::sim {
namespace {

using namespace std::chrono_literals;

#ifdef KESTRO_TEST_PROGRAMS
Bytes copProgram() {
    std::string reason;
    const auto text =
        readFile(std::filesystem::path(KESTRO_TEST_PROGRAMS) / "cop_reset.s19", &reason);
    EXPECT_TRUE(text) << reason;
    Bytes image = text ? talkerImage(*text) : Bytes{};
    image.resize(256, 0x00);
    return image;
}

// Fed every 7 ms the COP leaves the program alone; once it stops feeding, the COP resets the
// chip between one and two of its 16.4 ms periods after the last service, and the chip comes
// back in bootstrap mode through the COP vector. With NOCOP set (as a part leaves the factory)
// nothing resets it.
TEST(CopOnBoard, ResetsAProgramThatStopsFeedingIt) {
    for (const bool nocop : {false, true}) {
        for (const Chip chip : {Chip::A8, Chip::E9, Chip::E9_711, Chip::E2_811}) {
            SCOPED_TRACE(std::string(variant(chip).name) + (nocop ? " NOCOP" : ""));
            testing::BoardBench b(chip, 7812);
            // The factory CONFIG has NOCOP set: the COP is off until a program clears it.
            const std::uint8_t cell = b.board.eeprom().configCell();
            b.board.eeprom().setConfigCell(static_cast<std::uint8_t>(
                nocop ? (cell | config::NOCOP) : (cell & ~config::NOCOP)));
            b.bootAndRun(copProgram());
            b.clock.advance(60ms);
            b.board.catchUp();
            EXPECT_EQ(b.board.copResets(), 0) << "not while it is fed";
            b.clock.advance(90ms);
            b.board.catchUp();
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
    Bytes image{0x20, 0xFE};  // BRA *
    image.resize(256, 0x00);
    b.bootAndRun(image);
    b.clock.advance(1500ms);
    b.board.catchUp();
    EXPECT_EQ(b.board.copResets(), 0);
    EXPECT_EQ(b.board.cpu().regs.pc, 0x0000);
}

// The timeout in the normal modes: CR1:CR0 = 00 gives 2^15 E cycles from the last service at
// the least, one more period at the most.
TEST(Cop, TimesOutWithinOneClockOfItsPeriod) {
    // LDX #$1000; LDAA #$55; STAA COPRST,X; LDAA #$AA; STAA COPRST,X; LDAA #$05;
    // STAA HPRIO,X; BRA * (the service comes first: the COP has counted since reset).
    Bytes image{0xCE, 0x10, 0x00, 0x86, 0x55, 0xA7, 0x3A, 0x86, 0xAA,
                0xA7, 0x3A, 0x86, 0x05, 0xA7, 0x3C, 0x20, 0xFE};
    image.resize(256, 0x00);
    testing::BoardBench b(Chip::E9, 7812);
    b.board.eeprom().setConfigCell(
        static_cast<std::uint8_t>(b.board.eeprom().configCell() & ~config::NOCOP));
    b.bootAndRun(image);
    const std::uint64_t start = b.board.cycle();
    // The service came a little before `start`, at most one run slice.
    b.clock.advance(std::chrono::nanoseconds((32768 - 2000) * 500));
    b.board.catchUp();
    EXPECT_EQ(b.board.copResets(), 0) << "not before a whole period";
    b.clock.advance(std::chrono::nanoseconds((32768 + 2000) * 500));
    b.board.catchUp();
    EXPECT_EQ(b.board.copResets(), 1);
    EXPECT_GE(b.board.cycle() - start, 32768u);
}

}  // namespace
}  // namespace kestro::sim
