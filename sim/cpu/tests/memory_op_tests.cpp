// SPDX-License-Identifier: GPL-3.0-or-later
// Stores, read-modify-write operations (accumulator and memory forms) and the bit
// instructions, plus the data-bus traffic each kind of instruction produces.
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

using namespace kestro::sim::ccr;

struct Enc {
    int opcode;
    M mode;
    int cycles;
};

// Every case starts from kIndexRegs with A = $11, B = $22 and the given CCR.
Case start(const char* name, const Enc& e, int n, std::uint8_t ccr) {
    return {.name = name + (" " + modeName(e.mode)) + " #" + std::to_string(n),
            .in = {.a = 0x11, .b = 0x22, .x = 0x2000, .y = 0x2100, .ccr = ccr},
            .cycles = e.cycles};
}

// ---- read-modify-write: operand, CCR before, result, CCR after. All vectors on A, the first
// on B and in memory. The low nibble of the opcode is shared by all five forms; shifts and
// rotates set V = N xor C.

void rmwCases(std::vector<Case>& out) {
    using Vec = std::array<std::uint8_t, 4>;
    const std::tuple<const char*, int, std::vector<Vec>> ops[] = {
        {"NEG", 0x0, {{0x01, 0, 0xFF, N | C}, {0x00, C, 0x00, Z}, {0x80, 0, 0x80, N | V | C}}},
        {"COM", 0x3, {{0x0F, V, 0xF0, N | C}, {0xFF, 0, 0x00, Z | C}}},
        {"LSR", 0x4, {{0x82, N, 0x41, 0}, {0x01, 0, 0x00, Z | V | C}}},
        {"ROR", 0x6, {{0x01, C, 0x80, N | C}, {0x01, 0, 0x00, Z | V | C}, {0x00, C, 0x80, N | V}}},
        {"ASR", 0x7, {{0x81, 0, 0xC0, N | C}, {0x01, 0, 0x00, Z | V | C}}},
        {"ASL", 0x8, {{0x40, C, 0x80, N | V}, {0xC0, 0, 0x80, N | C}}},
        {"ROL", 0x9, {{0x40, C, 0x81, N | V}, {0x80, 0, 0x00, Z | V | C}}},
        {"DEC", 0xA, {{0x80, 0, 0x7F, V}, {0x01, C, 0x00, Z | C}, {0x00, 0, 0xFF, N}}},
        {"INC", 0xC, {{0x7F, 0, 0x80, N | V}, {0xFF, C, 0x00, Z | C}, {0x00, Z, 0x01, 0}}},
        {"TST", 0xD, {{0x80, V | C, 0x80, N}, {0x00, 0, 0x00, Z}}},
        {"CLR", 0xF, {{0x55, N | V | C, 0x00, Z}}}};
    for (const auto& [name, low, vecs] : ops) {
        const Enc encs[] = {{0x40 | low, M::A, 2},
                            {0x50 | low, M::B, 2},
                            {0x70 | low, M::Ext, 6},
                            {0x60 | low, M::IndX, 6},
                            {0x1860 | low, M::IndY, 7}};
        for (const Enc& e : encs) {
            for (std::size_t n = 0; n < (e.mode == M::A ? vecs.size() : 1); ++n) {
                const auto [m, ccrIn, r, ccrOut] = vecs[n];
                Case c = start(name, e, static_cast<int>(n), ccrIn);
                const std::uint16_t addr = place(c.code, std::uint16_t(e.opcode), e.mode, c.in);
                if (e.mode == M::A || e.mode == M::B) {
                    assign(c.in, e.mode == M::A ? R::A : R::B, m);
                    assign(c.out, e.mode == M::A ? R::A : R::B, r);
                } else {
                    c.mem = {{addr, m}};
                    if (low != 0xD)  // TST
                        c.memOut = {{addr, r}};
                }
                c.out.ccr = ccrOut;
                out.push_back(std::move(c));
            }
        }
    }
}

// ---- BSET/BCLR: result and flags. BRSET/BRCLR: taken when every mask bit is set (clear) in
// the operand, forward and backward, flags untouched. Operand, mask, then CCR before, result
// and CCR after, or whether the branch is taken.

