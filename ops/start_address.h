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

// The RAM download's refusal of a file, on both paths: the box, and why when the talker
// refused a record (its letter A, the fast talker's V).
inline constexpr const char* kNothingRun = "The HC11 refused the program, so nothing was run.";
inline constexpr const char* kRefusedRecord =
    "It refused a record in the internal RAM below $0200, where it runs, or in the register "
    "block at $1000-$103F, or a byte that did not read back as it was stored: no RAM at that "
    "address (the internal ROM, EPROM or EEPROM, or nothing on the expanded bus). The records "
    "before it are in place.";

}  // namespace kestro::ops
