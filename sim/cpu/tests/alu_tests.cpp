// Arithmetic and logic: every addressing mode of the accumulator and 16-bit ALU families,
// plus the inherent arithmetic (ABA, DAA, MUL, IDIV, FDIV, shifts of D, exchanges).
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

using namespace kestro::sim::ccr;

enum class M { Imm, Dir, Ext, IndX, IndY };

// One encoding of a family: opcode bytes (prebyte included), mode, E cycles from the manual.
struct Enc {
    Bytes opcode;
    M mode;
    int cycles;
};

constexpr const char* modeName(M m) {
    switch (m) {
        case M::Imm:
            return "imm";
        case M::Dir:
            return "dir";
        case M::Ext:
            return "ext";
        case M::IndX:
            return "ind,X";
        case M::IndY:
            return "ind,Y";
    }
    return "?";
}

// The page-1 accumulator families share one layout: imm = base, dir = +$10, ind,X = +$20,
// ext = +$30, and ind,Y is ind,X behind prebyte $18; cycles 2/3/4/4/5.
std::vector<Enc> accFamily(std::uint8_t base) {
    const auto o = [base](int d) { return static_cast<std::uint8_t>(base + d); };
    return {{{o(0)}, M::Imm, 2},
            {{o(0x10)}, M::Dir, 3},
            {{o(0x30)}, M::Ext, 4},
            {{o(0x20)}, M::IndX, 4},
            {{0x18, o(0x20)}, M::IndY, 5}};
}

enum class R { A, B, D, X, Y, S };

struct Vec {
    std::uint16_t reg;      // register before
    std::uint16_t operand;  // memory or immediate operand
    std::uint8_t ccrIn;
    std::uint16_t result;  // register after
    std::uint8_t ccrOut;
};

void setReg(Setup& s, R r, std::uint16_t v) {
    switch (r) {
        case R::A:
            s.a = static_cast<std::uint8_t>(v);
            break;
        case R::B:
            s.b = static_cast<std::uint8_t>(v);
            break;
        case R::D:
            s.a = static_cast<std::uint8_t>(v >> 8);
            s.b = static_cast<std::uint8_t>(v);
            break;
        case R::X:
            s.x = v;
            break;
        case R::Y:
            s.y = v;
            break;
        case R::S:
            s.sp = v;
            break;
    }
}

void expectReg(Expect& e, R r, std::uint16_t v) {
    switch (r) {
        case R::A:
            e.a = static_cast<std::uint8_t>(v);
            break;
        case R::B:
            e.b = static_cast<std::uint8_t>(v);
            break;
        case R::D:
            e.a = static_cast<std::uint8_t>(v >> 8);
            e.b = static_cast<std::uint8_t>(v);
            break;
        case R::X:
            e.x = v;
            break;
        case R::Y:
            e.y = v;
            break;
        case R::S:
            e.sp = v;
            break;
    }
}

// Expands a family x vectors into cases. The operand sits at $0040 (dir), $1234 (ext), X+5 or
// Y+7; X and Y point at $2000/$2100 unless they are the family's own register.
void expand(std::vector<Case>& out, const std::string& name, R reg, bool wide, bool writesBack,
            const std::vector<Enc>& encs, const std::vector<Vec>& vecs) {
    for (const Enc& enc : encs) {
        int n = 0;
        for (const Vec& v : vecs) {
            Case c;
            c.name = name + " " + modeName(enc.mode) + " #" + std::to_string(n++);
            c.code = enc.opcode;
            c.in.ccr = v.ccrIn;
            c.in.x = 0x2000;
            c.in.y = 0x2100;
            setReg(c.in, reg, v.reg);
            std::uint16_t addr = 0;
            switch (enc.mode) {
                case M::Imm:
                    if (wide)
                        c.code.push_back(static_cast<std::uint8_t>(v.operand >> 8));
                    c.code.push_back(static_cast<std::uint8_t>(v.operand));
                    break;
                case M::Dir:
                    addr = 0x0040;
                    c.code.push_back(0x40);
                    break;
                case M::Ext:
                    addr = 0x1234;
                    c.code.insert(c.code.end(), {0x12, 0x34});
                    break;
                case M::IndX:
                    addr = static_cast<std::uint16_t>(c.in.x + 5);
                    c.code.push_back(5);
                    break;
                case M::IndY:
                    addr = static_cast<std::uint16_t>(c.in.y + 7);
                    c.code.push_back(7);
                    break;
            }
            if (enc.mode != M::Imm) {
                if (wide) {
                    c.mem = {{addr, static_cast<std::uint8_t>(v.operand >> 8)},
                             {static_cast<std::uint16_t>(addr + 1),
                              static_cast<std::uint8_t>(v.operand)}};
                } else {
                    c.mem = {{addr, static_cast<std::uint8_t>(v.operand)}};
                }
            }
            if (writesBack)
                expectReg(c.out, reg, v.result);
            c.out.ccr = v.ccrOut;
            c.cycles = enc.cycles;
            out.push_back(std::move(c));
        }
    }
}

