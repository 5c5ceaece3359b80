// SPDX-License-Identifier: GPL-3.0-or-later
// The HC11 parts the virtual board can carry, as data. Memory sizes and places follow the
// parts' technical data (MC68HC11A8, MC68HC11E9/MC68HC711E9, MC68HC811E2).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kestro::sim {

enum class Chip : std::uint8_t { A8, E9, E9_711, E2_811 };

// How the boot loader decides that a download is complete.
enum class LoaderEnd : std::uint8_t {
    RamFull,           // exactly as many bytes as there is RAM (A8, 811E2)
    RamFullOrIdleLine  // RAM full, or an idle line of four character times (E9 family)
};

struct Variant {
    Chip chip;
    std::string_view name;  // as printed on the part
    std::uint16_t ramSize;
    std::uint16_t eepromSize;
    // Fixed EEPROM start; ignored when eepromMovable (then CONFIG bits 7-4 give $x800).
    std::uint16_t eepromBase;
    bool eepromMovable;
    // Mask ROM or EPROM at the top of the map, enabled by CONFIG ROMON; size 0 for none.
    std::uint16_t romBase;
    std::uint32_t romSize;
    bool romIsEprom;
    // CONFIG as the part leaves the factory (erased EEPROM cell bits as the data sheet lists).
    std::uint8_t factoryConfig;
    // CONFIG bits that exist on the part; the others read as their factory value.
    std::uint8_t configMask;
    LoaderEnd loaderEnd;
};

// CONFIG bits.
namespace config {
inline constexpr std::uint8_t NOSEC = 0x08;
inline constexpr std::uint8_t NOCOP = 0x04;
inline constexpr std::uint8_t ROMON = 0x02;
inline constexpr std::uint8_t EEON = 0x01;
}  // namespace config

std::span<const Variant> variants();
const Variant& variant(Chip chip);
// nullptr when no part has that name.
const Variant* variantNamed(std::string_view name);

}  // namespace kestro::sim
