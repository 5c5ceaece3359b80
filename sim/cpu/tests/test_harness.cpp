// SPDX-License-Identifier: GPL-3.0-or-later
#include "test_harness.h"

#include <ostream>
#include <set>

namespace kestro::sim {

void PrintTo(const Registers& r, std::ostream* os) {
    *os << std::hex << std::uppercase << "A=$" << int(r.a) << " B=$" << int(r.b) << " X=$" << r.x
        << " Y=$" << r.y << " SP=$" << r.sp << " PC=$" << r.pc << " CCR=$" << int(r.ccr);
}

}  // namespace kestro::sim

namespace kestro::sim::test {

void checkCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestBus bus;
        bus.load(kOrg, c.code);
        for (auto [addr, v] : c.mem)
            bus.mem[addr] = v;
        Cpu cpu(bus);
        cpu.resetAt(kOrg);
        const Setup& in = c.in;
        cpu.regs = {in.a, in.b, in.x, in.y, in.sp, kOrg, in.ccr};

        EXPECT_EQ(cpu.step(), c.cycles) << "E cycles";
        const Expect& out = c.out;
        const auto next = static_cast<std::uint16_t>(kOrg + c.code.size());
        EXPECT_EQ(cpu.regs,
                  (Registers{out.a.value_or(in.a), out.b.value_or(in.b), out.x.value_or(in.x),
                             out.y.value_or(in.y), out.sp.value_or(in.sp), out.pc.value_or(next),
                             out.ccr.value_or(in.ccr)}));
        std::set<std::uint16_t> checked;
        for (auto [addr, v] : c.memOut) {
            EXPECT_EQ(bus.mem[addr], v) << "memory $" << std::hex << addr;
            checked.insert(addr);
        }
        for (const Access& a : bus.log) {
            EXPECT_TRUE(!a.write || checked.count(a.address))
                << "unexpected write of $" << std::hex << int(a.value) << " to $" << a.address;
        }
    }
}

std::string modeName(M m) {
    static const char* const names[] = {"A", "B", "imm", "dir", "ext", "ind,X", "ind,Y"};
    return names[static_cast<int>(m)];
}

std::uint16_t place(Bytes& code, std::uint16_t opcode, M m, const Setup& in, std::uint16_t imm,
                    bool wide) {
    if (opcode > 0xFF)
        code.push_back(static_cast<std::uint8_t>(opcode >> 8));
    code.push_back(static_cast<std::uint8_t>(opcode));
    const int i = static_cast<int>(m);
    const int operand[] = {0, 0, imm, 0x40, 0x1234, 5, 7};
    const int addr[] = {0, 0, 0, 0x0040, 0x1234, in.x + 5, in.y + 7};
    if ((m == M::Imm && wide) || m == M::Ext)
        code.push_back(static_cast<std::uint8_t>(operand[i] >> 8));
    if (i >= static_cast<int>(M::Imm))
        code.push_back(static_cast<std::uint8_t>(operand[i]));
    return static_cast<std::uint16_t>(addr[i]);
}

}  // namespace kestro::sim::test
