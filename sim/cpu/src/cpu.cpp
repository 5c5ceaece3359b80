// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/cpu.h"

#include <cstddef>
#include <utility>

#include "kestro/sim/opcode_table.h"

namespace kestro::sim {

namespace {

using Handler = int (*)(Cpu&);

// For static_asserts in branches that no instantiation takes.
template <class>
[[maybe_unused]] inline constexpr bool kAlwaysFalse = false;

}  // namespace

// Instruction semantics. Every handler is instantiated per opcode from the opcode table, so
// the mode/register/operation choices below are resolved at compile time and each opcode
// becomes a straight-line function reached through one table lookup.
struct CpuExec {
    // Fetches the opcode after a prebyte and runs it from that page's table.
    static int prebyte(Cpu& c, int page);

    // ---- condition codes
    static void setNz8(Cpu& c, std::uint8_t r) {
        c.regs.ccr = static_cast<std::uint8_t>((c.regs.ccr & ~(ccr::N | ccr::Z)) |
                                               ((r & 0x80) ? ccr::N : 0) | (r == 0 ? ccr::Z : 0));
    }
    static void setNz16(Cpu& c, std::uint16_t r) {
        c.regs.ccr = static_cast<std::uint8_t>((c.regs.ccr & ~(ccr::N | ccr::Z)) |
                                               ((r & 0x8000) ? ccr::N : 0) | (r == 0 ? ccr::Z : 0));
    }
    // Logic results and loads/stores: N Z from the value, V cleared.
    static void setNzv0_8(Cpu& c, std::uint8_t r) {
        c.regs.ccr &= static_cast<std::uint8_t>(~ccr::V);
        setNz8(c, r);
    }
    static void setNzv0_16(Cpu& c, std::uint16_t r) {
        c.regs.ccr &= static_cast<std::uint8_t>(~ccr::V);
        setNz16(c, r);
    }
    static void setFlag(Cpu& c, std::uint8_t flag, bool on) {
        c.regs.ccr = static_cast<std::uint8_t>(on ? (c.regs.ccr | flag) : (c.regs.ccr & ~flag));
    }
    // Shifts and rotates: V = N xor C after the operation.
    static void setShiftFlags8(Cpu& c, std::uint8_t r, bool carry) {
        setNz8(c, r);
        setFlag(c, ccr::C, carry);
        setFlag(c, ccr::V, ((r & 0x80) != 0) != carry);
    }

    static std::uint8_t add8(Cpu& c, std::uint8_t a, std::uint8_t m, unsigned carryIn) {
        const unsigned r = a + m + carryIn;
        const unsigned carries = (a & m) | (m & ~r) | (~r & a);
        setNz8(c, static_cast<std::uint8_t>(r));
        setFlag(c, ccr::H, carries & 0x08);
        setFlag(c, ccr::C, carries & 0x80);
        setFlag(c, ccr::V, ((a & m & ~r) | (~a & ~m & r)) & 0x80);
        return static_cast<std::uint8_t>(r);
    }
    static std::uint8_t sub8(Cpu& c, std::uint8_t a, std::uint8_t m, unsigned borrowIn) {
        const unsigned r = a - m - borrowIn;
        setNz8(c, static_cast<std::uint8_t>(r));
        setFlag(c, ccr::C, ((~a & m) | (m & r) | (r & ~a)) & 0x80);
        setFlag(c, ccr::V, ((a & ~m & ~r) | (~a & m & r)) & 0x80);
        return static_cast<std::uint8_t>(r);
    }
    static std::uint16_t add16(Cpu& c, std::uint16_t a, std::uint16_t m) {
        const std::uint32_t r = std::uint32_t{a} + m;
        setNz16(c, static_cast<std::uint16_t>(r));
        setFlag(c, ccr::C, r & 0x10000);
        setFlag(c, ccr::V, ((a & m & ~r) | (~a & ~m & r)) & 0x8000);
        return static_cast<std::uint16_t>(r);
    }
    static std::uint16_t sub16(Cpu& c, std::uint16_t a, std::uint16_t m) {
        const std::uint32_t r = std::uint32_t{a} - m;
        setNz16(c, static_cast<std::uint16_t>(r));
        setFlag(c, ccr::C, m > a);
        setFlag(c, ccr::V, ((a & ~m & ~r) | (~a & m & r)) & 0x8000);
        return static_cast<std::uint16_t>(r);
    }

