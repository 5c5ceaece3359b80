// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's view of one instruction: its text and length as dasm shows them, and where a
// step has to put its breakpoints.
#include <gtest/gtest.h>

#include <cstdio>

#include "frame.h"
#include "kestro/sim/opcode_table.h"
#include "monitor/instruction.h"

namespace kestro::ops::monitor {
namespace {

std::string hexOf(ByteView bytes) {
    std::string text;
    char one[4];
    for (const Byte b : bytes) {
        std::snprintf(one, sizeof one, "%02X ", b);
        text += one;
    }
    return text;
}

// Every opcode of every page, with operand bytes after it: the listing keeps in step with the
// CPU only if each instruction takes the bytes the CPU takes.
TEST(Decode, TakesTheCpusLengthForEveryOpcodeOfEveryPage) {
    for (int p = 0; p < sim::kPageCount; ++p) {
        const auto page = static_cast<sim::Page>(p);
        for (int op = 0; op < 256; ++op) {
            const sim::OpcodeInfo& info = sim::opcodeInfo(page, static_cast<Byte>(op));
            Bytes code;
            if (p != 0)
                code.push_back(sim::kPagePrebyte[static_cast<std::size_t>(p)]);
            code.insert(code.end(), {static_cast<Byte>(op), 0x12, 0x34, 0x56});
            const Instruction i = decode(code, 0xB600);
            SCOPED_TRACE(hexOf(code));
            EXPECT_EQ(i.bytes, Bytes(code.begin(), code.begin() + i.length));
            if (!info.defined() || info.mode == sim::Mode::Prefix) {
                // Page 1's prebytes land here too: $18 $12 is no instruction.
                char fcb[8];
                std::snprintf(fcb, sizeof fcb, "FCB $%02X", code[0]);
                EXPECT_FALSE(i.defined);
                EXPECT_EQ(i.length, 1);
                EXPECT_EQ(i.text, fcb);
                continue;
            }
            EXPECT_TRUE(i.defined);
            EXPECT_EQ(i.length, info.bytes);
            EXPECT_TRUE(i.text.starts_with(info.mnemonic)) << i.text;
        }
    }
}

TEST(Decode, ReadsEveryAddressingModeAsHc11MonitorsPrintIt) {
    struct Case {
        std::uint16_t address;
        Bytes code;
        const char* text;
        int length;
    };
    const Case cases[] = {
        {0xB600, {0x01}, "NOP", 1},
        {0xB600, {0x86, 0x0A}, "LDAA #$0A", 2},
        {0xB600, {0xCE, 0x12, 0x34}, "LDX #$1234", 3},
        {0xB600, {0x96, 0x10}, "LDAA $10", 2},
        // Extended keeps four digits, so that it is not taken for direct.
        {0xB600, {0xB6, 0x00, 0x10}, "LDAA $0010", 3},
        {0xB600, {0x18, 0xA7, 0xFF}, "STAA $FF,Y", 3},
        {0xB600, {0x18, 0xCE, 0x01, 0x00}, "LDY #$0100", 4},
        {0xB600, {0x1A, 0x83, 0x12, 0x34}, "CPD #$1234", 4},
        {0xB600, {0x1A, 0xEE, 0x05}, "LDY $05,X", 3},
        {0xB600, {0xCD, 0xEE, 0x05}, "LDX $05,Y", 3},
        {0xB600, {0x18, 0x6E, 0x00}, "JMP $00,Y", 3},
        // Branches show their target, counted from the next instruction, wrapping at 64 KB.
        {0xB600, {0x26, 0xFE}, "BNE $B600", 2},
        {0x0000, {0x20, 0x80}, "BRA $FF82", 2},
        {0xFFFE, {0x27, 0x00}, "BEQ $0000", 2},
        // Bit instructions: the address, the mask, and the target.
        {0xB600, {0x14, 0x10, 0x01}, "BSET $10 #$01", 3},
        {0xB600, {0x1D, 0x2E, 0x80}, "BCLR $2E,X #$80", 3},
        {0xB600, {0x12, 0x2E, 0x20, 0xFC}, "BRSET $2E #$20 $B600", 4},
        {0xB600, {0x1F, 0x2E, 0x20, 0xFC}, "BRCLR $2E,X #$20 $B600", 4},
        {0xB600, {0x18, 0x1E, 0x2E, 0x20, 0x05}, "BRSET $2E,Y #$20 $B60A", 5},
        // What starts no instruction, or one cut short, is a byte of data.
        {0xB600, {0x87, 0x10}, "FCB $87", 1},
        {0xB600, {0x18, 0x86, 0x10}, "FCB $18", 1},
        {0xFFFE, {0xCE, 0x12}, "FCB $CE", 1},
        {0xFFFE, {0x18, 0x1E, 0x2E, 0x20}, "FCB $18", 1},
    };
    for (const Case& c : cases) {
        const Instruction i = decode(c.code, c.address);
        EXPECT_EQ(i.text, c.text) << hexOf(c.code);
        EXPECT_EQ(i.length, c.length) << c.text;
        EXPECT_EQ(i.address, c.address) << c.text;
    }
    const Instruction none = decode({}, 0xB600);
    EXPECT_EQ(none.length, 0);
    EXPECT_FALSE(none.defined);
}

// A 64 KB memory whose every byte differs from its neighbours, so that a read one byte off
// gives another address.
struct Memory {
    Bytes bytes = Bytes(0x10000);
    Memory() {
        for (std::size_t a = 0; a < bytes.size(); ++a)
            bytes[a] = static_cast<Byte>(a * 7 + 3);
    }
    void put(std::uint16_t at, std::uint16_t word) {
        bytes[at] = static_cast<Byte>(word >> 8);
        bytes[static_cast<std::uint16_t>(at + 1)] = static_cast<Byte>(word);
    }
    MemoryReader reader() const {
        return [this](std::uint16_t at, std::size_t length) {
            Bytes out;
            for (std::size_t i = 0; i < length; ++i)
                out.push_back(bytes[static_cast<std::uint16_t>(at + i)]);
            return out;
        };
    }
};

TEST(Successors, FollowEveryWayAnInstructionCanGo) {
    using Next = std::vector<std::uint16_t>;
    Memory memory;
    memory.put(0x01F1, 0xB620);  // RTS from SP $01F0
    memory.put(0x01E8, 0xC000);  // RTI from SP $01E0
    memory.put(0x0000, 0x0123);  // RTS from SP $FFFF: the stack wraps
    Registers r;
    r.x = 0x1234;
    r.y = 0xFFF0;
    struct Case {
        const char* what;
        std::uint16_t pc;
        Bytes code;
        Next next;
        std::uint16_t sp = 0x01F0;
        std::uint8_t ccr = 0xD0;  // S X I set, as after reset
    };
    const Case cases[] = {
        {"plain", 0xB600, {0xB6, 0x10, 0x00}, {0xB603}},
        {"plain at the top", 0xFFFF, {0x01}, {0x0000}},
        {"BNE both ways", 0xB600, {0x26, 0x10}, {0xB602, 0xB612}},
        {"BCC to the next", 0xB600, {0x24, 0x00}, {0xB602}},
        {"BRA", 0xB600, {0x20, 0x10}, {0xB612}},
        {"BRA on itself", 0xB600, {0x20, 0xFE}, {0xB600}},
        {"BRN", 0xB600, {0x21, 0x10}, {0xB602}},
        {"BSR", 0xB600, {0x8D, 0x80}, {0xB582}},
        {"BRSET", 0xB600, {0x12, 0x2E, 0x20, 0xFC}, {0xB604, 0xB600}},
        {"BRCLR,X", 0xB600, {0x1F, 0x2E, 0x20, 0x10}, {0xB604, 0xB614}},
        {"BRSET,Y", 0xB600, {0x18, 0x1E, 0x2E, 0x20, 0x10}, {0xB605, 0xB615}},
        {"JMP ext", 0xB600, {0x7E, 0xC0, 0x00}, {0xC000}},
        {"JMP,X", 0xB600, {0x6E, 0x10}, {0x1244}},
        {"JMP,Y wraps", 0xB600, {0x18, 0x6E, 0x20}, {0x0010}},
        {"JSR dir", 0xB600, {0x9D, 0x80}, {0x0080}},
        {"JSR,X", 0xB600, {0xAD, 0x00}, {0x1234}},
        {"JSR,Y", 0xB600, {0x18, 0xAD, 0x30}, {0x0020}},
        {"RTS", 0xB600, {0x39}, {0xB620}},
        {"RTS, wrapped stack", 0xB600, {0x39}, {0x0123}, 0xFFFF},
        {"RTI", 0xB600, {0x3B}, {0xC000}, 0x01E0},
        {"STOP as a NOP", 0xB600, {0xCF}, {0xB601}},
        {"STOP", 0xB600, {0xCF}, {}, 0x01F0, 0x50},
        {"SWI", 0xB600, {0x3F}, {}},
        {"WAI", 0xB600, {0x3E}, {}},
        {"TEST", 0xB600, {0x00}, {}},
        {"illegal", 0xB600, {0x87}, {}},
        {"illegal, prebyte", 0xB600, {0x18, 0x86, 0x00}, {}},
        {"cut short", 0xB600, {0x7E, 0xC0}, {}},
    };
    for (const Case& c : cases) {
        r.pc = c.pc;
        r.sp = c.sp;
        r.ccr = c.ccr;
        EXPECT_EQ(successors(c.code, r, memory.reader()), c.next) << c.what;
    }
}

TEST(Successors, AStackThatCannotBeReadStopsTheStepWithTheReason) {
    Registers r;
    r.pc = 0xB600;
    r.sp = 0x01F0;
    const MemoryReader shortRead = [](std::uint16_t, std::size_t) { return Bytes{0xB6}; };
    try {
        successors(Bytes{0x39}, r, shortRead);
        FAIL() << "no error";
    } catch (const LinkError& e) {
        EXPECT_EQ(e.ending, LinkError::Ending::KeepTarget);
        EXPECT_NE(std::string(e.what()).find("$01F1"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace kestro::ops::monitor
