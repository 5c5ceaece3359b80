// SPDX-License-Identifier: GPL-3.0-or-later
// The 68HC11 instruction set as data: one row per opcode of each opcode page.
//
// Cycle counts are total E cycles including any prebyte, as listed in the
// M68HC11 Reference Manual appendix A and the MC68HC11A8 technical data,
// table 10-1. The CPU builds its dispatch tables from this table at compile
// time, so a wrong row here is a wrong instruction.
#pragma once

#include <array>
#include <cstdint>

namespace kestro::sim {

// Opcode pages: page 1 has no prebyte, the others are reached through $18, $1A, $CD.
enum class Page : std::uint8_t { P1 = 0, P18 = 1, P1A = 2, PCD = 3 };
inline constexpr int kPageCount = 4;
inline constexpr std::array<std::uint8_t, kPageCount> kPagePrebyte = {0x00, 0x18, 0x1A, 0xCD};

enum class Mode : std::uint8_t { Inh, Imm8, Imm16, Dir, Ext, IndX, IndY, Rel, Prefix };

// Register an operation works on (accumulator, index or stack pointer).
enum class Reg : std::uint8_t { None, A, B, D, X, Y, S };

enum class Op : std::uint8_t {
    Illegal,
    Prebyte,
    Test,
    Nop,
    Idiv,
    Fdiv,
    Lsrd,
    Asld,
    Tap,
    Tpa,
    Inc16,
    Dec16,
    Clv,
    Sev,
    Clc,
    Sec,
    Cli,
    Sei,
    Sba,
    Cba,
    Tab,
    Tba,
    Daa,
    Aba,
    Mul,
    Abx,
    Xgd,
    Brset,
    Brclr,
    Bset,
    Bclr,
    Bra,
    Brn,
    Bhi,
    Bls,
    Bcc,
    Bcs,
    Bne,
    Beq,
    Bvc,
    Bvs,
    Bpl,
    Bmi,
    Bge,
    Blt,
    Bgt,
    Ble,
    Tsx,
    Txs,
    Psh,
    Pul,
    Rts,
    Rti,
    Wai,
    Swi,
    Stop,
    Neg,
    Com,
    Lsr,
    Ror,
    Asr,
    Asl,
    Rol,
    Dec,
    Inc,
    Tst,
    Clr,
    Jmp,
    Jsr,
    Bsr,
    Sub,
    Cmp,
    Sbc,
    And,
    Bit,
    Ld,
    Eor,
    Adc,
    Or,
    Add,
    St,
    SubD,
    AddD,
    Cp16,
    Ld16,
    St16,
};

struct OpcodeInfo {
    const char* mnemonic = nullptr;  // nullptr: no instruction at this opcode
    Op op = Op::Illegal;
    Mode mode = Mode::Inh;
    Reg reg = Reg::None;
    std::uint8_t bytes = 1;   // including the prebyte
    std::uint8_t cycles = 0;  // E cycles, including the prebyte fetch