void bitCases(std::vector<Case>& out) {
    using Vec = std::array<std::uint8_t, 5>;
    // Name, direct and ind,X opcodes (ind,Y is ind,X behind $18), branch?
    const std::tuple<const char*, int, int, bool, std::vector<Vec>> ops[] = {
        {"BSET", 0x14, 0x1C, false, {{0x0F, 0x80, V | C, 0x8F, N | C}, {0x00, 0x00, 0, 0x00, Z}}},
        {"BCLR", 0x15, 0x1D, false, {{0x81, 0x01, V, 0x80, N}, {0xFF, 0xFF, 0, 0x00, Z}}},
        {"BRSET", 0x12, 0x1E, true, {{0xF0, 0x30, 1}, {0xE0, 0x30, 0}, {0x00, 0x00, 1}}},
        {"BRCLR", 0x13, 0x1F, true, {{0x0F, 0xF0, 1}, {0x1F, 0xF0, 0}, {0xFF, 0x00, 1}}}};
    for (const auto& [name, dir, indX, branch, vecs] : ops) {
        const Enc encs[] = {{dir, M::Dir, 6}, {indX, M::IndX, 7}, {0x1800 + indX, M::IndY, 8}};
        for (const Enc& e : encs) {
            int n = 0;
            for (const auto& [m, mask, third, r, ccrOut] : vecs) {
                for (const std::int8_t offset : {std::int8_t{0x10}, std::int8_t{-0x20}}) {
                    if (!branch && offset < 0)
                        continue;
                    Case c = start(name, e, n++, branch ? N | Z | V | C : third);
                    const std::uint16_t addr = place(c.code, std::uint16_t(e.opcode), e.mode, c.in);
                    c.code.push_back(mask);
                    c.mem = {{addr, m}};
                    if (branch) {
                        c.code.push_back(static_cast<std::uint8_t>(offset));
                        const auto next = static_cast<std::uint16_t>(kOrg + c.code.size());
                        c.out.pc = third ? static_cast<std::uint16_t>(next + offset) : next;
                    } else {
                        c.memOut = {{addr, r}};
                        c.out.ccr = ccrOut;
                    }
                    out.push_back(std::move(c));
                }
            }
        }
    }
}

TEST(Instructions, MemoryOpsMatchTheManual) {
    std::vector<Case> cases;
    rmwCases(cases);
    bitCases(cases);
    checkCases(cases);
}

// The data accesses (outside the code bytes) must be the chip's, in its order.
Access rd(std::uint16_t a, std::uint8_t v) {
    return {false, a, v};
}
Access wr(std::uint16_t a, std::uint8_t v) {
    return {true, a, v};
}

TEST(Instructions, BusTrafficMatchesTheChip) {
    const std::vector<std::tuple<const char*, Bytes, std::vector<Access>>> cases = {
        {"LDD reads high then low", {0xFC, 0x12, 0x34}, {rd(0x1234, 0x81), rd(0x1235, 0x42)}},
        {"STAA only writes", {0xB7, 0x12, 0x34}, {wr(0x1234, 0xA5)}},
        {"STD writes high then low", {0xED, 0x04}, {wr(0x1234, 0xA5), wr(0x1235, 0x5A)}},
        {"BSET reads then writes", {0x1C, 0x04, 0x02}, {rd(0x1234, 0x81), wr(0x1234, 0x83)}},
        {"BRSET only reads", {0x1E, 0x04, 0x01, 0x00}, {rd(0x1234, 0x81)}},
        // The chip's CLR reads its operand before writing zero (manual cycle tables), which
        // matters for registers that clear flags on reads.
        {"CLR reads then writes", {0x7F, 0x12, 0x34}, {rd(0x1234, 0x81), wr(0x1234, 0x00)}},
        {"JMP reads no data", {0x7E, 0x12, 0x34}, {}},
        {"PSHX low byte first", {0x3C}, {wr(0x01FF, 0x30), wr(0x01FE, 0x12)}},
        {"JSR pushes return low first", {0xBD, 0x12, 0x34}, {wr(0x01FF, 0x03), wr(0x01FE, 0xC0)}},
    };
    for (const auto& [name, code, expected] : cases) {
        TestBus bus;
        bus.load(kOrg, code);
        bus.setWord(0x1234, 0x8142);
        Cpu cpu(bus);
        cpu.resetAt(kOrg);
        cpu.regs = {.a = 0xA5, .b = 0x5A, .x = 0x1230, .sp = 0x01FF, .pc = kOrg};
        bus.log.clear();
        cpu.step();
        const std::size_t length = code.size();  // a lambda cannot capture a binding in C++20
        std::erase_if(bus.log, [&](const Access& a) {
            return !a.write && a.address >= kOrg && a.address < kOrg + length;
        });
        EXPECT_EQ(bus.log, expected) << name;
    }
}

}  // namespace
}  // namespace kestro::sim::test
