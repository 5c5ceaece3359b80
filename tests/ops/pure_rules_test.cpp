// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "register_bytes.h"
#include "srecord_check.h"
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

// Each file with the line and the reason it is refused for; no reason: accepted.
TEST(SRecordCheck, AcceptsSixteenBitRecordFilesOnly) {
    const std::tuple<std::string, int, std::string> cases[] = {
        {"S00600004844521B\r\nS1130000000102030405060708090A0B0C0D0E0F74\r\nS5030001FB\r\n", 0, ""},
        {"S1050000860173\nS9030000FC\n", 0, ""},
        {"\nS1050000860173  \n\n", 0, ""},
        {"S1050000a60153\n", 0, ""},
        {"S00600004844521B\nS9030000FC\n", 0, "it holds no S1 data record"},
        {"", 0, "it holds no S1 data record"},
        {"S1050000860175\n", 1, "wrong checksum"},
        {"S1060000860174\n", 1, "the byte count says 6 but the record holds 5"},
        {"S1050000860173\nS206000000860173\n", 2,
         "an S2 record has a 24-bit address, beyond the HC11's 64 KB"},
        {"S30700000000860172\n", 1, "an S3 record has a 32-bit address, beyond the HC11's 64 KB"},
        {"\177ELF\002\001", 1, "not an S-record"},
        {"S105000086017\n", 1, "odd number of hexadecimal digits"},
        {"S10500008G0174\n", 1, "a character that is not a hexadecimal digit"},
        {"S4030000FC\n", 1, "unknown record type S4"},
        {"S10200FD\n", 1, "too short for its address"},
        // The DOS end-of-file mark that some tools still write: one, at the very end.
        {"S1050000860173\r\nS9030000FC\r\n\x1A", 0, ""},
        {"S1050000860173\nS9030000FC\x1A", 0, ""},
        {"S1050000860173\n\x1A\x1A", 2, "not an S-record"},
        {"S1050000860173\n\x1A\nS9030000FC\n", 2, "not an S-record"},
    };
    for (const auto& [content, line, what] : cases) {
        const auto got = checkSRecordFile(content);
        EXPECT_EQ(got ? std::pair(got->line, got->what) : std::pair(0, std::string()),
                  std::pair(line, what))
            << content;
    }
}

}  // namespace
}  // namespace kestro::ops
