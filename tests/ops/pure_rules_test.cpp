// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "register_bytes.h"
#include "start_address.h"

namespace kestro::ops {
namespace {

TEST(ConfigByte, LocationBitsAndTheFourBoxes) {
    const std::tuple<const char*, std::array<int, 4>, int> cases[] = {
        {"$F800-$FFFF", {0, 0, 0, 0}, 0xF0},
        {"$0800-$0FFF", {1, 1, 1, 1}, 0x0F},
        {"$B800-$BFFF", {1, 0, 1, 0}, 0xB5},
        {"$b800-$bfff", {0, 0, 0, 0}, 0x00},   // case matters
        {" $B800-$BFFF", {0, 0, 0, 0}, 0x00},  // so do spaces
        {"1234", {0, 0, 0, 1}, 0x08},
        {"$F800-$FFFF", {2, 2, 2, 2}, 0xF0},  // a greyed box adds nothing
        {"$8800-$8FFF", {0, 1, 0, 0}, 0x82},
    };
    for (const auto& [location, boxes, byte] : cases)
        EXPECT_EQ(configByte(location, boxes), byte) << location;
}

TEST(SfrByte, TwoSeparateHalvingsToEvenOverTheWholeBar) {
    // The first bar position of each byte from $80 to $90; the bar ends at 64.
    const int firsts[] = {0, 3, 6, 11, 14, 19, 22, 27, 30, 35, 38, 43, 46, 51, 54, 59, 62, 65};
    for (int k = 0; k < 17; ++k)
        for (int p = firsts[k]; p < firsts[k + 1]; ++p)
            EXPECT_EQ(sfrByte(p), 0x80 + k) << p;
}

TEST(EemByte, BlockIndexPlusWiringOptions) {
    const std::tuple<const char*, bool, bool, int> cases[] = {
        {"$E000-$FFFF", false, false, 0x07}, {"$2000-$3FFF", true, true, 0x29},
        {"$0000-$1FFF", false, true, 0x08},  {"$8000-$9FFF", true, false, 0x24},
        {"1234", false, false, 0x00},        {"$e000-$ffff", true, false, 0x20},
    };
    for (const auto& [map, lam, res, byte] : cases)
        EXPECT_EQ(eemByte(map, lam, res), byte) << map;
}

// One to four hex digits and nothing else: the talker reads the text as sent, so a letter O
// typed for a 0 or an "@" must not run the program somewhere else.
TEST(StartAddress, OnlyOneToFourHexDigitsForOneToFfffRun) {
    const std::pair<const char*, std::uint16_t> runs[] = {
        {"2000", 0x2000}, {"ffff", 0xFFFF}, {"FFFF", 0xFFFF}, {"1", 0x0001}, {"0200", 0x0200}};
    for (const auto& [text, address] : runs)
        EXPECT_EQ(readStartAddress(text), address) << text;
    for (const char* text : {"2O00", "2@00", "2000 ", " 2 0\t00", "12G4", "10000", "0", "0000", "",
                             "XYZ", "123456789ABCDEF"})
        EXPECT_EQ(readStartAddress(text), std::nullopt) << text;
}

}  // namespace
}  // namespace kestro::ops
