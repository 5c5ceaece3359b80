// SPDX-License-Identifier: GPL-3.0-or-later
#include "talker_parts.h"

namespace kestro {

namespace {

// The 711E20 programs its EPROM through EPROG ($1036), not PPROG ($103B), with ELAT and EPGM
// at the same bits, and holds EPROM at $9000-$AFFF as well as at $D000-$FFFF
// (docs/hardware-facts.md, EPROM). talkers/CMakeLists.txt checks at build time that each
// talker holds the assembled value where its labels say.
constexpr std::uint16_t kPprog = 0x103B;
constexpr std::uint16_t kEprog = 0x1036;

constexpr PartOperand kOperands[] = {
    {"eprog", "part_low", 0x28, 0xD000, "MC68HC711E20", 0x9000},
    {"eprog", "part_gap", 0x2D, 0xD000, "MC68HC711E20", 0xB000},
    {"eprog", "part_reg_probe", 0x40, kPprog, "MC68HC711E20", kEprog},
    {"eprog", "part_reg_read", 0x43, kPprog, "MC68HC711E20", kEprog},
    {"eprog", "part_reg_clear", 0x48, kPprog, "MC68HC711E20", kEprog},
    {"eprog", "part_reg_latch", 0x53, kPprog, "MC68HC711E20", kEprog},
    {"eprog", "part_reg_pgm", 0x58, kPprog, "MC68HC711E20", kEprog},
    {"eprog", "part_reg_off", 0x65, kPprog, "MC68HC711E20", kEprog},
    // fastep leaves the ranges to the PC (ops/fast_program.cpp).
    {"fastep", "part_reg_latch", 0xD1, kPprog, "MC68HC711E20", kEprog},
    {"fastep", "part_reg_probe", 0xD4, kPprog, "MC68HC711E20", kEprog},
    {"fastep", "part_reg_pgm", 0xDB, kPprog, "MC68HC711E20", kEprog},
    {"fastep", "part_reg_off", 0xE6, kPprog, "MC68HC711E20", kEprog},
};

}  // namespace

std::span<const PartOperand> partOperands() {
    return kOperands;
}

std::optional<Bytes> withOperandsFor(std::string_view talker, Bytes image, std::string_view part,
                                     std::string* reason) {
    for (const PartOperand& o : kOperands) {
        if (o.talker != talker || o.part != part)
            continue;
        // Only over the value the talker was assembled with: a file of another make or
        // version is refused rather than changed where it may hold code.
        const std::size_t at = o.offset;
        if (at + 2 > image.size() || (image[at] << 8 | image[at + 1]) != o.assembled) {
            if (reason)
                *reason = "the talker file does not hold its operand " + std::string(o.label) +
                          " where this program's table places it (a talker of another version?)";
            return std::nullopt;
        }
        image[at] = static_cast<Byte>(o.value >> 8);
        image[at + 1] = static_cast<Byte>(o.value);
    }
    return image;
}

}  // namespace kestro