    // ---- operands
    template <Mode M>
    static std::uint16_t effectiveAddress(Cpu& c) {
        if constexpr (M == Mode::Dir) {
            return c.fetch8();
        } else if constexpr (M == Mode::Ext) {
            return c.fetch16();
        } else if constexpr (M == Mode::IndX) {
            return static_cast<std::uint16_t>(c.regs.x + c.fetch8());
        } else if constexpr (M == Mode::IndY) {
            return static_cast<std::uint16_t>(c.regs.y + c.fetch8());
        } else {
            static_assert(kAlwaysFalse<std::integral_constant<Mode, M>>, "mode has no address");
        }
    }
    template <Mode M>
    static std::uint8_t operand8(Cpu& c) {
        if constexpr (M == Mode::Imm8) {
            return c.fetch8();
        } else {
            return c.read8(effectiveAddress<M>(c));
        }
    }
    template <Mode M>
    static std::uint16_t operand16(Cpu& c) {
        if constexpr (M == Mode::Imm16) {
            return c.fetch16();
        } else {
            return c.read16(effectiveAddress<M>(c));
        }
    }

    template <Reg R>
    static std::uint8_t& acc(Cpu& c) {
        static_assert(R == Reg::A || R == Reg::B);
        if constexpr (R == Reg::A) {
            return c.regs.a;
        } else {
            return c.regs.b;
        }
    }
    template <Reg R>
    static std::uint16_t get16(const Cpu& c) {
        if constexpr (R == Reg::D) {
            return c.regs.d();
        } else if constexpr (R == Reg::X) {
            return c.regs.x;
        } else if constexpr (R == Reg::Y) {
            return c.regs.y;
        } else {
            static_assert(R == Reg::S);
            return c.regs.sp;
        }
    }
    template <Reg R>
    static void set16(Cpu& c, std::uint16_t v) {
        if constexpr (R == Reg::D) {
            c.regs.setD(v);
        } else if constexpr (R == Reg::X) {
            c.regs.x = v;
        } else if constexpr (R == Reg::Y) {
            c.regs.y = v;
        } else {
            static_assert(R == Reg::S);
            c.regs.sp = v;
        }
    }

    template <Op O>
    static bool branchTaken(std::uint8_t cc) {
        const bool n = cc & ccr::N, z = cc & ccr::Z, v = cc & ccr::V, cy = cc & ccr::C;
        using enum Op;
        if constexpr (O == Bra)
            return true;
        if constexpr (O == Brn)
            return false;
        if constexpr (O == Bhi)
            return !(cy || z);
        if constexpr (O == Bls)
            return cy || z;
        if constexpr (O == Bcc)
            return !cy;
        if constexpr (O == Bcs)
            return cy;
        if constexpr (O == Bne)
            return !z;
        if constexpr (O == Beq)
            return z;
        if constexpr (O == Bvc)
            return !v;
        if constexpr (O == Bvs)
            return v;
        if constexpr (O == Bpl)
            return !n;
        if constexpr (O == Bmi)
            return n;
        if constexpr (O == Bge)
            return n == v;
        if constexpr (O == Blt)
            return n != v;
        if constexpr (O == Bgt)
            return !z && n == v;
        if constexpr (O == Ble)
            return z || n != v;
    }

    template <Op O>
    static constexpr bool isBranch() {
        return O >= Op::Bra && O <= Op::Ble;
    }

