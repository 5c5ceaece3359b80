// SPDX-License-Identifier: GPL-3.0-or-later
// Walks the opcode table: every hole traps, and so does TEST outside the test modes.
#include "kestro/sim/opcode_table.h"
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

TEST(OpcodeTable, UndefinedOpcodesTrap) {
    int traps = 0;
    for (int p = 0; p < kPageCount; ++p) {
        for (int op = 0; op < 256; ++op) {
            if (kOpcodeTable[p][op].defined() && (p != 0 || op != 0x00))
                continue;
            ++traps;
            TestBus bus;
            Bytes code = {static_cast<std::uint8_t>(op)};
            if (p != 0)
                code.insert(code.begin(), kPagePrebyte[p]);
            bus.load(kOrg, code);
            bus.setWord(vector::IllegalOpcode, 0x8400);
            Cpu cpu(bus);
            cpu.resetAt(kOrg);
            cpu.regs = {
                .a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .pc = kOrg, .ccr = 0};
            SCOPED_TRACE(testing::Message() << "page " << p << " opcode $" << std::hex << op);
            EXPECT_EQ(cpu.step(), p == 0 ? 14 : 15);
            EXPECT_EQ(cpu.regs.pc, 0x8400);
            EXPECT_EQ(cpu.regs.sp, 0x01F6);
            EXPECT_EQ(cpu.regs.ccr, ccr::I);
            // SWI's stacking; the return address is the first byte, prebyte included.
            EXPECT_EQ(Bytes(&bus.mem[0x01F7], &bus.mem[0x0200]),
                      (Bytes{0, 0x22, 0x11, 0x33, 0x44, 0x55, 0x66, 0xC0, 0x00}));
        }
    }
    // 68HC11 instruction set: 233 page-1 opcodes (TEST included) and 3 prebytes, 64 opcodes
    // behind $18, 7 behind $1A and 4 behind $CD.
    EXPECT_EQ(traps, 4 * 256 - (233 + 3) - 64 - 7 - 4 + 1);
}

}  // namespace
}  // namespace kestro::sim::test
