// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestro::ops {

// Reads the RAM start address as the user typed it: one to four hex digits (either case) and
// nothing else, for $0001 to $FFFF. The talker reads the text as it is sent, so a letter O
// for a 0 or a stray blank must stop here rather than run the program somewhere else.
std::optional<std::uint16_t> readStartAddress(std::string_view text);

// What the user is told when readStartAddress refuses the text.
inline constexpr const char* kInvalidStartAddress = "Invalid start adress";

}  // namespace kestro::ops
