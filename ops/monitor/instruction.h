// SPDX-License-Identifier: GPL-3.0-or-later
// One HC11 instruction as the monitor shows it and steps it. Both read the CPU's own opcode
// table, so that what the disassembly shows, what a step follows and what the virtual CPU runs
// cannot disagree.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bytes.h"
#include "monitor/monitor.h"

namespace kestro::ops::monitor {

class Symbols;

struct Instruction {
    std::uint16_t address = 0;
    // Bytes it takes, prebyte included; 1 for a byte that starts no instruction; 0 only when
    // decode had no byte at all.
    std::uint8_t length = 0;
    // Motorola syntax in upper case with $ hex: "LDAA $10,X", "BNE $B612", or with symbols
    // "BNE loop"; a byte that starts no instruction reads "FCB $xx".
    std::string text;
    Bytes bytes;  // the length bytes it was read from
    bool defined = false;
};

// The instruction at address, from code: the bytes from address on (five hold the longest
// instruction; fewer near the end of what was read). An instruction that code cuts short
// reads as "FCB" of its first byte, so that a listing never shows operands it did not see.
// With symbols, addresses in operands and branch targets show as names where one fits.
Instruction decode(ByteView code, std::uint16_t address, const Symbols* symbols = nullptr);

// Reads length bytes of the target's memory from an address (the monitor's read).
using MemoryReader = std::function<Bytes(std::uint16_t address, std::size_t length)>;

// Where the instruction at r.pc can go next, for a step that plants temporary breakpoints
// there: code holds the bytes from r.pc on, as for decode.
// - A conditional branch (BRSET and BRCLR included) gives both the next instruction and its
//   target, whichever way the flags or the memory will decide: reading the tested byte
//   beforehand could clear a status flag the program is waiting for.
// - BRA, BSR, JMP and JSR give their target (indexed ones through r.x or r.y); BRN gives the
//   next instruction only.
// - RTS gives the return address stacked at SP+1, RTI the PC of the stacked frame at SP+8,
//   both read through read; a read that brings back fewer bytes throws LinkError (KeepTarget).
// - Empty where no breakpoint can end the step: SWI (the monitor's own entry), WAI (waits for
//   an interrupt), STOP unless the CCR's S bit makes it a NOP, TEST and any opcode the CPU
//   does not have (both trap to the illegal-opcode vector). The session refuses such a step
//   and offers `go`.
// A target may equal r.pc (a loop on itself, "BRCLR $2E,X #$20 *"); no breakpoint can stand
// where the step starts, so the session leaves that one out.
// Addresses wrap at 16 bits as the CPU's program counter does.
std::vector<std::uint16_t> successors(ByteView code, const Registers& r, const MemoryReader& read);

}  // namespace kestro::ops::monitor