    // Read-modify-write operations shared by the accumulator and memory forms.
    template <Op O>
    static std::uint8_t modify(Cpu& c, std::uint8_t m) {
        using enum Op;
        const bool carryIn = c.regs.ccr & ccr::C;
        if constexpr (O == Neg) {
            const std::uint8_t r = static_cast<std::uint8_t>(0 - m);
            setNz8(c, r);
            setFlag(c, ccr::V, r == 0x80);
            setFlag(c, ccr::C, r != 0);
            return r;
        } else if constexpr (O == Com) {
            const std::uint8_t r = static_cast<std::uint8_t>(~m);
            setNzv0_8(c, r);
            c.regs.ccr |= ccr::C;
            return r;
        } else if constexpr (O == Lsr) {
            const std::uint8_t r = static_cast<std::uint8_t>(m >> 1);
            setShiftFlags8(c, r, m & 1);
            return r;
        } else if constexpr (O == Ror) {
            const std::uint8_t r = static_cast<std::uint8_t>((m >> 1) | (carryIn ? 0x80 : 0));
            setShiftFlags8(c, r, m & 1);
            return r;
        } else if constexpr (O == Asr) {
            const std::uint8_t r = static_cast<std::uint8_t>((m >> 1) | (m & 0x80));
            setShiftFlags8(c, r, m & 1);
            return r;
        } else if constexpr (O == Asl) {
            const std::uint8_t r = static_cast<std::uint8_t>(m << 1);
            setShiftFlags8(c, r, m & 0x80);
            return r;
        } else if constexpr (O == Rol) {
            const std::uint8_t r = static_cast<std::uint8_t>((m << 1) | (carryIn ? 1 : 0));
            setShiftFlags8(c, r, m & 0x80);
            return r;
        } else if constexpr (O == Dec) {
            const std::uint8_t r = static_cast<std::uint8_t>(m - 1);
            setNz8(c, r);
            setFlag(c, ccr::V, m == 0x80);
            return r;
        } else if constexpr (O == Inc) {
            const std::uint8_t r = static_cast<std::uint8_t>(m + 1);
            setNz8(c, r);
            setFlag(c, ccr::V, m == 0x7F);
            return r;
        } else if constexpr (O == Tst) {
            setNzv0_8(c, m);
            c.regs.ccr &= static_cast<std::uint8_t>(~ccr::C);
            return m;
        } else if constexpr (O == Clr) {
            c.regs.ccr =
                static_cast<std::uint8_t>((c.regs.ccr & ~(ccr::N | ccr::V | ccr::C)) | ccr::Z);
            return 0;
        } else {
            static_assert(kAlwaysFalse<std::integral_constant<Op, O>>);
        }
    }

    template <Op O>
    static constexpr bool isModify() {
        return O >= Op::Neg && O <= Op::Clr;
    }

    template <Op O>
    static std::uint8_t alu8(Cpu& c, std::uint8_t a, std::uint8_t m) {
        using enum Op;
        const unsigned carryIn = c.regs.ccr & ccr::C;
        if constexpr (O == Add)
            return add8(c, a, m, 0);
        if constexpr (O == Adc)
            return add8(c, a, m, carryIn);
        if constexpr (O == Sub || O == Cmp)
            return sub8(c, a, m, 0);
        if constexpr (O == Sbc)
            return sub8(c, a, m, carryIn);
        if constexpr (O == And || O == Bit) {
            const std::uint8_t r = a & m;
            setNzv0_8(c, r);
            return r;
        }
        if constexpr (O == Or) {
            const std::uint8_t r = a | m;
            setNzv0_8(c, r);
            return r;
        }
        if constexpr (O == Eor) {
            const std::uint8_t r = a ^ m;
            setNzv0_8(c, r);
            return r;
        }
        if constexpr (O == Ld) {
            setNzv0_8(c, m);
            return m;
        }
    }

    template <Op O>
    static constexpr bool isAlu8() {
        using enum Op;
        return O == Sub || O == Cmp || O == Sbc || O == And || O == Bit || O == Ld || O == Eor ||
               O == Adc || O == Or || O == Add;
    }

