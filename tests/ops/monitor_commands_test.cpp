// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's commands as a user types them, against a stand-in session: what each prints,
// what each refuses, and what reaches memory.
#include <gtest/gtest.h>

#include <functional>

#include "elf_image.h"
#include "monitor/commands.h"
#include "monitor/symbols.h"
#include "monitor_stand_in.h"
#include "scratch.h"
#include "srecords.h"

namespace kestro::ops::monitor {
namespace {

using testing::MonitorStandIn;

// Output lines as they are, errors behind "! ", the program's own bytes in [ ].
struct Transcript {
    explicit Transcript(MonitorStandIn& m, const Symbols* symbols = nullptr)
        : interpreter(m,
                      {.line = [this](const std::string& s) { text += s + "\n"; },
                       .error = [this](const std::string& s) { text += "! " + s + "\n"; },
                       .programOutput = [this](ByteView b) { text += "[" + textOf(b) + "]"; },
                       .stopRequested = [this] { return stopAsked && stopAsked(); },
                       .progress = {}},
                      symbols) {}

    Outcome run(const std::vector<std::string>& lines) {
        Outcome last = Outcome::Done;
        for (const std::string& line : lines)
            last = interpreter.run(line);
        return last;
    }

    std::string text;
    std::function<bool()> stopAsked;
    Interpreter interpreter;
};

void put(MonitorStandIn& m, unsigned address, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), m.memory.begin() + address);
}

struct Case {
    const char* name;
    std::function<void(MonitorStandIn&)> setUp;
    std::vector<std::string> commands;
    std::string expected;
    Outcome last;
};

const std::string kRegisters = "A=00 B=00 X=0000 Y=0000 SP=01FF ";

