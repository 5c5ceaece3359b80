// Branches, jumps and subroutines, the stack, index-register housekeeping, CCR instructions
// and the single-step view of SWI, RTI, WAI, STOP and TEST.
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

using namespace kestro::sim::ccr;

Case make(std::string name, Bytes code, Setup in, Expect out, int cycles, MemList mem = {},
          MemList memOut = {}) {
    Case c;
    c.name = std::move(name);
    c.code = std::move(code);
    c.in = in;
    c.out = out;
    c.cycles = cycles;
    c.mem = std::move(mem);
    c.memOut = std::move(memOut);
    return c;
}

std::uint16_t at(int offset) {
    return static_cast<std::uint16_t>(kOrg + offset);
}

void branchCases(std::vector<Case>& out) {
    struct Branch {
        const char* name;
        std::uint8_t opcode;
        std::vector<std::pair<std::uint8_t, bool>> ccrTaken;  // CCR -> taken?
    };
    const std::vector<Branch> branches = {
        {"BRA", 0x20, {{0, true}, {N | Z | V | C, true}}},
        {"BRN", 0x21, {{0, false}, {N | Z | V | C, false}}},
        {"BHI", 0x22, {{0, true}, {C, false}, {Z, false}, {N | V, true}}},
        {"BLS", 0x23, {{0, false}, {C, true}, {Z, true}, {N | V, false}}},
        {"BCC", 0x24, {{0, true}, {C, false}, {N | Z | V, true}}},
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
        {"BLE", 0x2F, {{Z, true}, {N, true}, {V, true}, {0, false}, {N | V, false}}},
    };
    for (const Branch& b : branches) {
        int n = 0;
        for (auto [cc, taken] : b.ccrTaken) {
            for (const std::int8_t offset : {std::int8_t{0x10}, std::int8_t{-0x80}}) {
                const std::uint16_t target = static_cast<std::uint16_t>(at(2) + offset);
                out.push_back(make(std::string(b.name) + " #" + std::to_string(n++),
                                   {b.opcode, static_cast<std::uint8_t>(offset)}, {.ccr = cc},
                                   {.pc = taken ? target : at(2)}, 3));
            }
        }
    }
}

void jumpCases(std::vector<Case>& out) {
    const Setup idx = {.x = 0x2000, .y = 0x2100, .sp = 0x01FF};
    // Return address stacked low byte at SP, high byte at SP-1.
    const auto ret = [](int len) {
        return MemList{{0x01FF, static_cast<std::uint8_t>(at(len))},
                       {0x01FE, static_cast<std::uint8_t>(at(len) >> 8)}};
    };
    out.push_back(make("JMP ext", {0x7E, 0x12, 0x34}, idx, {.pc = 0x1234}, 3));
    out.push_back(make("JMP ind,X", {0x6E, 0x10}, idx, {.pc = 0x2010}, 3));
    out.push_back(make("JMP ind,Y", {0x18, 0x6E, 0xFF}, idx, {.pc = 0x21FF}, 4));
    out.push_back(make("JSR dir", {0x9D, 0x50}, idx, {.sp = 0x01FD, .pc = 0x0050}, 5, {}, ret(2)));
    out.push_back(
        make("JSR ext", {0xBD, 0x12, 0x34}, idx, {.sp = 0x01FD, .pc = 0x1234}, 6, {}, ret(3)));
    out.push_back(
        make("JSR ind,X", {0xAD, 0x10}, idx, {.sp = 0x01FD, .pc = 0x2010}, 6, {}, ret(2)));
    out.push_back(
        make("JSR ind,Y", {0x18, 0xAD, 0x10}, idx, {.sp = 0x01FD, .pc = 0x2110}, 7, {}, ret(3)));
    out.push_back(
        make("BSR forward", {0x8D, 0x10}, idx, {.sp = 0x01FD, .pc = at(0x12)}, 6, {}, ret(2)));
    out.push_back(
        make("BSR backward", {0x8D, 0xFE}, idx, {.sp = 0x01FD, .pc = at(0)}, 6, {}, ret(2)));
    out.push_back(make("RTS", {0x39}, {.sp = 0x01FD}, {.sp = 0x01FF, .pc = 0x1234}, 5,
                       {{0x01FE, 0x12}, {0x01FF, 0x34}}));
}