    template <Op O, Mode M, Reg R, int Cycles, int P, int Opcode>
    static int exec(Cpu& c) {
        using enum Op;
        if constexpr (isAlu8<O>()) {
            const std::uint8_t r = alu8<O>(c, acc<R>(c), operand8<M>(c));
            if constexpr (O != Cmp && O != Bit)
                acc<R>(c) = r;
        } else if constexpr (O == St) {
            const std::uint16_t a = effectiveAddress<M>(c);
            c.write8(a, acc<R>(c));
            setNzv0_8(c, acc<R>(c));
        } else if constexpr (O == AddD) {
            c.regs.setD(add16(c, c.regs.d(), operand16<M>(c)));
        } else if constexpr (O == SubD) {
            c.regs.setD(sub16(c, c.regs.d(), operand16<M>(c)));
        } else if constexpr (O == Cp16) {
            sub16(c, get16<R>(c), operand16<M>(c));
        } else if constexpr (O == Ld16) {
            const std::uint16_t v = operand16<M>(c);
            set16<R>(c, v);
            setNzv0_16(c, v);
        } else if constexpr (O == St16) {
            const std::uint16_t a = effectiveAddress<M>(c);
            const std::uint16_t v = get16<R>(c);
            c.write16(a, v);
            setNzv0_16(c, v);
        } else if constexpr (isModify<O>()) {
            if constexpr (M == Mode::Inh) {
                acc<R>(c) = modify<O>(c, acc<R>(c));
            } else {
                // The chip reads the operand even for CLR (reference manual cycle tables); TST only
                // reads.
                const std::uint16_t a = effectiveAddress<M>(c);
                const std::uint8_t r = modify<O>(c, c.read8(a));
                if constexpr (O != Tst)
                    c.write8(a, r);
            }
        } else if constexpr (isBranch<O>()) {
            const auto offset = static_cast<std::int8_t>(c.fetch8());
            if (branchTaken<O>(c.regs.ccr))
                c.regs.pc = static_cast<std::uint16_t>(c.regs.pc + offset);
        } else if constexpr (O == Bset || O == Bclr) {
            const std::uint16_t a = effectiveAddress<M>(c);
            const std::uint8_t mask = c.fetch8();
            const std::uint8_t m = c.read8(a);
            const std::uint8_t r = O == Bset ? (m | mask) : (m & ~mask);
            c.write8(a, r);
            setNzv0_8(c, r);
        } else if constexpr (O == Brset || O == Brclr) {
            const std::uint16_t a = effectiveAddress<M>(c);
            const std::uint8_t mask = c.fetch8();
            const std::uint8_t m = c.read8(a);
            const auto offset = static_cast<std::int8_t>(c.fetch8());
            const bool taken = O == Brset ? (~m & mask) == 0 : (m & mask) == 0;
            if (taken)
                c.regs.pc = static_cast<std::uint16_t>(c.regs.pc + offset);
        } else if constexpr (O == Jmp) {
            c.regs.pc = effectiveAddress<M>(c);
        } else if constexpr (O == Jsr) {
            const std::uint16_t target = effectiveAddress<M>(c);
            c.push16(c.regs.pc);
            c.regs.pc = target;
        } else if constexpr (O == Bsr) {
            const auto offset = static_cast<std::int8_t>(c.fetch8());
            c.push16(c.regs.pc);
            c.regs.pc = static_cast<std::uint16_t>(c.regs.pc + offset);
        } else if constexpr (O == Rts) {
            c.regs.pc = c.pull16();
        } else if constexpr (O == Psh) {
            if constexpr (R == Reg::A || R == Reg::B) {
                c.push8(acc<R>(c));
            } else {
                c.push16(get16<R>(c));
            }
        } else if constexpr (O == Pul) {
            if constexpr (R == Reg::A || R == Reg::B) {
                acc<R>(c) = c.pull8();
            } else {
                set16<R>(c, c.pull16());
            }
        } else if constexpr (O == Tsx) {
            set16<R>(c, static_cast<std::uint16_t>(c.regs.sp + 1));
        } else if constexpr (O == Txs) {
            c.regs.sp = static_cast<std::uint16_t>(get16<R>(c) - 1);
        } else if constexpr (O == Inc16 || O == Dec16) {
            const auto v = static_cast<std::uint16_t>(get16<R>(c) + (O == Inc16 ? 1 : -1));
            set16<R>(c, v);
            if constexpr (R != Reg::S)
                setFlag(c, ccr::Z, v == 0);
        } else if constexpr (O == Abx) {
            set16<R>(c, static_cast<std::uint16_t>(get16<R>(c) + c.regs.b));
        } else if constexpr (O == Xgd) {
            const std::uint16_t d = c.regs.d();
            c.regs.setD(get16<R>(c));
            set16<R>(c, d);
        } else if constexpr (O == Lsrd) {
            const std::uint16_t d = c.regs.d();
            const auto r = static_cast<std::uint16_t>(d >> 1);
            c.regs.setD(r);
            setNz16(c, r);
            setFlag(c, ccr::C, d & 1);
            setFlag(c, ccr::V, d & 1);  // N is 0, so V = N xor C = C
        } else if constexpr (O == Asld) {
            const std::uint16_t d = c.regs.d();
            const auto r = static_cast<std::uint16_t>(d << 1);
            c.regs.setD(r);
            setNz16(c, r);
            setFlag(c, ccr::C, d & 0x8000);
            setFlag(c, ccr::V, ((r & 0x8000) != 0) != ((d & 0x8000) != 0));
        } else if constexpr (O == Tap) {
            // X can be cleared by TAP but never set again (reference manual, TAP and XIRQ).
            const std::uint8_t old = c.regs.ccr;
            c.regs.ccr =
                static_cast<std::uint8_t>((c.regs.a & ~ccr::X) | (c.regs.a & old & ccr::X));
            if ((old & ccr::I) && !(c.regs.ccr & ccr::I))
                c.iMaskDelay_ = true;
        } else if constexpr (O == Tpa) {
            c.regs.a = c.regs.ccr;
        } else if constexpr (O == Clv) {
            setFlag(c, ccr::V, false);
        } else if constexpr (O == Sev) {
            setFlag(c, ccr::V, true);
        } else if constexpr (O == Clc) {
            setFlag(c, ccr::C, false);
        } else if constexpr (O == Sec) {
            setFlag(c, ccr::C, true);
        } else if constexpr (O == Cli) {
            if (c.regs.ccr & ccr::I)
                c.iMaskDelay_ = true;
            setFlag(c, ccr::I, false);
        } else if constexpr (O == Sei) {
            setFlag(c, ccr::I, true);
        } else if constexpr (O == Sba) {
            c.regs.a = sub8(c, c.regs.a, c.regs.b, 0);
        } else if constexpr (O == Cba) {
            sub8(c, c.regs.a, c.regs.b, 0);
        } else if constexpr (O == Aba) {
            c.regs.a = add8(c, c.regs.a, c.regs.b, 0);
        } else if constexpr (O == Tab) {
            c.regs.b = c.regs.a;
            setNzv0_8(c, c.regs.b);
        } else if constexpr (O == Tba) {
            c.regs.a = c.regs.b;
            setNzv0_8(c, c.regs.a);
        } else if constexpr (O == Daa) {
            daa(c);
        } else if constexpr (O == Mul) {
            const auto d = static_cast<std::uint16_t>(c.regs.a * c.regs.b);
            c.regs.setD(d);
            setFlag(c, ccr::C, d & 0x80);  // lets ADCA #0 round the high byte
        } else if constexpr (O == Idiv) {
            idiv(c);
        } else if constexpr (O == Fdiv) {
            fdiv(c);
        } else if constexpr (O == Nop) {
        } else if constexpr (O == Swi) {
            c.stackAll();
            c.enterVector(vector::Swi, false);
        } else if constexpr (O == Rti) {
            if (c.onReturn)
                c.onReturn();
            const std::uint8_t old = c.regs.ccr;
            const std::uint8_t pulled = c.pull8();
            // RTI can clear X but not set it once it is clear.
            c.regs.ccr = static_cast<std::uint8_t>((pulled & ~ccr::X) | (pulled & old & ccr::X));
            c.regs.b = c.pull8();
            c.regs.a = c.pull8();
            c.regs.x = c.pull16();
            c.regs.y = c.pull16();
            c.regs.pc = c.pull16();
        } else if constexpr (O == Wai) {
            c.stackAll();
            c.state_ = RunState::Waiting;
            // The last two of WAI's cycles are the vector fetch, counted when the wait ends.
            return Cycles - 2;
        } else if constexpr (O == Stop) {
            if (!(c.regs.ccr & ccr::S))
                c.state_ = RunState::Stopped;
        } else if constexpr (O == Test) {
            if (!c.testOpcodeEnabled_)
                return c.trapIllegal(static_cast<std::uint16_t>(c.regs.pc - 1), 14);
            c.state_ = RunState::TestHalt;
        } else if constexpr (O == Prebyte) {
            constexpr int page = Opcode == 0x18 ? 1 : Opcode == 0x1A ? 2 : 3;
            return prebyte(c, page);
        } else if constexpr (O == Illegal) {
            return c.trapIllegal(static_cast<std::uint16_t>(c.regs.pc - (P == 0 ? 1 : 2)), Cycles);
        } else {
            static_assert(kAlwaysFalse<std::integral_constant<Op, O>>, "operation not implemented");
        }
        return Cycles;
    }

