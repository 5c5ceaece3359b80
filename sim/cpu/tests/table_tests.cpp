// Walks the opcode table: every hole traps.
#include "kestro/sim/opcode_table.h"
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

TEST(OpcodeTable, UndefinedOpcodesTrap) {
    int holes = 0;
    for (int p = 0; p < kPageCount; ++p) {
        for (int op = 0; op < 256; ++op) {
            if (kOpcodeTable[p][op].defined())
                continue;
            ++holes;
            TestBus bus;
            Bytes code;
            if (p != 0)
                code.push_back(kPagePrebyte[p]);
            code.push_back(static_cast<std::uint8_t>(op));
            bus.load(kOrg, code);
            bus.setWord(vector::IllegalOpcode, 0x8400);
            Cpu cpu(bus);
            cpu.resetAt(kOrg);
            cpu.regs.sp = 0x01FF;
            cpu.regs.ccr = 0;
            const int cycles = cpu.step();
            SCOPED_TRACE(testing::Message() << "page " << p << " opcode $" << std::hex << op);
            EXPECT_EQ(cpu.regs.pc, 0x8400);
            EXPECT_EQ(bus.word(0x01FE), kOrg);  // address of the first byte, prebyte included
            EXPECT_EQ(cpu.regs.sp, 0x01F6);
            EXPECT_EQ(cpu.regs.ccr, ccr::I);
            EXPECT_EQ(cycles, p == 0 ? 14 : 15);
        }
    }
    // 68HC11 instruction set: 233 page-1 opcodes (TEST included) and 3 prebytes, 64 opcodes
    // behind $18, 7 behind $1A and 4 behind $CD.
    EXPECT_EQ(holes, 4 * 256 - (233 + 3) - 64 - 7 - 4);
}

}  // namespace
}  // namespace kestro::sim::test
