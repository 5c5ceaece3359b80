// SPDX-License-Identifier: GPL-3.0-or-later
// Branches, jumps and subroutines, the stack, index-register housekeeping, CCR instructions
// and the single-step view of SWI, RTI, WAI and STOP.
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

using namespace kestro::sim::ccr;

std::uint16_t at(int offset) {
    return static_cast<std::uint16_t>(kOrg + offset);
}

// Every conditional branch taken and not taken, forward and as far back as it reaches; taken
// or not, a branch costs 3 cycles.
void branchCases(std::vector<Case>& out) {
    using Taken = std::vector<std::pair<std::uint8_t, bool>>;  // CCR -> taken?
    const std::tuple<const char*, std::uint8_t, Taken> branches[] = {
        {"BRA", 0x20, {{N | Z | V | C, true}}},
        {"BRN", 0x21, {{0, false}}},
        {"BHI", 0x22, {{0, true}, {C, false}, {Z, false}, {N | V, true}}},
        {"BLS", 0x23, {{0, false}, {C, true}, {Z, true}, {N | V, false}}},
        {"BCC", 0x24, {{N | Z | V, true}, {C, false}}},
        {"BCS", 0x25, {{C, true}, {0, false}}},
        {"BNE", 0x26, {{0, true}, {Z, false}}},
        {"BEQ", 0x27, {{Z, true}, {N | V | C, false}}},
        {"BVC", 0x28, {{0, true}, {V, false}}},
        {"BVS", 0x29, {{V, true}, {N | Z | C, false}}},
        {"BPL", 0x2A, {{0, true}, {N, false}}},
        {"BMI", 0x2B, {{N, true}, {Z | V | C, false}}},
        {"BGE", 0x2C, {{0, true}, {N | V, true}, {N, false}, {V, false}}},
        {"BLT", 0x2D, {{N, true}, {V, true}, {0, false}, {N | V, false}}},
        {"BGT", 0x2E, {{0, true}, {N | V, true}, {Z, false}, {N, false}, {Z | N | V, false}}},
        {"BLE", 0x2F, {{Z, true}, {N, true}, {V, true}, {0, false}, {N | V, false}}}};
    for (const auto& [name, opcode, ccrTaken] : branches) {
        int n = 0;
        for (auto [cc, taken] : ccrTaken) {
            for (const int offset : {0x10, -0x80}) {
                const std::string id = name + (" #" + std::to_string(n++));
                const std::uint16_t pc = at(taken ? 2 + offset : 2);
                out.push_back({id, {opcode, std::uint8_t(offset)}, {.ccr = cc}, {.pc = pc}, 3});
            }
        }
    }
}

// A full register file that is easy to recognise on the stack, and its image there.
constexpr Setup kRegs = {.a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .ccr = 0};

MemList stackImage(std::uint16_t pc, std::uint8_t ccrStacked) {
    MemList m = wordAt(0x01FE, pc);
    const std::uint8_t below[] = {0x66, 0x55, 0x44, 0x33, 0x11, 0x22, ccrStacked};  // Y X A B CCR
    for (std::uint16_t i = 0; i < 7; ++i)
        m.push_back({static_cast<std::uint16_t>(0x01FD - i), below[i]});
    return m;
}

// The return address is stacked low byte at SP, high byte at SP-1.
MemList returnTo(int len) {
    return wordAt(0x01FE, at(len));
}

template <class Regs>
Regs withCcr(Regs r, std::uint8_t ccr) {
    r.ccr = ccr;
    return r;
}

