// SPDX-License-Identifier: GPL-3.0-or-later
// Shared fixtures for the CPU tests: a logging 64 KB bus and a table-driven single-instruction
// case runner.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kestro/sim/cpu.h"

namespace kestro::sim {
// Registers as hex in failure messages.
void PrintTo(const Registers& r, std::ostream* os);
}  // namespace kestro::sim

namespace kestro::sim::test {

using Bytes = std::vector<std::uint8_t>;
using MemList = std::vector<std::pair<std::uint16_t, std::uint8_t>>;

inline constexpr std::uint16_t kOrg = 0xC000;  // where each case's code is placed

struct Access {
    bool write;
    std::uint16_t address;
    std::uint8_t value;
    bool operator==(const Access&) const = default;
};

class TestBus : public Bus {
  public:
    std::array<std::uint8_t, 0x10000> mem{};
    std::vector<Access> log;
    bool direct = false;  // every page but the register block at $1000 on the fast path

    std::uint8_t read(std::uint16_t a) override {
        log.push_back({false, a, mem[a]});
        return mem[a];
    }
    void write(std::uint16_t a, std::uint8_t v) override {
        log.push_back({true, a, v});
        mem[a] = v;
    }
    const std::uint8_t* directReadPage(std::uint8_t p) override { return page(p); }
    std::uint8_t* directWritePage(std::uint8_t p) override { return page(p); }
    std::uint8_t* page(std::uint8_t p) { return direct && p != 0x10 ? &mem[p << 8] : nullptr; }
    void load(std::uint16_t at, const Bytes& bytes) {
        for (std::uint8_t b : bytes)
            mem[at++] = b;
    }
    void setWord(std::uint16_t at, std::uint16_t v) {
        load(at, {std::uint8_t(v >> 8), std::uint8_t(v)});
    }
};

// Registers before a case runs; the PC is always kOrg.
struct Setup {
    std::uint8_t a = 0, b = 0;
    std::uint16_t x = 0, y = 0, sp = 0x01FF;
    std::uint8_t ccr = 0;
};

// Expected registers after one step; a register left unset must be unchanged, and the PC
// defaults to the byte after the code.
struct Expect {
    std::optional<std::uint8_t> a = {}, b = {};
    std::optional<std::uint16_t> x = {}, y = {}, sp = {}, pc = {};
    std::optional<std::uint8_t> ccr = {};
};

// One instruction: code at kOrg, initial state, expected state and E cycles. Any write to a
// cell not listed in memOut fails the case.
struct Case {
    std::string name;
    Bytes code = {};
    Setup in = {};
    Expect out = {};
    int cycles = 0;
    MemList mem = {}, memOut = {};
};

// Runs each case on a fresh CPU and reports every mismatch under the case's name.
void checkCases(const std::vector<Case>& cases);

// ---- Operand placement shared by the family tables. Opcodes are written with their prebyte
// in the high byte ($18A7 is $18 $A7). Operands sit at $0040 (dir), $1234 (ext), X + 5 or
// Y + 7, with X = $2000 and Y = $2100 unless the family's own register says otherwise.

enum class M { A, B, Imm, Dir, Ext, IndX, IndY };
enum class R { A, B, D, X, Y, S };

inline constexpr Setup kIndexRegs = {.x = 0x2000, .y = 0x2100};

std::string modeName(M m);
// Opcode bytes plus the operand bytes of mode m (an immediate is `imm`, two bytes if wide);
// returns the operand's address (0 for register and immediate modes).
std::uint16_t place(Bytes& code, std::uint16_t opcode, M m, const Setup& in, std::uint16_t imm = 0,
                    bool wide = false);

// Sets a register of a Setup or an Expect; D is A:B.
template <class Regs>
void assign(Regs& r, R which, std::uint16_t v) {
    if (which == R::A || which == R::D)
        r.a = static_cast<std::uint8_t>(which == R::D ? v >> 8 : v);
    if (which == R::B || which == R::D)
        r.b = static_cast<std::uint8_t>(v);
    if (which == R::X)
        r.x = v;
    if (which == R::Y)
        r.y = v;
    if (which == R::S)
        r.sp = v;
}

inline MemList wordAt(std::uint16_t addr, std::uint16_t v) {
    return {{addr, std::uint8_t(v >> 8)}, {std::uint16_t(addr + 1), std::uint8_t(v)}};
}

}  // namespace kestro::sim::test
