// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "board_bench.h"

namespace kestro::sim {
namespace {

using namespace std::chrono_literals;

#ifdef KESTRO_TEST_PROGRAMS
// The upper-case echo placed at $2000 in the external RAM, and a program in the internal RAM
// that turns the expanded bus on and jumps there, as the RAM download's talker does.
struct EchoBench {
    explicit EchoBench(Chip chip) : b(chip, 7812) {
        const Bytes echo = testing::testProgram("upper_echo.s19", 0x100);
        std::copy(echo.begin(), echo.end(), b.board.devices().ram().begin() + 0x2000);
        // A byte of its own first, as the talker's last answer: LDAA #'T'; STAA $102F; wait
        // for TC (LDAA $102E; BITA #$40; BEQ); then LDAA $103C; ORAA #$20 (MDA);
        // STAA $103C; JMP $2000
        b.bootAndRun(
            testing::padded({0x86, 0x54, 0xB7, 0x10, 0x2F, 0xB6, 0x10, 0x2E, 0x85, 0x40, 0x27, 0xF9,
                             0xB6, 0x10, 0x3C, 0x8A, 0x20, 0xB7, 0x10, 0x3C, 0x7E, 0x20, 0x00}));
        b.pc.tx.setBaud(9600);
        b.line.toPc.setReceiver(9600, [this](Byte v, bool fe) {
            b.pc.rx.push_back({v, fe, b.line.toPc.sampledAt()});
        });
    }
    std::string logged(bool fromBoard) const {
        std::string s;
        for (const SerialEvent& e : b.board.serialLog())
            if (e.fromBoard == fromBoard)
                s += static_cast<char>(e.byte);
        return s;
    }
    testing::BoardBench b;
};

// What the program sends and receives is logged from its first byte on; what the boot loader
// and the program in the internal RAM before it sent is not.
TEST(SerialLog, HoldsTheProgramsTrafficBothWays) {
    for (const Chip chip : testing::kEveryPart) {
        SCOPED_TRACE(variant(chip).name);
        EchoBench e(chip);
        e.b.clock.advance(40ms);
        EXPECT_EQ(e.logged(true), "Hello from the HC11\r\n");
        e.b.pc.send({'a', 'b', 'Z', '1', '{'});
        e.b.clock.advance(20ms);
        EXPECT_EQ(e.logged(false), "abZ1{");
        EXPECT_EQ(e.logged(true), "Hello from the HC11\r\nABZ1{");
        // A reset by the user starts the log afresh.
        e.b.board.resetBootstrap();
        EXPECT_TRUE(e.b.board.serialLog().empty());
    }
}

// However long the program talks, the log keeps only its last bytes.
TEST(SerialLog, KeepsTheLastBytesOnly) {
    EchoBench e(Chip::E9);
    e.b.clock.advance(40ms);
    e.b.pc.send(Bytes(2100, 'q'));
    e.b.clock.advance(2300ms);
    EXPECT_EQ(e.b.board.serialLog().size(), Board::kSerialLogBytes);
    EXPECT_EQ(e.b.board.serialCount(), 21u + 4200u);
    EXPECT_EQ(e.b.board.serialLog().back().byte, 'Q');
}
#endif

}  // namespace
}  // namespace kestro::sim