std::vector<Case> singleCases() {
    const Setup idx = kIndexRegs;
    const MemList vec = wordAt(0xFFF6, 0x8000);
    const Expect called = {.sp = 0x01FD};
    const Setup stacked = {.sp = 0x01F6};
    const MemList rtiStack = stackImage(0x1234, N | V);
    const MemList xClearStack = stackImage(0x1234, S | X | I | Z);
    const Expect swi = {.sp = 0x01F6, .pc = 0x8000, .ccr = I | N | C};
    const Expect pulled = {
        .a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .pc = 0x1234};
    return {
        {"JMP ext", {0x7E, 0x12, 0x34}, idx, {.pc = 0x1234}, 3},
        {"JMP ind,X", {0x6E, 0x10}, idx, {.pc = 0x2010}, 3},
        {"JMP ind,Y", {0x18, 0x6E, 0xFF}, idx, {.pc = 0x21FF}, 4},
        {"JSR dir", {0x9D, 0x50}, idx, {.sp = 0x01FD, .pc = 0x0050}, 5, {}, returnTo(2)},
        {"JSR ext", {0xBD, 0x12, 0x34}, idx, {.sp = 0x01FD, .pc = 0x1234}, 6, {}, returnTo(3)},
        {"JSR ind,X", {0xAD, 0x10}, idx, {.sp = 0x01FD, .pc = 0x2010}, 6, {}, returnTo(2)},
        {"JSR ind,Y", {0x18, 0xAD, 0x10}, idx, {.sp = 0x01FD, .pc = 0x2110}, 7, {}, returnTo(3)},
        {"BSR backward", {0x8D, 0xFE}, idx, {.sp = 0x01FD, .pc = at(0)}, 6, {}, returnTo(2)},
        {"RTS", {0x39}, {.sp = 0x01FD}, {.sp = 0x01FF, .pc = 0x1234}, 5, wordAt(0x01FE, 0x1234)},
        // The stack: pushes post-decrement, pulls pre-increment, 16-bit values low byte first.
        {"PSHA", {0x36}, {.a = 0x5A}, {.sp = 0x01FE}, 3, {}, {{0x01FF, 0x5A}}},
        {"PSHB", {0x37}, {.b = 0xA5}, {.sp = 0x01FE}, 3, {}, {{0x01FF, 0xA5}}},
        {"PSHX", {0x3C}, {.x = 0x1234}, called, 4, {}, wordAt(0x01FE, 0x1234)},
        {"PSHY", {0x18, 0x3C}, {.y = 0xBEEF}, called, 5, {}, wordAt(0x01FE, 0xBEEF)},
        {"PULA", {0x32}, {.sp = 0x01FE, .ccr = C}, {.a = 0x77, .sp = 0x01FF}, 4, {{0x01FF, 0x77}}},
        {"PULB", {0x33}, {.sp = 0x01FE}, {.b = 0x88, .sp = 0x01FF}, 4, {{0x01FF, 0x88}}},
        {"PULX", {0x38}, {.sp = 0x01FD}, {.x = 0x1234, .sp = 0x01FF}, 5, wordAt(0x01FE, 0x1234)},
        {"PULY", {0x18, 0x38}, {.sp = 0xFFFE}, {.y = 0xBE01, .sp = 0}, 6, {{0xFFFF, 0xBE}, {0, 1}}},
        // TSX/TSY point at the last stacked byte; TXS/TYS undo that. No flags for SP.
        {"TSX", {0x30}, {.sp = 0x01F0}, {.x = 0x01F1}, 3},
        {"TSY", {0x18, 0x30}, {.sp = 0xFFFF}, {.y = 0x0000}, 4},
        {"TXS", {0x35}, {.x = 0x0200}, {.sp = 0x01FF}, 3},
        {"TYS", {0x18, 0x35}, {.y = 0x0000}, {.sp = 0xFFFF}, 4},
        {"INS", {0x31}, {.sp = 0xFFFF}, {.sp = 0x0000}, 3},
        {"DES", {0x34}, {.sp = 0x0001, .ccr = Z}, {.sp = 0x0000}, 3},
        {"INX to zero", {0x08}, {.x = 0xFFFF, .ccr = N | C}, {.x = 0x0000, .ccr = Z | N | C}, 3},
        {"DEX wraps", {0x09}, {.x = 0x0000, .ccr = Z}, {.x = 0xFFFF, .ccr = 0}, 3},
        {"INY to zero", {0x18, 0x08}, {.y = 0xFFFF}, {.y = 0x0000, .ccr = Z}, 4},
        {"DEY", {0x18, 0x09}, {.y = 0x0100, .ccr = Z}, {.y = 0x00FF, .ccr = 0}, 4},
        {"NOP", {0x01}, {.a = 1, .ccr = 0xFF}, {}, 2},
        {"CLV", {0x0A}, {.ccr = 0xFF}, {.ccr = 0xFD}, 2},
        {"SEV", {0x0B}, {.ccr = 0x00}, {.ccr = V}, 2},
        {"CLC", {0x0C}, {.ccr = 0xFF}, {.ccr = 0xFE}, 2},
        {"SEC", {0x0D}, {.ccr = 0x00}, {.ccr = C}, 2},
        {"CLI", {0x0E}, {.ccr = 0xFF}, {.ccr = 0xEF}, 2},
        {"SEI", {0x0F}, {.ccr = 0x00}, {.ccr = I}, 2},
        {"TPA", {0x07}, {.a = 0, .ccr = 0xD5}, {.a = 0xD5}, 2},
        {"TAP clears X", {0x06}, {.a = 0x00, .ccr = 0xD0}, {.ccr = 0x00}, 2},
        // Once X is clear, neither TAP nor RTI can set it again.
        {"TAP cannot set X", {0x06}, {.a = 0xFF, .ccr = 0x00}, {.ccr = 0xBF}, 2},
        // SWI stacks PC, Y, X, A, B, CCR and sets I; RTI pulls them in the reverse order.
        {"SWI", {0x3F}, withCcr(kRegs, N | C), swi, 14, vec, stackImage(at(1), N | C)},
        {"RTI", {0x3B}, withCcr(stacked, X | I), withCcr(pulled, N | V), 12, rtiStack},
        {"RTI keeps X clear", {0x3B}, stacked, withCcr(pulled, S | I | Z), 12, xClearStack},
        // WAI stacks at once; its last two cycles (the vector fetch) come when the wait ends.
        {"WAI stacks", {0x3E}, kRegs, {.sp = 0x01F6}, 12, {}, stackImage(at(1), 0)},
        {"STOP disabled by S", {0xCF}, {.ccr = S}, {}, 2},
    };
}

TEST(Instructions, ControlMatchTheManual) {
    std::vector<Case> cases = singleCases();
    branchCases(cases);
    checkCases(cases);
}

}  // namespace
}  // namespace kestro::sim::test