void stackCases(std::vector<Case>& out) {
    out.push_back(make("PSHA", {0x36}, {.a = 0x5A}, {.sp = 0x01FE}, 3, {}, {{0x01FF, 0x5A}}));
    out.push_back(make("PSHB", {0x37}, {.b = 0xA5}, {.sp = 0x01FE}, 3, {}, {{0x01FF, 0xA5}}));
    out.push_back(make("PSHX", {0x3C}, {.x = 0x1234}, {.sp = 0x01FD}, 4, {},
                       {{0x01FF, 0x34}, {0x01FE, 0x12}}));
    out.push_back(make("PSHY", {0x18, 0x3C}, {.y = 0xBEEF}, {.sp = 0x01FD}, 5, {},
                       {{0x01FF, 0xEF}, {0x01FE, 0xBE}}));
    out.push_back(make("PULA", {0x32}, {.sp = 0x01FE, .ccr = C}, {.a = 0x77, .sp = 0x01FF}, 4,
                       {{0x01FF, 0x77}}));
    out.push_back(
        make("PULB", {0x33}, {.sp = 0x01FE}, {.b = 0x88, .sp = 0x01FF}, 4, {{0x01FF, 0x88}}));
    out.push_back(make("PULX", {0x38}, {.sp = 0x01FD}, {.x = 0x1234, .sp = 0x01FF}, 5,
                       {{0x01FE, 0x12}, {0x01FF, 0x34}}));
    out.push_back(make("PULY", {0x18, 0x38}, {.sp = 0x01FD}, {.y = 0xBEEF, .sp = 0x01FF}, 6,
                       {{0x01FE, 0xBE}, {0x01FF, 0xEF}}));
    out.push_back(make("PULX wraps SP", {0x38}, {.sp = 0xFFFE}, {.x = 0x1234, .sp = 0x0000}, 5,
                       {{0xFFFF, 0x12}, {0x0000, 0x34}}));
    // TSX/TSY point at the last stacked byte; TXS/TYS undo that.
    out.push_back(make("TSX", {0x30}, {.sp = 0x01F0}, {.x = 0x01F1}, 3));
    out.push_back(make("TSY", {0x18, 0x30}, {.sp = 0xFFFF}, {.y = 0x0000}, 4));
    out.push_back(make("TXS", {0x35}, {.x = 0x0200}, {.sp = 0x01FF}, 3));
    out.push_back(make("TYS", {0x18, 0x35}, {.y = 0x0000}, {.sp = 0xFFFF}, 4));
    out.push_back(make("INS", {0x31}, {.sp = 0xFFFF}, {.sp = 0x0000}, 3));  // no Z for SP
    out.push_back(make("DES", {0x34}, {.sp = 0x0001, .ccr = Z}, {.sp = 0x0000}, 3));
}

void indexCases(std::vector<Case>& out) {
    out.push_back(make("INX to zero", {0x08}, {.x = 0xFFFF}, {.x = 0x0000, .ccr = Z}, 3));
    out.push_back(
        make("INX", {0x08}, {.x = 0x00FF, .ccr = Z | N | C}, {.x = 0x0100, .ccr = N | C}, 3));
    out.push_back(make("DEX to zero", {0x09}, {.x = 0x0001}, {.x = 0x0000, .ccr = Z}, 3));
    out.push_back(make("DEX wraps", {0x09}, {.x = 0x0000, .ccr = Z}, {.x = 0xFFFF, .ccr = 0}, 3));
    out.push_back(make("INY to zero", {0x18, 0x08}, {.y = 0xFFFF}, {.y = 0x0000, .ccr = Z}, 4));
    out.push_back(make("DEY", {0x18, 0x09}, {.y = 0x0100, .ccr = Z}, {.y = 0x00FF, .ccr = 0}, 4));
}