TEST(MonitorCommands, EachCommandsOutputAndErrors) {
    const std::vector<Case> cases = {
        {"md: 16 bytes a line, the ASCII beside, the last line short",
         [](MonitorStandIn& m) {
             put(m, 0xB600,
                 bytesOf(std::string_view("Hello, HC11!\x00\x01\xFF\x7F"
                                          "ABCD",
                                          20)));
         },
         {"md B600 14"},
         "B600  48 65 6C 6C 6F 2C 20 48 43 31 31 21 00 01 FF 7F  Hello, HC11!....\n"
         "B610  41 42 43 44                                      ABCD\n",
         Outcome::Done},
        {"md: without an address it goes on, 64 bytes; it ends at the top of memory",
         [](MonitorStandIn& m) {
             put(m, 0xFFFE, {0xAA, 0x55});
         },
         {"md $FFF0 0x100", "md"},
         "FFF0  00 00 00 00 00 00 00 00 00 00 00 00 00 00 AA 55  ...............U\n"
         "0000  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  ................\n"
         "0010  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  ................\n"
         "0020  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  ................\n"
         "0030  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  ................\n",
         Outcome::Done},
        {"mm and fill write, md reads back; upper case commands too",
         {},
         {"mm $B600 1 2 ff", "FILL b603 3 0xAA", "md B600 8"},
         "B600  01 02 FF AA AA AA 00 00                          ........\n",
         Outcome::Done},
        {"mm, fill: nothing written past $FFFF, nor with a bad byte",
         {},
         {"mm FFFF 1 2", "fill FFFE 3 0", "mm B600 1 1FF", "md B600 2"},
         "! mm would run past $FFFF: nothing written.\n"
         "! fill would run past $FFFF: nothing written.\n"
         "! Not a byte: 1FF (hex, 00 to FF): nothing written.\n"
         "B600  00 00                                            ..\n",
         Outcome::Done},
        {"mm into ROM: the session's reason, and the session goes on",
         {},
         {"mm E000 1"},
         "! $E000 is ROM: the monitor cannot write it.\n",
         Outcome::Refused},
        {"rd: every register, the flags spelled out, a clear one as .",
         [](MonitorStandIn& m) {
             m.regs = {.a = 0x12,
                       .b = 0x34,
                       .x = 0x5678,
                       .y = 0x9ABC,
                       .sp = 0x01FF,
                       .pc = 0xB600,
                       .ccr = 0xD5};
         },
         {"rd"},
         "A=12 B=34 X=5678 Y=9ABC SP=01FF PC=B600 CCR=D5 SX.I.Z.C\n",
         Outcome::Done},
        {"rm: each register by any case, read back as rd shows it",
         {},
         {"rm a 7F", "rm X $1234", "rm Pc 0xB700", "rm ccr 0", "rm SP 1F0"},
         "A=7F B=00 X=0000 Y=0000 SP=01FF PC=B600 CCR=D0 SX.I....\n"
         "A=7F B=00 X=1234 Y=0000 SP=01FF PC=B600 CCR=D0 SX.I....\n"
         "A=7F B=00 X=1234 Y=0000 SP=01FF PC=B700 CCR=D0 SX.I....\n"
         "A=7F B=00 X=1234 Y=0000 SP=01FF PC=B700 CCR=00 ........\n"
         "A=7F B=00 X=1234 Y=0000 SP=01F0 PC=B700 CCR=00 ........\n",
         Outcome::Done},
        {"rm: a byte register takes a byte; an unknown register; a missing value",
         {},
         {"rm a 100", "rm q 1", "rm sp", "rd"},
         "! Not a value for a: 100 (hex, 0 to FF).\n"
         "! Not a register: q (A, B, X, Y, SP, PC or CCR).\n"
         "! rm takes a register and a value: rm REG VALUE\n" +
             kRegisters + "PC=B600 CCR=D0 SX.I....\n",
         Outcome::Done},
        {"br, bc, bl: set, listed in order, cleared; clearing one not set fails",
         {},
         {"br B610", "br B600", "bl", "bc B610", "bl", "bc B610"},
         "Breakpoint at $B610.\nBreakpoint at $B600.\n"
         "Breakpoint at $B600.\nBreakpoint at $B610.\n"
         "Breakpoint at $B610 cleared.\nBreakpoint at $B600.\n"
         "! No breakpoint at $B610.\n",
         Outcome::Refused},
        {"br in ROM: the session's reason",
         {},
         {"br F000", "bl"},
         "! $F000 is ROM: the monitor cannot write it.\nNo breakpoints.\n",
         Outcome::Done},
        {"go: the program's output, then why it stopped, the registers, the next instruction",
         [](MonitorStandIn& m) {
             m.set = {0xB610};
             m.pollsUntilStop = 3;
             m.runStopsAt = 0xB610;
             m.programSends = "hi\n";
             put(m, 0xB610, {0x01});
         },
         {"go B600"},
         "[hi\n]Stopped at the breakpoint at $B610.\n" + kRegisters +
             "PC=B610 CCR=D0 SX.I....\n*B610  01              NOP\n",
         Outcome::Done},
        {"run starts, a running program refuses md, stop stops it",
         {},
         {"run", "md B600", "rd", "bl", "stop", "stop"},
         "Running from $B600.\n"
         "! The program is running: stop it first (stop, or wait until it stops).\n"
         "! The program is running: stop it first (stop, or wait until it stops).\n"
         "No breakpoints.\n"
         "Stopped from the PC at $B600.\n" +
             kRegisters + "PC=B600 CCR=D0 SX.I....\n B600  00              TEST\n" +
             "The program is not running.\n",
         Outcome::Done},
        {"wait: a stop within the time, then a program still running after it",
         [](MonitorStandIn& m) {
             m.pollsUntilStop = 2;
             m.runStopsBy = StopCause::Swi;
             m.runStopsAt = 0xB601;
             put(m, 0xB600, {0x3F, 0x01});
         },
         {"run B600", "wait", "rm pc B600", "rm b 1", "run"},
         "Running from $B600.\nStopped by the program's own SWI; PC $B601.\n" + kRegisters +
             "PC=B601 CCR=D0 SX.I....\n B601  01              NOP\n" + kRegisters +
             "PC=B600 CCR=D0 SX.I....\n" +
             "A=00 B=01 X=0000 Y=0000 SP=01FF PC=B600 CCR=D0 SX.I....\n" + "Running from $B600.\n",
         Outcome::Done},
        {"wait 0: a program that has stopped already is told so, not as still running",
         [](MonitorStandIn& m) {
             m.pollsUntilStop = 1;
             m.runStopsBy = StopCause::Swi;
             m.runStopsAt = 0xB601;
             put(m, 0xB600, {0x3F, 0x01});
         },
         {"run B600", "wait 0"},
         "Running from $B600.\nStopped by the program's own SWI; PC $B601.\n" + kRegisters +
             "PC=B601 CCR=D0 SX.I....\n B601  01              NOP\n",
         Outcome::Done},
        {"step N: the registers after each, the last in full",
         [](MonitorStandIn& m) {
             put(m, 0xB600, {0x01, 0x01, 0x01, 0x01});
         },
         {"step 3"},
         kRegisters + "PC=B601 CCR=D0 SX.I....\n" + kRegisters + "PC=B602 CCR=D0 SX.I....\n" +
             "Stepped to $B603.\n" + kRegisters +
             "PC=B603 CCR=D0 SX.I....\n B603  01              NOP\n",
         Outcome::Done},
        {"dasm: bytes and text, a breakpoint marked, then on from where it ended",
         [](MonitorStandIn& m) {
             put(m, 0xB600, {0x86, 0x10, 0x01, 0x18, 0x08});
             m.set = {0xB602};
         },
         {"dasm B600 2", "dasm B603 1"},
         " B600  86 10           LDAA #$10\n*B602  01              NOP\n"
         " B603  18 08           INY\n",
         Outcome::Done},
        {"typing errors: nothing is sent, and each says what it wanted",
         {},
         {"xyz", "md B60G", "md B600 0", "go 1 2", "step 0", "wait soon", "help nope"},
         "! Unknown command: xyz (help lists the commands).\n"
         "! Not an address: B60G.\n"
         "! Not a length: 0 (hex, 1 to 10000).\n"
         "! go takes an address, or none for the PC: go [ADDR]\n"
         "! Not a count: 0 (hex, 1 to FFFF).\n"
         "! wait takes milliseconds in decimal: wait [MS]\n"
         "! No such command: nope (help lists them).\n",
         Outcome::Usage},
        {"comments and blank lines do nothing; help of one command",
         {},
         {"# a comment", "   ", "help md"},
         "md [ADDR [LEN]]: display memory: address, 16 bytes in hex, ASCII.\n"
         "  LEN in hex, default 40 (64 bytes); without ADDR, the bytes after the last display.\n",
         Outcome::Done},
        {"a session that ends under a command: every command after it says so, quit still quits",
         [](MonitorStandIn& m) { m.dead = true; },
         {"md B600", "rd", "quit"},
         "! The monitor does not answer: the session has ended.\n"
         "! The session has ended: quit, then start a new one.\n",
         Outcome::Quit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorStandIn m;
        if (c.setUp)
            c.setUp(m);
        Transcript t(m);
        EXPECT_EQ(t.run(c.commands), c.last);
        EXPECT_EQ(t.text, c.expected);
    }
}

TEST(MonitorCommands, CtrlCStopsGoAndStepping) {
    MonitorStandIn m;
    put(m, 0xB600, {0x01, 0x01, 0x01});
    Transcript t(m);
    t.stopAsked = [&m] { return m.polls >= 2; };
    EXPECT_EQ(t.run({"go"}), Outcome::Done);
    EXPECT_FALSE(m.isRunning);
    EXPECT_EQ(t.text, "Stopped from the PC at $B600.\n" + kRegisters +
                          "PC=B600 CCR=D0 SX.I....\n B600  01              NOP\n");
    t.text.clear();
    t.stopAsked = [] { return true; };
    EXPECT_EQ(t.run({"step 10"}), Outcome::Done);
    EXPECT_EQ(m.regs.pc, 0xB601);
    EXPECT_EQ(t.text,
              kRegisters + "PC=B601 CCR=D0 SX.I....\nStepping interrupted after 1 steps.\n");
}

TEST(MonitorCommands, SymbolsNameAddressesAndShowInRegistersAndListings) {
    const Symbols symbols(
        {{.name = "main", .address = 0xB600, .size = 8, .kind = SymbolKind::Function},
         {.name = "loop", .address = 0xB602, .size = 0, .kind = SymbolKind::Label}});
    MonitorStandIn m;
    put(m, 0xB600, {0x01, 0x01, 0x20, 0xFE});
    Transcript t(m, &symbols);
    EXPECT_EQ(t.run({"br loop", "rm pc main+1", "dasm main 3"}), Outcome::Done);
    EXPECT_EQ(t.text, "Breakpoint at $B602 (loop).\n" + kRegisters +
                          "PC=B601 CCR=D0 SX.I.... <main+1>\n" +
                          "main:\n B600  01              NOP\n B601  01              NOP\n"
                          "loop:\n*B602  20 FE           BRA loop\n");
}

// The same program as the toolchain writes it in each format lands at the same addresses.
TEST(MonitorCommands, LoadOfEachFormatWritesTheFilesBytes) {
#ifndef KESTRO_USER_PROGRAMS
    GTEST_SKIP() << "the HC11 toolchain's files were not built";
#else
    const std::string folder = KESTRO_USER_PROGRAMS;
    const auto elf = formats::readElf(testing::slurp(folder + "/user_program.elf"));
    const auto& image = std::get<formats::Image>(elf);
    // Each format carries the program's entry, which lies in the program.
    std::optional<std::uint16_t> entry;
    for (const char* file : {"user_program.s19", "user_program.hex", "user_program.elf"}) {
        SCOPED_TRACE(file);
        MonitorStandIn m;
        m.regs.pc = 0;
        Transcript t(m);
        EXPECT_EQ(t.run({"load " + folder + "/" + file}), Outcome::Done) << t.text;
        for (const formats::Block& b : image)
            EXPECT_TRUE(std::equal(b.bytes.begin(), b.bytes.end(), m.memory.begin() + b.address));
        EXPECT_EQ(std::count(t.text.begin(), t.text.end(), '\n'),
                  static_cast<long>(image.size()) + 1);
        EXPECT_EQ(m.regs.pc, entry.value_or(m.regs.pc));
        entry = m.regs.pc;
        EXPECT_TRUE(std::any_of(image.begin(), image.end(), [&](const formats::Block& b) {
            return m.regs.pc >= b.address && m.regs.pc < b.address + b.bytes.size();
        }));
    }
#endif
}

TEST(MonitorCommands, LoadRefusesAFileThePartCannotTakeWholeAndSaysWhatWentIn) {
    testing::ScratchDir dir;
    // A good record, then one that runs into ROM; a file with the same address twice.
    const std::string intoRom = testing::srecord('1', 0xB600, Bytes{1, 2, 3, 4}) + "\r\n" +
                                testing::srecord('1', 0xDFFC, Bytes(8, 0x55)) +
                                "\r\nS9030000FC\r\n";
    const std::string twice = testing::srecord('1', 0xB600, Bytes{1, 2}) + "\r\n" +
                              testing::srecord('1', 0xB601, Bytes{9}) + "\r\nS9030000FC\r\n";
    // Two blocks apart, the talker silent after the first.
    const std::string apart = testing::srecord('1', 0xB600, Bytes{1, 2}) + "\r\n" +
                              testing::srecord('1', 0xB700, Bytes{3}) + "\r\n";
    const auto intoRomFile = dir.write("rom.s19", intoRom).string();
    const auto twiceFile = dir.write("twice.s19", twice).string();
    const auto apartFile = dir.write("apart.s19", apart).string();
    struct Case {
        std::string file;
        int writesBeforeDeath;
        Outcome outcome;
        int writes;
        std::string says;  // at the start of what the load prints
    };
    const Case cases[] = {
        {intoRomFile, 0, Outcome::Refused, 0, "! $E000 is ROM: the monitor cannot write it.\n"},
        {twiceFile, 0, Outcome::File, 0, "! "},
        {(dir.path / "missing.s19").string(), 0, Outcome::File, 0, "! The file "},
        {apartFile, 1, Outcome::Ended, 1,
         "Loaded $B600-$B601 (2 bytes).\n! load stopped at the block $B700-$B700 of " + apartFile +
             ": the 2 bytes before it are loaded, that block may be partly written.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        MonitorStandIn m;
        m.writesBeforeDeath = c.writesBeforeDeath;
        Transcript t(m);
        EXPECT_EQ(t.run({"load " + c.file}), c.outcome);
        EXPECT_EQ(m.writes, c.writes);
        EXPECT_TRUE(t.text.starts_with(c.says)) << t.text;
    }
}

// A file's start address becomes the PC, as HC11 monitors do; $0000, the toolchains' "none",
// leaves it. A path in double quotes may hold spaces.
TEST(MonitorCommands, LoadSetsThePcToTheFilesEntry) {
    testing::ScratchDir dir;
    const std::string data = testing::srecord('1', 0xB600, Bytes{1, 2}) + "\r\n";
    const std::string hexData = ":02B60000010245\n";
    struct Case {
        const char* name;
        std::string content;
        std::uint16_t pc;
    };
    const Case cases[] = {
        {"with a space.s19", data + testing::srecord('9', 0xB610, {}) + "\r\n", 0xB610},
        {"s9none.s19", data + "S9030000FC\r\n", 0xB600},
        {"s8.s19", data + "S80400B61035\r\n", 0xB610},
        {"linear.hex", hexData + ":040000050000B61031\n:00000001FF\n", 0xB610},
        {"segment.hex", hexData + ":040000030B000610D8\n:00000001FF\n", 0xB610},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorStandIn m;
        m.regs.pc = 0xB600;
        Transcript t(m);
        // Quoted, as a path with spaces is given.
        EXPECT_EQ(t.run({"load \"" + dir.write(c.name, c.content).string() + "\""}), Outcome::Done)
            << t.text;
        EXPECT_EQ(m.regs.pc, c.pc);
        EXPECT_EQ(t.text.find("the file's entry") != std::string::npos, c.pc != 0xB600) << t.text;
    }
}

}  // namespace
}  // namespace kestro::ops::monitor
