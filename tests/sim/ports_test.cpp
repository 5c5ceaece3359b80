// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>

#include "board_bench.h"
#include "kestro/sim/board/ports.h"

namespace kestro::sim {
namespace {

using namespace ports;

struct Write {
    std::uint8_t offset;
    std::uint8_t value;
};

struct Drive {
    char port;
    int bit;
    bool level;
};

struct ReadCase {
    const char* name;
    PortFunctions functions;
    std::vector<Write> writes;
    std::vector<Drive> drives;
    std::uint8_t offset;
    std::uint8_t expected;
};

constexpr PortFunctions kSingleChip{};
constexpr PortFunctions kSci{false, true, true, true};
constexpr PortFunctions kSciBreak{false, true, true, false};
constexpr PortFunctions kExpanded{true, false, false, true};

// What each port register reads: outputs their latch, inputs their pin, undriven inputs high.
TEST(Ports, RegistersReadLatchesForOutputsAndPinsForInputs) {
    // clang-format off
    const ReadCase cases[] = {
        {"PORTB reads its latch", kSingleChip, {{PORTB, 0xA5}}, {}, PORTB, 0xA5},
        {"PORTC inputs read the pull-ups", kSingleChip, {{PORTC, 0x00}}, {}, PORTC, 0xFF},
        {"PORTC mixes latch and pins under DDRC", kSingleChip, {{DDRC, 0x0F}, {PORTC, 0x50}},
         {{'C', 7, false}}, PORTC, 0x70},
        {"DDRC reads back", kSingleChip, {{DDRC, 0x3C}}, {}, DDRC, 0x3C},
        {"PORTD has six pins", kSingleChip, {{DDRD, 0xFF}, {PORTD, 0xFF}}, {}, PORTD, 0x3F},
        {"DDRD has six bits", kSingleChip, {{DDRD, 0xFF}}, {}, DDRD, 0x3F},
        {"PORTD input driven low", kSingleChip, {}, {{'D', 4, false}}, PORTD, 0x2F},
        {"PD1 as TxD reads the idle line, DDRD1 clear", kSci, {{PORTD, 0x00}}, {}, PORTD, 0x3F},
        {"PD1 as TxD reads a held break", kSciBreak, {}, {}, PORTD, 0x3D},
        {"PD1 as TxD reads the latch where DDRD1 is set", kSci, {{DDRD, 0x02}, {PORTD, 0x00}}, {},
         PORTD, 0x3D},
        {"PORTE reads its pins", kSingleChip, {}, {{'E', 0, false}, {'E', 6, false}}, PORTE, 0xBE},
        {"PORTE cannot be written", kSingleChip, {{PORTE, 0x00}}, {}, PORTE, 0xFF},
        {"PORTB keeps its latch when expanded", kExpanded, {{PORTB, 0x12}}, {}, PORTB, 0x12},
    };
    // clang-format on
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        Ports p;
        p.reset();
        for (const Write& w : c.writes)
            p.write(w.offset, w.value);
        for (const Drive& d : c.drives)
            ASSERT_TRUE(p.setInput(d.port, d.bit, d.level, c.functions));
        EXPECT_EQ(p.read(c.offset, c.functions), c.expected);
    }
}

struct DirectionCase {
    const char* name;
    PortFunctions functions;
    std::vector<Write> writes;
    char port;
    std::uint8_t outputs;
    std::uint8_t bus;
    std::uint8_t refused;  // pins setInput must refuse
};

// Which pins the chip drives, which carry the bus, and which a front end may drive.
TEST(Ports, ModesAndTheSciTakeTheirPins) {
    const DirectionCase cases[] = {
        {"port B is output only", kSingleChip, {}, 'B', 0xFF, 0x00, 0xFF},
        {"port B is the high address byte", kExpanded, {}, 'B', 0xFF, 0xFF, 0xFF},
        {"port C follows DDRC", kSingleChip, {{DDRC, 0xC3}}, 'C', 0xC3, 0x00, 0xC3},
        {"port C is the multiplexed bus", kExpanded, {{DDRC, 0x00}}, 'C', 0xFF, 0xFF, 0xFF},
        {"port D follows DDRD without the SCI", kSingleChip, {{DDRD, 0x03}}, 'D', 0x03, 0x00, 0xC3},
        {"the SCI takes TxD and RxD", kSci, {{DDRD, 0x01}}, 'D', 0x02, 0x00, 0xC3},
        {"port E is input only", kSingleChip, {}, 'E', 0x00, 0x00, 0x00},
    };
    for (const DirectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Ports p;
        p.reset();
        for (const Write& w : c.writes)
            p.write(w.offset, w.value);
        EXPECT_EQ(p.outputs(c.port, c.functions), c.outputs);
        EXPECT_EQ(p.busPins(c.port, c.functions), c.bus);
        for (int bit = 0; bit < 8; ++bit) {
            SCOPED_TRACE(bit);
            EXPECT_EQ(p.setInput(c.port, bit, false, c.functions), !((c.refused >> bit) & 1));
        }
    }
}

// A reset makes every bidirectional pin an input again; what drives a pin from outside stays.
TEST(Ports, ResetMakesInputsAndKeepsWhatDrivesThem) {
    Ports p;
    p.reset();
    p.write(DDRC, 0xFF);
    p.write(DDRD, 0x3F);
    p.write(PORTB, 0xFF);
    ASSERT_TRUE(p.setInput('E', 2, false, kSingleChip));
    p.reset();
    EXPECT_EQ(p.read(DDRC, kSingleChip), 0x00);
    EXPECT_EQ(p.read(DDRD, kSingleChip), 0x00);
    EXPECT_EQ(p.read(PORTB, kSingleChip), 0x00);
    EXPECT_EQ(p.read(PORTE, kSingleChip), 0xFB);
}

// On the board: a program sets the ports up, the pin list shows them, and a pin driven from
// outside reads in the program's register.
TEST(PortsOnBoard, EveryPinHasANameADirectionAndALevel) {
    // LDX #$1000; LDAA #$0F; STAA 7,X (DDRC); LDAA #$05; STAA 3,X (PORTC);
    // LDAA #$A5; STAA 4,X (PORTB); BRA *
    const Bytes program{0xCE, 0x10, 0x00, 0x86, 0x0F, 0xA7, 0x07, 0x86, 0x05,
                        0xA7, 0x03, 0x86, 0xA5, 0xA7, 0x04, 0x20, 0xFE};
    for (const Chip chip : testing::kEveryPart) {
        SCOPED_TRACE(variant(chip).name);
        testing::BoardBench b(chip, 7812);
        b.bootAndRun(testing::padded(program));
        b.clock.advance(std::chrono::milliseconds(1));
        const auto pins = b.board.pins();
        ASSERT_EQ(pins.size(), 38u);
        auto find = [&](const char* name) {
            for (const PinState& p : pins)
                if (std::strcmp(p.name, name) == 0)
                    return p;
            ADD_FAILURE() << name;
            return PinState{};
        };
        EXPECT_EQ(find("PB0/ADDR8").direction, PinDirection::Output);
        EXPECT_TRUE(find("PB0/ADDR8").level);
        EXPECT_FALSE(find("PB1/ADDR9").level);
        EXPECT_EQ(find("PC2/ADDR2/DATA2").direction, PinDirection::Output);
        EXPECT_TRUE(find("PC2/ADDR2/DATA2").level);
        EXPECT_FALSE(find("PC1/ADDR1/DATA1").level);
        EXPECT_EQ(find("PC4/ADDR4/DATA4").direction, PinDirection::Input);
        EXPECT_TRUE(find("PC4/ADDR4/DATA4").level) << "the pull-up";
        EXPECT_EQ(find("PD1/TxD").direction, PinDirection::Output) << "the boot loader's SCI";
        EXPECT_EQ(find("PD0/RxD").direction, PinDirection::Input);
        EXPECT_EQ(find("PE5/AN5").direction, PinDirection::Input);
        EXPECT_EQ(find("PA6/OC2").direction, PinDirection::Output);
        EXPECT_EQ(find("PA0/IC3").direction, PinDirection::Input);

        EXPECT_TRUE(b.board.setPinInput('E', 5, false));
        EXPECT_TRUE(b.board.setPinInput('C', 4, false));
        EXPECT_TRUE(b.board.setPinInput('A', 1, false));
        EXPECT_FALSE(b.board.setPinInput('C', 0, false)) << "an output";
        EXPECT_FALSE(b.board.setPinInput('A', 6, false)) << "an output";
        EXPECT_FALSE(b.board.setPinInput('D', 0, false)) << "RxD, driven by the line";
        EXPECT_FALSE(b.board.setPinInput('D', 6, false)) << "no such pin";
        EXPECT_EQ(b.board.peek(0x100A), 0xDF);
        EXPECT_EQ(b.board.peek(0x1003), 0xE5);
        EXPECT_EQ(b.board.peek(0x1000) & 0x07, 0x05);
    }
}

}  // namespace
}  // namespace kestro::sim