void ccrCases(std::vector<Case>& out) {
    out.push_back(make("NOP", {0x01}, {.a = 1, .ccr = 0xFF}, {}, 2));
    out.push_back(make("CLV", {0x0A}, {.ccr = 0xFF}, {.ccr = 0xFD}, 2));
    out.push_back(make("SEV", {0x0B}, {.ccr = 0x00}, {.ccr = V}, 2));
    out.push_back(make("CLC", {0x0C}, {.ccr = 0xFF}, {.ccr = 0xFE}, 2));
    out.push_back(make("SEC", {0x0D}, {.ccr = 0x00}, {.ccr = C}, 2));
    out.push_back(make("CLI", {0x0E}, {.ccr = 0xFF}, {.ccr = 0xEF}, 2));
    out.push_back(make("SEI", {0x0F}, {.ccr = 0x00}, {.ccr = I}, 2));
    out.push_back(make("TPA", {0x07}, {.a = 0, .ccr = 0xD5}, {.a = 0xD5}, 2));
    out.push_back(make("TAP clears X", {0x06}, {.a = 0x00, .ccr = 0xD0}, {.ccr = 0x00}, 2));
    out.push_back(make("TAP with X set", {0x06}, {.a = 0xFF, .ccr = X}, {.ccr = 0xFF}, 2));
    // Once X is clear, TAP cannot set it again.
    out.push_back(make("TAP cannot set X", {0x06}, {.a = 0xFF, .ccr = 0x00}, {.ccr = 0xBF}, 2));
}

// A full register file that is easy to recognise on the stack.
constexpr Setup kRegs = {.a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .ccr = 0};

MemList stackImage(std::uint16_t pc, std::uint8_t ccrStacked) {
    return {{0x01FF, static_cast<std::uint8_t>(pc)},
            {0x01FE, static_cast<std::uint8_t>(pc >> 8)},
            {0x01FD, 0x66},
            {0x01FC, 0x55},
            {0x01FB, 0x44},
            {0x01FA, 0x33},
            {0x01F9, 0x11},
            {0x01F8, 0x22},
            {0x01F7, ccrStacked}};
}

void interruptInstructionCases(std::vector<Case>& out) {
    const MemList vectors = {{0xFFF6, 0x80}, {0xFFF7, 0x00}, {0xFFF8, 0x90}, {0xFFF9, 0x00}};
    Setup regs = kRegs;
    regs.ccr = N | C;
    out.push_back(make("SWI", {0x3F}, regs, {.sp = 0x01F6, .pc = 0x8000, .ccr = I | N | C}, 14,
                       vectors, stackImage(at(1), N | C)));
    regs.ccr = S | X | I;
    out.push_back(make("SWI with masks set", {0x3F}, regs,
                       {.sp = 0x01F6, .pc = 0x8000, .ccr = S | X | I}, 14, vectors,
                       stackImage(at(1), S | X | I)));
    // RTI pulls CCR, B, A, X, Y, PC in the reverse order of stacking.
    MemList image = stackImage(0x1234, N | V);
    out.push_back(make(
        "RTI", {0x3B}, {.a = 0, .b = 0, .x = 0, .y = 0, .sp = 0x01F6, .ccr = X | I},
        {.a = 0x11, .b = 0x22, .x = 0x3344, .y = 0x5566, .sp = 0x01FF, .pc = 0x1234, .ccr = N | V},
        12, image));
    image = stackImage(0x1234, S | X | I | Z);
    out.push_back(make("RTI cannot set X", {0x3B},
                       {.a = 0, .b = 0, .x = 0, .y = 0, .sp = 0x01F6, .ccr = 0},
                       {.a = 0x11,
                        .b = 0x22,
                        .x = 0x3344,
                        .y = 0x5566,
                        .sp = 0x01FF,
                        .pc = 0x1234,
                        .ccr = S | I | Z},
                       12, image));
    // WAI stacks at once; its last two cycles (the vector fetch) come when the wait ends.
    regs.ccr = 0;
    out.push_back(make("WAI stacks", {0x3E}, regs, {.sp = 0x01F6}, 12, {}, stackImage(at(1), 0)));
    out.push_back(make("STOP disabled by S", {0xCF}, {.ccr = S}, {}, 2));
    out.push_back(make("TEST traps outside test mode", {0x00}, regs,
                       {.sp = 0x01F6, .pc = 0x9000, .ccr = I}, 14, vectors, stackImage(at(0), 0)));
}

}  // namespace

std::vector<Case> controlCases() {
    std::vector<Case> out;
    branchCases(out);
    jumpCases(out);
    stackCases(out);
    indexCases(out);
    ccrCases(out);
    interruptInstructionCases(out);
    return out;
}

INSTANTIATE_TEST_SUITE_P(Control, InstructionTest, testing::ValuesIn(byMnemonic(controlCases())),
                         groupName);

}  // namespace kestro::sim::test