    static void daa(Cpu& c) {
        const std::uint8_t a = c.regs.a;
        const bool carry = c.regs.ccr & ccr::C;
        const bool half = c.regs.ccr & ccr::H;
        std::uint8_t correction = 0;
        bool carryOut = carry;
        if (half || (a & 0x0F) > 9)
            correction |= 0x06;
        if (carry || (a >> 4) > 9 || ((a >> 4) > 8 && (a & 0x0F) > 9)) {
            correction |= 0x60;
            carryOut = true;
        }
        const auto r = static_cast<std::uint8_t>(a + correction);
        c.regs.a = r;
        setNz8(c, r);
        setFlag(c, ccr::C, carryOut);  // V is undefined after DAA; it is left alone here
    }

    static void idiv(Cpu& c) {
        const std::uint16_t n = c.regs.d();
        const std::uint16_t d = c.regs.x;
        setFlag(c, ccr::V, false);
        if (d == 0) {
            // Quotient $FFFF, remainder indeterminate: D comes back as the dividend's complement,
            // so that a program that uses it is visibly wrong rather than lucky.
            c.regs.x = 0xFFFF;
            c.regs.setD(static_cast<std::uint16_t>(~n));
            setFlag(c, ccr::C, true);
            setFlag(c, ccr::Z, false);
            return;
        }
        c.regs.x = static_cast<std::uint16_t>(n / d);
        c.regs.setD(static_cast<std::uint16_t>(n % d));
        setFlag(c, ccr::C, false);
        setFlag(c, ccr::Z, c.regs.x == 0);
    }

