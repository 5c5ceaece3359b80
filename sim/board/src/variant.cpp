// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/variant.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace kestro::sim {

namespace {

using namespace memory;

// The ROM parts leave the factory with NOSEC, NOCOP, ROMON and EEON set ($0F); their sisters
// sold without ROM or EEPROM have those switched off in CONFIG. The 811E2 and F1 leave it with
// their EEPROM at the top of the map (bits 7-4 = $F) and every CONFIG bit set.
constexpr AddressRange kA8Rom{0xE000, 0x2000};
constexpr AddressRange kE9Rom{0xD000, 0x3000};
// 20 KB in two pieces around the EEPROM and the boot ROM.
constexpr AddressRange kE20RomLow{0x9000, 0x2000};
constexpr AddressRange kNone{};

constexpr std::uint32_t k2MHz = 2'000'000;
constexpr std::uint32_t k3MHz = 3'000'000;

constexpr std::array kVariants{
    Variant{Chip::A0,
            "MC68HC11A0",
            "A0",
            0,
            256,
            256,
            LoaderEnd::RamFull,
            512,
            0xB600,
            false,
            {kA8Rom, kNone},
            false,
            EpromControl::None,
            64,
            0x0C,
            0x0F,
            k2MHz},
    Variant{Chip::A1,
            "MC68HC11A1",
            "A1",
            Eeprom,
            256,
            256,
            LoaderEnd::RamFull,
            512,
            0xB600,
            false,
            {kA8Rom, kNone},
            false,
            EpromControl::None,
            64,
            0x0D,
            0x0F,
            k2MHz},
    Variant{Chip::A8,
            "MC68HC11A8",
            "A8",
            Eeprom | Rom,
            256,
            256,
            LoaderEnd::RamFull,
            512,
            0xB600,
            false,
            {kA8Rom, kNone},
            false,
            EpromControl::None,
            64,
            0x0F,
            0x0F,
            k2MHz},
    Variant{Chip::E0,
            "MC68HC11E0",
            "E0",
            0,
            512,
            512,
            LoaderEnd::RamFullOrIdleLine,
            512,
            0xB600,
            false,
            {kE9Rom, kNone},
            false,
            EpromControl::None,
            64,
            0x0C,
            0x0F,
            k3MHz},
    Variant{Chip::E1,
            "MC68HC11E1",
            "E1",
            Eeprom,
            512,
            512,
            LoaderEnd::RamFullOrIdleLine,
            512,
            0xB600,
            false,
            {kE9Rom, kNone},
            false,
            EpromControl::None,
            64,
            0x0D,
            0x0F,
            k3MHz},
    Variant{Chip::E9,
            "MC68HC11E9",
            "E9",
            Eeprom | Rom,
            512,
            512,
            LoaderEnd::RamFullOrIdleLine,
            512,
            0xB600,
            false,
            {kE9Rom, kNone},
            false,
            EpromControl::None,
            64,
            0x0F,
            0x0F,
            k3MHz},
    Variant{Chip::E20,
            "MC68HC11E20",
            "E20",
            Eeprom | Rom,
            768,
            768,
            LoaderEnd::RamFullOrIdleLine,
            512,
            0xB600,
            false,
            {kE20RomLow, kE9Rom},
            false,
            EpromControl::None,
            64,
            0x0F,
            0x0F,
            k3MHz},
    Variant{Chip::E9_711,
            "MC68HC711E9",
            "711E9",
            Eeprom | Eprom,
            512,
            512,
            LoaderEnd::RamFullOrIdleLine,
            512,
            0xB600,
            false,
            {kE9Rom, kNone},
            true,
            EpromControl::Pprog,
            64,
            0x0F,
            0x0F,
            k3MHz},
    Variant{Chip::E20_711,
            "MC68HC711E20",
            "711E20",
            Eeprom | Eprom,
            768,
            768,
            LoaderEnd::RamFullOrIdleLine,
            512,
            0xB600,
            false,
            {kE20RomLow, kE9Rom},
            true,
            EpromControl::Eprog,
            64,
            0x0F,
            0x0F,
            k3MHz},
    Variant{Chip::E2_811,
            "MC68HC811E2",
            "811E2",
            Eeprom,
            256,
            256,
            LoaderEnd::RamFull,
            2048,
            0xF800,
            true,
            {kNone, kNone},
            false,
            EpromControl::None,
            64,
            0xFF,
            0xFF,
            k2MHz},
    Variant{Chip::F1,
            "MC68HC11F1",
            "F1",
            Eeprom,
            1024,
            1024,
            LoaderEnd::RamFullOrIdleLine,
            512,
            0xFE00,
            true,
            {kNone, kNone},
            false,
            EpromControl::None,
            96,
            0xFF,
            0xFF,
            k3MHz},
};

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

}  // namespace

std::optional<std::uint32_t> Variant::romOffset(std::uint16_t address) const {
    std::uint32_t before = 0;
    for (const AddressRange& r : rom) {
        if (r.size != 0 && address >= r.base && address - r.base < r.size)
            return before + (address - r.base);
        before += r.size;
    }
    return std::nullopt;
}

std::span<const Variant> variants() {
    return kVariants;
}

const Variant& variant(Chip chip) {
    for (const Variant& v : kVariants)
        if (v.chip == chip)
            return v;
    return kVariants[0];
}

const Variant* variantNamed(std::string_view name) {
    const std::string u = upper(name);
    for (const Variant& v : kVariants)
        if (u == v.name || u == v.shortName)
            return &v;
    return nullptr;
}

std::string_view partList() {
    static const std::string list = [] {
        std::string s;
        for (std::size_t i = 0; i < kVariants.size(); ++i) {
            if (i != 0)
                s += i + 1 == kVariants.size() ? " or " : ", ";
            s += kVariants[i].shortName;
        }
        return s;
    }();
    return list;
}

}  // namespace kestro::sim
