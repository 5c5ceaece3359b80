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
#include "srecords.h"

namespace kestro::formats {
namespace {

using testing::slurp;

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
        {"a segment address moves what follows",
         hexRecord(2, 0, {0x01, 0x00}) + hexRecord(0, 0x0010, abc) + kEnd, Image{{0x1010, abc}}},
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
        {"something after the end", kEnd + hexRecord(0, 0xB600, abc),
         Problem{2, "a record after the end-of-file record"}},
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
    std::string otherMachine = elf, beyond = elf, noSections = elf;
    put(otherMachine, kMachine, 2, 53);
    put(beyond, kSecondSegment + 12, 4, 0x1B780);  // its physical address
    put(noSections, kSectionCount, 2, 0);
    const Case cases[] = {
        {"cut in its header", elf.substr(0, 40), "it is a damaged ELF file"},
        {"cut before its data", elf.substr(0, 0x1002),
         "it is a damaged ELF file: a loadable segment lies past the end of the file"},
        {"for another processor", otherMachine,
         "it is for another processor (ELF machine 53), not the 68HC11"},
        {"the PC's own program", slurp("/proc/self/exe"), "it is for another processor"},
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
    // Without a section table the segments load whole, the headers the first one covers
    // included: nothing tells the program from the filler.
    const auto memory = memoryOf(recordsOf(readElf(noSections)));
    ASSERT_FALSE(memory.empty());
    EXPECT_EQ(memory.begin()->first, 0xB000u);
    EXPECT_EQ(memory.begin()->second, 0x7F);
}
#endif

}  // namespace
}  // namespace kestro::formats