    constexpr bool defined() const { return mnemonic != nullptr; }
};

namespace detail {

struct OpcodeRow {
    Page page;
    std::uint8_t opcode;
    const char* mnemonic;
    Op op;
    Mode mode;
    Reg reg;
    std::uint8_t cycles;
};

using enum Page;
using enum Mode;
using enum Op;
using enum Reg;

// clang-format off
inline constexpr OpcodeRow kRows[] = {
  // ---- page 1: inherent and miscellaneous
  {P1, 0x00, "TEST", Test, Inh, None, 1},  // test modes only; traps elsewhere
  {P1, 0x01, "NOP",  Nop,  Inh, None, 2},
  {P1, 0x02, "IDIV", Idiv, Inh, None, 41},
  {P1, 0x03, "FDIV", Fdiv, Inh, None, 41},
  {P1, 0x04, "LSRD", Lsrd, Inh, D, 3},
  {P1, 0x05, "ASLD", Asld, Inh, D, 3},
  {P1, 0x06, "TAP",  Tap,  Inh, A, 2},
  {P1, 0x07, "TPA",  Tpa,  Inh, A, 2},
  {P1, 0x08, "INX",  Inc16, Inh, X, 3},
  {P1, 0x09, "DEX",  Dec16, Inh, X, 3},
  {P1, 0x0A, "CLV",  Clv,  Inh, None, 2},
  {P1, 0x0B, "SEV",  Sev,  Inh, None, 2},
  {P1, 0x0C, "CLC",  Clc,  Inh, None, 2},
  {P1, 0x0D, "SEC",  Sec,  Inh, None, 2},
  {P1, 0x0E, "CLI",  Cli,  Inh, None, 2},
  {P1, 0x0F, "SEI",  Sei,  Inh, None, 2},
  {P1, 0x10, "SBA",  Sba,  Inh, A, 2},
  {P1, 0x11, "CBA",  Cba,  Inh, A, 2},
  {P1, 0x12, "BRSET", Brset, Dir, None, 6},
  {P1, 0x13, "BRCLR", Brclr, Dir, None, 6},
  {P1, 0x14, "BSET", Bset, Dir, None, 6},
  {P1, 0x15, "BCLR", Bclr, Dir, None, 6},
  {P1, 0x16, "TAB",  Tab,  Inh, B, 2},
  {P1, 0x17, "TBA",  Tba,  Inh, A, 2},
  {P1, 0x18, "(18)", Prebyte, Prefix, None, 0},
  {P1, 0x19, "DAA",  Daa,  Inh, A, 2},
  {P1, 0x1A, "(1A)", Prebyte, Prefix, None, 0},
  {P1, 0x1B, "ABA",  Aba,  Inh, A, 2},
  {P1, 0x1C, "BSET", Bset, IndX, None, 7},
  {P1, 0x1D, "BCLR", Bclr, IndX, None, 7},
  {P1, 0x1E, "BRSET", Brset, IndX, None, 7},
  {P1, 0x1F, "BRCLR", Brclr, IndX, None, 7},
  // ---- page 1: relative branches, taken or not: 3 cycles
  {P1, 0x20, "BRA", Bra, Rel, None, 3},
  {P1, 0x21, "BRN", Brn, Rel, None, 3},
  {P1, 0x22, "BHI", Bhi, Rel, None, 3},
  {P1, 0x23, "BLS", Bls, Rel, None, 3},
  {P1, 0x24, "BCC", Bcc, Rel, None, 3},
  {P1, 0x25, "BCS", Bcs, Rel, None, 3},
  {P1, 0x26, "BNE", Bne, Rel, None, 3},
  {P1, 0x27, "BEQ", Beq, Rel, None, 3},
  {P1, 0x28, "BVC", Bvc, Rel, None, 3},
  {P1, 0x29, "BVS", Bvs, Rel, None, 3},
  {P1, 0x2A, "BPL", Bpl, Rel, None, 3},
  {P1, 0x2B, "BMI", Bmi, Rel, None, 3},
  {P1, 0x2C, "BGE", Bge, Rel, None, 3},
  {P1, 0x2D, "BLT", Blt, Rel, None, 3},
  {P1, 0x2E, "BGT", Bgt, Rel, None, 3},
  {P1, 0x2F, "BLE", Ble, Rel, None, 3},
  // ---- page 1: stack and interrupt
  {P1, 0x30, "TSX",  Tsx,  Inh, X, 3},
  {P1, 0x31, "INS",  Inc16, Inh, S, 3},
  {P1, 0x32, "PULA", Pul,  Inh, A, 4},
  {P1, 0x33, "PULB", Pul,  Inh, B, 4},
  {P1, 0x34, "DES",  Dec16, Inh, S, 3},
  {P1, 0x35, "TXS",  Txs,  Inh, X, 3},
  {P1, 0x36, "PSHA", Psh,  Inh, A, 3},
  {P1, 0x37, "PSHB", Psh,  Inh, B, 3},
  {P1, 0x38, "PULX", Pul,  Inh, X, 5},
  {P1, 0x39, "RTS",  Rts,  Inh, None, 5},
  {P1, 0x3A, "ABX",  Abx,  Inh, X, 3},
  {P1, 0x3B, "RTI",  Rti,  Inh, None, 12},
  {P1, 0x3C, "PSHX", Psh,  Inh, X, 4},
  {P1, 0x3D, "MUL",  Mul,  Inh, D, 10},
  {P1, 0x3E, "WAI",  Wai,  Inh, None, 14},
  {P1, 0x3F, "SWI",  Swi,  Inh, None, 14},
  // ---- page 1: accumulator A and B read-modify-write
  {P1, 0x40, "NEGA", Neg, Inh, A, 2},
  {P1, 0x43, "COMA", Com, Inh, A, 2},
  {P1, 0x44, "LSRA", Lsr, Inh, A, 2},
  {P1, 0x46, "RORA", Ror, Inh, A, 2},
  {P1, 0x47, "ASRA", Asr, Inh, A, 2},
  {P1, 0x48, "ASLA", Asl, Inh, A, 2},
  {P1, 0x49, "ROLA", Rol, Inh, A, 2},
  {P1, 0x4A, "DECA", Dec, Inh, A, 2},
  {P1, 0x4C, "INCA", Inc, Inh, A, 2},
  {P1, 0x4D, "TSTA", Tst, Inh, A, 2},
  {P1, 0x4F, "CLRA", Clr, Inh, A, 2},
  {P1, 0x50, "NEGB", Neg, Inh, B, 2},
  {P1, 0x53, "COMB", Com, Inh, B, 2},
  {P1, 0x54, "LSRB", Lsr, Inh, B, 2},
  {P1, 0x56, "RORB", Ror, Inh, B, 2},
  {P1, 0x57, "ASRB", Asr, Inh, B, 2},
  {P1, 0x58, "ASLB", Asl, Inh, B, 2},
  {P1, 0x59, "ROLB", Rol, Inh, B, 2},
  {P1, 0x5A, "DECB", Dec, Inh, B, 2},
  {P1, 0x5C, "INCB", Inc, Inh, B, 2},
  {P1, 0x5D, "TSTB", Tst, Inh, B, 2},
  {P1, 0x5F, "CLRB", Clr, Inh, B, 2},
  // ---- page 1: memory read-modify-write, jumps
  {P1, 0x60, "NEG", Neg, IndX, None, 6},
  {P1, 0x63, "COM", Com, IndX, None, 6},
  {P1, 0x64, "LSR", Lsr, IndX, None, 6},
  {P1, 0x66, "ROR", Ror, IndX, None, 6},
  {P1, 0x67, "ASR", Asr, IndX, None, 6},
  {P1, 0x68, "ASL", Asl, IndX, None, 6},
  {P1, 0x69, "ROL", Rol, IndX, None, 6},
  {P1, 0x6A, "DEC", Dec, IndX, None, 6},
  {P1, 0x6C, "INC", Inc, IndX, None, 6},
  {P1, 0x6D, "TST", Tst, IndX, None, 6},
  {P1, 0x6E, "JMP", Jmp, IndX, None, 3},
  {P1, 0x6F, "CLR", Clr, IndX, None, 6},
  {P1, 0x70, "NEG", Neg, Ext, None, 6},
  {P1, 0x73, "COM", Com, Ext, None, 6},
  {P1, 0x74, "LSR", Lsr, Ext, None, 6},
  {P1, 0x76, "ROR", Ror, Ext, None, 6},
  {P1, 0x77, "ASR", Asr, Ext, None, 6},
  {P1, 0x78, "ASL", Asl, Ext, None, 6},
  {P1, 0x79, "ROL", Rol, Ext, None, 6},
  {P1, 0x7A, "DEC", Dec, Ext, None, 6},
  {P1, 0x7C, "INC", Inc, Ext, None, 6},
  {P1, 0x7D, "TST", Tst, Ext, None, 6},
  {P1, 0x7E, "JMP", Jmp, Ext, None, 3},
  {P1, 0x7F, "CLR", Clr, Ext, None, 6},
  // ---- page 1: accumulator A, immediate
  {P1, 0x80, "SUBA", Sub, Imm8, A, 2},
  {P1, 0x81, "CMPA", Cmp, Imm8, A, 2},
  {P1, 0x82, "SBCA", Sbc, Imm8, A, 2},
  {P1, 0x83, "SUBD", SubD, Imm16, D, 4},
  {P1, 0x84, "ANDA", And, Imm8, A, 2},
  {P1, 0x85, "BITA", Bit, Imm8, A, 2},
  {P1, 0x86, "LDAA", Ld, Imm8, A, 2},
  {P1, 0x88, "EORA", Eor, Imm8, A, 2},
  {P1, 0x89, "ADCA", Adc, Imm8, A, 2},
  {P1, 0x8A, "ORAA", Or, Imm8, A, 2},
  {P1, 0x8B, "ADDA", Add, Imm8, A, 2},
  {P1, 0x8C, "CPX",  Cp16, Imm16, X, 4},
  {P1, 0x8D, "BSR",  Bsr, Rel, None, 6},
  {P1, 0x8E, "LDS",  Ld16, Imm16, S, 3},
  {P1, 0x8F, "XGDX", Xgd, Inh, X, 3},
  // ---- page 1: accumulator A, direct
  {P1, 0x90, "SUBA", Sub, Dir, A, 3},
  {P1, 0x91, "CMPA", Cmp, Dir, A, 3},
  {P1, 0x92, "SBCA", Sbc, Dir, A, 3},
  {P1, 0x93, "SUBD", SubD, Dir, D, 5},
  {P1, 0x94, "ANDA", And, Dir, A, 3},
  {P1, 0x95, "BITA", Bit, Dir, A, 3},
  {P1, 0x96, "LDAA", Ld, Dir, A, 3},
  {P1, 0x97, "STAA", St, Dir, A, 3},
  {P1, 0x98, "EORA", Eor, Dir, A, 3},
  {P1, 0x99, "ADCA", Adc, Dir, A, 3},
  {P1, 0x9A, "ORAA", Or, Dir, A, 3},
  {P1, 0x9B, "ADDA", Add, Dir, A, 3},
  {P1, 0x9C, "CPX",  Cp16, Dir, X, 5},
  {P1, 0x9D, "JSR",  Jsr, Dir, None, 5},
  {P1, 0x9E, "LDS",  Ld16, Dir, S, 4},
  {P1, 0x9F, "STS",  St16, Dir, S, 4},
  // ---- page 1: accumulator A, indexed by X
  {P1, 0xA0, "SUBA", Sub, IndX, A, 4},
  {P1, 0xA1, "CMPA", Cmp, IndX, A, 4},
  {P1, 0xA2, "SBCA", Sbc, IndX, A, 4},
  {P1, 0xA3, "SUBD", SubD, IndX, D, 6},
  {P1, 0xA4, "ANDA", And, IndX, A, 4},
  {P1, 0xA5, "BITA", Bit, IndX, A, 4},
  {P1, 0xA6, "LDAA", Ld, IndX, A, 4},
  {P1, 0xA7, "STAA", St, IndX, A, 4},
  {P1, 0xA8, "EORA", Eor, IndX, A, 4},
  {P1, 0xA9, "ADCA", Adc, IndX, A, 4},
  {P1, 0xAA, "ORAA", Or, IndX, A, 4},
  {P1, 0xAB, "ADDA", Add, IndX, A, 4},
  {P1, 0xAC, "CPX",  Cp16, IndX, X, 6},
  {P1, 0xAD, "JSR",  Jsr, IndX, None, 6},
  {P1, 0xAE, "LDS",  Ld16, IndX, S, 5},
  {P1, 0xAF, "STS",  St16, IndX, S, 5},
  // ---- page 1: accumulator A, extended
  {P1, 0xB0, "SUBA", Sub, Ext, A, 4},
  {P1, 0xB1, "CMPA", Cmp, Ext, A, 4},
  {P1, 0xB2, "SBCA", Sbc, Ext, A, 4},
  {P1, 0xB3, "SUBD", SubD, Ext, D, 6},
  {P1, 0xB4, "ANDA", And, Ext, A, 4},
  {P1, 0xB5, "BITA", Bit, Ext, A, 4},
  {P1, 0xB6, "LDAA", Ld, Ext, A, 4},
  {P1, 0xB7, "STAA", St, Ext, A, 4},
  {P1, 0xB8, "EORA", Eor, Ext, A, 4},
  {P1, 0xB9, "ADCA", Adc, Ext, A, 4},
  {P1, 0xBA, "ORAA", Or, Ext, A, 4},
  {P1, 0xBB, "ADDA", Add, Ext, A, 4},
  {P1, 0xBC, "CPX",  Cp16, Ext, X, 6},
  {P1, 0xBD, "JSR",  Jsr, Ext, None, 6},
  {P1, 0xBE, "LDS",  Ld16, Ext, S, 5},
  {P1, 0xBF, "STS",  St16, Ext, S, 5},
  // ---- page 1: accumulator B, immediate
  {P1, 0xC0, "SUBB", Sub, Imm8, B, 2},
  {P1, 0xC1, "CMPB", Cmp, Imm8, B, 2},
  {P1, 0xC2, "SBCB", Sbc, Imm8, B, 2},
  {P1, 0xC3, "ADDD", AddD, Imm16, D, 4},
  {P1, 0xC4, "ANDB", And, Imm8, B, 2},
  {P1, 0xC5, "BITB", Bit, Imm8, B, 2},
  {P1, 0xC6, "LDAB", Ld, Imm8, B, 2},
  {P1, 0xC8, "EORB", Eor, Imm8, B, 2},
  {P1, 0xC9, "ADCB", Adc, Imm8, B, 2},
  {P1, 0xCA, "ORAB", Or, Imm8, B, 2},
  {P1, 0xCB, "ADDB", Add, Imm8, B, 2},
  {P1, 0xCC, "LDD",  Ld16, Imm16, D, 3},
  {P1, 0xCD, "(CD)", Prebyte, Prefix, None, 0},
  {P1, 0xCE, "LDX",  Ld16, Imm16, X, 3},
  {P1, 0xCF, "STOP", Stop, Inh, None, 2},
  // ---- page 1: accumulator B, direct
  {P1, 0xD0, "SUBB", Sub, Dir, B, 3},
  {P1, 0xD1, "CMPB", Cmp, Dir, B, 3},
  {P1, 0xD2, "SBCB", Sbc, Dir, B, 3},
  {P1, 0xD3, "ADDD", AddD, Dir, D, 5},
  {P1, 0xD4, "ANDB", And, Dir, B, 3},
  {P1, 0xD5, "BITB", Bit, Dir, B, 3},
  {P1, 0xD6, "LDAB", Ld, Dir, B, 3},
  {P1, 0xD7, "STAB", St, Dir, B, 3},
  {P1, 0xD8, "EORB", Eor, Dir, B, 3},
  {P1, 0xD9, "ADCB", Adc, Dir, B, 3},
  {P1, 0xDA, "ORAB", Or, Dir, B, 3},
  {P1, 0xDB, "ADDB", Add, Dir, B, 3},
  {P1, 0xDC, "LDD",  Ld16, Dir, D, 4},
  {P1, 0xDD, "STD",  St16, Dir, D, 4},
  {P1, 0xDE, "LDX",  Ld16, Dir, X, 4},
  {P1, 0xDF, "STX",  St16, Dir, X, 4},
  // ---- page 1: accumulator B, indexed by X
  {P1, 0xE0, "SUBB", Sub, IndX, B, 4},
  {P1, 0xE1, "CMPB", Cmp, IndX, B, 4},
  {P1, 0xE2, "SBCB", Sbc, IndX, B, 4},
  {P1, 0xE3, "ADDD", AddD, IndX, D, 6},
  {P1, 0xE4, "ANDB", And, IndX, B, 4},
  {P1, 0xE5, "BITB", Bit, IndX, B, 4},
  {P1, 0xE6, "LDAB", Ld, IndX, B, 4},
  {P1, 0xE7, "STAB", St, IndX, B, 4},
  {P1, 0xE8, "EORB", Eor, IndX, B, 4},
  {P1, 0xE9, "ADCB", Adc, IndX, B, 4},
  {P1, 0xEA, "ORAB", Or, IndX, B, 4},
  {P1, 0xEB, "ADDB", Add, IndX, B, 4},
  {P1, 0xEC, "LDD",  Ld16, IndX, D, 5},
  {P1, 0xED, "STD",  St16, IndX, D, 5},
  {P1, 0xEE, "LDX",  Ld16, IndX, X, 5},
  {P1, 0xEF, "STX",  St16, IndX, X, 5},
  // ---- page 1: accumulator B, extended
  {P1, 0xF0, "SUBB", Sub, Ext, B, 4},
  {P1, 0xF1, "CMPB", Cmp, Ext, B, 4},
  {P1, 0xF2, "SBCB", Sbc, Ext, B, 4},
  {P1, 0xF3, "ADDD", AddD, Ext, D, 6},
  {P1, 0xF4, "ANDB", And, Ext, B, 4},
  {P1, 0xF5, "BITB", Bit, Ext, B, 4},
  {P1, 0xF6, "LDAB", Ld, Ext, B, 4},
  {P1, 0xF7, "STAB", St, Ext, B, 4},
  {P1, 0xF8, "EORB", Eor, Ext, B, 4},
  {P1, 0xF9, "ADCB", Adc, Ext, B, 4},
  {P1, 0xFA, "ORAB", Or, Ext, B, 4},
  {P1, 0xFB, "ADDB", Add, Ext, B, 4},
  {P1, 0xFC, "LDD",  Ld16, Ext, D, 5},
  {P1, 0xFD, "STD",  St16, Ext, D, 5},
  {P1, 0xFE, "LDX",  Ld16, Ext, X, 5},
  {P1, 0xFF, "STX",  St16, Ext, X, 5},

  // ---- prebyte $18: the Y forms of the X instructions
  {P18, 0x08, "INY",  Inc16, Inh, Y, 4},
  {P18, 0x09, "DEY",  Dec16, Inh, Y, 4},
  {P18, 0x1C, "BSET", Bset, IndY, None, 8},
  {P18, 0x1D, "BCLR", Bclr, IndY, None, 8},
  {P18, 0x1E, "BRSET", Brset, IndY, None, 8},
  {P18, 0x1F, "BRCLR", Brclr, IndY, None, 8},
  {P18, 0x30, "TSY",  Tsx,  Inh, Y, 4},
  {P18, 0x35, "TYS",  Txs,  Inh, Y, 4},
  {P18, 0x38, "PULY", Pul,  Inh, Y, 6},
  {P18, 0x3A, "ABY",  Abx,  Inh, Y, 4},
  {P18, 0x3C, "PSHY", Psh,  Inh, Y, 5},
  {P18, 0x60, "NEG", Neg, IndY, None, 7},
  {P18, 0x63, "COM", Com, IndY, None, 7},
  {P18, 0x64, "LSR", Lsr, IndY, None, 7},
  {P18, 0x66, "ROR", Ror, IndY, None, 7},
  {P18, 0x67, "ASR", Asr, IndY, None, 7},
  {P18, 0x68, "ASL", Asl, IndY, None, 7},
  {P18, 0x69, "ROL", Rol, IndY, None, 7},
  {P18, 0x6A, "DEC", Dec, IndY, None, 7},
  {P18, 0x6C, "INC", Inc, IndY, None, 7},
  {P18, 0x6D, "TST", Tst, IndY, None, 7},
  {P18, 0x6E, "JMP", Jmp, IndY, None, 4},
  {P18, 0x6F, "CLR", Clr, IndY, None, 7},
  {P18, 0x8C, "CPY",  Cp16, Imm16, Y, 5},
  {P18, 0x8F, "XGDY", Xgd, Inh, Y, 4},
  {P18, 0x9C, "CPY",  Cp16, Dir, Y, 6},
  {P18, 0xA0, "SUBA", Sub, IndY, A, 5},
  {P18, 0xA1, "CMPA", Cmp, IndY, A, 5},
  {P18, 0xA2, "SBCA", Sbc, IndY, A, 5},
  {P18, 0xA3, "SUBD", SubD, IndY, D, 7},
  {P18, 0xA4, "ANDA", And, IndY, A, 5},
  {P18, 0xA5, "BITA", Bit, IndY, A, 5},
  {P18, 0xA6, "LDAA", Ld, IndY, A, 5},
  {P18, 0xA7, "STAA", St, IndY, A, 5},
  {P18, 0xA8, "EORA", Eor, IndY, A, 5},
  {P18, 0xA9, "ADCA", Adc, IndY, A, 5},
  {P18, 0xAA, "ORAA", Or, IndY, A, 5},
  {P18, 0xAB, "ADDA", Add, IndY, A, 5},
  {P18, 0xAC, "CPY",  Cp16, IndY, Y, 7},
  {P18, 0xAD, "JSR",  Jsr, IndY, None, 7},
  {P18, 0xAE, "LDS",  Ld16, IndY, S, 6},
  {P18, 0xAF, "STS",  St16, IndY, S, 6},
  {P18, 0xBC, "CPY",  Cp16, Ext, Y, 7},
  {P18, 0xCE, "LDY",  Ld16, Imm16, Y, 4},
  {P18, 0xDE, "LDY",  Ld16, Dir, Y, 5},
  {P18, 0xDF, "STY",  St16, Dir, Y, 5},
  {P18, 0xE0, "SUBB", Sub, IndY, B, 5},
  {P18, 0xE1, "CMPB", Cmp, IndY, B, 5},
  {P18, 0xE2, "SBCB", Sbc, IndY, B, 5},
  {P18, 0xE3, "ADDD", AddD, IndY, D, 7},
  {P18, 0xE4, "ANDB", And, IndY, B, 5},
  {P18, 0xE5, "BITB", Bit, IndY, B, 5},
  {P18, 0xE6, "LDAB", Ld, IndY, B, 5},
  {P18, 0xE7, "STAB", St, IndY, B, 5},
  {P18, 0xE8, "EORB", Eor, IndY, B, 5},
  {P18, 0xE9, "ADCB", Adc, IndY, B, 5},
  {P18, 0xEA, "ORAB", Or, IndY, B, 5},
  {P18, 0xEB, "ADDB", Add, IndY, B, 5},
  {P18, 0xEC, "LDD",  Ld16, IndY, D, 6},
  {P18, 0xED, "STD",  St16, IndY, D, 6},
  {P18, 0xEE, "LDY",  Ld16, IndY, Y, 6},
  {P18, 0xEF, "STY",  St16, IndY, Y, 6},
  {P18, 0xFE, "LDY",  Ld16, Ext, Y, 6},
  {P18, 0xFF, "STY",  St16, Ext, Y, 6},

  // ---- prebyte $1A: CPD, and the Y loads/stores/compares indexed by X
  {P1A, 0x83, "CPD", Cp16, Imm16, D, 5},
  {P1A, 0x93, "CPD", Cp16, Dir, D, 6},
  {P1A, 0xA3, "CPD", Cp16, IndX, D, 7},
  {P1A, 0xAC, "CPY", Cp16, IndX, Y, 7},
  {P1A, 0xB3, "CPD", Cp16, Ext, D, 7},
  {P1A, 0xEE, "LDY", Ld16, IndX, Y, 6},
  {P1A, 0xEF, "STY", St16, IndX, Y, 6},

  // ---- prebyte $CD: CPD, and the X loads/stores/compares indexed by Y
  {PCD, 0xA3, "CPD", Cp16, IndY, D, 7},
  {PCD, 0xAC, "CPX", Cp16, IndY, X, 7},
  {PCD, 0xEE, "LDX", Ld16, IndY, X, 6},
  {PCD, 0xEF, "STX", St16, IndY, X, 6},
};
// clang-format on

constexpr std::uint8_t operandBytes(Mode mode, Op op) {
    std::uint8_t n = 0;
    switch (mode) {
        case Inh:
        case Prefix:
            n = 0;
            break;
        case Imm8:
        case Dir:
        case IndX:
        case IndY:
        case Rel:
            n = 1;
            break;
        case Imm16:
        case Ext:
            n = 2;
            break;
    }
    if (op == Bset || op == Bclr)
        n += 1;  // mask
    if (op == Brset || op == Brclr)
        n += 2;  // mask, offset
    return n;
}

// Illegal opcodes trap like SWI; the prebyte pages pay one more cycle for the prebyte.
inline constexpr std::uint8_t kIllegalTrapCycles = 14;

using OpcodeTable = std::array<std::array<OpcodeInfo, 256>, kPageCount>;

constexpr OpcodeTable buildOpcodeTable() {
    OpcodeTable t{};
    for (int p = 0; p < kPageCount; ++p) {
        for (auto& e : t[p]) {
            e.cycles = static_cast<std::uint8_t>(kIllegalTrapCycles + (p == 0 ? 0 : 1));
            e.bytes = static_cast<std::uint8_t>(p == 0 ? 1 : 2);
        }
    }
    for (const OpcodeRow& r : kRows) {
        const int p = static_cast<int>(r.page);
        const std::uint8_t prebyte = p == 0 ? 0 : 1;
        t[p][r.opcode] =
            OpcodeInfo{r.mnemonic,
                       r.op,
                       r.mode,
                       r.reg,
                       static_cast<std::uint8_t>(1 + prebyte + operandBytes(r.mode, r.op)),
                       r.cycles};
    }
    return t;
}

constexpr bool rowsAreUnique() {
    constexpr std::size_t n = sizeof(kRows) / sizeof(kRows[0]);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            if (kRows[i].page == kRows[j].page && kRows[i].opcode == kRows[j].opcode)
                return false;
        }
    }
    return true;
}
static_assert(rowsAreUnique(), "two rows of the opcode table claim the same opcode");

}  // namespace detail

inline constexpr detail::OpcodeTable kOpcodeTable = detail::buildOpcodeTable();

constexpr const OpcodeInfo& opcodeInfo(Page page, std::uint8_t opcode) {
    return kOpcodeTable[static_cast<int>(page)][opcode];
}

}  // namespace kestro::sim