// ---- 8-bit vectors (register, operand, ccr in, result, ccr out)

const std::vector<Vec> kAdd = {
    {0x12, 0x34, 0, 0x46, 0},
    {0x08, 0x08, 0, 0x10, H},                      // carry out of bit 3
    {0x7F, 0x01, 0, 0x80, H | N | V},              // signed overflow
    {0xFF, 0x01, 0, 0x00, H | Z | C},              // carry out of bit 7
    {0x80, 0x80, C, 0x00, Z | V | C},              // ADD ignores the incoming carry
    {0x01, 0x01, S | X | I | H, 0x02, S | X | I},  // H recomputed, mask bits kept
};
const std::vector<Vec> kAdc = {
    {0x12, 0x34, C, 0x47, 0},         {0x0F, 0x00, C, 0x10, H},
    {0xFF, 0x00, C, 0x00, H | Z | C}, {0x7F, 0x00, C, 0x80, H | N | V},
    {0x40, 0x40, 0, 0x80, N | V},
};
const std::vector<Vec> kSub = {
    {0x46, 0x34, 0, 0x12, 0},         {0x00, 0x01, 0, 0xFF, N | C},  // borrow
    {0x80, 0x01, 0, 0x7F, V},         {0x34, 0x34, C, 0x00, Z},
    {0x7F, 0xFF, 0, 0x80, N | V | C}, {0x10, 0x01, H, 0x0F, H},  // H is not affected by subtraction
};
const std::vector<Vec> kSbc = {
    {0x46, 0x34, C, 0x11, 0}, {0x00, 0x00, C, 0xFF, N | C}, {0x80, 0x00, C, 0x7F, V},
    {0x35, 0x34, C, 0x00, Z}, {0x35, 0x34, 0, 0x01, 0},
};
const std::vector<Vec> kAnd = {
    {0xF0, 0x3C, V | C, 0x30, C},  // V cleared, C kept
    {0x0F, 0xF0, 0, 0x00, Z},
    {0x80, 0xFF, 0, 0x80, N},
};
const std::vector<Vec> kOr = {
    {0xF0, 0x0F, V, 0xFF, N},
    {0x00, 0x00, C, 0x00, Z | C},
    {0x12, 0x21, 0, 0x33, 0},
};
const std::vector<Vec> kEor = {
    {0xFF, 0x0F, V, 0xF0, N},
    {0x5A, 0x5A, 0, 0x00, Z},
    {0x12, 0x21, C, 0x33, C},
};
const std::vector<Vec> kLd = {
    {0x00, 0x80, V, 0x80, N},
    {0x55, 0x00, C, 0x00, Z | C},
    {0x00, 0x7F, N | Z, 0x7F, 0},
};

// ---- 16-bit vectors

const std::vector<Vec> kAddD = {
    {0x1234, 0x1111, 0, 0x2345, 0},
    {0xFFFF, 0x0001, 0, 0x0000, Z | C},
    {0x7FFF, 0x0001, 0, 0x8000, N | V},
    {0x8000, 0x8000, H, 0x0000, H | Z | V | C},  // 16-bit adds leave H alone
    {0x00FF, 0x0001, 0, 0x0100, 0},              // carry between the bytes of D
};
const std::vector<Vec> kSubD = {
    {0x2345, 0x1111, 0, 0x1234, 0},
    {0x0000, 0x0001, 0, 0xFFFF, N | C},
    {0x8000, 0x0001, 0, 0x7FFF, V},
    {0x0100, 0x0001, C, 0x00FF, 0},  // borrow between the bytes of D
};
const std::vector<Vec> kCp16 = {
    {0x1234, 0x1234, N | C, 0, Z},     {0x1234, 0x1235, 0, 0, N | C}, {0x8000, 0x0001, 0, 0, V},
    {0x4000, 0x8000, 0, 0, N | V | C}, {0x1300, 0x12FF, 0, 0, 0},  // low bytes alone would borrow
};
const std::vector<Vec> kLd16 = {
    {0x3000, 0x8001, V, 0x8001, N},
    {0x3000, 0x0000, C, 0x0000, Z | C},
    {0x3000, 0x1234, N | Z, 0x1234, 0},
};

