// SPDX-License-Identifier: GPL-3.0-or-later
// The HC11 parts the virtual board can carry, as data: one row per part, each fact with its row
// in docs/hardware-facts.md. A part differs from another only by what its row says; the board's
// memory map, boot loader and programming registers read the row and never ask which part.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestro::sim {

// New parts go at the end: saved boards and tests name the older ones by these values.
enum class Chip : std::uint8_t { A8, E9, E9_711, E2_811, A0, A1, E0, E1, E20, E20_711, F1 };

// How the boot loader decides that a download is complete.
enum class LoaderEnd : std::uint8_t {
    RamFull,           // exactly loaderLength bytes (A series, 811E2)
    RamFullOrIdleLine  // loaderLength bytes, or an idle line of four character times (E, F1)
};

// Which register drives the EPROM's latch and programming voltage.
enum class EpromControl : std::uint8_t {
    None,   // no EPROM
    Pprog,  // PPROG bits 5 (ELAT) and 0 (EPGM), shared with the EEPROM (711E9)
    Eprog,  // EPROG at offset $36, a register of its own (711E20)
};

// What the part is sold with, as its name promises: the A0, A1, E0 and E1 carry the same die as
// their sisters with a memory switched off in CONFIG, and no operation is meant for that memory.
namespace memory {
inline constexpr std::uint8_t Eeprom = 0x01;
inline constexpr std::uint8_t Rom = 0x02;
inline constexpr std::uint8_t Eprom = 0x04;
}  // namespace memory

struct AddressRange {
    std::uint16_t base = 0;
    std::uint16_t size = 0;  // 0: none
};

struct Variant {
    Chip chip;
    std::string_view name;       // as printed on the part
    std::string_view shortName;  // as people call it (A8, 711E9)
    std::uint8_t memories;       // memory:: bits the part is sold with
    std::uint16_t ramSize;       // at $0000 after reset
    // The boot loader's download: how many bytes at most, and how it knows it is complete.
    std::uint16_t loaderLength;
    LoaderEnd loaderEnd;
    std::uint16_t eepromSize;
    // EEPROM start. When eepromMovable, CONFIG bits 7-4 replace its top four bits.
    std::uint16_t eepromBase;
    bool eepromMovable;
    // Mask ROM or EPROM enabled by CONFIG ROMON, in address order; size 0 for none. The array's
    // offsets run through the ranges one after the other.
    std::array<AddressRange, 2> rom;
    bool romIsEprom;
    EpromControl epromControl;
    std::uint8_t registerBlockSize;  // 64, or 96 on the F1
    // CONFIG as the part leaves the factory (erased EEPROM cell bits as the data sheet lists).
    std::uint8_t factoryConfig;
    // CONFIG bits that exist on the part; the others read 0.
    std::uint8_t configMask;
    std::uint32_t maxEClockHz;  // the fastest E the part is rated for

    std::uint32_t romSize() const { return std::uint32_t{rom[0].size} + rom[1].size; }
    // Offset in the ROM or EPROM array of an address, if the part has ROM there.
    std::optional<std::uint32_t> romOffset(std::uint16_t address) const;
    // The EEPROM's first address under a CONFIG value.
    std::uint16_t eepromBaseFor(std::uint8_t config) const {
        if (!eepromMovable)
            return eepromBase;
        return static_cast<std::uint16_t>(((config >> 4) << 12) | (eepromBase & 0x0FFF));
    }
    bool sells(std::uint8_t m) const { return (memories & m) != 0; }
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
// The name printed on the part or its short name, in any case; nullptr when no part has it.
const Variant* variantNamed(std::string_view name);
// "A0, A1, A8, ... or F1", for messages and help texts.
std::string_view partList();

}  // namespace kestro::sim
