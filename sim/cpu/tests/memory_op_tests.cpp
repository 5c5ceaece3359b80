// Stores, read-modify-write operations (accumulator and memory forms) and the bit
// instructions, plus the data-bus traffic each kind of instruction produces.
#include "test_harness.h"

namespace kestro::sim::test {
namespace {

using namespace kestro::sim::ccr;

enum class M { A, B, Dir, Ext, IndX, IndY };

struct Enc {
    Bytes opcode;
    M mode;
    int cycles;
};

// Operand placement shared by these tables: dir $0040, ext $1234, X = $2000 + 5, Y = $2100 + 7.
struct Placed {
    Bytes code;
    std::uint16_t addr = 0;
};

Placed place(const Enc& e, std::uint16_t x, std::uint16_t y) {
    Placed p{e.opcode};
    switch (e.mode) {
        case M::A:
        case M::B:
            break;
        case M::Dir:
            p.addr = 0x0040;
            p.code.push_back(0x40);
            break;
        case M::Ext:
            p.addr = 0x1234;
            p.code.insert(p.code.end(), {0x12, 0x34});
            break;
        case M::IndX:
            p.addr = static_cast<std::uint16_t>(x + 5);
            p.code.push_back(5);
            break;
        case M::IndY:
            p.addr = static_cast<std::uint16_t>(y + 7);
            p.code.push_back(7);
            break;
    }
    return p;
}

const char* modeName(M m) {
    switch (m) {
        case M::A:
            return "A";
        case M::B:
            return "B";
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

// ---- stores: the target is written, never read; N Z from the value, V cleared.

enum class R { A, B, D, X, Y, S };

struct StoreFamily {
    const char* name;
    R reg;
    std::vector<Enc> encs;
};

struct StoreVec {
    std::uint16_t value;
    std::uint8_t ccrIn;
    std::uint8_t ccrOut;
};

void storeCases(std::vector<Case>& out) {
    const std::vector<StoreFamily> families = {
        {"STAA",
         R::A,
         {{{0x97}, M::Dir, 3},
          {{0xB7}, M::Ext, 4},
          {{0xA7}, M::IndX, 4},
          {{0x18, 0xA7}, M::IndY, 5}}},
        {"STAB",
         R::B,
         {{{0xD7}, M::Dir, 3},
          {{0xF7}, M::Ext, 4},
          {{0xE7}, M::IndX, 4},
          {{0x18, 0xE7}, M::IndY, 5}}},
        {"STD",
         R::D,
         {{{0xDD}, M::Dir, 4},
          {{0xFD}, M::Ext, 5},
          {{0xED}, M::IndX, 5},
          {{0x18, 0xED}, M::IndY, 6}}},
        {"STX",
         R::X,
         {{{0xDF}, M::Dir, 4},
          {{0xFF}, M::Ext, 5},
          {{0xEF}, M::IndX, 5},
          {{0xCD, 0xEF}, M::IndY, 6}}},
        {"STY",
         R::Y,
         {{{0x18, 0xDF}, M::Dir, 5},
          {{0x18, 0xFF}, M::Ext, 6},
          {{0x1A, 0xEF}, M::IndX, 6},
          {{0x18, 0xEF}, M::IndY, 6}}},
        {"STS",
         R::S,
         {{{0x9F}, M::Dir, 4},
          {{0xBF}, M::Ext, 5},
          {{0xAF}, M::IndX, 5},
          {{0x18, 0xAF}, M::IndY, 6}}},
    };
    const std::vector<StoreVec> wide = {{0x8001, V | C, N | C}, {0x0000, N, Z}, {0x3000, Z, 0}};
    const std::vector<StoreVec> narrow = {{0x80, V | C, N | C}, {0x00, N, Z}, {0x30, Z, 0}};
    for (const StoreFamily& f : families) {
        const bool isWide = !(f.reg == R::A || f.reg == R::B);
        for (const Enc& e : f.encs) {
            int n = 0;
            for (const StoreVec& v : isWide ? wide : narrow) {
                Case c;
                c.name = std::string(f.name) + " " + modeName(e.mode) + " #" + std::to_string(n++);
                c.in = {
                    .a = 0x11, .b = 0x22, .x = 0x2000, .y = 0x2100, .sp = 0x01FF, .ccr = v.ccrIn};
                switch (f.reg) {
                    case R::A:
                        c.in.a = static_cast<std::uint8_t>(v.value);
                        break;
                    case R::B:
                        c.in.b = static_cast<std::uint8_t>(v.value);
                        break;
                    case R::D:
                        c.in.a = static_cast<std::uint8_t>(v.value >> 8);
                        c.in.b = static_cast<std::uint8_t>(v.value);
                        break;
                    case R::X:
                        c.in.x = v.value;
                        break;
                    case R::Y:
                        c.in.y = v.value;
                        break;
                    case R::S:
                        c.in.sp = v.value;
                        break;
                }
                const Placed p = place(e, c.in.x, c.in.y);
                c.code = p.code;
                c.mem = {{p.addr, 0xEE}, {static_cast<std::uint16_t>(p.addr + 1), 0xEE}};
                if (isWide) {
                    c.memOut = {{p.addr, static_cast<std::uint8_t>(v.value >> 8)},
                                {static_cast<std::uint16_t>(p.addr + 1),
                                 static_cast<std::uint8_t>(v.value)}};
                    c.mustNotRead = {p.addr, static_cast<std::uint16_t>(p.addr + 1)};
                } else {
                    c.memOut = {{p.addr, static_cast<std::uint8_t>(v.value)},
                                {static_cast<std::uint16_t>(p.addr + 1), 0xEE}};
                    c.mustNotRead = {p.addr};
                }
                c.out.ccr = v.ccrOut;
                c.cycles = e.cycles;
                out.push_back(std::move(c));
            }
        }
    }
}

// ---- read-modify-write

struct RmwVec {
    std::uint8_t m;
    std::uint8_t ccrIn;
    std::uint8_t r;
    std::uint8_t ccrOut;
};

struct RmwOp {
    const char* name;
    std::uint8_t low;  // low nibble shared by NEGA/NEGB/NEG ext/NEG ind,X/NEG ind,Y
    std::vector<RmwVec> vecs;
};

void rmwCases(std::vector<Case>& out) {
    const std::vector<RmwOp> ops = {
        {"NEG", 0x0, {{0x01, 0, 0xFF, N | C}, {0x00, C, 0x00, Z}, {0x80, 0, 0x80, N | V | C}}},
        {"COM", 0x3, {{0x0F, V, 0xF0, N | C}, {0xFF, 0, 0x00, Z | C}}},
        {"LSR", 0x4, {{0x01, 0, 0x00, Z | V | C}, {0x82, N, 0x41, 0}, {0xFF, 0, 0x7F, V | C}}},
        {"ROR",
         0x6,
         {{0x01, C, 0x80, N | C},
          {0x02, 0, 0x01, 0},
          {0x01, 0, 0x00, Z | V | C},
          {0x00, C, 0x80, N | V}}},
        {"ASR", 0x7, {{0x81, 0, 0xC0, N | C}, {0x40, C, 0x20, 0}, {0x01, 0, 0x00, Z | V | C}}},
        {"ASL", 0x8, {{0x80, 0, 0x00, Z | V | C}, {0x40, C, 0x80, N | V}, {0xC0, 0, 0x80, N | C}}},
        {"ROL", 0x9, {{0x80, 0, 0x00, Z | V | C}, {0x40, C, 0x81, N | V}, {0x7F, C, 0xFF, N | V}}},
        {"DEC", 0xA, {{0x80, 0, 0x7F, V}, {0x01, C, 0x00, Z | C}, {0x00, 0, 0xFF, N}}},
        {"INC", 0xC, {{0x7F, 0, 0x80, N | V}, {0xFF, C, 0x00, Z | C}, {0x00, Z, 0x01, 0}}},
        {"TST", 0xD, {{0x80, V | C, 0x80, N}, {0x00, 0, 0x00, Z}, {0x7F, N, 0x7F, 0}}},
        {"CLR", 0xF, {{0x55, N | V | C, 0x00, Z}}},
    };
    for (const RmwOp& op : ops) {
        const auto o = [&](int base) { return static_cast<std::uint8_t>(base | op.low); };
        const std::vector<Enc> encs = {{{o(0x40)}, M::A, 2},
                                       {{o(0x50)}, M::B, 2},
                                       {{o(0x70)}, M::Ext, 6},
                                       {{o(0x60)}, M::IndX, 6},
                                       {{0x18, o(0x60)}, M::IndY, 7}};
        const bool isTst = std::string(op.name) == "TST";
        for (const Enc& e : encs) {
            int n = 0;
            for (const RmwVec& v : op.vecs) {
                Case c;
                c.name = std::string(op.name) + " " + modeName(e.mode) + " #" + std::to_string(n++);
                c.in = {
                    .a = 0x11, .b = 0x22, .x = 0x2000, .y = 0x2100, .sp = 0x01FF, .ccr = v.ccrIn};
                const Placed p = place(e, c.in.x, c.in.y);
                c.code = p.code;
                if (e.mode == M::A) {
                    c.in.a = v.m;
                    c.out.a = v.r;
                } else if (e.mode == M::B) {
                    c.in.b = v.m;
                    c.out.b = v.r;
                } else {
                    c.mem = {{p.addr, v.m}};
                    if (!isTst)
                        c.memOut = {{p.addr, v.r}};
                }
                c.out.ccr = v.ccrOut;
                c.cycles = e.cycles;
                out.push_back(std::move(c));
            }
        }
    }
}

// ---- BSET/BCLR/BRSET/BRCLR

struct BitVec {
    std::uint8_t m;
    std::uint8_t mask;
    std::uint8_t ccrIn;
    std::uint8_t r;       // BSET/BCLR result
    std::uint8_t ccrOut;  // BSET/BCLR flags
    bool taken;           // BRSET/BRCLR
};

void bitCases(std::vector<Case>& out) {
    struct BitOp {
        const char* name;
        std::vector<Enc> encs;
        bool branch;
        std::vector<BitVec> vecs;
    };
    const std::vector<BitOp> ops = {
        {"BSET",
         {{{0x14}, M::Dir, 6}, {{0x1C}, M::IndX, 7}, {{0x18, 0x1C}, M::IndY, 8}},
         false,
         {{0x0F, 0x80, V | C, 0x8F, N | C, false},
          {0x00, 0x00, 0, 0x00, Z, false},
          {0x01, 0x02, N, 0x03, 0, false}}},
        {"BCLR",
         {{{0x15}, M::Dir, 6}, {{0x1D}, M::IndX, 7}, {{0x18, 0x1D}, M::IndY, 8}},
         false,
         {{0xFF, 0xFF, V, 0x00, Z, false},
          {0x81, 0x01, 0, 0x80, N, false},
          {0x0F, 0xF0, Z, 0x0F, 0, false}}},
        {"BRSET",
         {{{0x12}, M::Dir, 6}, {{0x1E}, M::IndX, 7}, {{0x18, 0x1E}, M::IndY, 8}},
         true,
         {{0xF0, 0x30, N | Z | V | C, 0, 0, true},
          {0xE0, 0x30, 0, 0, 0, false},
          {0x00, 0x00, 0, 0, 0, true},
          {0xFF, 0x81, 0, 0, 0, true},
          {0x7F, 0x81, 0, 0, 0, false}}},
        {"BRCLR",
         {{{0x13}, M::Dir, 6}, {{0x1F}, M::IndX, 7}, {{0x18, 0x1F}, M::IndY, 8}},
         true,
         {{0x0F, 0xF0, N | Z | V | C, 0, 0, true},
          {0x1F, 0xF0, 0, 0, 0, false},
          {0xFF, 0x00, 0, 0, 0, true},
          {0x7E, 0x81, 0, 0, 0, true},
          {0x7F, 0x81, 0, 0, 0, false}}},
    };
    for (const BitOp& op : ops) {
        for (const Enc& e : op.encs) {
            int n = 0;
            for (const BitVec& v : op.vecs) {
                for (const std::int8_t offset : {std::int8_t{0x10}, std::int8_t{-0x20}}) {
                    if (!op.branch && offset < 0)
                        continue;
                    Case c;
                    c.name =
                        std::string(op.name) + " " + modeName(e.mode) + " #" + std::to_string(n++);
                    c.in = {.a = 0x11,
                            .b = 0x22,
                            .x = 0x2000,
                            .y = 0x2100,
                            .sp = 0x01FF,
                            .ccr = v.ccrIn};
                    const Placed p = place(e, c.in.x, c.in.y);
                    c.code = p.code;
                    c.code.push_back(v.mask);
                    c.mem = {{p.addr, v.m}};
                    if (op.branch) {
                        c.code.push_back(static_cast<std::uint8_t>(offset));
                        const auto next = static_cast<std::uint16_t>(kOrg + c.code.size());
                        c.out.pc = v.taken ? static_cast<std::uint16_t>(next + offset) : next;
                    } else {
                        c.memOut = {{p.addr, v.r}};
                        c.out.ccr = v.ccrOut;
                    }
                    c.cycles = e.cycles;
                    out.push_back(std::move(c));
                }
            }
        }
    }
}

}  // namespace

std::vector<Case> memoryOpCases() {
    std::vector<Case> out;
    storeCases(out);
    rmwCases(out);
    bitCases(out);
    return out;
}

INSTANTIATE_TEST_SUITE_P(MemoryOps, InstructionTest, testing::ValuesIn(byMnemonic(memoryOpCases())),
                         groupName);

// ---- bus traffic: the data accesses must be the chip's, in its order.

struct BusCase {
    const char* name;
    Bytes code;
    std::vector<Access> expected;  // data accesses only (outside the code bytes)
};

class BusTrafficTest : public testing::TestWithParam<BusCase> {};

TEST_P(BusTrafficTest, DataAccesses) {
    const BusCase& bc = GetParam();
    TestBus bus;
    bus.load(kOrg, bc.code);
    bus.mem[0x1234] = 0x81;
    bus.mem[0x1235] = 0x42;
    Cpu cpu(bus);
    cpu.resetAt(kOrg);
    cpu.regs.x = 0x1230;
    cpu.regs.sp = 0x01FF;
    cpu.regs.a = 0xA5;
    cpu.regs.b = 0x5A;
    bus.log.clear();
    cpu.step();
    EXPECT_EQ(bus.dataAccesses(kOrg, bc.code.size()), bc.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cpu, BusTrafficTest,
    testing::Values(
        BusCase{"LDAA_reads_once", {0xB6, 0x12, 0x34}, {{false, 0x1234, 0x81}}},
        BusCase{"LDD_reads_high_then_low",
                {0xFC, 0x12, 0x34},
                {{false, 0x1234, 0x81}, {false, 0x1235, 0x42}}},
        BusCase{"STAA_writes_only", {0xB7, 0x12, 0x34}, {{true, 0x1234, 0xA5}}},
        BusCase{
            "STD_writes_high_then_low", {0xED, 0x04}, {{true, 0x1234, 0xA5}, {true, 0x1235, 0x5A}}},
        BusCase{"BSET_reads_then_writes",
                {0x1C, 0x04, 0x02},
                {{false, 0x1234, 0x81}, {true, 0x1234, 0x83}}},
        BusCase{"BRSET_only_reads", {0x1E, 0x04, 0x01, 0x00}, {{false, 0x1234, 0x81}}},
        BusCase{"INC_reads_then_writes",
                {0x7C, 0x12, 0x34},
                {{false, 0x1234, 0x81}, {true, 0x1234, 0x82}}},
        BusCase{"TST_only_reads", {0x7D, 0x12, 0x34}, {{false, 0x1234, 0x81}}},
        // The chip's CLR reads its operand before writing zero (manual cycle tables), which
        // matters for registers that clear flags on reads.
        BusCase{"CLR_reads_then_writes",
                {0x7F, 0x12, 0x34},
                {{false, 0x1234, 0x81}, {true, 0x1234, 0x00}}},
        BusCase{"JMP_reads_no_data", {0x7E, 0x12, 0x34}, {}},
        BusCase{"PSHX_low_byte_first", {0x3C}, {{true, 0x01FF, 0x30}, {true, 0x01FE, 0x12}}},
        BusCase{"JSR_pushes_return_low_first",
                {0xBD, 0x12, 0x34},
                {{true, 0x01FF, 0x03}, {true, 0x01FE, 0xC0}}}),
    [](const testing::TestParamInfo<BusCase>& info) { return std::string(info.param.name); });

}  // namespace kestro::sim::test