struct Family {
    std::string name;
    R reg;
    bool wide;
    bool writesBack;
    std::vector<Enc> encs;
    const std::vector<Vec>* vecs;
};

std::vector<Family> families() {
    std::vector<Family> f;
    struct Acc {
        const char* name;
        std::uint8_t base;
        const std::vector<Vec>* vecs;
        bool writesBack;
    };
    const Acc acc[] = {
        {"SUB", 0x80, &kSub, true}, {"CMP", 0x81, &kSub, false}, {"SBC", 0x82, &kSbc, true},
        {"AND", 0x84, &kAnd, true}, {"BIT", 0x85, &kAnd, false}, {"LDA", 0x86, &kLd, true},
        {"EOR", 0x88, &kEor, true}, {"ADC", 0x89, &kAdc, true},  {"ORA", 0x8A, &kOr, true},
        {"ADD", 0x8B, &kAdd, true},
    };
    for (const Acc& a : acc) {
        f.push_back(
            {std::string(a.name) + "A", R::A, false, a.writesBack, accFamily(a.base), a.vecs});
        f.push_back({std::string(a.name) + "B", R::B, false, a.writesBack,
                     accFamily(static_cast<std::uint8_t>(a.base + 0x40)), a.vecs});
    }
    // 16-bit families: encodings and cycles as listed in the manual's instruction table.
    f.push_back({"ADDD",
                 R::D,
                 true,
                 true,
                 {{{0xC3}, M::Imm, 4},
                  {{0xD3}, M::Dir, 5},
                  {{0xF3}, M::Ext, 6},
                  {{0xE3}, M::IndX, 6},
                  {{0x18, 0xE3}, M::IndY, 7}},
                 &kAddD});
    f.push_back({"SUBD",
                 R::D,
                 true,
                 true,
                 {{{0x83}, M::Imm, 4},
                  {{0x93}, M::Dir, 5},
                  {{0xB3}, M::Ext, 6},
                  {{0xA3}, M::IndX, 6},
                  {{0x18, 0xA3}, M::IndY, 7}},
                 &kSubD});
    f.push_back({"CPD",
                 R::D,
                 true,
                 false,
                 {{{0x1A, 0x83}, M::Imm, 5},
                  {{0x1A, 0x93}, M::Dir, 6},
                  {{0x1A, 0xB3}, M::Ext, 7},
                  {{0x1A, 0xA3}, M::IndX, 7},
                  {{0xCD, 0xA3}, M::IndY, 7}},
                 &kCp16});
    f.push_back({"CPX",
                 R::X,
                 true,
                 false,
                 {{{0x8C}, M::Imm, 4},
                  {{0x9C}, M::Dir, 5},
                  {{0xBC}, M::Ext, 6},
                  {{0xAC}, M::IndX, 6},
                  {{0xCD, 0xAC}, M::IndY, 7}},
                 &kCp16});
    f.push_back({"CPY",
                 R::Y,
                 true,
                 false,
                 {{{0x18, 0x8C}, M::Imm, 5},
                  {{0x18, 0x9C}, M::Dir, 6},
                  {{0x18, 0xBC}, M::Ext, 7},
                  {{0x1A, 0xAC}, M::IndX, 7},
                  {{0x18, 0xAC}, M::IndY, 7}},
                 &kCp16});
    f.push_back({"LDD",
                 R::D,
                 true,
                 true,
                 {{{0xCC}, M::Imm, 3},
                  {{0xDC}, M::Dir, 4},
                  {{0xFC}, M::Ext, 5},
                  {{0xEC}, M::IndX, 5},
                  {{0x18, 0xEC}, M::IndY, 6}},
                 &kLd16});
    f.push_back({"LDX",
                 R::X,
                 true,
                 true,
                 {{{0xCE}, M::Imm, 3},
                  {{0xDE}, M::Dir, 4},
                  {{0xFE}, M::Ext, 5},
                  {{0xEE}, M::IndX, 5},
                  {{0xCD, 0xEE}, M::IndY, 6}},
                 &kLd16});
    f.push_back({"LDY",
                 R::Y,
                 true,
                 true,
                 {{{0x18, 0xCE}, M::Imm, 4},
                  {{0x18, 0xDE}, M::Dir, 5},
                  {{0x18, 0xFE}, M::Ext, 6},
                  {{0x1A, 0xEE}, M::IndX, 6},
                  {{0x18, 0xEE}, M::IndY, 6}},
                 &kLd16});
    f.push_back({"LDS",
                 R::S,
                 true,
                 true,
                 {{{0x8E}, M::Imm, 3},
                  {{0x9E}, M::Dir, 4},
                  {{0xBE}, M::Ext, 5},
                  {{0xAE}, M::IndX, 5},
                  {{0x18, 0xAE}, M::IndY, 6}},
                 &kLd16});
    return f;
}

