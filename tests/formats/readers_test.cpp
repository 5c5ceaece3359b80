// SPDX-License-Identifier: GPL-3.0-or-later
// The readers of the files users bring, and the S1 records made of what they read: files
// written by hand, by the HC11 toolchain, and damaged ones.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <numeric>

#include "elf_image.h"
#include "intel_hex.h"
#include "memory_image.h"
#include "operations.h"
#include "scratch.h"
#include "srecord.h"
#include "srecords.h"

namespace kestro::formats {
namespace {

using testing::slurp;
using testing::srecords;

// One Intel HEX record with its count and checksum as a tool writes them.
std::string hexRecord(unsigned type, unsigned offset, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body{
        static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
        static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(type)};
    body.insert(body.end(), data.begin(), data.end());
    body.push_back(static_cast<std::uint8_t>(-std::accumulate(body.begin(), body.end(), 0u)));
    std::string line = ":";
    char digits[3];
    for (std::uint8_t b : body) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        line += digits;
    }
    return line + "\n";
}

const std::string kEnd = ":00000001FF\n";

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// What S-record text puts where.
std::map<unsigned, std::uint8_t> memoryOf(std::string_view text) {
    std::map<unsigned, std::uint8_t> memory;
    for (std::size_t at = 0; (at = text.find("S1", at)) != std::string_view::npos; at += 2) {
        auto byte = [&](std::size_t i) {
            return static_cast<unsigned>(
                std::stoul(std::string(text.substr(at + 2 + 2 * i, 2)), nullptr, 16));
        };
        const unsigned address = byte(1) << 8 | byte(2);
        for (unsigned i = 0; i + 3 < byte(0); ++i)
            memory[address + i] = static_cast<std::uint8_t>(byte(3 + i));
    }
    return memory;
}

TEST(IntelHex, ReadsTheRecordsAnHc11CanTakeAndRefusesTheRest) {
    struct Case {
        const char* what;
        std::string text;
        Result<Image> expected;
    };
    const std::vector<std::uint8_t> abc{0xA, 0xB, 0xC};
    const Case cases[] = {
        {"data and an end", hexRecord(0, 0xB600, abc) + kEnd, Image{{0xB600, abc}}},
        {"CR LF, lower case, blank lines and a DOS end mark",
         "\r\n" + lower(hexRecord(0, 0xB600, abc)) + "\r\n" + kEnd.substr(0, 11) + "\r\n\x1A",
         Image{{0xB600, abc}}},
        // As a Windows editor saves it, and as the old Macintosh ended lines.
        {"a byte order mark, indented lines ended by lone CRs",
         "\xEF\xBB\xBF  " + hexRecord(0, 0xB600, abc).substr(0, 19) + "\r\t" + kEnd.substr(0, 11) +
             "\r",
         Image{{0xB600, abc}}},
        {"a segment address moves what follows",
         hexRecord(2, 0, {0x01, 0x00}) + hexRecord(0, 0x0010, abc) + kEnd, Image{{0x1010, abc}}},
        // Whichever of the two address records came last sets the base.
        {"an upper address after a segment address",
         hexRecord(2, 0, {0x01, 0x00}) + hexRecord(4, 0, {0, 0}) + hexRecord(0, 0xB600, abc) + kEnd,
         Image{{0xB600, abc}}},
        {"a segment address after an upper address",
         hexRecord(4, 0, {0, 0}) + hexRecord(2, 0, {0x0B, 0x00}) + hexRecord(0, 0x0600, abc) + kEnd,
         Image{{0xB600, abc}}},
        {"upper address 0, start addresses of both kinds",
         hexRecord(4, 0, {0, 0}) + hexRecord(3, 0, {0, 0, 0xB6, 0}) + hexRecord(0, 0xFFFD, abc) +
             hexRecord(5, 0, {0, 0, 0xB6, 0}) + kEnd,
         Image{{0xFFFD, abc}}},
        {"an upper address other than 0", hexRecord(4, 0, {0, 1}) + kEnd,
         Problem{1, "an extended linear address of $10000, beyond the HC11's 64 KB"}},
        {"data past $FFFF", hexRecord(0, 0xFFFE, abc) + kEnd,
         Problem{1, "data at $10000, beyond the HC11's 64 KB"}},
        {"a segment beyond 64 KB", hexRecord(2, 0, {0x10, 0x00}) + hexRecord(0, 0, abc) + kEnd,
         Problem{2, "data at $10000, beyond the HC11's 64 KB"}},
        {"a wrong checksum", hexRecord(0, 0xB600, abc) + ":03B600000A0B0C6B\n" + kEnd,
         Problem{2, "wrong checksum"}},
        {"a wrong count", ":04B600000A0B0C69\n" + kEnd,
         Problem{1, "the byte count says 4 but the record holds 3"}},
        {"a type no HC11 tool writes", hexRecord(6, 0, {}) + kEnd,
         Problem{1, "unknown record type 06"}},
        {"a damaged end", ":00000101FE\n", Problem{1, "a damaged end-of-file record"}},
        {"cut short", hexRecord(0, 0xB600, abc),
         Problem{0, "it has no end-of-file record (type 01), so it may be cut short"}},
        {"two files joined", hexRecord(0, 0xB600, abc) + kEnd + hexRecord(0, 0xB700, abc) + kEnd,
         Problem{3,
                 "a record after the end-of-file record of line 2, as when two files are "
                 "joined; delete every end-of-file record but the last, or send the files "
                 "one by one"}},
        {"a letter", ":03B600000A0B0G6A\n",
         Problem{1, "a character that is not a hexadecimal digit"}},
        {"a digit lost", ":03B600000A0B0C6\n", Problem{1, "odd number of hexadecimal digits"}},
        {"a line that is no record", hexRecord(0, 0xB600, abc) + "S9030000FC\n",
         Problem{2, "not an Intel HEX record"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(readIntelHex(c.text), c.expected);
    }
}

// What S-record text puts where, whatever the width of its addresses or the case it is written
// in, or why it is refused.
TEST(SRecords, ReadsTheRecordsAnHc11CanTakeAndRefusesTheRest) {
    const std::vector<std::uint8_t> two{0x86, 0x01};
    const std::string b600 = "S105B6008601BD\n";
    struct Case {
        const char* what;
        std::string text;
        Result<Image> expected;
    };
    const Case cases[] = {
        {"header, data, count and end",
         "S00600004844521B\r\n" + b600 + "S5030001FB\r\nS9030000FC\r\n", Image{{0xB600, two}}},
        {"blank lines and blanks at line ends, no end record", "\n" + b600.substr(0, 14) + "  \n\n",
         Image{{0xB600, two}}},
        {"lower case", lower(b600 + "S9030000FC\n"), Image{{0xB600, two}}},
        {"a byte order mark, indented lines ended by lone CRs",
         "\xEF\xBB\xBF S00600004844521B\r\t" + b600.substr(0, 14) + "\rS9030000FC",
         Image{{0xB600, two}}},
        {"a line counted at each lone CR", "\r\r" + b600.substr(0, 14) + "\rS105B6008601BE\r",
         Problem{4, "wrong checksum"}},
        {"S2 and S3 records within 64 KB, an S8 end",
         "S20600B6008601BC\nS3070000B6028601B9\nS804000000FB\n",
         Image{{0xB600, two}, {0xB602, two}}},
        {"an S7 end", b600 + "S70500000000FA\n", Image{{0xB600, two}}},
        {"an S2 record past 64 KB", "S2050100008673\n",
         Problem{1, "data at $10000, beyond the HC11's 64 KB"}},
        {"an S3 record across $FFFF", "S3070000FFFF860173\n",
         Problem{1, "data at $10000, beyond the HC11's 64 KB"}},
        {"an S1 record across $FFFF", "S105FFFF860175\n",
         Problem{1, "data at $10000, beyond the HC11's 64 KB"}},
        {"two files joined", srecords(0xB600, two) + srecords(0xB700, two),
         Problem{4,
                 "a record after the end record of line 3, as when two files are joined; "
                 "delete every end record but the last, or send the files one by one"}},
        {"no data", "S00600004844521B\nS9030000FC\n", Problem{0, "it holds no data record"}},
        {"nothing", "", Problem{0, "it holds no data record"}},
        {"a wrong checksum", "S105B6008601BE\n", Problem{1, "wrong checksum"}},
        {"a wrong count", "S106B6008601BD\n",
         Problem{1, "the byte count says 6 but the record holds 5"}},
        {"an ELF file", "\177ELF\002\001", Problem{1, "not an S-record"}},
        {"a digit lost", "S105B6008601B\n", Problem{1, "odd number of hexadecimal digits"}},
        {"a letter", "S105B6008G01BD\n", Problem{1, "a character that is not a hexadecimal digit"}},
        {"a type no tool writes", "S4030000FC\n", Problem{1, "unknown record type S4"}},
        {"too short", "S10200FD\n", Problem{1, "too short for its address"}},
        // The DOS end-of-file mark that some tools still write: one, at the very end.
        {"a DOS end mark", b600 + "S9030000FC\x1A", Image{{0xB600, two}}},
        {"two DOS end marks", b600 + "\x1A\x1A", Problem{2, "not an S-record"}},
        {"a DOS end mark inside", b600 + "\x1A\nS9030000FC\n", Problem{2, "not an S-record"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(readSRecords(c.text), c.expected);
    }
}

// Every kind goes to the talkers as the S1 records of what was read, so that a talker, which
// takes upper-case S1 records up to the first end, gets every byte; a byte given twice is
// refused, as it is for the other kinds.
TEST(SRecords, GoOutAsS1RecordsOfWhatWasRead) {
    const std::string b600four =
        testing::srecord('1', 0xB600, Bytes{0x86, 0x01, 0x86, 0x01}) + "\r\nS9030000FC\r\n";
    EXPECT_EQ(ops::recordsToSend("EepromProgram", "f", "S20600B6008601BC\nS3070000B6028601B9\n"),
              b600four);
    EXPECT_EQ(ops::recordsToSend("EepromProgram", "f", lower(b600four)), b600four);
    EXPECT_EQ(
        ops::recordsToSend("EepromProgram", "f",
                           "\xEF\xBB\xBF" + hexRecord(0, 0xB600, {0x86, 0x01, 0x86, 0x01}) + kEnd),
        b600four);
    try {
        ops::recordsToSend("EepromProgram", "f", "S105B6008601BD\nS104B60155EF\n");
        ADD_FAILURE() << "a byte given twice was taken";
    } catch (const LinkError& e) {
        EXPECT_EQ(e.detail, "It gives the byte at $B601 twice.");
    }
}

// 16 data bytes a record in address order, whatever order the file had; blocks that meet share
// records, blocks apart do not.
TEST(S1Records, InAddressOrderSixteenBytesARecordWithinTheHc11sSpace) {
    std::vector<std::uint8_t> data(40);
    std::iota(data.begin(), data.end(), std::uint8_t{1});
    const std::vector<std::uint8_t> first(data.begin(), data.begin() + 20);
    const std::vector<std::uint8_t> second(data.begin() + 20, data.end());
    const auto line = [](unsigned address, const std::vector<std::uint8_t>& d, std::size_t from,
                         std::size_t n) {
        return testing::srecord('1', address, ByteView(d).subspan(from, n)) + "\r\n";
    };
    EXPECT_EQ(s1Records({{0xB614, second}, {0x0100, {0xEE}}, {0xB600, first}}),
              (Result<std::string>{line(0x0100, {0xEE}, 0, 1) + line(0xB600, data, 0, 16) +
                                   line(0xB610, data, 16, 16) + line(0xB620, data, 32, 8) +
                                   "S9030000FC\r\n"}));
    EXPECT_EQ(s1Records({{0xFFF0, first}}),
              (Result<std::string>{Problem{0, "it has data at $10000, beyond the HC11's 64 KB"}}));
    EXPECT_EQ(s1Records({{0xB600, first}, {0xB613, {1}}}),
              (Result<std::string>{Problem{0, "it gives the byte at $B613 twice"}}));
    EXPECT_EQ(s1Records({{0xB600, {}}}), (Result<std::string>{Problem{0, "it holds no data"}}));
}

#ifdef KESTRO_USER_PROGRAMS
const std::filesystem::path kPrograms = KESTRO_USER_PROGRAMS;

std::string recordsOf(const Result<Image>& read) {
    const Image* image = std::get_if<Image>(&read);
    if (!image)
        return "problem: " + std::get<Problem>(read).what;
    const auto records = s1Records(*image);
    return std::holds_alternative<std::string>(records)
               ? std::get<std::string>(records)
               : "problem: " + std::get<Problem>(records).what;
}

// The linker's file and objcopy's Intel HEX carry exactly what objcopy's S-records carry: the
// sections at their load addresses (the data stored after the table, not at $2000 where it
// runs), without the ELF headers and filler the first segment also covers, and without the
// zeroed memory.
TEST(ToolchainFiles, ElfAndIntelHexCarryWhatObjcopysSRecordsCarry) {
    const auto expected = memoryOf(slurp(kPrograms / "user_program.s19"));
    ASSERT_EQ(expected.size(), 0x17u + 0x27u + 4u);
    ASSERT_EQ(expected.begin()->first, 0xB600u);
    ASSERT_EQ(expected.rbegin()->first, 0xB783u);
    const std::string elf = recordsOf(readElf(slurp(kPrograms / "user_program.elf")));
    const std::string hex = recordsOf(readIntelHex(slurp(kPrograms / "user_program.hex")));
    EXPECT_EQ(memoryOf(elf), expected) << elf;
    EXPECT_EQ(memoryOf(hex), expected) << hex;
    EXPECT_EQ(elf, hex);
    // Told apart by their content, whatever their names.
    EXPECT_EQ(kindOf(slurp(kPrograms / "user_program.elf")), Kind::Elf);
    EXPECT_EQ(kindOf(slurp(kPrograms / "user_program.hex")), Kind::IntelHex);
    EXPECT_EQ(kindOf(slurp(kPrograms / "user_program.s19")), Kind::SRecord);
    EXPECT_EQ(ops::recordsToSend("EepromProgram", "p", slurp(kPrograms / "user_program.elf")), elf);
}

// Big-endian fields of the linker's file, as the tests spoil them.
void put(std::string& file, std::size_t at, std::size_t size, std::uint32_t value) {
    for (std::size_t i = 0; i < size; ++i)
        file[at + i] = static_cast<char>(value >> (8 * (size - 1 - i)));
}

TEST(ToolchainFiles, AnElfFileThatCannotGoIsRefusedWithTheReason) {
    const std::string elf = slurp(kPrograms / "user_program.elf");
    ASSERT_GT(elf.size(), 0x1100u);
    constexpr std::size_t kMachine = 18, kSectionCount = 48, kSecondSegment = 52 + 32;
    struct Case {
        const char* what;
        std::string file;
        std::string problem;  // the start of what the reader says
    };
    constexpr std::size_t kSectionTable = 32;
    std::string otherMachine = elf, beyond = elf, noSections = elf,
                cutNoTable = elf.substr(0, 0x1002);
    put(otherMachine, kMachine, 2, 62);
    put(cutNoTable, kSectionTable, 4, 0);
    put(beyond, kSecondSegment + 12, 4, 0x1B780);  // its physical address
    put(noSections, kSectionCount, 2, 0);
    const Case cases[] = {
        {"cut in its header", elf.substr(0, 40), "it is a damaged ELF file"},
        {"without a section table, cut before its data", cutNoTable,
         "it is a damaged ELF file: a loadable segment lies past the end of the file"},
        {"cut in its section table", elf.substr(0, elf.size() - 20),
         "it is a damaged ELF file: its section table lies past the end of the file"},
        {"for another processor", otherMachine, "not an HC11 ELF file: x86-64"},
        {"the PC's own program", slurp("/proc/self/exe"), "not an HC11 ELF file: "},
        {"an object file", slurp(kPrograms / "user_program.o"),
         "it is an object file that was not linked"},
        {"loaded past 64 KB", beyond, "it has data at $1B780, beyond the HC11's 64 KB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto read = readElf(c.file);
        ASSERT_TRUE(std::holds_alternative<Problem>(read));
        EXPECT_EQ(std::get<Problem>(read).what.substr(0, c.problem.size()), c.problem)
            << std::get<Problem>(read).what;
    }
    // Without a section table the segments load whole, but for the file's own headers, which
    // the first segment covers and which are no part of the program.
    const auto memory = memoryOf(recordsOf(readElf(noSections)));
    ASSERT_FALSE(memory.empty());
    constexpr std::size_t kSegmentCount = 44;
    const unsigned headers = 52 + 32 * (static_cast<unsigned char>(elf[kSegmentCount]) << 8 |
                                        static_cast<unsigned char>(elf[kSegmentCount + 1]));
    EXPECT_EQ(memory.begin()->first, 0xB000u + headers);
    EXPECT_EQ(memory.count(0xB000), 0u);
    for (const auto& [address, byte] : memoryOf(slurp(kPrograms / "user_program.s19")))
        EXPECT_EQ(memory.at(address), byte) << hexAddress(address);
}

// Files that other linkers or linker scripts make, read as objcopy reads them: a section left
// out of every segment (the linker only warns) at its own address, not one of its bytes lost;
// segments whose physical addresses are all 0 at their virtual ones, not at $0000.
TEST(ToolchainFiles, OddlyLinkedFilesLoadWhereObjcopyPutsThem) {
    const std::string elf = slurp(kPrograms / "user_program.elf");
    const auto linked = memoryOf(slurp(kPrograms / "user_program.s19"));
    constexpr std::size_t kSegment = 52, kSize = 32, kPhysical = 12, kFileBytes = 16;
    std::string unplaced = elf, noPhysical = elf;
    put(unplaced, kSegment + kFileBytes, 4, 0x617);  // the first ends with .text, before .rodata
    put(unplaced, kSegment + kFileBytes + 4, 4, 0x617);
    put(noPhysical, kSegment + kPhysical, 4, 0);
    put(noPhysical, kSegment + kSize + kPhysical, 4, 0);
    auto dataWhereItRuns = linked;
    for (unsigned i = 0; i < 4; ++i)
        dataWhereItRuns[0x2000 + i] = dataWhereItRuns.extract(0xB780 + i).mapped();
    struct Case {
        const char* what;
        const std::string& file;
        const std::map<unsigned, std::uint8_t>& expected;
    } const cases[] = {
        {"a section outside every segment", unplaced, linked},
        {"no physical addresses", noPhysical, dataWhereItRuns},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(memoryOf(recordsOf(readElf(c.file))), c.expected);
    }
}
#endif

}  // namespace
}  // namespace kestro::formats
