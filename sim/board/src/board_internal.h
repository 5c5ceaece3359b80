// SPDX-License-Identifier: GPL-3.0-or-later
// What the board's own rooms (the clock and pins, the boot loader, the memory map) share.
#pragma once

#include <array>
#include <cstdint>

#include "kestro/sim/board/board.h"

namespace kestro::sim::detail {

inline constexpr std::uint16_t kBootRomBase = 0xBF00;
inline constexpr std::uint16_t kSpecialVectors = 0xBFC0;
inline constexpr std::uint16_t kNormalVectors = 0xFFC0;
inline constexpr std::uint16_t kBootRomEntry = 0xBF00;

// HPRIO after a reset into bootstrap mode: RBOOT and SMOD set, MDA and IRV clear, IRQ as the
// highest-priority I-masked source (PSEL = %0101).
inline constexpr std::uint8_t kBootHprio = hprio::RBOOT | hprio::SMOD | 0x05;

// BAUD values of the boot loader at E = 2 MHz: E/16/4/4 = 7812 baud, and E/16/13/8 = 1200.
inline constexpr std::uint8_t kBaud7812 = 0x22;
inline constexpr std::uint8_t kBaud1200 = 0x33;
inline constexpr std::uint8_t kSyncByte = 0xFF;
// What the boot loader leaves on its stack at the top of RAM: the board's choice of return
// addresses into the boot ROM ($BF40-$BFFF), never $00 or $FF.
inline constexpr std::array<std::uint8_t, 4> kLoaderStack = {0xBF, 0x5A, 0xBF, 0x7D};

// OPTION bit 5: IRQ takes falling edges only; clear, a low level.
inline constexpr std::uint8_t kIrqe = 0x20;
// OPTION bit 6: CSEL, the EEPROM's charge pump (and the A/D) on the on-chip R-C clock.
inline constexpr std::uint8_t kCsel = 0x40;
// OPTION bits 1:0: CR1:CR0, the COP's rate.
inline constexpr std::uint8_t kCopRate = 0x03;

}  // namespace kestro::sim::detail