// ---- inherent arithmetic: (name, code, in, out, cycles)
Case inh(const char* name, Bytes code, Setup in, Expect out, int cycles) {
    Case c;
    c.name = name;
    c.code = std::move(code);
    c.in = in;
    c.out = out;
    c.cycles = cycles;
    return c;
}

std::vector<Case> inherentCases() {
    return {
        inh("ABA half carry", {0x1B}, {.a = 0x08, .b = 0x08}, {.a = 0x10, .ccr = H}, 2),
        inh("ABA carry", {0x1B}, {.a = 0xFF, .b = 0x01}, {.a = 0x00, .ccr = H | Z | C}, 2),
        inh("ABA overflow", {0x1B}, {.a = 0x70, .b = 0x10}, {.a = 0x80, .ccr = N | V}, 2),
        inh("SBA borrow", {0x10}, {.a = 0x00, .b = 0x01}, {.a = 0xFF, .ccr = N | C}, 2),
        inh("SBA overflow", {0x10}, {.a = 0x80, .b = 0x01, .ccr = H}, {.a = 0x7F, .ccr = H | V}, 2),
        inh("CBA equal", {0x11}, {.a = 0x34, .b = 0x34}, {.ccr = Z}, 2),
        inh("CBA lower", {0x11}, {.a = 0x01, .b = 0x02}, {.ccr = N | C}, 2),
        inh("TAB", {0x16}, {.a = 0x80, .b = 0x11, .ccr = V | C}, {.b = 0x80, .ccr = N | C}, 2),
        inh("TBA", {0x17}, {.a = 0x11, .b = 0x00}, {.a = 0x00, .ccr = Z}, 2),
        // DAA after the additions 15+27, 09+07, 50+50, 45+55, 99+99 and 00+00.
        inh("DAA low digit", {0x19}, {.a = 0x3C}, {.a = 0x42}, 2),
        inh("DAA half carry", {0x19}, {.a = 0x10, .ccr = H}, {.a = 0x16, .ccr = H}, 2),
        inh("DAA high digit", {0x19}, {.a = 0xA0}, {.a = 0x00, .ccr = Z | C}, 2),
        inh("DAA both digits", {0x19}, {.a = 0x9A}, {.a = 0x00, .ccr = Z | C}, 2),
        inh("DAA with C and H", {0x19}, {.a = 0x32, .ccr = H | C}, {.a = 0x98, .ccr = H | N | C},
            2),
        inh("DAA zero", {0x19}, {.a = 0x00}, {.ccr = Z}, 2),
        inh("DAA keeps C", {0x19}, {.a = 0x05, .ccr = C}, {.a = 0x65, .ccr = C}, 2),
        // MUL: C = bit 7 of the result (B), other flags untouched.
        inh("MUL C from bit 7", {0x3D}, {.a = 0x12, .b = 0x34}, {.a = 0x03, .b = 0xA8, .ccr = C},
            10),
        inh("MUL clears C", {0x3D}, {.a = 0x10, .b = 0x10, .ccr = N | Z | V | C},
            {.a = 0x01, .b = 0x00, .ccr = N | Z | V}, 10),
        inh("MUL max", {0x3D}, {.a = 0xFF, .b = 0xFF}, {.a = 0xFE, .b = 0x01}, 10),
        // IDIV: D / X -> X, remainder -> D.
        inh("IDIV", {0x02}, {.a = 0x12, .b = 0x34, .x = 0x0010, .ccr = V | C},
            {.a = 0x00, .b = 0x04, .x = 0x0123, .ccr = 0}, 41),
        inh("IDIV zero quotient", {0x02}, {.a = 0x00, .b = 0x05, .x = 0x000A},
            {.a = 0x00, .b = 0x05, .x = 0x0000, .ccr = Z}, 41),
        inh("IDIV by zero", {0x02}, {.a = 0x12, .b = 0x34, .x = 0x0000, .ccr = Z | V},
            {.x = 0xFFFF, .ccr = C}, 41),
        inh("IDIV by one", {0x02}, {.a = 0xFF, .b = 0xFF, .x = 0x0001},
            {.a = 0x00, .b = 0x00, .x = 0xFFFF}, 41),
        // FDIV: (D << 16) / X -> X, remainder -> D; V when X <= D.
        inh("FDIV half", {0x03}, {.a = 0x00, .b = 0x01, .x = 0x0002},
            {.a = 0x00, .b = 0x00, .x = 0x8000}, 41),
        inh("FDIV third", {0x03}, {.a = 0x10, .b = 0x00, .x = 0x3000, .ccr = C},
            {.a = 0x10, .b = 0x00, .x = 0x5555, .ccr = 0}, 41),
        inh("FDIV zero quotient", {0x03}, {.a = 0x00, .b = 0x00, .x = 0x0001},
            {.a = 0x00, .b = 0x00, .x = 0x0000, .ccr = Z}, 41),
        inh("FDIV overflow", {0x03}, {.a = 0x20, .b = 0x00, .x = 0x2000}, {.x = 0xFFFF, .ccr = V},
            41),
        inh("FDIV by zero", {0x03}, {.a = 0x00, .b = 0x00, .x = 0x0000},
            {.x = 0xFFFF, .ccr = V | C}, 41),
        inh("LSRD to zero", {0x04}, {.a = 0x00, .b = 0x01}, {.b = 0x00, .ccr = Z | V | C}, 3),
        inh("LSRD across bytes", {0x04}, {.a = 0x80, .b = 0x03, .ccr = N},
            {.a = 0x40, .b = 0x01, .ccr = V | C}, 3),
        inh("ASLD to zero", {0x05}, {.a = 0x80, .b = 0x00}, {.a = 0x00, .ccr = Z | V | C}, 3),
        inh("ASLD into sign", {0x05}, {.a = 0x40, .b = 0x80}, {.a = 0x81, .b = 0x00, .ccr = N | V},
            3),
        inh("ASLD N and C", {0x05}, {.a = 0xC0, .b = 0x01}, {.a = 0x80, .b = 0x02, .ccr = N | C},
            3),
        inh("XGDX", {0x8F}, {.a = 0x12, .b = 0x34, .x = 0xABCD, .ccr = C},
            {.a = 0xAB, .b = 0xCD, .x = 0x1234}, 3),
        inh("XGDY", {0x18, 0x8F}, {.a = 0x12, .b = 0x34, .y = 0xABCD},
            {.a = 0xAB, .b = 0xCD, .y = 0x1234}, 4),
        inh("ABX unsigned B", {0x3A}, {.b = 0xFF, .x = 0x1000}, {.x = 0x10FF}, 3),
        inh("ABX wraps", {0x3A}, {.b = 0x02, .x = 0xFFFF}, {.x = 0x0001}, 3),
        inh("ABY unsigned B", {0x18, 0x3A}, {.b = 0x80, .y = 0x1000}, {.y = 0x1080}, 4),
    };
}

}  // namespace

std::vector<Case> aluCases() {
    std::vector<Case> out;
    for (const Family& f : families())
        expand(out, f.name, f.reg, f.wide, f.writesBack, f.encs, *f.vecs);
    for (Case& c : inherentCases())
        out.push_back(std::move(c));
    return out;
}

INSTANTIATE_TEST_SUITE_P(Alu, InstructionTest, testing::ValuesIn(byMnemonic(aluCases())),
                         groupName);

}  // namespace kestro::sim::test
