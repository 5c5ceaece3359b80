#include "test_harness.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace kestro::sim::test {

std::vector<Access> TestBus::dataAccesses(std::uint16_t codeStart, std::size_t codeLen) const {
    std::vector<Access> out;
    for (const Access& a : log) {
        const bool inCode = a.address >= codeStart && a.address < codeStart + codeLen;
        if (!inCode || a.write)
            out.push_back(a);
    }
    return out;
}

namespace {

std::string hex(unsigned v, int width) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "$%0*X", width, v);
    return buf;
}

template <class T>
void expectReg(const char* name, std::optional<T> expected, T before, T actual, int width) {
    const T want = expected.value_or(before);
    EXPECT_EQ(actual, want) << name << " is " << hex(actual, width) << ", expected "
                            << hex(want, width);
}

}  // namespace

void checkCase(const Case& c) {
    SCOPED_TRACE(c.name);
    TestBus bus;
    bus.load(kOrg, c.code);
    for (auto [addr, v] : c.mem)
        bus.mem[addr] = v;
    Cpu cpu(bus);
    cpu.resetAt(kOrg);
    cpu.regs.a = c.in.a;
    cpu.regs.b = c.in.b;
    cpu.regs.x = c.in.x;
    cpu.regs.y = c.in.y;
    cpu.regs.sp = c.in.sp;
    cpu.regs.ccr = c.in.ccr;

    const int cycles = cpu.step();

    EXPECT_EQ(cycles, c.cycles) << "E cycles";
    const Setup& in = c.in;
    expectReg<std::uint8_t>("A", c.out.a, in.a, cpu.regs.a, 2);
    expectReg<std::uint8_t>("B", c.out.b, in.b, cpu.regs.b, 2);
    expectReg<std::uint16_t>("X", c.out.x, in.x, cpu.regs.x, 4);
    expectReg<std::uint16_t>("Y", c.out.y, in.y, cpu.regs.y, 4);
    expectReg<std::uint16_t>("SP", c.out.sp, in.sp, cpu.regs.sp, 4);
    expectReg<std::uint16_t>("PC", c.out.pc, static_cast<std::uint16_t>(kOrg + c.code.size()),
                             cpu.regs.pc, 4);
    expectReg<std::uint8_t>("CCR", c.out.ccr, in.ccr, cpu.regs.ccr, 2);

    // Memory: listed cells must hold their values; no other cell outside the code may change.
    std::set<std::uint16_t> checked;
    for (auto [addr, v] : c.memOut) {
        EXPECT_EQ(bus.mem[addr], v) << "memory " << hex(addr, 4);
        checked.insert(addr);
    }
    for (const Access& a : bus.log) {
        if (a.write && !checked.count(a.address)) {
            ADD_FAILURE() << "unexpected write of " << hex(a.value, 2) << " to "
                          << hex(a.address, 4);
        }
    }
    for (std::uint16_t addr : c.mustNotRead) {
        for (const Access& a : bus.log) {
            if (!a.write && a.address == addr)
                ADD_FAILURE() << "read of " << hex(addr, 4);
        }
    }
}

std::vector<Case> allCases() {
    std::vector<Case> all = aluCases();
    for (auto* more : {&memoryOpCases, &controlCases}) {
        std::vector<Case> v = more();
        all.insert(all.end(), v.begin(), v.end());
    }
    return all;
}

std::vector<CaseGroup> byMnemonic(const std::vector<Case>& cases) {
    std::vector<CaseGroup> groups;
    for (const Case& c : cases) {
        const std::string mnemonic = c.name.substr(0, c.name.find(' '));
        auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const CaseGroup& g) { return g.mnemonic == mnemonic; });
        if (it == groups.end())
            it = groups.insert(groups.end(), CaseGroup{mnemonic, {}});
        it->cases.push_back(c);
    }
    return groups;
}

std::string groupName(const testing::TestParamInfo<CaseGroup>& info) {
    std::string out;
    for (char ch : info.param.mnemonic) {
        if (std::isalnum(static_cast<unsigned char>(ch)))
            out += ch;
    }
    return out;
}

TEST_P(InstructionTest, MatchesManual) {
    for (const Case& c : GetParam().cases)
        checkCase(c);
}

}  // namespace kestro::sim::test
