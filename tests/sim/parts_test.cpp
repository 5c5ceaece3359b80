// SPDX-License-Identifier: GPL-3.0-or-later
// Every part's memory map as its row gives it, seen by a program in the chip: where RAM ends,
// where the EEPROM and the ROM or EPROM answer, how large the register block is. A board that
// put a memory where the part has none would let a talker pass there that fails on silicon.
#include <gtest/gtest.h>

#include "board_bench.h"

namespace kestro::sim {
namespace {

using testing::BoardBench;

struct PartMap {
    Chip chip;
    std::uint16_t ramEnd;                 // last RAM address
    std::optional<std::uint16_t> eeprom;  // where the EEPROM answers with CONFIG as shipped
    std::vector<std::uint16_t> rom;       // addresses in ROM or EPROM (CONFIG as shipped)
    std::vector<std::uint16_t> nothing;   // addresses where no memory answers
    bool wideRegisters;                   // $1040-$105F are registers (the F1's 96 bytes)
};

const PartMap kMaps[] = {
    {Chip::A0, 0x00FF, std::nullopt, {}, {0xB600, 0xE000, 0x0100}, false},
    {Chip::A1, 0x00FF, 0xB600, {}, {0xE000, 0xFFBF}, false},
    {Chip::A8, 0x00FF, 0xB600, {0xE000, 0xFFFF}, {0xD000, 0x0100}, false},
    {Chip::E0, 0x01FF, std::nullopt, {}, {0xB600, 0xD000}, false},
    {Chip::E1, 0x01FF, 0xB600, {}, {0xD000}, false},
    {Chip::E9, 0x01FF, 0xB600, {0xD000, 0xFFFF}, {0x0200, 0x9000}, false},
    {Chip::E20, 0x02FF, 0xB600, {0x9000, 0xAFFF, 0xD000, 0xFFFF}, {0x0300, 0xB000, 0xC000}, false},
    {Chip::E9_711, 0x01FF, 0xB600, {0xD000}, {0x9000}, false},
    {Chip::E20_711, 0x02FF, 0xB600, {0x9000, 0xD000}, {0x0300, 0xB800}, false},
    {Chip::E2_811, 0x00FF, 0xF800, {}, {0xB600, 0xD000}, false},
    {Chip::F1, 0x03FF, 0xFE00, {}, {0x0400, 0xB600, 0xF800, 0xFDFF}, true},
};

TEST(Parts, EachPartsMapIsItsRowsMap) {
    ASSERT_EQ(std::size(kMaps), variants().size()) << "a part without its map here";
    for (const PartMap& m : kMaps) {
        const Variant& v = variant(m.chip);
        SCOPED_TRACE(v.name);
        BoardBench b(m.chip, 7812);
        b.reset();
        Board& board = b.board;
        // RAM: the last byte keeps what is written, the next one is not RAM.
        b.board.ram()[m.ramEnd] = 0x5A;
        EXPECT_EQ(board.peek(m.ramEnd), 0x5A);
        EXPECT_EQ(board.ram().size(), m.ramEnd + 1u);
        if (m.eeprom) {
            board.eeprom().array()[0] = 0x3C;
            EXPECT_EQ(board.eepromBase(), *m.eeprom);
            EXPECT_EQ(board.peek(*m.eeprom), 0x3C) << "no EEPROM at its place";
        }
        for (std::uint16_t a : m.rom)
            EXPECT_EQ(board.peek(a), 0xFF) << std::hex << a << ": no erased ROM or EPROM";
        for (std::uint16_t a : m.nothing)
            EXPECT_NE(board.peek(a), 0xFF) << std::hex << a << ": reads as memory";
        // Offset $50 is in the F1's register block; on the others nothing answers there.
        EXPECT_EQ(board.peek(0x1050) == floatingBus(0x1050), !m.wideRegisters);
    }
}

}  // namespace
}  // namespace kestro::sim
