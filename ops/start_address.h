// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestro::ops {

// Reads the RAM start address as the user typed it: blanks and tabs are ignored wherever they
// stand, reading stops at the first character that is no hex digit, and a text that does not
// begin with one reads as 0. Only 1 to $FFFF is an address the HC11 can run from.
std::optional<std::uint16_t> readStartAddress(std::string_view text);

// What the user is told when readStartAddress refuses the text.
inline constexpr const char* kInvalidStartAddress = "Invalid start adress";

}  // namespace kestro::ops
