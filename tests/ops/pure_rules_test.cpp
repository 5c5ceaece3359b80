#include <gtest/gtest.h>

#include "register_bytes.h"
#include "srecord_check.h"
#include "start_address.h"

namespace kestro::ops {
namespace {

TEST(ConfigByte, LocationBitsAndTheFourBoxes) {
    struct Case {
        const char* location;
        std::array<int, 4> boxes;
        int byte;
    };
    const Case cases[] = {
        {"$F800-$FFFF", {0, 0, 0, 0}, 0xF0},
        {"$0800-$0FFF", {1, 1, 1, 1}, 0x0F},
        {"$B800-$BFFF", {1, 0, 1, 0}, 0xB5},
        {"$b800-$bfff", {0, 0, 0, 0}, 0x00},   // case matters
        {" $B800-$BFFF", {0, 0, 0, 0}, 0x00},  // so do spaces
        {"1234", {0, 0, 0, 1}, 0x08},
        {"$F800-$FFFF", {2, 2, 2, 2}, 0xF0},  // a greyed box adds nothing
        {"$8800-$8FFF", {0, 1, 0, 0}, 0x82},
    };
    for (const Case& c : cases)
        EXPECT_EQ(configByte(c.location, c.boxes), c.byte) << c.location;
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(configByte(configLocationRows()[k], {}), k * 0x10);
}

TEST(SfrByte, TwoSeparateHalvingsToEvenOverTheWholeBar) {
    // Each row: first and last position, byte.
    const int rows[][3] = {{0, 2, 0x80},   {3, 5, 0x81},   {6, 10, 0x82},  {11, 13, 0x83},
                           {14, 18, 0x84}, {19, 21, 0x85}, {22, 26, 0x86}, {27, 29, 0x87},
                           {30, 34, 0x88}, {35, 37, 0x89}, {38, 42, 0x8A}, {43, 45, 0x8B},
                           {46, 50, 0x8C}, {51, 53, 0x8D}, {54, 58, 0x8E}, {59, 61, 0x8F},
                           {62, 64, 0x90}};
    int checked = 0;
    for (const auto& row : rows)
        for (int p = row[0]; p <= row[1]; ++p, ++checked)
            EXPECT_EQ(sfrByte(p), row[2]) << p;
    EXPECT_EQ(checked, 65);
}

TEST(EemByte, BlockIndexPlusWiringOptions) {
    struct Case {
        const char* map;
        bool lam, res;
        int byte;
    };
    const Case cases[] = {
        {"$E000-$FFFF", false, false, 0x07}, {"$2000-$3FFF", true, true, 0x29},
        {"$0000-$1FFF", false, true, 0x08},  {"$8000-$9FFF", true, false, 0x24},
        {"1234", false, false, 0x00},        {"$e000-$ffff", true, false, 0x20},
    };
    for (const Case& c : cases)
        EXPECT_EQ(eemByte(c.map, c.lam, c.res), c.byte) << c.map;
}

TEST(BprByte, OneBitPerProtectedBlock) {
    EXPECT_EQ(bprByte({}), 0x00);
    EXPECT_EQ(bprByte({true, false, false, false, false, false, false, true}), 0x81);
    EXPECT_EQ(bprByte({true, true, true, true, true, true, true, true}), 0xFF);
    EXPECT_EQ(bprByte({false, false, true, false, false, false, false, false}), 0x04);
}

TEST(StartAddress, OnlyOneToFfffRuns) {
    struct Case {
        const char* text;
        std::optional<std::uint16_t> address;
    };
    const Case cases[] = {
        {"2000", 0x2000},
        {"ffff", 0xFFFF},
        {"FFFF", 0xFFFF},
        {"2000 ", 0x2000},
        {" 2 0\t00", 0x2000},
        {"1", 0x0001},
        {"12G4", 0x0012},
        {"10000", std::nullopt},
        {"10001", std::nullopt},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"XYZ", std::nullopt},
        {"123456789ABCDEF", std::nullopt},
        {"0000", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readStartAddress(c.text), c.address) << c.text;
}

TEST(SRecordCheck, AcceptsSixteenBitRecordFilesOnly) {
    struct Case {
        const char* name;
        std::string content;
        std::optional<SRecordProblem> problem;
    };
    const std::string good =
        "S00600004844521B\r\nS1130000000102030405060708090A0B0C0D0E0F74\r\n"
        "S5030001FB\r\nS9030000FC\r\n";
    const Case cases[] = {
        {"CrLf", good, std::nullopt},
        {"Lf", "S1050000860173\nS9030000FC\n", std::nullopt},
        {"BlankLinesAndTrailingBlanks", "\nS1050000860173  \n\n", std::nullopt},
        {"LowerCaseDigits", "S1050000a60153\n", std::nullopt},
        {"NoData", "S00600004844521B\nS9030000FC\n",
         SRecordProblem{0, "it holds no S1 data record"}},
        {"Empty", "", SRecordProblem{0, "it holds no S1 data record"}},
        {"BadChecksum", "S1050000860175\n", SRecordProblem{1, "wrong checksum"}},
        {"BadCount", "S1060000860174\n",
         SRecordProblem{1, "the byte count says 6 but the record holds 5"}},
        {"S2", "S1050000860173\nS206000000860173\n",
         SRecordProblem{2, "an S2 record has a 24-bit address, beyond the HC11's 64 KB"}},
        {"S3", "S30700000000860172\n",
         SRecordProblem{1, "an S3 record has a 32-bit address, beyond the HC11's 64 KB"}},
        {"Binary",
         std::string("\x7f"
                     "ELF\x02\x01",
                     6),
         SRecordProblem{1, "not an S-record"}},
        {"OddDigits", "S105000086017\n", SRecordProblem{1, "odd number of hexadecimal digits"}},
        {"NotHex", "S10500008G0174\n",
         SRecordProblem{1, "a character that is not a hexadecimal digit"}},
        {"UnknownType", "S4030000FC\n", SRecordProblem{1, "unknown record type S4"}},
        // The DOS end-of-file mark that some tools still write: one, at the very end.
        {"CtrlZAtTheEnd", "S1050000860173\r\nS9030000FC\r\n\x1A", std::nullopt},
        {"CtrlZAfterTheLastRecord", "S1050000860173\nS9030000FC\x1A", std::nullopt},
        {"TwoCtrlZ", "S1050000860173\n\x1A\x1A", SRecordProblem{2, "not an S-record"}},
        {"CtrlZInside", "S1050000860173\n\x1A\nS9030000FC\n", SRecordProblem{2, "not an S-record"}},
        {"TooShort", "S10200FD\n", SRecordProblem{1, "too short for its address"}},
    };
    for (const Case& c : cases) {
        const auto got = checkSRecordFile(c.content);
        EXPECT_EQ(got.has_value(), c.problem.has_value()) << c.name;
        if (got && c.problem) {
            EXPECT_EQ(got->line, c.problem->line) << c.name;
            EXPECT_EQ(got->what, c.problem->what) << c.name;
        }
    }
}

}  // namespace
}  // namespace kestro::ops
