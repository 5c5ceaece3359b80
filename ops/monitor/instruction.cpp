// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/instruction.h"

#include <cstdio>

#include "frame.h"
#include "kestro/sim/opcode_table.h"
#include "monitor/symbols.h"

namespace kestro::ops::monitor {

namespace {

using sim::Mode;
using sim::Op;
using sim::OpcodeInfo;
using sim::Page;

std::string hex(unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "$%0*X", digits, value);
    return text;
}

// The page a prebyte opens; Page::P1 for any other byte.
Page pageOf(Byte first) {
    for (int p = 1; p < sim::kPageCount; ++p)
        if (sim::kPagePrebyte[static_cast<std::size_t>(p)] == first)
            return static_cast<Page>(p);
    return Page::P1;
}

struct Found {
    const OpcodeInfo* info = nullptr;  // nullptr: code starts no instruction it holds whole
    std::size_t operand = 0;           // where the operand bytes start
};

Found find(ByteView code) {
    if (code.empty())
        return {};
    const Page page = pageOf(code[0]);
    const std::size_t opcodeAt = page == Page::P1 ? 0 : 1;
    if (code.size() <= opcodeAt)
        return {};
    const OpcodeInfo& info = sim::opcodeInfo(page, code[opcodeAt]);
    if (!info.defined() || info.mode == Mode::Prefix || code.size() < info.bytes)
        return {};
    return {&info, opcodeAt + 1};
}

std::uint16_t word(ByteView code, std::size_t at) {
    return static_cast<std::uint16_t>(code[at] << 8 | code[at + 1]);
}

// A branch's offset counts from the instruction that follows it.
std::uint16_t branchTarget(std::uint16_t address, std::uint8_t length, Byte offset) {
    return static_cast<std::uint16_t>(address + length + static_cast<std::int8_t>(offset));
}

std::string place(std::uint16_t address, int digits, const Symbols* symbols) {
    if (symbols != nullptr) {
        std::string name = symbols->nameFor(address);
        if (!name.empty())
            return name;
    }
    return hex(address, digits);
}

// Both ways of a two-way instruction, once where they meet (an offset of 0).
std::vector<std::uint16_t> eitherWay(std::uint16_t next, std::uint16_t target) {
    if (next == target)
        return {next};
    return {next, target};
}

}  // namespace

Instruction decode(ByteView code, std::uint16_t address, const Symbols* symbols) {
    Instruction result;
    result.address = address;
    if (code.empty())
        return result;
    const Found found = find(code);
    if (found.info == nullptr) {
        result.length = 1;
        result.bytes = {code[0]};
        result.text = "FCB " + hex(code[0], 2);
        return result;
    }
    const OpcodeInfo& info = *found.info;
    const std::size_t at = found.operand;
    result.length = info.bytes;
    result.bytes.assign(code.begin(), code.begin() + info.bytes);
    result.defined = true;

    // The addressed operand: BSET/BCLR/BRSET/BRCLR follow it with their mask and target.
    std::string operand;
    switch (info.mode) {
        case Mode::Inh:
        case Mode::Prefix:
            break;
        case Mode::Imm8:
            operand = "#" + hex(code[at], 2);
            break;
        case Mode::Imm16:
            operand = "#" + hex(word(code, at), 4);
            break;
        case Mode::Dir:
            operand = place(code[at], 2, symbols);
            break;
        case Mode::Ext:
            operand = place(word(code, at), 4, symbols);
            break;
        case Mode::IndX:
            operand = hex(code[at], 2) + ",X";
            break;
        case Mode::IndY:
            operand = hex(code[at], 2) + ",Y";
            break;
        case Mode::Rel:
            operand = place(branchTarget(address, info.bytes, code[at]), 4, symbols);
            break;
    }
    if (info.op == Op::Bset || info.op == Op::Bclr || info.op == Op::Brset || info.op == Op::Brclr)
        operand += " #" + hex(code[at + 1], 2);
    if (info.op == Op::Brset || info.op == Op::Brclr)
        operand += " " + place(branchTarget(address, info.bytes, code[at + 2]), 4, symbols);
    result.text = info.mnemonic;
    if (!operand.empty())
        result.text += " " + operand;
    return result;
}

std::vector<std::uint16_t> successors(ByteView code, const Registers& r, const MemoryReader& read) {
    const Found found = find(code);
    if (found.info == nullptr)
        return {};
    const OpcodeInfo& info = *found.info;
    const std::size_t at = found.operand;
    const auto next = static_cast<std::uint16_t>(r.pc + info.bytes);
    const auto stacked = [&](std::uint16_t from) {
        const Bytes bytes = read(from, 2);
        if (bytes.size() < 2)
            throw LinkError("The address on the stack at " + hex(from, 4) +
                                " could not be read, so the step cannot tell where it goes.",
                            LinkError::Ending::KeepTarget);
        return word(bytes, 0);
    };
    const auto indexed = [&](std::uint16_t base) {
        return static_cast<std::uint16_t>(base + code[at]);
    };
    switch (info.op) {
        case Op::Bra:
        case Op::Bsr:
            return {branchTarget(r.pc, info.bytes, code[at])};
        case Op::Brn:
            return {next};
        case Op::Brset:
        case Op::Brclr:
            return eitherWay(next, branchTarget(r.pc, info.bytes, code[at + 2]));
        case Op::Jmp:
        case Op::Jsr:
            switch (info.mode) {
                case Mode::Dir:
                    return {code[at]};
                case Mode::Ext:
                    return {word(code, at)};
                case Mode::IndX:
                    return {indexed(r.x)};
                default:
                    return {indexed(r.y)};
            }
        case Op::Rts:
            return {stacked(static_cast<std::uint16_t>(r.sp + 1))};
        case Op::Rti:
            // An interrupt stacks CCR at SP+1, then B, A, X, Y and the return address at SP+8
            // (the HC11 technical data's stacking operations figure, CPU section).
            return {stacked(static_cast<std::uint16_t>(r.sp + 8))};
        case Op::Stop:
            // With the CCR's S bit set STOP is a NOP (MC68HC11A8 technical data 10.1.6.8).
            if ((r.ccr & 0x80) != 0)
                return {next};
            return {};
        case Op::Swi:
        case Op::Wai:
        case Op::Test:
        case Op::Illegal:
            return {};
        default:
            // Every other relative branch is conditional: BRA, BRN and BSR are above.
            if (info.mode == Mode::Rel)
                return eitherWay(next, branchTarget(r.pc, info.bytes, code[at]));
            return {next};
    }
}

}  // namespace kestro::ops::monitor
