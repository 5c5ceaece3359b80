// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bytes.h"

namespace kestro {

// A two-byte operand of a talker that differs between parts: a register's address or a
// memory's bound. The talkers are assembled for the parts they serve unnamed (the 711E9's
// EPROM through PPROG); the PC writes another part's value where the user names that part.
struct PartOperand {
    std::string_view talker;  // the file's name without .S19
    std::string_view label;   // the talker's symbol at the operand, high byte first
    std::uint16_t offset;     // in the image, which the boot loader stores from $0000
    std::uint16_t assembled;  // the value the talker is assembled with
    std::string_view part;    // as printed on it: "MC68HC711E20"
    std::uint16_t value;      // what that part needs there
};

// Every part's operands in every talker.
std::span<const PartOperand> partOperands();

// The talker's image with the operands the part needs; the image as it is for a part no row
// names (or none named). nullopt with the reason where an operand that must change is not
// where the table places it.
std::optional<Bytes> withOperandsFor(std::string_view talker, Bytes image, std::string_view part,
                                     std::string* reason);

}  // namespace kestro