    static void fdiv(Cpu& c) {
        const std::uint16_t n = c.regs.d();
        const std::uint16_t d = c.regs.x;
        setFlag(c, ccr::C, d == 0);
        setFlag(c, ccr::V, d <= n);  // the quotient would not be a fraction
        if (d <= n) {
            c.regs.x = 0xFFFF;  // remainder indeterminate: the dividend's complement, as IDIV
            c.regs.setD(static_cast<std::uint16_t>(~n));
            setFlag(c, ccr::Z, false);
            return;
        }
        const std::uint32_t num = std::uint32_t{n} << 16;
        c.regs.x = static_cast<std::uint16_t>(num / d);
        c.regs.setD(static_cast<std::uint16_t>(num % d));
        setFlag(c, ccr::Z, c.regs.x == 0);
    }
};

namespace {

template <int P, int O>
int handler(Cpu& c) {
    constexpr OpcodeInfo e = kOpcodeTable[P][O];
    return CpuExec::exec<e.op, e.mode, e.reg, e.cycles, P, O>(c);
}

template <int P, std::size_t... I>
constexpr std::array<Handler, 256> makePage(std::index_sequence<I...>) {
    return {&handler<P, static_cast<int>(I)>...};
}

constexpr std::array<std::array<Handler, 256>, kPageCount> kDispatch = {
    makePage<0>(std::make_index_sequence<256>{}),
    makePage<1>(std::make_index_sequence<256>{}),
    makePage<2>(std::make_index_sequence<256>{}),
    makePage<3>(std::make_index_sequence<256>{}),
};

}  // namespace

int CpuExec::prebyte(Cpu& c, int page) {
    return kDispatch[page][c.fetch8()](c);
}

// ---- Cpu

Cpu::Cpu(Bus& bus, InterruptSource* interrupts) : bus_(bus), interrupts_(interrupts) {
    remapMemory();
}

void Cpu::remapMemory() {
    for (int p = 0; p < 256; ++p) {
        readPages_[p] = bus_.directReadPage(static_cast<std::uint8_t>(p));
        writePages_[p] = bus_.directWritePage(static_cast<std::uint8_t>(p));
    }
}

void Cpu::resetCommon() {
    state_ = RunState::Running;
    regs.ccr = ccr::S | ccr::X | ccr::I;
    iMaskDelay_ = false;
}

void Cpu::reset(ResetSource source) {
    resetCommon();
    std::uint16_t v = vector::Reset;
    if (source == ResetSource::CopFailure)
        v = vector::CopFailure;
    if (source == ResetSource::ClockMonitor)
        v = vector::ClockMonitor;
    regs.pc = read16(vectorAddress(v));
}

void Cpu::resetAt(std::uint16_t pc) {
    resetCommon();
    regs.pc = pc;
}

// Interrupt stacking order (reference manual, interrupt stacking): PCL at SP, then PCH, IYL,
// IYH, IXL, IXH, A, B and the CCR at SP-8; SP ends 9 lower.
void Cpu::stackAll() {
    push16(regs.pc);
    push16(regs.y);
    push16(regs.x);
    push8(regs.a);
    push8(regs.b);
    push8(regs.ccr);
}

void Cpu::enterVector(std::uint16_t normalVector, bool xirq) {
    regs.ccr |= xirq ? (ccr::I | ccr::X) : ccr::I;
    regs.pc = read16(vectorAddress(normalVector));
    if (onVector)
        onVector(normalVector);
}

// Hardware interrupts run the same sequence as SWI: 9 stack writes, then the vector.
int Cpu::takeInterrupt(std::uint16_t normalVector, bool xirq) {
    stackAll();
    enterVector(normalVector, xirq);
    return 14;
}

// The stacked return address is the first byte of the illegal opcode (prebyte included), so a
// handler can inspect it.
int Cpu::trapIllegal(std::uint16_t opcodeAddress, int cycles) {
    regs.pc = opcodeAddress;
    stackAll();
    enterVector(vector::IllegalOpcode, false);
    return cycles;
}

int Cpu::stepIdle() {
    const bool xirq = interrupts_ && !(regs.ccr & ccr::X) && interrupts_->xirqPending();
    std::optional<std::uint16_t> maskable;
    if (!xirq && interrupts_ && !(regs.ccr & ccr::I))
        maskable = interrupts_->pendingMaskableVector();

    switch (state_) {
        case RunState::Waiting:
            // Registers were stacked by WAI; only the vector fetch remains.
            if (xirq || maskable) {
                state_ = RunState::Running;
                enterVector(xirq ? vector::Xirq : *maskable, xirq);
                return 2;
            }
            return idleCycles_;
        case RunState::Stopped:
            // With the clocks halted no peripheral can ask; of the I-masked sources only the
            // IRQ pin restarts the chip (M68HC11 Reference Manual p. 5-22), so a flag left
            // pending before STOP does not.
            if (xirq || maskable == vector::Irq) {
                state_ = RunState::Running;
                return stopRecoveryCycles_ + takeInterrupt(xirq ? vector::Xirq : vector::Irq, xirq);
            }
            // XIRQ with X set still restarts the clocks; execution goes on after STOP.
            if (interrupts_ && (regs.ccr & ccr::X) && interrupts_->xirqPending()) {
                state_ = RunState::Running;
                return stopRecoveryCycles_;
            }
            return idleCycles_;
        case RunState::TestHalt:
        case RunState::Running:
            break;
    }
    return idleCycles_;
}

int Cpu::step() {
    int n;
    if (state_ != RunState::Running) {
        n = stepIdle();
    } else if (interrupts_ && !(regs.ccr & ccr::X) && interrupts_->xirqPending()) {
        n = takeInterrupt(vector::Xirq, true);
    } else if (std::optional<std::uint16_t> v; interrupts_ && !(regs.ccr & ccr::I) &&
                                               !iMaskDelay_ &&
                                               (v = interrupts_->pendingMaskableVector())) {
        n = takeInterrupt(*v, false);
    } else {
        iMaskDelay_ = false;
        n = kDispatch[0][fetch8()](*this);
    }
    cycles_ += static_cast<std::uint64_t>(n);
    return n;
}

std::uint64_t Cpu::run(std::uint64_t minCycles) {
    const std::uint64_t start = cycles_;
    while (cycles_ - start < minCycles)
        step();
    return cycles_ - start;
}

}  // namespace kestro::sim
