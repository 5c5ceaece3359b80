// SPDX-License-Identifier: GPL-3.0-or-later
// The names of a program's ELF file as the monitor takes them: addresses typed as names, and
// names shown for addresses in its disassembly.
#include <gtest/gtest.h>

#include "frame.h"
#include "monitor/instruction.h"
#include "monitor/symbols.h"
#include "scratch.h"

namespace kestro::ops::monitor {
namespace {

using testing::slurp;

TEST(ParseAddress, TakesHexAndNamesWholeOrNotAtAll) {
    const Symbols symbols({
        {"main", 0xB600, 0x20, SymbolKind::Function, true},
        {"add", 0x0100, 0, SymbolKind::Label, false},
        {"top", 0xFFF0, 0, SymbolKind::Label, false},
    });
    struct Case {
        const char* text;
        std::optional<std::uint16_t> address;
    };
    const Case cases[] = {
        {"$B600", 0xB600},
        {"B600", 0xB600},
        {"b600", 0xB600},
        {"0xB600", 0xB600},
        {"$0", 0x0000},
        {"FFFF", 0xFFFF},
        {"$0000FFFF", 0xFFFF},
        {"main", 0xB600},
        {"main+3", 0xB603},
        {"main+$10", 0xB610},
        {"main+0x10", 0xB610},
        {"top+F", 0xFFFF},
        // A name that is also hex is the name; "$" and "0x" always mean a number.
        {"add", 0x0100},
        {"$add", 0x0ADD},
        {"0xadd", 0x0ADD},
        {"", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"2O00", std::nullopt},
        {"$10000", std::nullopt},
        {"10000", std::nullopt},
        {" B600", std::nullopt},
        {"B600 ", std::nullopt},
        {"+1", std::nullopt},
        {"0x0x10", std::nullopt},
        {"Main", std::nullopt},
        {"main+", std::nullopt},
        {"main+2O", std::nullopt},
        {"top+10", std::nullopt},
        {"nosuch+1", std::nullopt},
        {"$main", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseAddress(c.text, &symbols), c.address) << c.text;
    // Without symbols, only numbers.
    EXPECT_EQ(parseAddress("add", nullptr), 0x0ADD);
    EXPECT_EQ(parseAddress("main", nullptr), std::nullopt);
    EXPECT_EQ(parseAddress("main+3", nullptr), std::nullopt);
}

TEST(SymbolNames, TheNearestFittingNameWithTheProgramsOwnFirst) {
    const Symbols symbols({
        {"_edata", 0x0040, 0, SymbolKind::Label, true},
        {"counter", 0x0040, 0, SymbolKind::Label, false},
        {"buffer", 0x0050, 4, SymbolKind::Object, false},
        {"__bss_size", 0x0000, 0, SymbolKind::Constant, true},
        {"SCSR", 0x102E, 0, SymbolKind::Constant, false},
        {"start", 0xB600, 0, SymbolKind::Label, true},
        {"main", 0xB600, 0x10, SymbolKind::Function, true},
        {"loop", 0xB604, 0, SymbolKind::Label, false},
        {"TWELVE", 0xB60C, 0, SymbolKind::Constant, false},
        {"end", 0xFF00, 0, SymbolKind::Label, false},
    });
    struct Case {
        std::uint16_t address;
        const char* name;
    };
    const Case cases[] = {
        {0x0000, ""},  // the linker's sizes name nothing
        {0x0040, "counter"},  {0x0041, "counter+1"}, {0x0050, "buffer"},
        {0x0053, "buffer+3"}, {0x0054, ""},  // past its size: the label below it is farther
        {0x102E, "SCSR"},     {0x102F, ""},  // an equate is no place to count from
        {0xB600, "main"},     {0xB603, "main+3"},    {0xB604, "loop"},
        {0xB60C, "TWELVE"},  // an equate of the very address before a label counted on
        {0xB614, "loop+$10"}, {0xB703, "loop+$FF"},  {0xB704, ""},
        {0xFFFF, "end+$FF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(symbols.nameFor(c.address), c.name) << std::hex << c.address;
    EXPECT_EQ(Symbols().nameFor(0xB600), "");
}

#ifdef KESTRO_USER_PROGRAMS
const std::filesystem::path kPrograms = KESTRO_USER_PROGRAMS;

TEST(ElfSymbols, TheLinkersNamesReadBackAndShowInTheDisassembly) {
    const Symbols symbols =
        Symbols::fromElf("named_program.elf", slurp(kPrograms / "named_program.elf"));
    EXPECT_EQ(symbols.lookup("main"), 0xB600);
    EXPECT_EQ(symbols.lookup("print"), 0xB60D);
    EXPECT_EQ(symbols.lookup("wait"), 0xB611);
    EXPECT_EQ(symbols.lookup("table"), 0xB61A);
    EXPECT_EQ(symbols.lookup("PORTA"), 0x1000);
    EXPECT_EQ(symbols.lookup("loop"), std::nullopt);  // each file has its own
    EXPECT_EQ(symbols.lookup(".text"), std::nullopt);
    EXPECT_EQ(symbols.lookup("named_program.o"), std::nullopt);
    EXPECT_EQ(symbols.nameFor(0xB61A), "table");  // not the linker's _etext
    EXPECT_EQ(symbols.nameFor(0xB625), "table+$B");

    // Every name shown for an address reads back as that address, but for the one whose
    // name two files share.
    for (unsigned a = 0; a <= 0xFFFF; ++a) {
        const std::string name = symbols.nameFor(static_cast<std::uint16_t>(a));
        if (!name.empty() && !name.starts_with("loop")) {
            EXPECT_EQ(parseAddress(name, &symbols), a) << name;
        }
    }

    const std::string elf = slurp(kPrograms / "named_program.elf");
    const auto line = [&](std::uint16_t address) {
        const auto at = elf.find("\x86\x05\x4A\x26");  // main's first bytes
        const auto* code = reinterpret_cast<const Byte*>(elf.data() + at + (address - 0xB600));
        return decode(ByteView(code, 5), address, &symbols).text;
    };
    EXPECT_EQ(line(0xB603), "BNE loop");
    EXPECT_EQ(line(0xB605), "JSR print");
    EXPECT_EQ(line(0xB608), "LDAB PORTA");
    EXPECT_EQ(line(0xB60B), "BRA main");
    EXPECT_EQ(line(0xB60D), "LDX #$B61A");  // a number, maybe not an address
    EXPECT_EQ(line(0xB617), "BNE loop");
}

TEST(ElfSymbols, AFileWithoutUsableNamesIsRefusedWithTheReason) {
    struct Case {
        const char* file;
        const char* detail;  // part of what the user is told
    };
    const Case cases[] = {
        {"named_stripped.elf", "stripped"},
        {"named_program.o", "not linked"},
        {"user_program.s19", "no ELF file"},
    };
    for (const Case& c : cases) {
        try {
            (void)Symbols::fromElf(c.file, slurp(kPrograms / c.file));
            ADD_FAILURE() << c.file << ": no error";
        } catch (const LinkError& e) {
            EXPECT_EQ(e.ending, LinkError::Ending::KeepTarget);
            EXPECT_NE(std::string(e.what()).find(c.file), std::string::npos) << e.what();
            EXPECT_NE(e.detail.find(c.detail), std::string::npos) << e.detail;
        }
    }
    // A file cut short anywhere is damaged, not stripped, and never read past its end.
    const std::string elf = slurp(kPrograms / "named_program.elf");
    for (std::size_t size = 0; size < elf.size(); ++size) {
        try {
            (void)Symbols::fromElf("cut.elf", std::string_view(elf).substr(0, size));
            ADD_FAILURE() << size << " bytes: no error";
        } catch (const LinkError& e) {
            EXPECT_NE(e.detail.find("damaged"), std::string::npos) << size << ": " << e.detail;
        }
    }
}
#endif

}  // namespace
}  // namespace kestro::ops::monitor
