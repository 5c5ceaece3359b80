// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestro::ops {

// The 811E2's EEPROM locations as the CONFIG page lists them: row k is "$k800-$kFFF".
const std::array<std::string, 16>& configLocationRows();
// The eight 8 KB blocks of the address space as the Xicor page lists them.
const std::array<std::string, 8>& eemMapRows();

// CONFIG: bits 7-4 from the location text (an exact row match, else 0), then EEON, ROMON,
// NOCOP and NOSEC from the four boxes; only a ticked box (1) counts, not a greyed one (2).
std::uint8_t configByte(std::string_view locationText, const std::array<int, 4>& boxes);

// SFR: the bar position halved twice, each time to the nearest whole number with halves going
// to the even neighbour, plus bit 7.
std::uint8_t sfrByte(int position);

// EEM: the block index of an exactly matching row (0 for a typed text), reset polarity in
// bit 3 and port B as low address byte in bit 5.
std::uint8_t eemByte(std::string_view mapText, bool portBLowAddress, bool resetActiveHigh);

// BPR: bit n protects the 1 KB block n.
std::uint8_t bprByte(const std::array<bool, 8>& blocks);

}  // namespace kestro::ops
